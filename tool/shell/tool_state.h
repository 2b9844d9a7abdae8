// Process-wide state of the removal tool, written during start-up before any other thread
// exists and only read afterwards.
#pragma once
#include "platform/win.h"

enum : size_t { DRIVE_ARGUMENT_CAPACITY = 260 };

// The command line: its first unit is the drive letter every drive operation uses, and the
// whole text ("E: ") is what messages and service commands carry.
extern wchar_t driveArgument[DRIVE_ARGUMENT_CAPACITY];
// Whether privileged work goes to the product's service or is done locally.
extern BOOL serviceAvailable;

// The module the dialogs, icons and the status bar are loaded from; stored just before the
// main dialog is created.
extern HINSTANCE toolInstance;
// The one workflow thread: 0 before any ran, INVALID_HANDLE_VALUE once it was joined and
// closed. Written only by the main thread.
extern HANDLE workerThread;
