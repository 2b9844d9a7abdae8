// The launcher's entry: the "open" form, the version gate, a running tool brought forward, one
// launch at a time, the failure shown, and a short linger until the tool is up. Returns the
// exit code, which is always 0.
#pragma once
#include "platform/win.h"

enum : DWORD { LAUNCHER_LINGER_MS = 1000 };

int runLauncherEntry(const wchar_t* commandLine);

// The "open" form: "<program> open" (any case) opens the root of the drive whose letter begins
// the program name as written, and nothing else runs. False for every other command line.
bool handleOpenForm(const wchar_t* commandLine);
