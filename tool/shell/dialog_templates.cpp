#include "tool/shell/dialog_templates.h"

#include "common/bounded.h"
#include "common/environment.h"
#include "platform/system_calls.h"

#include <uxtheme.h>

#include <string.h>

namespace {

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

UniqueLocal copyDialogTemplate(const BYTE* dialogTemplate, size_t size, const wchar_t* face) {
    UniqueLocal copy(LocalAlloc(LPTR, patchedTemplateSize(dialogTemplate, size, face)));
    if (copy) patchDialogTemplate(dialogTemplate, size, face, static_cast<BYTE*>(copy.get()));
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
