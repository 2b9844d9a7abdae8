#include "tool/shell/autorun_guard.h"

#include "common/bounded.h"
#include "common/texts.h"
#include "tool/shell/autorun_entries.h"

BOOL isAutorunIntact(const wchar_t* driveArgument) {
    wchar_t path[PATH_CAPACITY];
    formatText(path, PATH_CAPACITY, L"%c:\\autorun.inf", driveArgument[0]);
    if (GetFileAttributesW(path) == INVALID_FILE_ATTRIBUTES) return TRUE;
    for (const AutorunEntry& entry : autorunEntries) {
        wchar_t value[TEXT_CAPACITY] = L"";
        GetPrivateProfileStringW(L"autorun", entry.key, L"", value, TEXT_CAPACITY, path);
        if (!isAutorunValueIntact(value, entry.value)) return FALSE;
    }
    return TRUE;
}
