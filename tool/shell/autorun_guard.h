// Whether the drive's autorun.inf still starts this product as it should.
#pragma once
#include "platform/win.h"

// TRUE when autorun.inf is absent or both entries are as expected (or missing).
BOOL isAutorunIntact(const wchar_t* driveArgument);
