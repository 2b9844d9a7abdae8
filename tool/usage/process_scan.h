// Which running program uses the drive, found without the product's service: a process
// counts when its executable or its current directory lies on the drive. Open file handles
// are not examined.
#pragma once
#include "platform/win.h"
#include "tool/usage/process_strings.h"

#include <stddef.h>

enum : size_t {
    // The most process IDs one scan looks at.
    PROCESS_ID_LIST_CAPACITY = 1000,
};

// What one scan learns about one process. Both strings are empty when they cannot be read.
struct ProcessSnapshot {
    DWORD processId;
    wchar_t currentDirectory[PROCESS_STRING_CAPACITY];
    wchar_t imagePath[PROCESS_STRING_CAPACITY];
};

// TRUE with the file name of the first process in the system's list whose executable or
// current directory is on the drive. Only the first two units of driveArgument (letter and
// colon) are used. nameOut holds PROCESS_NAME_CAPACITY units. FALSE also when the scan
// itself cannot run (no process list, no query entry point).
BOOL findProcessOnDriveLocal(const wchar_t* driveArgument, wchar_t* nameOut);

// Enables one privilege of this process's own token; TRUE only when it was really granted,
// so a privilege the token does not hold gives FALSE.
BOOL enablePrivilege(const wchar_t* privilegeName);

// Looks up the process query of ntdll.dll for readProcessSnapshot. Returns the module to pass
// to unloadProcessQuery, or null when the entry point is missing; the query is usable only
// between the two calls.
HMODULE loadProcessQuery();
void unloadProcessQuery(HMODULE module);

// Fills the snapshot from the process's own memory. TRUE also for a process that cannot be
// opened or read (its strings stay empty); FALSE only when no memory was to be had here.
BOOL readProcessSnapshot(DWORD processId, ProcessSnapshot& snapshot);

// The System process (ID 4) has no process parameters: its image is the kernel in the
// Windows directory. Leaves any other snapshot as it is.
void completeSystemProcessImage(ProcessSnapshot& snapshot);
