// The hide marker: an empty "parvane.tmp" in the user's temporary folder, left behind by a
// successful hide. The tool only creates it; nothing here reads or deletes it.
#pragma once
#include "platform/win.h"

#include <stddef.h>

#define HIDE_MARKER_NAME L"parvane.tmp"

// The marker's full path in a process-wide buffer of 260 units, or null when there is none to
// give: the temporary folder is unknown, is not an absolute path, or leaves no room for the name.
const wchar_t* getHideMarkerPath();
// The marker's path inside folder, into out; false (out empty) in the same cases.
bool buildHideMarkerPath(const wchar_t* folder, wchar_t* out, size_t capacity);
// Creates the marker if it is not there; an existing one is left as it is. Reports nothing.
void writeHideMarker();
