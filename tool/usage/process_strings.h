// The strings of another process as the usage scan copies and reads them. The bytes come from
// a process the tool does not control, so these functions must hold for any counts and any
// text; they touch no process themselves, the scan hands them a reader.
#pragma once
#include <stddef.h>
#include <stdint.h>

enum : size_t {
    // The reported process name, terminator included.
    PROCESS_NAME_CAPACITY = 260,
    // Each string of a snapshot, terminator included: the longest a UNICODE_STRING can hold.
    PROCESS_STRING_CAPACITY = 32767,
};

// Reads `units` string units at `address` of the process into text; true only when all of them
// came.
typedef bool (*RemoteReader)(void* process, const void* address, wchar_t* text, size_t units);

// The whole units of a string the other process describes by its UNICODE_STRING counts.
size_t remoteStringUnits(uint16_t length, uint16_t maximumLength);

// Copies the UNICODE_STRING whose bytes (as copied from the other process) lie at descriptor
// into field, a PROCESS_STRING_CAPACITY buffer, by its count. A failed read leaves the field
// as it was.
void copyRemoteString(RemoteReader read, void* process, const unsigned char* descriptor, wchar_t* field);

// TRUE when the first two units of path, the drive's letter and colon, are those of
// driveArgument.
bool isOnDrive(const wchar_t* path, const wchar_t* driveArgument);

// The last component of imagePath (file name and extension) as the name the user is shown,
// cut so that it always fits PROCESS_NAME_CAPACITY units.
void processNameFromImagePath(const wchar_t* imagePath, wchar_t* nameOut);
