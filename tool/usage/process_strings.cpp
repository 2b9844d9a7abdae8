#include "tool/usage/process_strings.h"

#include "common/bounded.h"

#include <string.h>
#include <wchar.h>

#include <memory>
#include <new>

namespace {

// UNICODE_STRING: two byte counts, then the buffer's address at the next pointer boundary,
// which is 4 in an x86 process and 8 in an x64 one; each build reads only its own word size.
const size_t kStringLengthOffset = 0;         // Length, in bytes
const size_t kStringMaximumLengthOffset = 2;  // MaximumLength, in bytes
const size_t kStringBufferOffset = sizeof(void*);
// A split path keeps each part in this many units: the longest NTFS component and a terminator.
const size_t kPathPartCapacity = 256;

// Fields of a structure copied from another process: nothing promises they are aligned here.
template <typename T>
T fieldAt(const unsigned char* block, size_t offset) {
    T value;
    memcpy(&value, block + offset, sizeof(T));
    return value;
}

// Where the file name of a path begins: after its last separator, or after a bare drive.
const wchar_t* lastComponent(const wchar_t* path) {
    const wchar_t* start = (path[0] && path[1] == L':') ? path + 2 : path;
    for (const wchar_t* p = start; *p; ++p)
        if (*p == L'\\' || *p == L'/') start = p + 1;
    return start;
}

}  // namespace

// Never beyond the buffer the process says it has (a Length above MaximumLength is a string
// being rewritten, or garbage), never half a unit, and never more than a snapshot field holds
// besides its terminator.
size_t remoteStringUnits(uint16_t length, uint16_t maximumLength) {
    size_t bytes = length < maximumLength ? length : maximumLength;
    size_t units = bytes / 2;
    return units < PROCESS_STRING_CAPACITY - 1 ? units : PROCESS_STRING_CAPACITY - 1;
}

// The other process need not have terminated the string, so the copy ends where the count
// ends, in a block one unit longer whose last unit stays zero.
void copyRemoteString(RemoteReader read, void* process, const unsigned char* descriptor, wchar_t* field) {
    size_t units = remoteStringUnits(fieldAt<uint16_t>(descriptor, kStringLengthOffset),
                                     fieldAt<uint16_t>(descriptor, kStringMaximumLengthOffset));
    if (units == 0) return;
    std::unique_ptr<wchar_t[]> text(new (std::nothrow) wchar_t[units + 1]());
    if (!text || !read(process, fieldAt<const void*>(descriptor, kStringBufferOffset), text.get(), units))
        return;
    copyText(field, PROCESS_STRING_CAPACITY, text.get());
}

// Only A-Z and a-z are folded: drive letters are nothing else, and the comparison must not
// depend on the user's locale.
bool isOnDrive(const wchar_t* path, const wchar_t* driveArgument) {
    return path[0] != 0 && equalsIgnoringAsciiCase(path, driveArgument, 2);
}

void processNameFromImagePath(const wchar_t* imagePath, wchar_t* nameOut) {
    const wchar_t* fileName = lastComponent(imagePath);
    const wchar_t* extension = wcsrchr(fileName, L'.');
    if (!extension) extension = fileName + wcslen(fileName);
    // Each part is cut to its own buffer first, so an overlong file name still keeps its
    // extension; the join is then cut to the name's capacity.
    size_t stemUnits = static_cast<size_t>(extension - fileName);
    wchar_t stem[kPathPartCapacity];
    wchar_t suffix[kPathPartCapacity];
    copyText(stem, stemUnits + 1 < kPathPartCapacity ? stemUnits + 1 : kPathPartCapacity, fileName);
    copyText(suffix, extension);
    formatText(nameOut, PROCESS_NAME_CAPACITY, L"%s%s", stem, suffix);
}
