#include "tool/usage/explorer_windows.h"

#include "common/bounded.h"
#include "common/environment.h"

#include <wchar.h>

namespace {

enum : size_t {
    SEARCH_TEXT_CAPACITY = 3,  // drive letter, colon, terminator
    WINDOW_TEXT_CAPACITY = 256,
    CLASS_NAME_REQUEST = 200,
};

// A frame whose thread has stopped answering must not hold up the flush and the removal.
const UINT kAddressTextTimeoutMilliseconds = 2000;

// EnumWindows passes no context of ours, so the callback reads the drive from here.
wchar_t g_searchText[SEARCH_TEXT_CAPACITY];

// How to get from an Explorer frame down to its address combo box on one Windows version.
struct ExplorerLayout {
    const wchar_t* const* frameClasses;  // null-terminated
    const wchar_t* const* pathToAddress;  // null-terminated, ends at "ComboBoxEx32"
};

const wchar_t* const kVistaFrames[] = {L"CabinetWClass", nullptr};
const wchar_t* const kVistaPath[] = {L"WorkerW", L"ReBarWindow32", L"Address Band Root",
                                     L"msctls_progress32", L"ComboBoxEx32", nullptr};
// Windows 8 and later report 6.2 to the tool, whose manifest names no later version.
const wchar_t* const kLaterFrames[] = {L"ExploreWClass", L"CabinetWClass", nullptr};
const wchar_t* const kLaterPath[] = {L"WorkerW", L"ReBarWindow32", L"ComboBoxEx32", nullptr};
const wchar_t* const kAddressEditPath[] = {L"ComboBox", L"Edit", nullptr};

const ExplorerLayout kVistaLayout = {kVistaFrames, kVistaPath};
const ExplorerLayout kLaterLayout = {kLaterFrames, kLaterPath};

// Null on Windows 7: its Explorer windows are never closed.
const ExplorerLayout* explorerLayout() {
    if (isWindows7()) return nullptr;
    if (isWindowsVista()) return &kVistaLayout;
    return &kLaterLayout;
}

bool isOneOf(const wchar_t* className, const wchar_t* const* names) {
    for (; *names; ++names)
        if (wcscmp(className, *names) == 0) return true;
    return false;
}

// Each step takes the first child of that class; null when a step is missing.
HWND walkDown(HWND window, const wchar_t* const* path) {
    for (; window && *path; ++path) window = FindWindowExW(window, nullptr, *path, nullptr);
    return window;
}

bool readAddressText(HWND comboBox, wchar_t (&text)[WINDOW_TEXT_CAPACITY]) {
    text[0] = 0;
    DWORD_PTR copied = 0;
    if (!SendMessageTimeoutW(comboBox, WM_GETTEXT, WINDOW_TEXT_CAPACITY, reinterpret_cast<LPARAM>(text),
                             SMTO_ABORTIFHUNG | SMTO_BLOCK, kAddressTextTimeoutMilliseconds, &copied))
        return false;
    // Another process's answer is not trusted to end inside the buffer.
    text[WINDOW_TEXT_CAPACITY - 1] = 0;
    return true;
}

}  // namespace

void closeExplorerWindowsOfDrive(const wchar_t* driveArgument) {
    copyText(g_searchText, driveArgument);
    EnumWindows(closeIfShowsDrive, 0);
}

BOOL CALLBACK closeIfShowsDrive(HWND window, LPARAM) {
    wchar_t text[WINDOW_TEXT_CAPACITY];
    if (!GetClassNameW(window, text, CLASS_NAME_REQUEST)) return TRUE;
    const ExplorerLayout* layout = explorerLayout();
    if (!layout || !isOneOf(text, layout->frameClasses)) return TRUE;
    HWND comboBox = walkDown(window, layout->pathToAddress);
    if (!comboBox || !readAddressText(comboBox, text)) return TRUE;
    if (!walkDown(comboBox, kAddressEditPath)) return TRUE;
    if (wcsstr(text, g_searchText)) PostMessageW(window, WM_CLOSE, 0, 0);
    return TRUE;
}
