// Files as the launcher's tests look at them: whole contents, the fixture programs the test
// program carries, and shortcuts read back as the shell reads them.
#pragma once
#include <string>

std::string readFileBytes(const std::wstring& path);
bool writeFileBytes(const std::wstring& path, const std::string& bytes);
bool fileExists(const std::wstring& path);
// An RCDATA resource of this test program (the fixture programs).
std::string fixtureBytes(const wchar_t* name);
// GetTempPathW, with its trailing backslash.
std::wstring tempFolder();

struct ShortcutOnDisk {
    bool loaded = false;
    std::wstring target;
    std::wstring arguments;
};
ShortcutOnDisk readShortcut(const std::wstring& path);
