// A dialog template given another font face: the face (UTF-16LE units up to a zero unit),
// then the template's bytes, classic or extended, with or without a font block, well formed
// or not. The copy is written into a block of exactly the size asked for, and checked byte for
// byte against the template taken apart and put together again plainly.
#include "tool/shell/dialog_template_font.h"

#include "fuzz_input.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <string>
#include <vector>

namespace {

typedef std::vector<uint8_t> Bytes;

size_t word(const Bytes& t, size_t offset) { return t[offset] | t[offset + 1] << 8; }

void putWord(Bytes& b, size_t value) {
    b.push_back(static_cast<uint8_t>(value));
    b.push_back(static_cast<uint8_t>(value >> 8));
}

// Past the string at offset, or 0 when it has no terminator within the template.
size_t pastString(const Bytes& t, size_t offset) {
    for (; offset + 2 <= t.size(); offset += 2)
        if (word(t, offset) == 0) return offset + 2;
    return 0;
}

// The template as it must read with face; empty when it is malformed and stays as it is.
Bytes expectedCopy(const Bytes& t, const std::wstring& face, size_t& fontField) {
    fontField = 0;
    const bool extended = t.size() >= 4 && word(t, 2) == 0xFFFF;
    const size_t header = extended ? 26 : 18, styleAt = extended ? 12 : 0, countAt = extended ? 16 : 8;
    const size_t fixedPart = extended ? 6 : 2;
    if (t.size() < header) return Bytes();
    size_t offset = header;
    for (int field = 0; field < 2; ++field) {  // the menu and the class
        if (offset + 2 > t.size()) return Bytes();
        if (word(t, offset) == 0xFFFF) {
            if (offset + 4 > t.size()) return Bytes();
            offset += 4;
        } else if ((offset = pastString(t, offset)) == 0) {
            return Bytes();
        }
    }
    fontField = pastString(t, offset);  // after the title
    if (fontField == 0) return Bytes();
    const bool hadFont = (t[styleAt] & 0x40) != 0;
    size_t oldEnd = fontField;
    if (hadFont && (oldEnd = pastString(t, fontField + fixedPart)) == 0) return Bytes();

    Bytes copy(t.begin(), t.begin() + fontField);
    copy[styleAt] |= 0x40;
    if (hadFont) {
        copy.insert(copy.end(), t.begin() + fontField, t.begin() + fontField + fixedPart);
    } else {
        putWord(copy, 9);
        if (extended) putWord(copy, 0), copy.push_back(0), copy.push_back(1);
    }
    for (wchar_t unit : face) putWord(copy, unit);
    putWord(copy, 0);
    if (word(t, countAt) != 0) {
        while (copy.size() % 4) copy.push_back(0);
        const size_t items = (oldEnd + 3) & ~size_t(3);
        if (items < t.size()) copy.insert(copy.end(), t.begin() + items, t.end());
    }
    return copy;
}

Bytes patched(const Bytes& t, const wchar_t* face) {
    ExactBuffer<uint8_t> original(t.size());
    if (!t.empty()) memcpy(original.block, t.data(), t.size());
    const size_t size = patchedTemplateSize(original.block, original.capacity, face);
    ExactBuffer<uint8_t> copy(size);
    patchDialogTemplate(original.block, original.capacity, face, copy.block);
    return Bytes(copy.block, copy.block + size);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzInput input(data, size);
    const std::wstring face = input.takeText(64);
    const Bytes original = input.takeRest();

    FUZZ_CHECK(patched(original, nullptr) == original);

    const Bytes result = patched(original, face.c_str());
    size_t fontField = 0;
    Bytes expected = expectedCopy(original, face, fontField);
    FUZZ_CHECK(findDialogFontField(original.data(), original.size()) == fontField);
    if (expected.empty()) {
        FUZZ_CHECK(result == original);
        return 0;
    }
    // Never smaller than the template or its patched form; what a shorter face leaves is zero.
    FUZZ_CHECK(result.size() == (expected.size() > original.size() ? expected.size() : original.size()));
    expected.resize(result.size(), 0);
    FUZZ_CHECK(result == expected);
    return 0;
}
