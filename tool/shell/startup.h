// The removal tool's entry: language, texts, version gate, single instance, launcher release,
// service or administrator rights, then the main dialog until it is closed.
#pragma once
#include "common/message_code.h"
#include "platform/owners.h"
#include "platform/win.h"

#define TOOL_MUTEX_NAME L"_Parvane_Mutex"
#define LAUNCHER_EVENT_NAME L"__Parvane_Event"

// The main dialog could not be created: shown as "Some errors occurred.(925)" and used as
// the exit code, since a tool without a window could never be ended by its user.
enum : MessageCode { MSG_NO_MAIN_DIALOG = 925 };

int runRemovalTool(HINSTANCE instance, const char* commandLine);

// The checks before the main dialog, in their fixed order. true when the dialog is to run,
// with the single-instance mutex held in mutex; otherwise the tool ends with exitCode.
bool passStartupChecks(const char* commandLine, UniqueHandle& mutex, int& exitCode);
// The main dialog and its message loop, then the join of the last workflow thread.
// Returns the exit code.
int runMainDialog(HINSTANCE instance);

// Keeps DLLs loaded at run time to the system folder, so that one planted beside the executable
// (a user-writable folder) does not load. Windows without SetDefaultDllDirectories (Vista and 7
// before their loader update) still search the program's folder first; the programs therefore
// import only DLLs that Windows loads from its own list of known DLLs.
void restrictDllSearch();
