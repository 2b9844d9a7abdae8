// The removal tool's dialogs are created from copies of their templates, so that from
// Windows 8 on they can carry the face name of the running system's message font instead of
// the template's own.
#pragma once
#include "platform/owners.h"
#include "platform/win.h"
#include "tool/shell/dialog_template_font.h"

#include <stddef.h>

enum : size_t { FONT_FACE_CAPACITY = 128 };

// The face name of the system's message font, at most 31 characters. FALSE when the system
// metrics cannot be read or name no face.
BOOL getMessageFontFace(wchar_t* face, size_t capacity);

// A copy of a template with face as its font (DS_SETFONT set, the items moved to their new
// 4-byte boundary), sized from the template and the face; a null face copies it as it is.
// Empty when no memory was to be had; a malformed template is copied unchanged.
UniqueLocal copyDialogTemplate(const BYTE* dialogTemplate, size_t size, const wchar_t* face);

// The module's RT_DIALOG resource as a copy for CreateDialogIndirectParamW, with the message
// font's face name on Windows 6.2 and later. Empty when the resource is missing.
UniqueLocal loadDialogTemplate(HMODULE module, WORD templateId);

HWND createDialogFromTemplate(HINSTANCE module, WORD templateId, HWND owner, DLGPROC procedure, LPARAM parameter);
// -1 when the template is missing or the dialog cannot be created.
INT_PTR dialogBoxFromTemplate(HINSTANCE module, WORD templateId, HWND owner, DLGPROC procedure, LPARAM parameter);

// EnableThemeDialogTexture(ETDT_ENABLETAB) on Windows XP and later. The theming library is
// loaded on first use, from the system folder by its full path.
void enableDialogTheme(HWND dialog);
