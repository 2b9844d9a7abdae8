#include "e2e/tool_process.h"

#include <algorithm>

#ifndef PARVANE_TOOL_FILE
#error "PARVANE_TOOL_FILE names the removal tool build beside the tests"
#endif

namespace {

// The main dialog is the one dialog window with a status bar.
const int kStatusBarId = 1003;

struct BoxSearch {
    DWORD processId;
    bool mainDialog;
    HWND found;
};

BOOL CALLBACK findDialogOfProcess(HWND window, LPARAM param) {
    BoxSearch* search = reinterpret_cast<BoxSearch*>(param);
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    wchar_t className[64] = L"";
    GetClassNameW(window, className, 64);
    if (owner == search->processId && wcscmp(className, L"#32770") == 0 && IsWindowVisible(window) &&
        (GetDlgItem(window, kStatusBarId) != nullptr) == search->mainDialog) {
        search->found = window;
        return FALSE;
    }
    return TRUE;
}

BOOL CALLBACK longestStaticText(HWND child, LPARAM param) {
    std::wstring* best = reinterpret_cast<std::wstring*>(param);
    wchar_t className[32] = L"";
    GetClassNameW(child, className, 32);
    if (_wcsicmp(className, L"Static") != 0) return TRUE;
    wchar_t text[2048] = L"";
    SendMessageW(child, WM_GETTEXT, 2048, reinterpret_cast<LPARAM>(text));
    if (wcslen(text) > best->size()) *best = text;
    return TRUE;
}

BOOL CALLBACK firstButton(HWND child, LPARAM param) {
    wchar_t className[32] = L"";
    GetClassNameW(child, className, 32);
    if (_wcsicmp(className, L"Button") != 0) return TRUE;
    *reinterpret_cast<HWND*>(param) = child;
    return FALSE;
}

std::wstring moduleFolder() {
    wchar_t path[MAX_PATH] = L"";
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring p(path);
    return p.substr(0, p.find_last_of(L'\\'));
}

}  // namespace

ToolProcess::~ToolProcess() {
    if (pi_.hProcess) {
        if (WaitForSingleObject(pi_.hProcess, 0) == WAIT_TIMEOUT) TerminateProcess(pi_.hProcess, 1);
        CloseHandle(pi_.hProcess);
    }
    if (pi_.hThread) CloseHandle(pi_.hThread);
}

bool ToolProcess::start(const std::wstring& exePath, const std::wstring& arguments, const std::wstring& currentFolder) {
    std::wstring commandLine = L"\"" + exePath + L"\"";
    if (!arguments.empty()) commandLine += L" " + arguments;
    std::wstring folder = currentFolder.empty() ? exePath.substr(0, exePath.find_last_of(L'\\')) : currentFolder;
    STARTUPINFOW si;
    ZeroMemory(&si, sizeof(si));
    si.cb = sizeof(si);
    for (int attempt = 0; attempt < 2; ++attempt) {  // Wine now and then fails with 1359 once
        if (CreateProcessW(exePath.c_str(), &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, folder.c_str(), &si,
                           &pi_))
            return true;
    }
    return false;
}

HWND ToolProcess::waitForDialog(bool mainDialog, DWORD timeoutMs) {
    DWORD start = GetTickCount();
    for (;;) {
        BoxSearch search = {pi_.dwProcessId, mainDialog, nullptr};
        EnumWindows(&findDialogOfProcess, reinterpret_cast<LPARAM>(&search));
        if (search.found) return search.found;
        if (WaitForSingleObject(pi_.hProcess, 50) == WAIT_OBJECT_0) return nullptr;
        if (GetTickCount() - start > timeoutMs) return nullptr;
    }
}

HWND ToolProcess::waitForBox(DWORD timeoutMs) { return waitForDialog(false, timeoutMs); }

HWND ToolProcess::waitForMainDialog(DWORD timeoutMs) { return waitForDialog(true, timeoutMs); }

void ToolProcess::pressEscape(HWND dialog) {
    PostMessageW(dialog, WM_KEYDOWN, VK_ESCAPE, 0x00010001);
    PostMessageW(dialog, WM_KEYUP, VK_ESCAPE, 0xC0010001);
}

ShownBox ToolProcess::readBox(HWND box) {
    ShownBox shown;
    wchar_t caption[512] = L"";
    SendMessageW(box, WM_GETTEXT, 512, reinterpret_cast<LPARAM>(caption));
    shown.caption = caption;
    EnumChildWindows(box, &longestStaticText, reinterpret_cast<LPARAM>(&shown.text));
    return shown;
}

void ToolProcess::answerBox(HWND box) {
    HWND button = nullptr;
    EnumChildWindows(box, &firstButton, reinterpret_cast<LPARAM>(&button));
    if (button) SendMessageW(button, BM_CLICK, 0, 0);
    else PostMessageW(box, WM_CLOSE, 0, 0);
}

void ToolProcess::pressButton(HWND window, int controlId) {
    // Posted, as a click arrives: the tool's handler may run a while, and a sent message would
    // hold this process until it returns.
    PostMessageW(window, WM_COMMAND, MAKEWPARAM(controlId, BN_CLICKED),
                 reinterpret_cast<LPARAM>(GetDlgItem(window, controlId)));
}

bool ToolProcess::waitUntilGone(HWND window, DWORD timeoutMs) {
    DWORD start = GetTickCount();
    while (IsWindow(window) && IsWindowVisible(window)) {
        if (GetTickCount() - start > timeoutMs) return false;
        Sleep(50);
    }
    return true;
}

DWORD ToolProcess::waitForExit(DWORD timeoutMs) {
    if (WaitForSingleObject(pi_.hProcess, timeoutMs) != WAIT_OBJECT_0) {
        TerminateProcess(pi_.hProcess, 1);
        return STILL_ACTIVE;
    }
    DWORD code = 1;
    GetExitCodeProcess(pi_.hProcess, &code);
    return code;
}

std::wstring builtToolPath() { return moduleFolder() + L"\\..\\" PARVANE_TOOL_FILE; }

std::wstring stageTool(const std::wstring& folderName, const std::wstring& fileName) {
    wchar_t temp[MAX_PATH] = L"";
    GetTempPathW(MAX_PATH, temp);
    std::wstring folder = std::wstring(temp) + L"parvane-e2e-" + folderName;
    CreateDirectoryW(folder.c_str(), nullptr);
    std::wstring path = folder + L"\\" + fileName;
    std::wstring ini = path.substr(0, path.rfind(L'.')) + L".ini";
    DeleteFileW(ini.c_str());
    if (!CopyFileW(builtToolPath().c_str(), path.c_str(), FALSE)) return std::wstring();
    return path;
}

bool setWineVersionFor(const std::wstring& exeName, const wchar_t* version) {
    std::wstring key = L"Software\\Wine\\AppDefaults\\" + exeName;
    if (!version) return RegDeleteKeyW(HKEY_CURRENT_USER, key.c_str()) == ERROR_SUCCESS;
    HKEY k = nullptr;
    if (RegCreateKeyExW(HKEY_CURRENT_USER, key.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr, &k, nullptr) != ERROR_SUCCESS)
        return false;
    LONG r = RegSetValueExW(k, L"Version", 0, REG_SZ, reinterpret_cast<const BYTE*>(version),
                            static_cast<DWORD>((wcslen(version) + 1) * sizeof(wchar_t)));
    RegCloseKey(k);
    return r == ERROR_SUCCESS;
}
