// The byte-level work of giving a dialog template another font face: finding its font block,
// and writing a copy with the new face name and the items moved to their new 4-byte boundary.
// Templates come from resources, but these hold for any bytes; they touch no module or heap.
#pragma once
#include <stddef.h>
#include <stdint.h>

// Where the font block's point size lies: after the fixed header, the menu, the class and
// the title. 0 when the template is shorter than its own fields say.
size_t findDialogFontField(const uint8_t* dialogTemplate, size_t size);

// The size of the template's copy with face as its font: never less than the template's own
// size. A null face, or a malformed template, keeps the size.
size_t patchedTemplateSize(const uint8_t* dialogTemplate, size_t size, const wchar_t* face);

// Writes every byte of that copy (patchedTemplateSize bytes) into copy: face as the font,
// DS_SETFONT set (a template without a font block gets one, in 9 points), the items moved,
// and what a shorter block leaves at the end cleared. A null face, or a malformed template,
// is copied as it is.
void patchDialogTemplate(const uint8_t* dialogTemplate, size_t size, const wchar_t* face, uint8_t* copy);
