// The values a drive's autorun.inf gives for the two entries, as GetPrivateProfileStringW hands
// them back (at most TEXT_CAPACITY - 1 units each): UTF-16LE units, the two values separated
// by a zero unit. Each judgement is compared with a plain A-Z fold of both texts.
#include "tool/shell/autorun_entries.h"

#include "common/bounded.h"
#include "fuzz_input.h"

#include <stdio.h>
#include <stdlib.h>

#include <string>

namespace {

const size_t kTextCapacity = 1024;

std::wstring folded(const std::wstring& text) {
    std::wstring result;
    for (wchar_t c : text) result += (c >= L'A' && c <= L'Z') ? static_cast<wchar_t>(c - L'A' + L'a') : c;
    return result;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzInput input(data, size);
    for (const AutorunEntry& entry : autorunEntries) {
        const std::wstring read = input.takeText(kTextCapacity - 1);
        // The value in a buffer exactly as long as it is, so that any read past it shows.
        ExactBuffer<wchar_t> value(read.size() + 1);
        copyText(value.block, value.capacity, read.c_str());
        const bool expected = read.empty() || folded(read) == folded(entry.value);
        FUZZ_CHECK(isAutorunValueIntact(value.block, entry.value) == expected);
        // The comparison is symmetric and does not depend on the case of either side.
        FUZZ_CHECK(equalsIgnoringAsciiCase(value.block, entry.value) == equalsIgnoringAsciiCase(entry.value, value.block));
        // The counted form never looks beyond the count or the terminator.
        for (size_t count : {size_t{1}, size_t{2}, read.size(), read.size() + 1}) {
            const std::wstring a = read.substr(0, count), b = std::wstring(entry.value).substr(0, count);
            FUZZ_CHECK(equalsIgnoringAsciiCase(value.block, entry.value, count) == (folded(a) == folded(b)));
        }
    }
    return 0;
}
