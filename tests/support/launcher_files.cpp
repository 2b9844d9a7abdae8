#include "support/launcher_files.h"

#include "platform/owners.h"

#include <objbase.h>
#include <shlobj.h>
#include <shobjidl.h>

std::string readFileBytes(const std::wstring& path) {
    std::string bytes;
    UniqueFile file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                nullptr, OPEN_EXISTING, 0, nullptr));
    char buffer[65536];
    DWORD read = 0;
    while (file && ReadFile(file.get(), buffer, sizeof(buffer), &read, nullptr) && read > 0) bytes.append(buffer, read);
    return bytes;
}

bool writeFileBytes(const std::wstring& path, const std::string& bytes) {
    UniqueFile file(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    DWORD written = 0;
    return file && WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
           written == bytes.size();
}

bool fileExists(const std::wstring& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

std::string fixtureBytes(const wchar_t* name) {
    HMODULE self = GetModuleHandleW(nullptr);
    HRSRC found = FindResourceW(self, name, RT_RCDATA);
    if (!found) return std::string();
    return std::string(static_cast<const char*>(LockResource(LoadResource(self, found))), SizeofResource(self, found));
}

std::wstring tempFolder() {
    wchar_t temp[MAX_PATH] = L"";
    GetTempPathW(MAX_PATH, temp);
    return temp;
}

ShortcutOnDisk readShortcut(const std::wstring& path) {
    ShortcutOnDisk result;
    CoInitialize(nullptr);
    {
        UniqueInterface<IShellLinkW> link;
        UniqueInterface<IPersistFile> file;
        if (CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW, link.put()) == S_OK &&
            link->QueryInterface(IID_IPersistFile, file.put()) == S_OK && file->Load(path.c_str(), STGM_READ) == S_OK) {
            wchar_t text[MAX_PATH] = L"";
            link->GetPath(text, MAX_PATH, nullptr, SLGP_RAWPATH);
            result.target = text;
            text[0] = 0;
            link->GetArguments(text, MAX_PATH);
            result.arguments = text;
            result.loaded = true;
        }
    }
    CoUninitialize();
    return result;
}
