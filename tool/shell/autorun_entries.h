// The two entries the drive's autorun.inf must hold to start this product, and how a value
// read for one of them is judged. The file is written by whoever prepared the drive, so the
// judgement must hold for any text.
#pragma once
#include <stddef.h>

struct AutorunEntry {
    const wchar_t* key;    // in the [autorun] section
    const wchar_t* value;  // as this product writes it
};

enum : size_t { AUTORUN_ENTRY_COUNT = 2 };
extern const AutorunEntry autorunEntries[AUTORUN_ENTRY_COUNT];

// TRUE when the value read for an entry leaves the file as this product wrote it: the entry
// is missing or empty, or it matches the expected value whole, A-Z folded.
bool isAutorunValueIntact(const wchar_t* value, const wchar_t* expected);
