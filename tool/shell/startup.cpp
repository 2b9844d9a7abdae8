#include "tool/shell/startup.h"

#include "common/bounded.h"
#include "common/environment.h"
#include "common/texts.h"
#include "platform/owners.h"
#include "platform/system_calls.h"
#include "tool/service/protected_header.h"
#include "tool/service/service_commands.h"
#include "tool/service/service_pipe.h"
#include "tool/shell/autorun_guard.h"
#include "tool/shell/dialog_templates.h"
#include "tool/shell/main_dialog.h"
#include "tool/shell/resource_ids.h"
#include "tool/shell/tool_state.h"

#include <vector>

namespace {

// The drive argument is a short text; a longer command line is cut, never written past the
// buffer.
void storeDriveArgument(const char* commandLine) {
    driveArgument[0] = 0;
    int needed = MultiByteToWideChar(CP_ACP, 0, commandLine, -1, nullptr, 0);
    if (needed <= 0) return;
    std::vector<wchar_t> wide(static_cast<size_t>(needed));
    if (MultiByteToWideChar(CP_ACP, 0, commandLine, -1, wide.data(), needed) <= 0) return;
    copyText(driveArgument, wide.data());
}

void showStartupError(MessageCode code, UINT extraFlags) {
    // The title first: both go through the one primary text buffer.
    wchar_t caption[TITLE_CAPACITY];
    copyText(caption, windowTitle());
    sys().messageBoxW(nullptr, messageText(code), caption, MB_ICONERROR | extraFlags);
}

// The header asks for the autorun.inf guard only when it is ours and its two setting bytes say so.
bool headerAsksForAutorunGuard(const unsigned char* header) {
    return isKnownHeaderSignature(headerSignature(header)) && header[HEADER_AUTORUN_SUPPRESSED_OFFSET] == 0 &&
           header[HEADER_AUTORUN_ENABLED_OFFSET] != 0;
}

void checkAutorunOfDisk(int32_t diskNumber) {
    wchar_t devicePath[DEVICE_PATH_CAPACITY];
    formatPhysicalDrivePath(devicePath, diskNumber);
    unsigned char header[HEADER_SIZE] = {};
    if (readProtectedAreaHeader(devicePath, header) != MSG_OK || !headerAsksForAutorunGuard(header)) return;
    if (!isAutorunIntact(driveArgument)) showStartupError(MSG_CHECK_AUTORUN, MB_TOPMOST);
}

void releaseWaitingLauncher() {
    UniqueHandle event(OpenEventW(EVENT_MODIFY_STATE, FALSE, LAUNCHER_EVENT_NAME));
    if (event) SetEvent(event.get());
}

}  // namespace

void leaveCurrentFolder() {
    wchar_t system[MAX_PATH];
    UINT units = GetSystemDirectoryW(system, MAX_PATH);
    if (units > 0 && units < MAX_PATH) SetCurrentDirectoryW(system);
}

bool passStartupChecks(const char* commandLine, UniqueHandle& mutex, int& exitCode) {
    exitCode = 0;
    applyLanguageSetting();
    if (!commandLine || !commandLine[0]) return false;
    storeDriveArgument(commandLine);
    preloadMessageOverrides();
    if (!checkWindowsVersion()) return false;

    mutex.reset(CreateMutexW(nullptr, TRUE, TOOL_MUTEX_NAME));
    if (GetLastError() == ERROR_ALREADY_EXISTS) {
        showStartupError(MSG_MULTI_START, 0);
        return false;
    }
    releaseWaitingLauncher();

    serviceAvailable = isServiceAvailable();
    if (!serviceAvailable && !isUserAdmin()) {
        showStartupError(MSG_LIMITED_ACCOUNT, 0);
        return false;
    }

    int32_t diskNumber = getDiskNumber(driveArgument);
    if (diskNumber < 0) {
        exitCode = MSG_FIND_DISK;
        return false;
    }
    checkAutorunOfDisk(diskNumber);
    return true;
}

int runMainDialog(HINSTANCE instance) {
    toolInstance = instance;
    HWND dialog = createDialogFromTemplate(instance, IDD_MAIN_DIALOG, nullptr, &mainDialogProc, 0);
    if (!dialog) {
        // Nothing would ever end a message loop without a window, and the tool holds the
        // single-instance mutex: it ends instead.
        showStartupError(MSG_NO_MAIN_DIALOG, 0);
        return MSG_NO_MAIN_DIALOG;
    }
    ShowWindow(dialog, SW_SHOW);
    MSG message;
    BOOL got;
    while ((got = GetMessageW(&message, nullptr, 0, 0)) != 0 && got != -1) {
        if (IsDialogMessageW(dialog, &message)) continue;
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    joinWorkerThread();
    return 0;
}

int runRemovalTool(HINSTANCE instance, const char* commandLine) {
    UniqueHandle mutex;
    int exitCode = 0;
    if (!passStartupChecks(commandLine, mutex, exitCode)) return exitCode;
    exitCode = runMainDialog(instance);
    // Released last: until the workflow has ended, no second tool may start on the drive.
    mutex.reset();
    return exitCode;
}
