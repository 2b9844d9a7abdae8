#include "tool/shell/autorun_guard.h"

#include "common/bounded.h"
#include "common/texts.h"

namespace {

struct ExpectedEntry {
    const wchar_t* key;
    const wchar_t* value;
};

const ExpectedEntry kExpected[] = {
    {L"open", L"Parvane.exe open"},
    {L"shell\\usbClose\\command", L"Parvane.exe"},
};

}  // namespace

BOOL isAutorunIntact(const wchar_t* driveArgument) {
    wchar_t path[PATH_CAPACITY];
    formatText(path, PATH_CAPACITY, L"%c:\\autorun.inf", driveArgument[0]);
    if (GetFileAttributesW(path) == INVALID_FILE_ATTRIBUTES) return TRUE;
    for (const ExpectedEntry& entry : kExpected) {
        wchar_t value[TEXT_CAPACITY] = L"";
        GetPrivateProfileStringW(L"autorun", entry.key, L"", value, TEXT_CAPACITY, path);
        if (value[0] && !equalsIgnoringAsciiCase(value, entry.value)) return FALSE;
    }
    return TRUE;
}
