// From the drive letter to the disk behind it.
#pragma once
#include "platform/win.h"

#include <stdint.h>

// The disk number of the drive's volume, or -1. Needs administrator rights on real Windows.
int32_t queryDiskNumber(const wchar_t* driveArgument);
