// Explorer windows whose address bar shows the drive: they keep the volume open, so they are
// closed before the volume is flushed and the drive removed or hidden.
#pragma once
#include "platform/win.h"

// Asks every top-level Explorer window whose address contains the drive letter and colon of
// driveArgument to close. Does not wait for them to go.
void closeExplorerWindowsOfDrive(const wchar_t* driveArgument);

// The EnumWindows callback; parameter is not used, and it always returns TRUE so that every
// top-level window is visited.
BOOL CALLBACK closeIfShowsDrive(HWND window, LPARAM parameter);
