// An override text as a drive's INI file can hold it, and the texts built from it. The input
// is UTF-16LE units: the value GetPrivateProfileStringW hands back (at most TEXT_CAPACITY - 1
// units), then, after a zero unit each, two arguments for its "%s" placeholders. Every
// result is compared with the same text built without any capacity, then cut.
#include "common/bounded.h"
#include "fuzz_input.h"

#include <stdio.h>
#include <stdlib.h>

#include <string>

namespace {

// The capacities the texts are built into.
const size_t kTextCapacity = 1024;
const size_t kTitleCapacity = 128;

std::wstring withLineBreaks(std::wstring text) {
    for (size_t at = 0; (at = text.find(L"\\n", at)) != std::wstring::npos; at += 2) text.replace(at, 2, L"\r\n");
    return text;
}

std::wstring substituted(const std::wstring& text, const std::wstring* args, size_t argCount) {
    std::wstring result;
    size_t next = 0;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == L'%' && i + 1 < text.size() && text[i + 1] == L's' && next < argCount) {
            result += args[next++];
            ++i;
        } else {
            result += text[i];
        }
    }
    return result;
}

// A built text is the whole text cut to capacity - 1 units, terminated, and its length is
// what the builder returned.
void checkCut(const ExactBuffer<wchar_t>& out, size_t returned, const std::wstring& whole) {
    size_t expected = whole.size() < out.capacity - 1 ? whole.size() : out.capacity - 1;
    FUZZ_CHECK(returned == expected);
    FUZZ_CHECK(out.block[returned] == 0);
    FUZZ_CHECK(whole.compare(0, returned, out.block, returned) == 0);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzInput input(data, size);
    const std::wstring file = input.takeText(kTextCapacity - 1);
    const std::wstring args[2] = {input.takeText(kTextCapacity - 1), input.takeText(kTextCapacity - 1)};

    // The value as read: expanded in place in a buffer of the text capacity.
    ExactBuffer<wchar_t> value(kTextCapacity);
    checkCut(value, copyText(value.block, value.capacity, file.c_str()), file);
    expandLineBreaks(value.block);
    const std::wstring text = withLineBreaks(file);
    FUZZ_CHECK(text == value.block);

    // Cut into smaller buffers, one unit short of each capacity too.
    for (size_t capacity : {kTitleCapacity, kTitleCapacity - 1, size_t{2}, size_t{1}}) {
        ExactBuffer<wchar_t> cut(capacity);
        checkCut(cut, copyText(cut.block, capacity, text.c_str()), text);
    }

    // The window title: the product name with its mark, then the tool name and version.
    ExactBuffer<wchar_t> name(kTitleCapacity);
    copyText(name.block, name.capacity, text.c_str());
    const std::wstring cutName(name.block);
    checkCut(name, appendText(name.block, name.capacity, L"#"), cutName + L"#");
    ExactBuffer<wchar_t> title(kTitleCapacity);
    size_t titleLength = formatText(title.block, title.capacity, L"%s@%s %s", text.c_str(), name.block, L"Ver.5.1.0");
    checkCut(title, titleLength, text + L"@" + name.block + L" Ver.5.1.0");

    // The fallback for a code without a text of its own.
    ExactBuffer<wchar_t> fallback(kTextCapacity);
    checkCut(fallback, formatText(fallback.block, fallback.capacity, L"%s(%d)", text.c_str(), -2147483647 - 1),
             text + L"(-2147483648)");

    // Placeholders filled with every count of arguments, never interpreting anything else.
    for (size_t argCount = 0; argCount <= 2; ++argCount) {
        const wchar_t* argv[2] = {args[0].c_str(), args[1].c_str()};
        for (size_t capacity : {kTextCapacity, kTitleCapacity}) {
            ExactBuffer<wchar_t> out(capacity);
            checkCut(out, substituteText(out.block, capacity, text.c_str(), argv, argCount),
                     substituted(text, args, argCount));
        }
    }
    return 0;
}
