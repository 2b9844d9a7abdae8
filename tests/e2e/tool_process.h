// Runs a built Windows program as a person would meet it: a real process under Wine, whose
// message boxes are found on the desktop, read and answered.
#pragma once
#include "platform/win.h"

#include <string>
#include <vector>

struct ShownBox {
    std::wstring caption;
    std::wstring text;
};

class ToolProcess {
public:
    ToolProcess() = default;
    ~ToolProcess();
    ToolProcess(const ToolProcess&) = delete;
    ToolProcess& operator=(const ToolProcess&) = delete;

    // Starts exePath with the command line "<exe> <arguments>" (no arguments: just the exe).
    // Starts the program in its own folder, or in currentFolder when one is given.
    bool start(const std::wstring& exePath, const std::wstring& arguments, const std::wstring& currentFolder = L"");
    // The first message box the process shows (a dialog window other than the main dialog),
    // or null after the timeout or once the process has ended.
    HWND waitForBox(DWORD timeoutMs);
    // The tool's main dialog (the dialog window with the status bar), once it is visible.
    HWND waitForMainDialog(DWORD timeoutMs);
    // Esc, posted to the dialog as the keyboard would send it.
    static void pressEscape(HWND dialog);
    static ShownBox readBox(HWND box);
    // Presses the box's first button, as a person clicking OK.
    static void answerBox(HWND box);
    // Presses the button with this control ID (IDTRYAGAIN, IDCANCEL, ...) of a box or dialog.
    static void pressButton(HWND window, int controlId);
    // Waits until the window is gone or hidden; false after the timeout.
    static bool waitUntilGone(HWND window, DWORD timeoutMs);
    // The exit code, or STILL_ACTIVE after the timeout (the process is then ended).
    DWORD waitForExit(DWORD timeoutMs);
    DWORD processId() const { return pi_.dwProcessId; }

private:
    HWND waitForDialog(bool mainDialog, DWORD timeoutMs);
    PROCESS_INFORMATION pi_{};
};

// Copies the tool build next to the test into a fresh folder of its own, optionally under
// another file name, so that a test can give it its own INI file. Returns the copy's path.
std::wstring stageTool(const std::wstring& folderName, const std::wstring& fileName);
// The build of the removal tool that sits beside the test program's folder.
std::wstring builtToolPath();
// Sets or clears Wine's reported Windows version for one executable name ("winxp64", "win10").
bool setWineVersionFor(const std::wstring& exeName, const wchar_t* version);
