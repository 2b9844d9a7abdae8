#include "tool/shell/autorun_entries.h"

#include "common/bounded.h"

const AutorunEntry autorunEntries[AUTORUN_ENTRY_COUNT] = {
    {L"open", L"Parvane.exe open"},
    {L"shell\\usbClose\\command", L"Parvane.exe"},
};

bool isAutorunValueIntact(const wchar_t* value, const wchar_t* expected) {
    return value[0] == 0 || equalsIgnoringAsciiCase(value, expected);
}
