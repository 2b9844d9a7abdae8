#include "tool/shell/dialog_template_font.h"

#include <string.h>
#include <wchar.h>

namespace {

// DLGTEMPLATEEX begins with dlgVer 1 and signature 0xFFFF; DLGTEMPLATE with its style.
const uint16_t kExtendedSignature = 0xFFFF;
// The style bit that says a font block follows the title (DS_SETFONT), and the character set
// an inserted extended block names (DEFAULT_CHARSET).
const uint32_t kSetFontStyle = 0x40;
const uint8_t kDefaultCharset = 1;

struct TemplateKind {
    size_t styleOffset;
    size_t itemCountOffset;
    size_t headerSize;
    // Before the face name: the point size; in the extended form also weight, italic, charset.
    size_t fontFixedPart;
};
const TemplateKind kClassic = {0, 8, 18, 2};
const TemplateKind kExtended = {12, 16, 26, 6};

// A template that had no font block gets one in this size: the one both of the tool's own
// templates ask for.
const uint16_t kInsertedPointSize = 9;

// Template fields are little-endian and nothing promises they are aligned in the buffer.
uint16_t readWord(const uint8_t* data, size_t offset) {
    return static_cast<uint16_t>(data[offset] | data[offset + 1] << 8);
}

uint32_t readDword(const uint8_t* data, size_t offset) {
    return readWord(data, offset) | static_cast<uint32_t>(readWord(data, offset + 2)) << 16;
}

void writeWord(uint8_t* data, size_t offset, uint16_t value) {
    data[offset] = static_cast<uint8_t>(value);
    data[offset + 1] = static_cast<uint8_t>(value >> 8);
}

void writeDword(uint8_t* data, size_t offset, uint32_t value) {
    writeWord(data, offset, static_cast<uint16_t>(value));
    writeWord(data, offset + 2, static_cast<uint16_t>(value >> 16));
}

size_t alignToDword(size_t offset) { return (offset + 3) & ~static_cast<size_t>(3); }

bool isExtended(const uint8_t* data, size_t size) { return size >= 4 && readWord(data, 2) == kExtendedSignature; }

const TemplateKind& kindOf(const uint8_t* data, size_t size) { return isExtended(data, size) ? kExtended : kClassic; }

// Past a zero-terminated UTF-16 string at offset; 0 when it runs past the end.
size_t skipString(const uint8_t* data, size_t size, size_t offset) {
    for (; offset + 2 <= size; offset += 2)
        if (readWord(data, offset) == 0) return offset + 2;
    return 0;
}

// The menu and the class: 0xFFFF and an ordinal, or a string.
size_t skipNameOrOrdinal(const uint8_t* data, size_t size, size_t offset) {
    if (offset == 0 || offset + 2 > size) return 0;
    if (readWord(data, offset) == 0xFFFF) return offset + 4 <= size ? offset + 4 : 0;
    return skipString(data, size, offset);
}

// What the copy needs to know about the template's font block and where things go.
struct FontPatch {
    size_t field;         // where the point size lies
    size_t fixedPart;     // 2 or 6 bytes before the face name
    bool hadFont;
    bool hasItems;
    size_t itemsStart;    // the 4-byte boundary after the old block
    size_t itemBytes;     // what lies from there to the end, when the template has items
    size_t fontEnd;       // the end of the new block
    size_t newItemsStart; // the 4-byte boundary after it
    size_t newSize;       // the patched template's own size
};

bool planFontPatch(const uint8_t* data, size_t size, const wchar_t* face, FontPatch& patch) {
    if (!face) return false;
    const TemplateKind& kind = kindOf(data, size);
    patch.field = findDialogFontField(data, size);
    if (patch.field == 0) return false;
    patch.fixedPart = kind.fontFixedPart;
    patch.hadFont = (readDword(data, kind.styleOffset) & kSetFontStyle) != 0;
    size_t oldSize = 0;
    if (patch.hadFont) {
        size_t faceEnd = skipString(data, size, patch.field + patch.fixedPart);
        if (faceEnd == 0) return false;
        oldSize = faceEnd - patch.field;
    }
    patch.itemsStart = alignToDword(patch.field + oldSize);
    patch.hasItems = readWord(data, kind.itemCountOffset) != 0;
    patch.fontEnd = patch.field + patch.fixedPart + (wcslen(face) + 1) * 2;
    patch.newItemsStart = alignToDword(patch.fontEnd);
    patch.itemBytes = patch.hasItems && size > patch.itemsStart ? size - patch.itemsStart : 0;
    patch.newSize = patch.hasItems ? patch.newItemsStart + patch.itemBytes : patch.fontEnd;
    return true;
}

void writeFontBlock(uint8_t* copy, size_t size, const FontPatch& patch, const wchar_t* face) {
    const TemplateKind& kind = kindOf(copy, size);
    writeDword(copy, kind.styleOffset, readDword(copy, kind.styleOffset) | kSetFontStyle);
    if (!patch.hadFont) {
        memset(copy + patch.field, 0, patch.fixedPart);
        writeWord(copy, patch.field, kInsertedPointSize);
        if (patch.fixedPart == kExtended.fontFixedPart) copy[patch.field + 5] = kDefaultCharset;
    }
    // The face as UTF-16 units, its terminator included.
    size_t offset = patch.field + patch.fixedPart;
    for (const wchar_t* unit = face;; ++unit, offset += 2) {
        writeWord(copy, offset, static_cast<uint16_t>(*unit));
        if (*unit == 0) break;
    }
}

}  // namespace

size_t findDialogFontField(const uint8_t* dialogTemplate, size_t size) {
    const TemplateKind& kind = kindOf(dialogTemplate, size);
    if (size < kind.headerSize) return 0;
    size_t offset = skipNameOrOrdinal(dialogTemplate, size, kind.headerSize);  // menu
    offset = skipNameOrOrdinal(dialogTemplate, size, offset);                   // class
    if (offset == 0) return 0;
    return skipString(dialogTemplate, size, offset);                            // title
}

size_t patchedTemplateSize(const uint8_t* dialogTemplate, size_t size, const wchar_t* face) {
    FontPatch patch;
    if (!planFontPatch(dialogTemplate, size, face, patch)) return size;
    return patch.newSize > size ? patch.newSize : size;
}

void patchDialogTemplate(const uint8_t* dialogTemplate, size_t size, const wchar_t* face, uint8_t* copy) {
    if (size) memcpy(copy, dialogTemplate, size);
    FontPatch patch;
    if (!planFontPatch(dialogTemplate, size, face, patch)) return;
    if (patch.newSize > size) memset(copy + size, 0, patch.newSize - size);
    if (patch.itemBytes && patch.newItemsStart != patch.itemsStart)
        memmove(copy + patch.newItemsStart, copy + patch.itemsStart, patch.itemBytes);
    // What a shorter font block left behind at the end reads as zeros.
    if (patch.newSize < size) memset(copy + patch.newSize, 0, size - patch.newSize);
    // The padding up to the items.
    if (patch.hasItems) memset(copy + patch.fontEnd, 0, patch.newItemsStart - patch.fontEnd);
    writeFontBlock(copy, size, patch, face);
}
