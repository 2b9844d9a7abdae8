// The removal tool's entry: language, texts, version gate, single instance, launcher release,
// service or administrator rights. Returns the process exit code.
#pragma once
#include "common/instance_names.h"
#include "platform/dll_search.h"
#include "platform/win.h"

int runRemovalTool(HINSTANCE instance, const char* commandLine);
