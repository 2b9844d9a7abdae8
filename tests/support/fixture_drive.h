// The drive E: that the test runner maps to a fixture folder, and the files tests put there.
#pragma once
#include <string>

// Removes E:\extra and its files, so that a test starts from a drive without overrides.
void clearFixtureDrive();
// Writes E:\extra\<fileName> as UTF-16 with a byte-order mark, the form the profile reader
// takes for texts in any language.
void writeOverrideFile(const std::wstring& fileName, const std::wstring& content);
void removeOverrideFile(const std::wstring& fileName);

// Writes or removes the INI file beside this test executable (its name with ".ini").
void writeProgramIni(const std::wstring& content);
void removeProgramIni();

// Writes a file of UTF-16 text with a byte-order mark.
bool writeUnicodeFile(const std::wstring& path, const std::wstring& content);
