// The removal tool's entry: language, texts, version gate, single instance, launcher release,
// service or administrator rights, then the main dialog until it is closed.
#pragma once
#include "common/instance_names.h"
#include "common/message_code.h"
#include "platform/dll_search.h"
#include "platform/owners.h"
#include "platform/win.h"

// The main dialog could not be created: shown as "Some errors occurred.(925)" and used as
// the exit code, since a tool without a window could never be ended by its user.
enum : MessageCode { MSG_NO_MAIN_DIALOG = 925 };

int runRemovalTool(HINSTANCE instance, const char* commandLine);

// Moves the process's current folder to the system folder. A shortcut opened from the drive may
// start the tool in a folder of the drive; that folder is an open handle on the drive's volume,
// which would veto the eject and make the usage scan name the tool itself.
void leaveCurrentFolder();

// The checks before the main dialog, in their fixed order. true when the dialog is to run,
// with the single-instance mutex held in mutex; otherwise the tool ends with exitCode.
bool passStartupChecks(const char* commandLine, UniqueHandle& mutex, int& exitCode);
// The main dialog and its message loop, then the join of the last workflow thread.
// Returns the exit code.
int runMainDialog(HINSTANCE instance);
