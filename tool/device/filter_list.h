// A device's filter list (REG_MULTI_SZ) as the clean-up edits it: the bytes the registry
// returned, made into a well-formed list, and the driver's entries taken out. The bytes come
// from whatever a program stored there, so these hold for any data; they touch no registry.
#pragma once
#include <stddef.h>

enum : size_t {
    // Zero units a list buffer holds beyond the bytes read: room for the terminators a list
    // stored without them lacks.
    MULTI_STRING_PADDING_UNITS = 2,
};

// Makes the list read into units (bytes of data, the buffer at least bytes / 2 +
// MULTI_STRING_PADDING_UNITS units) well formed in place and returns its length in units, up
// to and including its final empty string. A list stored without its final empty string, or
// without the last entry's terminator as well, holds the entries it plainly shows; what
// follows an empty string is no part of it. 0 for data of odd size, which cannot be a list of
// UTF-16 strings.
size_t completeMultiString(wchar_t* units, size_t bytes);

// Moves the rest of the list down over every entry equal to name (in any ASCII letter case);
// returns the new length. The list must be well formed within length.
size_t removeEntries(wchar_t* units, size_t length, const wchar_t* name);
