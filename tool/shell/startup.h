// The removal tool's entry: language, texts, version gate, single instance, launcher release,
// service or administrator rights. Returns the process exit code.
#pragma once
#include "platform/win.h"

#define TOOL_MUTEX_NAME L"_Parvane_Mutex"
#define LAUNCHER_EVENT_NAME L"__Parvane_Event"

int runRemovalTool(HINSTANCE instance, const char* commandLine);

// Keeps DLLs loaded at run time to the system folder, so that one planted beside the executable
// (a user-writable folder) does not load. Windows without SetDefaultDllDirectories (Vista and 7
// before their loader update) still search the program's folder first; the programs therefore
// import only DLLs that Windows loads from its own list of known DLLs.
void restrictDllSearch();
