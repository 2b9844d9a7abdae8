#include "launcher/module_install.h"

#include "common/bounded.h"
#include "launcher/lzma_decode.h"
#include "platform/owners.h"
#include "platform/system_calls.h"

#include <shlobj.h>
#include <shlwapi.h>

#include <wchar.h>

namespace {

enum : size_t {
    // The parts of the launcher's path, as the C library's path splitter bounds them.
    DRIVE_PART_CAPACITY = 3,
    PATH_PART_CAPACITY = 256,
};

const int kAttempts = 3;
const DWORD kRetryPauseMs = 100;

// The decoding's temporary file; one launch decodes one module at a time.
wchar_t g_decodingTempPath[PATH_CAPACITY];

bool ensureFolder(const wchar_t* path) {
    if (PathFileExistsW(path)) return true;
    return CreateDirectoryW(path, nullptr) != FALSE;
}

bool localAppDataFolder(wchar_t (&path)[MAX_PATH]) {
    LPITEMIDLIST list = nullptr;
    if (FAILED(SHGetSpecialFolderLocation(nullptr, CSIDL_LOCAL_APPDATA, &list)) || !list) return false;
    BOOL converted = SHGetPathFromIDListW(list, path);
    CoTaskMemFree(list);
    return converted != FALSE;
}

// The launcher's file name without its extension, split as the C library's splitter splits a
// path: a part longer than its capacity fails the whole split.
bool launcherBaseName(wchar_t (&name)[PATH_PART_CAPACITY]) {
    wchar_t path[PATH_CAPACITY] = L"";
    DWORD length = GetModuleFileNameW(nullptr, path, PATH_CAPACITY);
    if (length == 0 || length >= PATH_CAPACITY) return false;
    const wchar_t* rest = path;
    if (path[0] && path[1] == L':') rest += 2;
    if (static_cast<size_t>(rest - path) >= DRIVE_PART_CAPACITY) return false;
    const wchar_t* file = rest;
    for (const wchar_t* p = rest; *p; ++p)
        if (*p == L'\\' || *p == L'/') file = p + 1;
    if (static_cast<size_t>(file - rest) >= PATH_PART_CAPACITY) return false;
    const wchar_t* dot = wcsrchr(file, L'.');
    const wchar_t* end = dot ? dot : file + wcslen(file);
    if (static_cast<size_t>(end - file) >= PATH_PART_CAPACITY || (dot && wcslen(dot) >= PATH_PART_CAPACITY))
        return false;
    wmemcpy(name, file, static_cast<size_t>(end - file));
    name[end - file] = 0;
    return true;
}

// "folder\fileName" with exactly one separator; false when it does not fit.
bool formatModulePath(wchar_t (&path)[MODULE_PATH_CAPACITY], const wchar_t* folder, const wchar_t* fileName) {
    size_t folderLength = wcslen(folder);
    bool hasSeparator = folderLength > 0 && folder[folderLength - 1] == L'\\';
    if (folderLength + (hasSeparator ? 0 : 1) + wcslen(fileName) >= MODULE_PATH_CAPACITY) return false;
    formatText(path, MODULE_PATH_CAPACITY, hasSeparator ? L"%s%s" : L"%s\\%s", folder, fileName);
    return true;
}

struct ModuleResource {
    const void* data;
    DWORD size;
};

bool findModuleResource(const wchar_t* resourceName, ModuleResource& resource) {
    HMODULE self = GetModuleHandleW(nullptr);
    HRSRC found = FindResourceW(self, resourceName, MODULE_RESOURCE_TYPE);
    if (!found) return false;
    resource.size = SizeofResource(self, found);
    HGLOBAL loaded = resource.size ? LoadResource(self, found) : nullptr;
    resource.data = loaded ? LockResource(loaded) : nullptr;
    return resource.data != nullptr;
}

// Every attempt starts from an empty file: LZMA-alone carries no checksum, so a retry behind
// half a block could decode into a damaged tool that still bears the maker's name.
bool writeWholeModule(HANDLE file, const ModuleResource& resource) {
    LARGE_INTEGER start = {};
    if (!SetFilePointerEx(file, start, nullptr, FILE_BEGIN) || !SetEndOfFile(file)) return false;
    DWORD written = 0;
    return sys().writeFile(file, resource.data, resource.size, &written, nullptr) && written == resource.size;
}

bool readFromFile(void* source, uint8_t* buffer, size_t capacity, size_t* read) {
    DWORD got = 0;
    if (!ReadFile(static_cast<HANDLE>(source), buffer, static_cast<DWORD>(capacity), &got, nullptr)) return false;
    *read = got;
    return true;
}

bool writeToFile(void* sink, const uint8_t* data, size_t size) {
    DWORD written = 0;
    return sys().writeFile(static_cast<HANDLE>(sink), data, static_cast<DWORD>(size), &written, nullptr) &&
           written == size;
}

// The temporary file GetTempFileNameW creates; deleted again on every path.
class DecodingTempFile {
public:
    DecodingTempFile() {
        wchar_t folder[PATH_CAPACITY] = L"";
        DWORD length = GetTempPathW(PATH_CAPACITY, folder);
        g_decodingTempPath[0] = 0;
        created_ = length > 0 && length < PATH_CAPACITY &&
                   GetTempFileNameW(folder, L"UAS", 0, g_decodingTempPath) != 0;
    }
    ~DecodingTempFile() {
        if (created_) DeleteFileW(g_decodingTempPath);
    }
    DecodingTempFile(const DecodingTempFile&) = delete;
    DecodingTempFile& operator=(const DecodingTempFile&) = delete;

    bool created() const { return created_; }
    const wchar_t* path() const { return g_decodingTempPath; }

private:
    bool created_;
};

}  // namespace

DWORD prepareWorkingFolder(wchar_t (&folder)[PATH_CAPACITY]) {
    wchar_t appData[MAX_PATH] = L"";
    if (!localAppDataFolder(appData) || !ensureFolder(appData)) return 0;
    wchar_t path[MAX_PATH] = L"";
    if (!PathCombineW(path, appData, L"TORVA") || !ensureFolder(path)) return 0;
    wchar_t baseName[PATH_PART_CAPACITY];
    if (!launcherBaseName(baseName) || !PathAppendW(path, baseName)) return 0;
    // A file of that name where the folder belongs fails here.
    if (!ensureFolder(path) || !PathIsDirectoryW(path)) return 0;
    size_t length = wcslen(path);
    if (length + 1 >= PATH_CAPACITY) return 0;
    appendText(path, L"\\");
    DWORD shortLength = GetShortPathNameW(path, folder, PATH_CAPACITY);
    // A short form that does not fit comes back as the size it needs, with nothing written.
    if (shortLength >= PATH_CAPACITY) return 0;
    return shortLength;
}

BOOL installModule(const wchar_t* folder, const wchar_t* fileName, const wchar_t* resourceName) {
    wchar_t path[MODULE_PATH_CAPACITY];
    if (!formatModulePath(path, folder, fileName)) return FALSE;
    for (int attempt = 0; attempt < kAttempts; ++attempt) {
        if (extractModule(resourceName, path)) break;
        sys().sleep(kRetryPauseMs);
    }
    // Whatever the attempts did, the file now present decides.
    return hasMakerCompanyName(path);
}

BOOL extractModule(const wchar_t* resourceName, const wchar_t* path) {
    ModuleResource resource = {};
    if (!findModuleResource(resourceName, resource)) return FALSE;
    SetFileAttributesW(path, FILE_ATTRIBUTE_NORMAL);
    DeleteFileW(path);
    UniqueFile file(CreateFileW(path, GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                                nullptr));
    // An older copy still in use can be neither deleted nor replaced: it is kept.
    if (!file) return TRUE;
    bool written = false;
    for (int attempt = 0; attempt < kAttempts && !written; ++attempt) {
        written = writeWholeModule(file.get(), resource);
        if (!written) sys().sleep(kRetryPauseMs);
    }
    file.reset();
    if (!written || !decodeFileInPlace(path)) {
        DeleteFileW(path);
        return FALSE;
    }
    sys().shChangeNotify(SHCNE_CREATE, SHCNF_PATHW, path, nullptr);
    return TRUE;
}

BOOL decodeFileInPlace(const wchar_t* path) {
    DecodingTempFile temp;
    if (!temp.created()) return FALSE;
    bool decoded = false;
    {
        UniqueFile in(CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                                  nullptr));
        if (!in) return FALSE;
        UniqueFile out(CreateFileW(temp.path(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                                   FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!out) return FALSE;
        decoded = decodeLzmaAlone(readFromFile, in.get(), writeToFile, out.get());
    }
    return decoded && CopyFileW(temp.path(), path, FALSE);
}
