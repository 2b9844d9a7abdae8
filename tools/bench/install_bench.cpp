// Times the launcher's module install as it runs on the user's machine: the packed stream
// decoded in place through the temporary file, and the maker check of the result.
//
// usage: install_bench <packed stream> <runs>
// Prints one line per run, "install_ms <milliseconds>", and the installed size.
#include "launcher/module_install.h"

#include <stdio.h>
#include <stdlib.h>
#include <wchar.h>

int wmain(int argc, wchar_t** argv) {
    if (argc != 3) {
        fwprintf(stderr, L"usage: install_bench <packed stream> <runs>\n");
        return 2;
    }
    int runs = _wtoi(argv[2]);
    wchar_t folder[MAX_PATH] = L"";
    GetTempPathW(MAX_PATH, folder);
    wchar_t module[MAX_PATH];
    swprintf(module, MAX_PATH, L"%lsinstall_bench.exe", folder);
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    for (int run = 0; run < runs; ++run) {
        if (!CopyFileW(argv[1], module, FALSE)) {
            fwprintf(stderr, L"cannot copy %ls: %lu\n", argv[1], GetLastError());
            return 1;
        }
        LARGE_INTEGER start, end;
        QueryPerformanceCounter(&start);
        BOOL installed = decodeFileInPlace(module) && hasMakerCompanyName(module);
        QueryPerformanceCounter(&end);
        if (!installed) {
            fwprintf(stderr, L"the install failed\n");
            return 1;
        }
        printf("install_ms %.3f\n", 1000.0 * static_cast<double>(end.QuadPart - start.QuadPart) /
                                        static_cast<double>(frequency.QuadPart));
    }
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (GetFileAttributesExW(module, GetFileExInfoStandard, &data)) printf("installed_bytes %lu\n", data.nFileSizeLow);
    DeleteFileW(module);
    return 0;
}
