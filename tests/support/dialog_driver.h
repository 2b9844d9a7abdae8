// Driving real dialogs of this process from a test: reading their texts, serving their
// messages, and a person on another thread who acts on a dialog while this thread runs its
// message loop.
#pragma once
#include "platform/owners.h"
#include "platform/win.h"

#include <functional>
#include <string>

struct WindowTraits {
    typedef HWND Type;
    static Type invalid() { return nullptr; }
    static bool isValid(Type h) { return h != nullptr; }
    static void close(Type h) { DestroyWindow(h); }
};
typedef UniqueOwner<WindowTraits> UniqueWindow;

std::wstring windowText(HWND window);
std::wstring menuText(HMENU menu, UINT item, UINT flags);
// The text of the simple part of the dialog's status bar (control 1003).
std::wstring statusText(HWND dialog);
int iconWidth(HICON icon);
RECT windowRect(HWND window);
// A child's rectangle in its parent's client coordinates.
RECT clientRectOf(HWND child);
// The visible dialog window (#32770) of this process with this title, or null.
HWND findOwnDialog(const wchar_t* title);

// Serves this thread's messages, as the tool's loop does for the dialog, until done() holds
// or the time is up; then tells whether done() holds. A WM_QUIT met on the way is left in the
// queue.
bool pumpUntil(HWND dialog, const std::function<bool()>& done, DWORD timeoutMs);
// Removes a WM_QUIT a destroyed dialog left in this thread's queue.
void discardQuitMessage();
// Esc, as the keyboard gives it: to the control that has the focus in the dialog.
void pressEscape(HWND dialog);

// A person at the desktop, on a thread of its own: waits for the visible dialog with this
// title in this process, does the action to it (its result is kept), then waits until the
// window is gone. If the dialog does not appear, or does not go, within the limit, the
// message loop of the thread that made the Person is ended with WM_QUIT, so that a broken
// test fails instead of hanging.
class Person {
public:
    Person(const wchar_t* title, std::function<bool(HWND)> action, DWORD limitMs = 15000);
    ~Person();
    Person(const Person&) = delete;
    Person& operator=(const Person&) = delete;

    // Waits for the thread; true when the dialog appeared and went.
    bool finish();
    bool result() const { return result_; }

private:
    static DWORD WINAPI run(LPVOID self);

    std::wstring title_;
    std::function<bool(HWND)> action_;
    DWORD limitMs_;
    DWORD loopThread_;
    bool appeared_ = false;
    bool gone_ = false;
    bool result_ = false;
    UniqueHandle thread_;
};
