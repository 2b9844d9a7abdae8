// main() for test programs that must run from the fixture drive E:, because what they test
// takes its drive from the program's own path. Started elsewhere, the program copies itself
// to E:\ and runs that copy with the same arguments, passing on its output and exit code.
#include "platform/win.h"

#include <shlwapi.h>

#include <gtest/gtest.h>

#include <string>

namespace {

int runCopyOnDrive(const wchar_t* modulePath) {
    std::wstring name(modulePath);
    name = name.substr(name.find_last_of(L"\\/") + 1);
    std::wstring copy = L"E:\\" + name;
    if (!CopyFileW(modulePath, copy.c_str(), FALSE)) {
        fwprintf(stderr, L"cannot copy the test program to %ls: %lu\n", copy.c_str(), GetLastError());
        return 1;
    }
    // The same command line, with the program's path swapped for the copy's.
    const wchar_t* rest = PathGetArgsW(GetCommandLineW());
    std::wstring commandLine = L"\"" + copy + L"\" " + rest;
    STARTUPINFOW si;
    ZeroMemory(&si, sizeof(si));
    si.cb = sizeof(si);
    PROCESS_INFORMATION pi;
    BOOL started = FALSE;
    for (int attempt = 0; attempt < 2 && !started; ++attempt)  // Wine now and then fails with 1359
        started = CreateProcessW(copy.c_str(), &commandLine[0], nullptr, nullptr, TRUE, 0, nullptr, L"E:\\", &si, &pi);
    if (!started) {
        fwprintf(stderr, L"cannot start %ls: %lu\n", copy.c_str(), GetLastError());
        return 1;
    }
    WaitForSingleObject(pi.hProcess, INFINITE);
    DWORD code = 1;
    GetExitCodeProcess(pi.hProcess, &code);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    DeleteFileW(copy.c_str());
    return static_cast<int>(code);
}

}  // namespace

int main(int argc, char** argv) {
    wchar_t modulePath[MAX_PATH] = L"";
    GetModuleFileNameW(nullptr, modulePath, MAX_PATH);
    if (towupper(modulePath[0]) != L'E') return runCopyOnDrive(modulePath);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
