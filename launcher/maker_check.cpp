// The maker check reads the installed file's version block. version.dll is not one of Vista's
// known DLLs, so an import of it would be looked up in the launcher's own folder on the drive
// first; it is loaded from the system folder by its full path instead.
#include "launcher/module_install.h"

#include "common/bounded.h"

#include <memory>
#include <new>

#include <string.h>

namespace {

enum : size_t {
    VERSION_KEY_CAPACITY = 64,
    COMPANY_NAME_CAPACITY = 64,
};

struct VersionFunctions {
    DWORD(WINAPI* getFileVersionInfoSizeW)(LPCWSTR path, LPDWORD handle);
    BOOL(WINAPI* getFileVersionInfoW)(LPCWSTR path, DWORD handle, DWORD size, LPVOID block);
    BOOL(WINAPI* verQueryValueW)(LPCVOID block, LPCWSTR key, LPVOID* value, PUINT length);
};

template <typename Function>
bool lookUp(HMODULE module, const char* name, Function& function) {
    function = reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(module, name)));
    return function != nullptr;
}

// Loaded once and kept for the life of the process; null when the system's copy is missing.
const VersionFunctions* versionFunctions() {
    static VersionFunctions functions;
    static bool loaded = false;
    if (loaded) return &functions;
    wchar_t path[PATH_CAPACITY] = L"";
    UINT length = GetSystemDirectoryW(path, PATH_CAPACITY);
    if (length == 0 || length >= PATH_CAPACITY) return nullptr;
    if (appendText(path, L"\\version.dll") != length + 12) return nullptr;
    HMODULE module = LoadLibraryW(path);
    if (!module) return nullptr;
    loaded = lookUp(module, "GetFileVersionInfoSizeW", functions.getFileVersionInfoSizeW) &&
             lookUp(module, "GetFileVersionInfoW", functions.getFileVersionInfoW) &&
             lookUp(module, "VerQueryValueW", functions.verQueryValueW);
    if (loaded) return &functions;
    // A copy without all three is of no use; the next call tries again from the start.
    FreeLibrary(module);
    return nullptr;
}

// Exact and case-sensitive; the value is read within the length the block gives for it.
bool isMakerName(const wchar_t* value, UINT length) {
    wchar_t name[COMPANY_NAME_CAPACITY];
    size_t units = length < COMPANY_NAME_CAPACITY ? length : COMPANY_NAME_CAPACITY - 1;
    wmemcpy(name, value, units);
    name[units] = 0;
    return wcscmp(name, MAKER_COMPANY_NAME) == 0;
}

}  // namespace

BOOL hasMakerCompanyName(const wchar_t* path) {
    const VersionFunctions* version = versionFunctions();
    if (!version) return FALSE;
    DWORD ignored = 0;
    DWORD size = version->getFileVersionInfoSizeW(path, &ignored);
    if (size == 0) return FALSE;
    std::unique_ptr<BYTE[]> block(new (std::nothrow) BYTE[size]);
    if (!block || !version->getFileVersionInfoW(path, 0, size, block.get())) return FALSE;

    const WORD* translations = nullptr;
    UINT bytes = 0;
    if (!version->verQueryValueW(block.get(), L"\\VarFileInfo\\Translation",
                                 reinterpret_cast<LPVOID*>(const_cast<WORD**>(&translations)), &bytes) ||
        !translations)
        return FALSE;
    for (UINT entry = 0; entry < bytes / 4; ++entry) {
        wchar_t key[VERSION_KEY_CAPACITY];
        formatText(key, VERSION_KEY_CAPACITY, L"\\StringFileInfo\\%04x%04x\\CompanyName", translations[2 * entry],
                   translations[2 * entry + 1]);
        wchar_t* value = nullptr;
        UINT length = 0;
        if (version->verQueryValueW(block.get(), key, reinterpret_cast<LPVOID*>(&value), &length) && value &&
            isMakerName(value, length))
            return TRUE;
    }
    return FALSE;
}
