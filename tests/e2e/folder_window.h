// The shell opens a folder in a window of a process of its own (explorer.exe, or winefile.exe
// under some Wine set-ups). Tests and the demo that open a folder close it again, so that no
// window of it outlives them.
#pragma once
#include "platform/win.h"

#include <set>

// The folder window processes running now.
std::set<DWORD> folderWindowProcesses();
// Waits up to five seconds for a folder window process that was not running before, and ends
// every such process; true if one appeared.
bool endNewFolderWindows(const std::set<DWORD>& before);
