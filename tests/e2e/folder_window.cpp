#include "e2e/folder_window.h"

#include "platform/owners.h"

#include <tlhelp32.h>

namespace {

bool isFolderWindowProcess(const wchar_t* exe) {
    return _wcsicmp(exe, L"explorer.exe") == 0 || _wcsicmp(exe, L"winefile.exe") == 0;
}

}  // namespace

std::set<DWORD> folderWindowProcesses() {
    std::set<DWORD> ids;
    UniqueHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    PROCESSENTRY32W entry;
    entry.dwSize = sizeof(entry);
    for (BOOL more = Process32FirstW(snapshot.get(), &entry); more; more = Process32NextW(snapshot.get(), &entry))
        if (isFolderWindowProcess(entry.szExeFile)) ids.insert(entry.th32ProcessID);
    return ids;
}

bool endNewFolderWindows(const std::set<DWORD>& before) {
    bool opened = false;
    for (int wait = 0; wait < 100 && !opened; ++wait) {
        for (DWORD id : folderWindowProcesses()) {
            if (before.count(id)) continue;
            opened = true;
            UniqueHandle process(OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, id));
            if (process) {
                TerminateProcess(process.get(), 0);
                WaitForSingleObject(process.get(), 2000);
            }
        }
        if (!opened) Sleep(50);
    }
    return opened;
}
