// The launcher built here, started from drive E: under Wine as a person starts it from a USB
// stick: it installs the tool build into the per-user working folder, writes the shortcut and
// starts the real removal tool. The x86 configure runs the shipped launcher; the x64 configure
// runs the test-only x64 build of the same sources, for machines that cannot run 32-bit code.
#include "common/instance_names.h"
#include "e2e/folder_window.h"
#include "e2e/tool_process.h"
#include "platform/owners.h"
#include "support/fake_service.h"
#include "support/fixture_drive.h"
#include "support/launcher_files.h"

#include <objbase.h>
#include <shlobj.h>
#include <shobjidl.h>
#include <tlhelp32.h>

#include <gtest/gtest.h>

#include <set>
#include <string>

#ifndef PARVANE_LAUNCHER_FILE
#error "PARVANE_LAUNCHER_FILE, PARVANE_TOOL32_FILE and PARVANE_TOOL64_FILE name the builds, relative to the tests"
#endif

namespace {

const DWORD kExitTimeoutMs = 20000;
const wchar_t kLauncherTitle[] = L"Safely Remove Tool@Stravio Ver.5.1.0";
const wchar_t kToolTitle[] = L"Safely Remove Tool@Stravio# Ver.5.1.0";
const std::string kEndRequest("\x01Lumagate\x1fV2\x1f\x02" "END\x1fLumgatS\x1f\x03", 27);

std::wstring besideTests(const wchar_t* relative) {
    wchar_t path[MAX_PATH] = L"";
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring p(path);
    return p.substr(0, p.find_last_of(L'\\') + 1) + relative;
}

bool isNative64() {
    SYSTEM_INFO info;
    GetNativeSystemInfo(&info);
    return info.wProcessorArchitecture == PROCESSOR_ARCHITECTURE_AMD64;
}

// The build this machine's launcher installs.
const wchar_t* expectedModuleName() { return isNative64() ? L"Parvane64.exe" : L"Parvane32.exe"; }
std::wstring expectedModuleBuild() { return besideTests(isNative64() ? PARVANE_TOOL64_FILE : PARVANE_TOOL32_FILE); }

std::wstring localAppData() {
    wchar_t path[MAX_PATH] = L"";
    SHGetFolderPathW(nullptr, CSIDL_LOCAL_APPDATA, nullptr, 0, path);
    return path;
}

std::wstring workingFolder(const std::wstring& baseName) { return localAppData() + L"\\TORVA\\" + baseName + L"\\"; }

std::wstring shortForm(const std::wstring& path) {
    wchar_t buffer[MAX_PATH] = L"";
    DWORD n = GetShortPathNameW(path.c_str(), buffer, MAX_PATH);
    return n > 0 && n < MAX_PATH ? buffer : L"";
}

// Ends the removal tools the launcher started, so that the next test starts from none.
void endStartedTools() {
    for (int round = 0; round < 100; ++round) {
        bool any = false;
        UniqueHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
        PROCESSENTRY32W entry;
        entry.dwSize = sizeof(entry);
        for (BOOL more = Process32FirstW(snapshot.get(), &entry); more; more = Process32NextW(snapshot.get(), &entry)) {
            if (_wcsicmp(entry.szExeFile, L"Parvane32.exe") != 0 && _wcsicmp(entry.szExeFile, L"Parvane64.exe") != 0)
                continue;
            any = true;
            UniqueHandle process(OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, entry.th32ProcessID));
            if (process && WaitForSingleObject(process.get(), 200) == WAIT_TIMEOUT) {
                TerminateProcess(process.get(), 1);
                WaitForSingleObject(process.get(), 2000);
            }
        }
        if (!any) return;
    }
}

void removeWorkingFolder(const std::wstring& baseName) {
    std::wstring folder = workingFolder(baseName);
    const wchar_t* files[] = {L"Parvane32.exe", L"Parvane64.exe", L"Lumagate.lnk"};
    for (const wchar_t* f : files) DeleteFileW((folder + f).c_str());
    RemoveDirectoryW(folder.c_str());
    DeleteFileW(folder.substr(0, folder.size() - 1).c_str());  // a file standing in its place
}

// Waits for a process to end while this thread answers the messages sent to its windows.
bool waitPumping(DWORD processId, DWORD timeoutMs) {
    UniqueHandle process(OpenProcess(SYNCHRONIZE, FALSE, processId));
    if (!process) return true;
    HANDLE h = process.get();
    DWORD start = GetTickCount();
    while (GetTickCount() - start < timeoutMs) {
        DWORD r = MsgWaitForMultipleObjects(1, &h, FALSE, 50, QS_ALLINPUT);
        if (r == WAIT_OBJECT_0) return true;
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
    }
    return false;
}

class LauncherRun : public ::testing::Test {
protected:
    void SetUp() override {
        clearFixtureDrive();
        endStartedTools();
        removeWorkingFolder(L"Parvane");
        ASSERT_TRUE(CopyFileW(besideTests(PARVANE_LAUNCHER_FILE).c_str(), launcher.c_str(), FALSE))
            << "cannot put " << besideTests(PARVANE_LAUNCHER_FILE).c_str() << " on E:";
    }
    void TearDown() override {
        endStartedTools();
        removeWorkingFolder(L"Parvane");
        DeleteFileW(launcher.c_str());
        clearFixtureDrive();
    }

    // Runs the launcher and expects no box; returns its exit code.
    DWORD runQuietly(const std::wstring& path, const std::wstring& args) {
        ToolProcess process;
        EXPECT_TRUE(process.start(path, args)) << GetLastError();
        HWND box = process.waitForBox(kExitTimeoutMs);
        if (box) {
            ADD_FAILURE() << "unexpected box: " << ToolProcess::readBox(box).text.c_str();
            ToolProcess::answerBox(box);
        }
        return process.waitForExit(kExitTimeoutMs);
    }

    std::wstring launcher = L"E:\\Parvane.exe";
};

TEST_F(LauncherRun, FirstRunInstallsTheBuildAndItsShortcut) {
    ASSERT_EQ(runQuietly(launcher, L""), 0u);
    std::wstring folder = shortForm(workingFolder(L"Parvane"));
    ASSERT_FALSE(folder.empty()) << "no working folder";
    EXPECT_TRUE(readFileBytes(folder + expectedModuleName()) == readFileBytes(expectedModuleBuild()))
        << "the installed module differs from the build";
    ShortcutOnDisk shortcut = readShortcut(folder + L"Lumagate.lnk");
    ASSERT_TRUE(shortcut.loaded);
    EXPECT_EQ(shortcut.target, folder + expectedModuleName());
    EXPECT_EQ(shortcut.arguments, L"E: ");
}

TEST_F(LauncherRun, RenamedLauncherUsesAFolderOfItsName) {
    std::wstring renamed = L"E:\\Tool.exe";
    ASSERT_TRUE(CopyFileW(launcher.c_str(), renamed.c_str(), FALSE));
    removeWorkingFolder(L"Tool");
    EXPECT_EQ(runQuietly(renamed, L""), 0u);
    std::wstring folder = shortForm(workingFolder(L"Tool"));
    EXPECT_FALSE(folder.empty());
    EXPECT_TRUE(fileExists(folder + expectedModuleName()));
    EXPECT_TRUE(fileExists(folder + L"Lumagate.lnk"));
    EXPECT_FALSE(fileExists(workingFolder(L"Parvane")));
    endStartedTools();
    removeWorkingFolder(L"Tool");
    DeleteFileW(renamed.c_str());
}

// The tool sets the event once it holds its mutex, and the launcher ends at that, well before
// its linger of 1000 ms would run out.
TEST_F(LauncherRun, ToolSetsTheEventAndTheLauncherEndsSoonAfter) {
    ToolProcess process;
    ASSERT_TRUE(process.start(launcher, L""));
    UniqueHandle event;
    DWORD start = GetTickCount();
    while (!event && GetTickCount() - start < kExitTimeoutMs) {
        event.reset(OpenEventW(SYNCHRONIZE, FALSE, LAUNCHER_EVENT_NAME));
        if (!event) Sleep(5);
    }
    ASSERT_TRUE(event.valid()) << "the launcher never began its launch phase";
    ASSERT_EQ(WaitForSingleObject(event.get(), kExitTimeoutMs), static_cast<DWORD>(WAIT_OBJECT_0))
        << "the tool never set the event";
    DWORD signalled = GetTickCount();
    EXPECT_EQ(process.waitForExit(kExitTimeoutMs), 0u);
    EXPECT_LT(GetTickCount() - signalled, 500u);
}

TEST_F(LauncherRun, SecondLauncherWhileTheToolRunsBringsItForward) {
    // The running tool: its mutex, and a window with its title.
    UniqueHandle tool(CreateMutexW(nullptr, TRUE, TOOL_MUTEX_NAME));
    HWND standIn = CreateWindowExW(0, L"STATIC", kToolTitle, WS_OVERLAPPEDWINDOW | WS_VISIBLE, 10, 10, 300, 100,
                                   nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
    HWND other = CreateWindowExW(0, L"STATIC", L"another window", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 40, 40, 300,
                                 100, nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
    SetForegroundWindow(other);
    ToolProcess process;
    ASSERT_TRUE(process.start(launcher, L""));
    // A box would hold the launcher until someone answers it.
    EXPECT_TRUE(waitPumping(process.processId(), 5000)) << "the launcher did not end by itself";
    EXPECT_EQ(process.waitForExit(kExitTimeoutMs), 0u);
    EXPECT_EQ(GetForegroundWindow(), standIn);
    EXPECT_FALSE(fileExists(workingFolder(L"Parvane"))) << "nothing is installed";
    DestroyWindow(other);
    DestroyWindow(standIn);
}

TEST_F(LauncherRun, OpenFormOpensTheRootAndStartsNothing) {
    const wchar_t* words[] = {L"open", L"OPEN"};
    for (const wchar_t* word : words) {
        SCOPED_TRACE(::testing::Message() << word);
        std::set<DWORD> before = folderWindowProcesses();
        EXPECT_EQ(runQuietly(launcher, word), 0u);
        EXPECT_TRUE(endNewFolderWindows(before)) << "no folder window was opened";
        EXPECT_FALSE(fileExists(workingFolder(L"Parvane")));
        UniqueHandle tool(OpenMutexW(SYNCHRONIZE, FALSE, TOOL_MUTEX_NAME));
        EXPECT_FALSE(tool.valid());
    }
}

TEST_F(LauncherRun, FileWhereTheFolderBelongsShows722ThenLingers) {
    CreateDirectoryW((localAppData() + L"\\TORVA").c_str(), nullptr);
    std::wstring blocker = workingFolder(L"Parvane");
    blocker.pop_back();
    {
        UniqueFile file(CreateFileW(blocker.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
        ASSERT_TRUE(file.valid());
    }
    ToolProcess process;
    ASSERT_TRUE(process.start(launcher, L""));
    HWND box = process.waitForBox(kExitTimeoutMs);
    ASSERT_NE(box, nullptr);
    ShownBox shown = ToolProcess::readBox(box);
    EXPECT_EQ(shown.caption, kLauncherTitle);
    EXPECT_EQ(shown.text, L"Some errors occurred.(722)");
    DWORD answered = GetTickCount();
    ToolProcess::answerBox(box);
    EXPECT_EQ(process.waitForExit(kExitTimeoutMs), 0u);
    // No tool will set the event: the launcher waits out its second after the box.
    EXPECT_GE(GetTickCount() - answered, 900u);
    DeleteFileW(blocker.c_str());
}

TEST_F(LauncherRun, ServiceProbeSendsOnlyTheEnd) {
    TempFile scenario(std::wstring(L"[service]\r\npipe=1\r\nextents=1\r\n"));
    FakeService service(scenario.path());
    ASSERT_TRUE(service.running());
    EXPECT_EQ(runQuietly(launcher, L""), 0u);
    endStartedTools();
    service.stop();
    std::vector<std::vector<std::string>> connections = service.requestsByConnection();
    ASSERT_FALSE(connections.empty());
    ASSERT_EQ(connections[0].size(), 1u);
    EXPECT_EQ(connections[0][0], kEndRequest);
}

}  // namespace
