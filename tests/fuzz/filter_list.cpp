// A disk's filter list as the registry returns it: the driver's name to take out (UTF-16LE
// units up to a zero unit), then the stored bytes of the REG_MULTI_SZ value, whatever a program
// wrote there. The bytes lie in a buffer of exactly the units read plus the padding, as the
// clean-up allocates it; the edited list is checked against one split and filtered plainly.
#include "tool/device/filter_list.h"

#include "fuzz_input.h"

#include <stdio.h>
#include <stdlib.h>

#include <string>
#include <vector>

namespace {

std::wstring folded(const std::wstring& text) {
    std::wstring result;
    for (wchar_t c : text) result += (c >= L'A' && c <= L'Z') ? static_cast<wchar_t>(c - L'A' + L'a') : c;
    return result;
}

// The entries the stored units show: up to the first empty string or the end of the data.
std::vector<std::wstring> shownEntries(const std::vector<wchar_t>& units) {
    std::vector<std::wstring> entries;
    size_t pos = 0;
    while (pos < units.size() && units[pos] != 0) {
        std::wstring entry;
        while (pos < units.size() && units[pos] != 0) entry += units[pos++];
        entries.push_back(entry);
        ++pos;
    }
    return entries;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzInput input(data, size);
    const std::wstring name = input.takeText(64);
    const std::vector<uint8_t> stored = input.takeRest();

    std::vector<wchar_t> units;
    for (size_t i = 0; i + 1 < stored.size(); i += 2)
        units.push_back(static_cast<wchar_t>(stored[i] | stored[i + 1] << 8));
    ExactBuffer<wchar_t> list(units.size() + MULTI_STRING_PADDING_UNITS);
    for (size_t i = 0; i < list.capacity; ++i) list.block[i] = i < units.size() ? units[i] : 0;

    size_t length = completeMultiString(list.block, stored.size());
    if (stored.size() % 2 != 0) {
        // Not a list: left exactly as it was read.
        FUZZ_CHECK(length == 0);
        for (size_t i = 0; i < units.size(); ++i) FUZZ_CHECK(list.block[i] == units[i]);
        return 0;
    }

    const std::vector<std::wstring> entries = shownEntries(units);
    std::wstring whole;
    for (const std::wstring& entry : entries) whole += entry + L'\0';
    whole += L'\0';
    FUZZ_CHECK(length == whole.size());
    FUZZ_CHECK(std::wstring(list.block, length) == whole);

    length = removeEntries(list.block, length, name.c_str());
    std::wstring kept;
    for (const std::wstring& entry : entries)
        if (folded(entry) != folded(name)) kept += entry + L'\0';
    kept += L'\0';
    FUZZ_CHECK(length == kept.size());
    FUZZ_CHECK(std::wstring(list.block, length) == kept);
    return 0;
}
