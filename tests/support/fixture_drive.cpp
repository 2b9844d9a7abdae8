#include "support/fixture_drive.h"

#include "platform/win.h"

#include <gtest/gtest.h>

namespace {

const wchar_t kExtraFolder[] = L"E:\\extra";

std::wstring programIniPath() {
    wchar_t path[MAX_PATH] = L"";
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring p(path);
    return p.substr(0, p.rfind(L'.')) + L".ini";
}

}  // namespace

bool writeUnicodeFile(const std::wstring& path, const std::wstring& content) {
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    std::wstring bytes = L"\xFEFF" + content;
    DWORD written = 0;
    BOOL ok = WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size() * sizeof(wchar_t)), &written, nullptr);
    CloseHandle(file);
    return ok && written == bytes.size() * sizeof(wchar_t);
}

void clearFixtureDrive() {
    ASSERT_NE(GetFileAttributesW(L"E:\\"), INVALID_FILE_ATTRIBUTES)
        << "drive E: is not mapped; run the tests through scripts/wine-run";
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW(L"E:\\extra\\*", &found);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
                DeleteFileW((std::wstring(kExtraFolder) + L"\\" + found.cFileName).c_str());
        } while (FindNextFileW(search, &found));
        FindClose(search);
    }
    RemoveDirectoryW(kExtraFolder);
}

void writeOverrideFile(const std::wstring& fileName, const std::wstring& content) {
    CreateDirectoryW(kExtraFolder, nullptr);
    ASSERT_TRUE(writeUnicodeFile(std::wstring(kExtraFolder) + L"\\" + fileName, content)) << GetLastError();
}

void removeOverrideFile(const std::wstring& fileName) {
    DeleteFileW((std::wstring(kExtraFolder) + L"\\" + fileName).c_str());
}

void writeProgramIni(const std::wstring& content) {
    ASSERT_TRUE(writeUnicodeFile(programIniPath(), content)) << GetLastError();
}

void removeProgramIni() { DeleteFileW(programIniPath().c_str()); }
