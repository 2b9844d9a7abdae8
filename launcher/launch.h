// The launch sequence: probe the service, install the build for this machine's architecture,
// write the launch shortcut (elevated only when the tool would need it) and open it.
#pragma once
#include "common/message_code.h"
#include "common/texts.h"
#include "platform/win.h"

enum : MessageCode {
    MSG_NO_LAUNCHER_PATH = 718,
    MSG_MODULE_NOT_GENUINE = 719,
    MSG_LAUNCH_PATH_TOO_LONG = 720,
    MSG_UNKNOWN_ARCHITECTURE = 721,
    MSG_NO_WORKING_FOLDER = 722,
    MSG_SHORTCUT_FAILED = 732,
};

enum : size_t { TOOL_ARGUMENT_CAPACITY = 64 };

#define LAUNCH_SHORTCUT_NAME L"Lumagate.lnk"

// 501 once the shortcut is handed to the shell, whatever the shell then makes of it.
MessageCode runLauncher();
// The sequence after the working folder is known (it ends with a backslash), with the service
// probe's answer: install, shortcut, start.
MessageCode launchFromWorkingFolder(const wchar_t* folder, BOOL serviceAvailable);

// The build for the native architecture: its module resource and file name; false for an
// architecture that has none.
bool chooseModuleForArchitecture(const wchar_t** resourceName, const wchar_t** fileName);

// Writes the shortcut; SLDF_RUNAS_USER when runAs. arguments may be null.
BOOL createLaunchShortcut(const wchar_t* arguments, const wchar_t* shortcutPath, const wchar_t* targetPath,
                          BOOL runAs);
