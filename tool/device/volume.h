// Small requests to a drive's volume, shared by the flush and the removal.
#pragma once
#include "platform/win.h"

enum : size_t { VOLUME_PATH_CAPACITY = 8 };

// "\\.\X:", the volume device of a drive letter.
void formatVolumePath(wchar_t (&path)[VOLUME_PATH_CAPACITY], wchar_t driveLetter);

// A control request without output to a device opened through the seam.
BOOL volumeControl(HANDLE volume, DWORD code, void* in, DWORD inSize);
// Tells the shell the drive went and came back: programs that watch the shell let go of a
// drive they are told is gone, and the arrival keeps the letter shown should the volume stay.
void notifyDriveRemovedAndAdded(wchar_t driveLetter);
