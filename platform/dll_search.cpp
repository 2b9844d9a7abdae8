#include "platform/dll_search.h"

#include "platform/win.h"

void restrictDllSearch() {
    typedef BOOL(WINAPI * SetDefaultDllDirectoriesFn)(DWORD);
    HMODULE kernel = GetModuleHandleW(L"kernel32");
    FARPROC entry = kernel ? GetProcAddress(kernel, "SetDefaultDllDirectories") : nullptr;
    if (entry &&
        reinterpret_cast<SetDefaultDllDirectoriesFn>(reinterpret_cast<void*>(entry))(LOAD_LIBRARY_SEARCH_SYSTEM32))
        return;
    // Without the update that brings SetDefaultDllDirectories, at least take the current
    // folder out of the search.
    SetDllDirectoryW(L"");
}
