// The removal tool's entry: language, texts, version gate, single instance, launcher release,
// service or administrator rights. Returns the process exit code.
#pragma once
#include "platform/win.h"

#define TOOL_MUTEX_NAME L"_Parvane_Mutex"
#define LAUNCHER_EVENT_NAME L"__Parvane_Event"

int runRemovalTool(HINSTANCE instance, const char* commandLine);

// Keeps DLLs planted beside the executable (a user-writable folder) from ever loading.
void restrictDllSearch();
