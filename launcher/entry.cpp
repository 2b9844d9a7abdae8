#include "launcher/entry.h"

#include "common/bounded.h"
#include "common/environment.h"
#include "common/instance_names.h"
#include "common/texts.h"
#include "launcher/launch.h"
#include "platform/owners.h"
#include "platform/system_calls.h"

namespace {

enum : size_t { DRIVE_ROOT_CAPACITY = 4 };

// A running tool holds the mutex. The test keeps no hold of it: the handle is closed again at
// once either way.
bool removalToolRunning() {
    UniqueHandle mutex(CreateMutexW(nullptr, TRUE, TOOL_MUTEX_NAME));
    return GetLastError() == ERROR_ALREADY_EXISTS;
}

// The title is built and cut exactly as the tool builds its own, so that an override that
// lengthens it still finds the window.
void bringToolForward() {
    HWND window = FindWindowW(nullptr, toolWindowTitle());
    if (window) SetForegroundWindow(window);
}

void showLaunchError(MessageCode code) {
    // The caption first: both pass through the one message buffer.
    wchar_t caption[TITLE_CAPACITY];
    copyText(caption, windowTitle());
    sys().messageBoxW(nullptr, messageText(code), caption, MB_ICONERROR);
}

}  // namespace

bool handleOpenForm(const wchar_t* commandLine) {
    int count = 0;
    UniqueLocal arguments;
    LPWSTR* argv = commandLine && commandLine[0] ? CommandLineToArgvW(commandLine, &count) : nullptr;
    arguments.reset(argv);
    if (!argv || count != 2 || !equalsIgnoringAsciiCase(argv[1], L"open")) return false;
    wchar_t root[DRIVE_ROOT_CAPACITY];
    copyText(root, L"?:\\");
    root[0] = argv[0][0];
    sys().shellExecuteW(nullptr, L"open", root, nullptr, nullptr, SW_SHOW);
    return true;
}

int runLauncherEntry(const wchar_t* commandLine) {
    applyLanguageSetting();
    if (handleOpenForm(commandLine)) return 0;
    if (!checkWindowsVersion()) return 0;
    if (removalToolRunning()) {
        bringToolForward();
        return 0;
    }
    UniqueHandle launchPhase(CreateEventW(nullptr, TRUE, FALSE, LAUNCHER_EVENT_NAME));
    // Another launcher is installing and starting the tool right now.
    if (GetLastError() == ERROR_ALREADY_EXISTS) return 0;

    MessageCode result = runLauncher();
    if (result != MSG_OK) showLaunchError(result);
    // The tool sets the event once it holds its mutex; until then a second launcher stays out.
    if (launchPhase) WaitForSingleObject(launchPhase.get(), LAUNCHER_LINGER_MS);
    return 0;
}
