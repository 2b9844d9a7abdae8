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

int runRemovalTool(HINSTANCE instance, const char* commandLine) {
    (void)instance;
    applyLanguageSetting();
    if (!commandLine || !commandLine[0]) return 0;
    storeDriveArgument(commandLine);
    preloadMessageOverrides();
    if (!checkWindowsVersion()) return 0;

    UniqueHandle mutex(CreateMutexW(nullptr, TRUE, TOOL_MUTEX_NAME));
    if (GetLastError() == ERROR_ALREADY_EXISTS) {
        showStartupError(MSG_MULTI_START, 0);
        return 0;
    }
    releaseWaitingLauncher();

    serviceAvailable = isServiceAvailable();
    if (!serviceAvailable && !isUserAdmin()) {
        showStartupError(MSG_LIMITED_ACCOUNT, 0);
        return 0;
    }

    int32_t diskNumber = getDiskNumber(driveArgument);
    if (diskNumber < 0) return MSG_FIND_DISK;
    checkAutorunOfDisk(diskNumber);
    // The main dialog follows from here.
    return 0;
}
