#include "tool/device/filter_list.h"

#include "common/bounded.h"

#include <string.h>
#include <wchar.h>

size_t completeMultiString(wchar_t* units, size_t bytes) {
    if (bytes % 2 != 0) return 0;
    size_t count = bytes / 2;
    size_t pos = 0;
    while (pos < count && units[pos] != 0) {
        while (pos < count && units[pos] != 0) ++pos;
        units[pos++] = 0;
    }
    units[pos] = 0;
    return pos + 1;
}

size_t removeEntries(wchar_t* units, size_t length, const wchar_t* name) {
    size_t pos = 0;
    while (units[pos] != 0) {
        size_t entry = wcslen(units + pos) + 1;
        if (equalsIgnoringAsciiCase(units + pos, name)) {
            memmove(units + pos, units + pos + entry, (length - pos - entry) * sizeof(wchar_t));
            length -= entry;
        } else {
            pos += entry;
        }
    }
    return length;
}
