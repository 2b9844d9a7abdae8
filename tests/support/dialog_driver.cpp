#include "support/dialog_driver.h"

#include <commctrl.h>

namespace {

const int kStatusBarId = 1003;

struct DialogSearch {
    const wchar_t* title;
    HWND found;
};

BOOL CALLBACK matchOwnDialog(HWND window, LPARAM param) {
    DialogSearch* search = reinterpret_cast<DialogSearch*>(param);
    DWORD process = 0;
    GetWindowThreadProcessId(window, &process);
    wchar_t className[16] = L"";
    GetClassNameW(window, className, 16);
    if (process == GetCurrentProcessId() && wcscmp(className, L"#32770") == 0 && IsWindowVisible(window) &&
        windowText(window) == search->title) {
        search->found = window;
        return FALSE;
    }
    return TRUE;
}

}  // namespace

std::wstring windowText(HWND window) {
    wchar_t text[1024] = L"";
    GetWindowTextW(window, text, 1024);
    return text;
}

std::wstring menuText(HMENU menu, UINT item, UINT flags) {
    wchar_t text[256] = L"";
    GetMenuStringW(menu, item, text, 256, flags);
    return text;
}

std::wstring statusText(HWND dialog) {
    wchar_t text[1024] = L"";
    HWND status = GetDlgItem(dialog, kStatusBarId);
    // Wine answers for the simple part under the index 0 only.
    if (!status || LOWORD(SendMessageW(status, SB_GETTEXTLENGTHW, 0, 0)) >= 1024) return L"?";
    SendMessageW(status, SB_GETTEXTW, 0, reinterpret_cast<LPARAM>(text));
    return text;
}

int iconWidth(HICON icon) {
    ICONINFO info = {};
    if (!GetIconInfo(icon, &info)) return 0;
    BITMAP bitmap = {};
    GetObjectW(info.hbmColor ? info.hbmColor : info.hbmMask, sizeof(bitmap), &bitmap);
    if (info.hbmColor) DeleteObject(info.hbmColor);
    if (info.hbmMask) DeleteObject(info.hbmMask);
    return bitmap.bmWidth;
}

RECT windowRect(HWND window) {
    RECT r = {};
    GetWindowRect(window, &r);
    return r;
}

RECT clientRectOf(HWND child) {
    RECT r = windowRect(child);
    MapWindowPoints(nullptr, GetParent(child), reinterpret_cast<POINT*>(&r), 2);
    return r;
}

HWND findOwnDialog(const wchar_t* title) {
    DialogSearch search = {title, nullptr};
    EnumWindows(&matchOwnDialog, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

bool pumpUntil(HWND dialog, const std::function<bool()>& done, DWORD timeoutMs) {
    const DWORD start = GetTickCount();
    for (;;) {
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            if (message.message == WM_QUIT) {
                PostQuitMessage(static_cast<int>(message.wParam));
                return done();
            }
            if (IsDialogMessageW(dialog, &message)) continue;
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
        if (done()) return true;
        if (GetTickCount() - start > timeoutMs) return false;
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_ALLINPUT);
    }
}

void discardQuitMessage() {
    MSG message;
    while (PeekMessageW(&message, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE)) {
    }
}

void pressEscape(HWND dialog) {
    GUITHREADINFO input = {};
    input.cbSize = sizeof(input);
    HWND target = dialog;
    if (GetGUIThreadInfo(GetWindowThreadProcessId(dialog, nullptr), &input) && input.hwndFocus &&
        IsChild(dialog, input.hwndFocus))
        target = input.hwndFocus;
    PostMessageW(target, WM_KEYDOWN, VK_ESCAPE, 0x00010001);
    PostMessageW(target, WM_KEYUP, VK_ESCAPE, 0xC0010001);
}

Person::Person(const wchar_t* title, std::function<bool(HWND)> action, DWORD limitMs)
    : title_(title), action_(std::move(action)), limitMs_(limitMs), loopThread_(GetCurrentThreadId()) {
    thread_.reset(CreateThread(nullptr, 0, &Person::run, this, 0, nullptr));
}

Person::~Person() { finish(); }

bool Person::finish() {
    if (thread_) WaitForSingleObject(thread_.get(), INFINITE);
    thread_.reset();
    return appeared_ && gone_;
}

DWORD WINAPI Person::run(LPVOID self) {
    Person& p = *static_cast<Person*>(self);
    HWND dialog = nullptr;
    const DWORD start = GetTickCount();
    while (!(dialog = findOwnDialog(p.title_.c_str())) && GetTickCount() - start < p.limitMs_) Sleep(20);
    if (dialog) {
        p.appeared_ = true;
        p.result_ = p.action_(dialog);
        const DWORD acted = GetTickCount();
        while (IsWindowVisible(dialog) && GetTickCount() - acted < p.limitMs_) Sleep(20);
        p.gone_ = !IsWindowVisible(dialog);
    }
    if (!p.appeared_ || !p.gone_) PostThreadMessageW(p.loopThread_, WM_QUIT, 0, 0);
    return 0;
}
