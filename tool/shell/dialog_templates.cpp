#include "tool/shell/dialog_templates.h"

#include "common/bounded.h"
#include "common/environment.h"
#include "platform/system_calls.h"

#include <uxtheme.h>

#include <string.h>
#include <wchar.h>

namespace {

// DLGTEMPLATEEX begins with dlgVer 1 and signature 0xFFFF; DLGTEMPLATE with its style.
const WORD kExtendedSignature = 0xFFFF;

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
const WORD kInsertedPointSize = 9;

WORD readWord(const BYTE* data, size_t offset) {
    WORD value;
    memcpy(&value, data + offset, sizeof(value));
    return value;
}

DWORD readDword(const BYTE* data, size_t offset) {
    DWORD value;
    memcpy(&value, data + offset, sizeof(value));
    return value;
}

size_t alignToDword(size_t offset) { return (offset + 3) & ~static_cast<size_t>(3); }

bool isExtended(const BYTE* data, size_t size) { return size >= 4 && readWord(data, 2) == kExtendedSignature; }

const TemplateKind& kindOf(const BYTE* data, size_t size) { return isExtended(data, size) ? kExtended : kClassic; }

// Past a zero-terminated UTF-16 string at offset; 0 when it runs past the end.
size_t skipString(const BYTE* data, size_t size, size_t offset) {
    for (; offset + 2 <= size; offset += 2)
        if (readWord(data, offset) == 0) return offset + 2;
    return 0;
}

// The menu and the class: 0xFFFF and an ordinal, or a string.
size_t skipNameOrOrdinal(const BYTE* data, size_t size, size_t offset) {
    if (offset == 0 || offset + 2 > size) return 0;
    if (readWord(data, offset) == 0xFFFF) return offset + 4 <= size ? offset + 4 : 0;
    return skipString(data, size, offset);
}

// What the copy needs to know about the template's font block.
struct FontBlock {
    size_t field;       // where the point size lies
    size_t fixedPart;   // 2 or 6 bytes before the face name
    size_t oldSize;     // 0 when the template had no font block
    size_t itemsStart;  // the 4-byte boundary after the old block
    bool hadFont;
};

bool describeFontBlock(const BYTE* data, size_t size, FontBlock& block) {
    const TemplateKind& kind = kindOf(data, size);
    block.field = findDialogFontField(data, size);
    if (block.field == 0) return false;
    block.fixedPart = kind.fontFixedPart;
    block.hadFont = (readDword(data, kind.styleOffset) & DS_SETFONT) != 0;
    block.oldSize = 0;
    if (block.hadFont) {
        size_t faceEnd = skipString(data, size, block.field + block.fixedPart);
        if (faceEnd == 0) return false;
        block.oldSize = faceEnd - block.field;
    }
    block.itemsStart = alignToDword(block.field + block.oldSize);
    return true;
}

UniqueLocal allocateCopy(const BYTE* data, size_t copied, size_t blockSize) {
    UniqueLocal copy(LocalAlloc(LPTR, blockSize));
    if (copy) memcpy(copy.get(), data, copied);
    return copy;
}

void writeFontBlock(BYTE* copy, size_t size, const FontBlock& block, const wchar_t* face) {
    const TemplateKind& kind = kindOf(copy, size);
    DWORD style = readDword(copy, kind.styleOffset) | DS_SETFONT;
    memcpy(copy + kind.styleOffset, &style, sizeof(style));
    if (!block.hadFont) {
        memset(copy + block.field, 0, block.fixedPart);
        memcpy(copy + block.field, &kInsertedPointSize, sizeof(kInsertedPointSize));
        if (block.fixedPart == kExtended.fontFixedPart) copy[block.field + 5] = DEFAULT_CHARSET;
    }
    memcpy(copy + block.field + block.fixedPart, face, (wcslen(face) + 1) * sizeof(wchar_t));
}

// EnableThemeDialogTexture, or null when the theming library is not there.
typedef HRESULT(WINAPI* EnableThemeDialogTextureFn)(HWND, DWORD);

EnableThemeDialogTextureFn themeDialogTexture() {
    static bool looked = false;
    static EnableThemeDialogTextureFn entry = nullptr;
    if (looked) return entry;
    looked = true;
    wchar_t path[MAX_PATH];
    UINT length = GetSystemDirectoryW(path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return nullptr;
    // Only the copy in the system folder: a bare name would also find one planted beside us.
    if (appendText(path, L"\\uxtheme.dll") + 1 >= MAX_PATH) return nullptr;
    // Kept loaded for the rest of the run: every dialog of the tool uses it.
    HMODULE theme = LoadLibraryW(path);
    if (!theme) return nullptr;
    entry = reinterpret_cast<EnableThemeDialogTextureFn>(
        reinterpret_cast<void*>(GetProcAddress(theme, "EnableThemeDialogTexture")));
    return entry;
}

}  // namespace

BOOL getMessageFontFace(wchar_t* face, size_t capacity) {
    NONCLIENTMETRICSW metrics;
    ZeroMemory(&metrics, sizeof(metrics));
    // The size that includes iPaddedBorderWidth, as Vista and later expect.
    metrics.cbSize = sizeof(metrics);
    if (!SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof(metrics), &metrics, 0)) return FALSE;
    wchar_t name[LF_FACESIZE];
    memcpy(name, metrics.lfMessageFont.lfFaceName, sizeof(name));
    name[LF_FACESIZE - 1] = 0;
    if (!name[0]) return FALSE;
    copyText(face, capacity, name);
    return TRUE;
}

size_t findDialogFontField(const BYTE* dialogTemplate, size_t size) {
    const TemplateKind& kind = kindOf(dialogTemplate, size);
    if (size < kind.headerSize) return 0;
    size_t offset = skipNameOrOrdinal(dialogTemplate, size, kind.headerSize);  // menu
    offset = skipNameOrOrdinal(dialogTemplate, size, offset);                   // class
    if (offset == 0) return 0;
    return skipString(dialogTemplate, size, offset);                            // title
}

UniqueLocal copyDialogTemplate(const BYTE* dialogTemplate, size_t size, const wchar_t* face) {
    FontBlock block;
    if (!face || !describeFontBlock(dialogTemplate, size, block)) return allocateCopy(dialogTemplate, size, size);

    const TemplateKind& kind = kindOf(dialogTemplate, size);
    const bool hasItems = readWord(dialogTemplate, kind.itemCountOffset) != 0;
    const size_t newFontSize = block.fixedPart + (wcslen(face) + 1) * sizeof(wchar_t);
    const size_t newItemsStart = alignToDword(block.field + newFontSize);
    const size_t itemBytes = hasItems && size > block.itemsStart ? size - block.itemsStart : 0;
    const size_t newSize = hasItems ? newItemsStart + itemBytes : block.field + newFontSize;

    UniqueLocal copy = allocateCopy(dialogTemplate, size, newSize > size ? newSize : size);
    if (!copy) return copy;
    BYTE* bytes = static_cast<BYTE*>(copy.get());
    if (itemBytes && newItemsStart != block.itemsStart)
        memmove(bytes + newItemsStart, bytes + block.itemsStart, itemBytes);
    // What a shorter font block left behind at the end reads as zeros.
    if (newSize < size) memset(bytes + newSize, 0, size - newSize);
    size_t fontEnd = block.field + newFontSize;
    if (hasItems) memset(bytes + fontEnd, 0, newItemsStart - fontEnd);  // padding up to the items
    writeFontBlock(bytes, size, block, face);
    return copy;
}

UniqueLocal loadDialogTemplate(HMODULE module, WORD templateId) {
    HRSRC found = FindResourceW(module, MAKEINTRESOURCEW(templateId), RT_DIALOG);
    HGLOBAL loaded = found ? LoadResource(module, found) : nullptr;
    const BYTE* resource = loaded ? static_cast<const BYTE*>(LockResource(loaded)) : nullptr;
    DWORD size = found ? SizeofResource(module, found) : 0;
    if (!resource || size == 0) return UniqueLocal();

    OSVERSIONINFOW version;
    ZeroMemory(&version, sizeof(version));
    version.dwOSVersionInfoSize = sizeof(version);
    sys().getVersionExW(&version);
    // Up to Windows 7 the template's own "MS Shell Dlg" is what the system's dialogs use too.
    bool windows8OrLater = version.dwMajorVersion > 6 || (version.dwMajorVersion == 6 && version.dwMinorVersion >= 2);
    wchar_t face[FONT_FACE_CAPACITY];
    if (!windows8OrLater || !getMessageFontFace(face, FONT_FACE_CAPACITY)) return copyDialogTemplate(resource, size, nullptr);
    return copyDialogTemplate(resource, size, face);
}

HWND createDialogFromTemplate(HINSTANCE module, WORD templateId, HWND owner, DLGPROC procedure, LPARAM parameter) {
    UniqueLocal copy = loadDialogTemplate(module, templateId);
    if (!copy) return nullptr;
    return CreateDialogIndirectParamW(module, static_cast<LPCDLGTEMPLATEW>(copy.get()), owner, procedure, parameter);
}

INT_PTR dialogBoxFromTemplate(HINSTANCE module, WORD templateId, HWND owner, DLGPROC procedure, LPARAM parameter) {
    UniqueLocal copy = loadDialogTemplate(module, templateId);
    if (!copy) return -1;
    return DialogBoxIndirectParamW(module, static_cast<LPCDLGTEMPLATEW>(copy.get()), owner, procedure, parameter);
}

void enableDialogTheme(HWND dialog) {
    if (!isWindowsXpOrLater()) return;
    EnableThemeDialogTextureFn enable = themeDialogTexture();
    if (enable) enable(dialog, ETDT_ENABLETAB);
}
