#include "tool/shell/startup.h"

#include "common/bounded.h"
#include "common/environment.h"
#include "common/texts.h"
#include "platform/owners.h"
#include "platform/system_calls.h"
#include "tool/service/service_pipe.h"
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

void releaseWaitingLauncher() {
    UniqueHandle event(OpenEventW(EVENT_MODIFY_STATE, FALSE, LAUNCHER_EVENT_NAME));
    if (event) SetEvent(event.get());
}

}  // namespace

void restrictDllSearch() {
    typedef BOOL(WINAPI * SetDefaultDllDirectoriesFn)(DWORD);
    HMODULE kernel = GetModuleHandleW(L"kernel32");
    FARPROC entry = kernel ? GetProcAddress(kernel, "SetDefaultDllDirectories") : nullptr;
    if (entry &&
        reinterpret_cast<SetDefaultDllDirectoriesFn>(reinterpret_cast<void*>(entry))(LOAD_LIBRARY_SEARCH_SYSTEM32))
        return;
    // Without the update that brings SetDefaultDllDirectories, at least take the current
    // folder out of the search.
    SetDllDirectoryW(L"");
}

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
    // Finding the disk, the protected-area header and the main dialog follow from here.
    return 0;
}
