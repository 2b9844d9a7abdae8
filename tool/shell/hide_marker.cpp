#include "tool/shell/hide_marker.h"

#include "common/bounded.h"
#include "common/texts.h"
#include "platform/owners.h"

#include <wchar.h>

namespace {

wchar_t g_markerPath[PATH_CAPACITY];

bool isAsciiLetter(wchar_t c) { return (c >= L'A' && c <= L'Z') || (c >= L'a' && c <= L'z'); }

// A drive path ("C:\...") or a UNC path ("\\server\share\..."). Anything else would put the
// marker wherever the current folder happens to be, which may be the drive being hidden.
bool isAbsolutePath(const wchar_t* path) {
    return (isAsciiLetter(path[0]) && path[1] == L':' && path[2] == L'\\') || (path[0] == L'\\' && path[1] == L'\\');
}

// Appends src whole or not at all.
bool appendWhole(wchar_t* dst, size_t capacity, const wchar_t* src) {
    size_t before = wcslen(dst);
    if (appendText(dst, capacity, src) == before + wcslen(src)) return true;
    dst[before] = 0;
    return false;
}

}  // namespace

bool buildHideMarkerPath(const wchar_t* folder, wchar_t* out, size_t capacity) {
    if (capacity == 0) return false;
    out[0] = 0;
    if (!folder || !isAbsolutePath(folder)) return false;
    bool fits = copyText(out, capacity, folder) == wcslen(folder);
    if (fits && out[wcslen(out) - 1] != L'\\') fits = appendWhole(out, capacity, L"\\");
    if (fits) fits = appendWhole(out, capacity, HIDE_MARKER_NAME);
    if (!fits) out[0] = 0;
    return fits;
}

const wchar_t* getHideMarkerPath() {
    ZeroMemory(g_markerPath, sizeof(g_markerPath));
    wchar_t folder[PATH_CAPACITY] = L"";
    // The result counts the terminator only when the folder did not fit.
    DWORD length = GetTempPathW(PATH_CAPACITY, folder);
    if (length == 0 || length >= PATH_CAPACITY) return nullptr;
    return buildHideMarkerPath(folder, g_markerPath, PATH_CAPACITY) ? g_markerPath : nullptr;
}

void writeHideMarker() {
    const wchar_t* path = getHideMarkerPath();
    if (!path) return;
    // CREATE_NEW: a marker that is already there stays exactly as it is.
    UniqueFile marker(CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
}
