// The local scan for processes that use the drive, against real processes: copies of this test
// program started from the fixture drive E: or with their current directory there, read
// through their own memory. Only the process list is steered, to fix its order and length.
#include "tool/usage/process_scan.h"

#include "common/bounded.h"
#include "platform/owners.h"
#include "platform/system_calls.h"
#include "platform/win.h"

#include <gtest/gtest.h>

#include <winternl.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

namespace {

// A copy of this program started with this flag is a waiting child: see runAsWaitingChild.
const wchar_t kChildFlag[] = L"--process-scan-child";
// How long a test waits for a child to say it is ready; reaching it means the child is broken.
const DWORD kChildStartLimitMilliseconds = 30000;
const DWORD kChildEndLimitMilliseconds = 10000;
const int kRemoveAttempts = 50;
const DWORD kRemovePauseMilliseconds = 100;

// Child side: tells the parent it is ready (its process parameters are in place by now), then
// waits until the parent ends, so that no child outlives a test that crashed.
void waitAsChild(const wchar_t* parentId, const wchar_t* readyEventName) {
    UniqueHandle parent(OpenProcess(SYNCHRONIZE, FALSE, wcstoul(parentId, nullptr, 10)));
    UniqueHandle ready(OpenEventW(EVENT_MODIFY_STATE, FALSE, readyEventName));
    if (!parent || !ready) return;
    SetEvent(ready.get());
    WaitForSingleObject(parent.get(), INFINITE);
}

// Runs before GoogleTest: a child never reaches main.
int runAsWaitingChild() {
    int argc = 0;
    UniqueLocal arguments(reinterpret_cast<HLOCAL>(CommandLineToArgvW(GetCommandLineW(), &argc)));
    wchar_t** argv = reinterpret_cast<wchar_t**>(arguments.get());
    if (!argv || argc < 4 || wcscmp(argv[1], kChildFlag) != 0) return 0;
    waitAsChild(argv[2], argv[3]);
    arguments.reset();
    ExitProcess(0);
}
[[maybe_unused]] const int g_childRole = runAsWaitingChild();

// Search handles close with FindClose.
struct FindHandleTraits {
    typedef HANDLE Type;
    static Type invalid() { return INVALID_HANDLE_VALUE; }
    static bool isValid(Type h) { return h != INVALID_HANDLE_VALUE && h != nullptr; }
    static void close(Type h) { FindClose(h); }
};
typedef UniqueOwner<FindHandleTraits> UniqueFind;

std::wstring thisProgram() {
    std::vector<wchar_t> path(32768);
    DWORD n = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
    return std::wstring(path.data(), n);
}

std::wstring fileNameOf(const std::wstring& path) { return path.substr(path.find_last_of(L"\\/") + 1); }

std::wstring folderOf(const std::wstring& path) { return path.substr(0, path.find_last_of(L"\\/")); }

std::wstring windowsFolder() {
    wchar_t path[MAX_PATH] = L"";
    GetSystemWindowsDirectoryW(path, MAX_PATH);
    return path;
}

// Paths beyond MAX_PATH need the "\\?\" form for the file functions.
std::wstring longForm(const std::wstring& path) { return L"\\\\?\\" + path; }

void removeTree(const std::wstring& folder) {
    WIN32_FIND_DATAW entry;
    UniqueFind search(FindFirstFileW(longForm(folder + L"\\*").c_str(), &entry));
    while (search.valid()) {
        const std::wstring name = entry.cFileName;
        const std::wstring path = folder + L"\\" + name;
        if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            if (name != L"." && name != L"..") removeTree(path);
        } else {
            DeleteFileW(longForm(path).c_str());
        }
        if (!FindNextFileW(search.get(), &entry)) break;
    }
    search.reset();
    RemoveDirectoryW(longForm(folder).c_str());
}

// This test process's own folder on the fixture drive, E:\scan-test\<process ID>, removed
// with everything in it at the end. Tests of other executables use other parts of E:.
class ScanFolder {
public:
    ScanFolder() : path_(L"E:\\scan-test\\" + std::to_wstring(GetCurrentProcessId())) {
        CreateDirectoryW(L"E:\\scan-test", nullptr);
        removeTree(path_);
        created_ = CreateDirectoryW(path_.c_str(), nullptr) != FALSE;
    }
    ~ScanFolder() {
        // A child that was just ended can hold its current directory here a moment longer.
        for (int attempt = 0; attempt < kRemoveAttempts; ++attempt) {
            if (attempt > 0) Sleep(kRemovePauseMilliseconds);
            removeTree(path_);
            if (GetFileAttributesW(path_.c_str()) == INVALID_FILE_ATTRIBUTES) break;
        }
        RemoveDirectoryW(L"E:\\scan-test");  // only when no other run still uses it
    }
    ScanFolder(const ScanFolder&) = delete;
    ScanFolder& operator=(const ScanFolder&) = delete;

    bool created() const { return created_; }
    const std::wstring& path() const { return path_; }
    // A copy of this program at <folder>\<relativePath>, creating one sub-folder on the way.
    std::wstring copyProgram(const std::wstring& relativePath) const {
        std::wstring copy = path_ + L"\\" + relativePath;
        CreateDirectoryW(longForm(folderOf(copy)).c_str(), nullptr);
        return CopyFileW(thisProgram().c_str(), longForm(copy).c_str(), FALSE) ? copy : std::wstring();
    }

private:
    std::wstring path_;
    bool created_ = false;
};

// A waiting child process: ended, and its handles closed, when the object goes.
class WaitingChild {
public:
    WaitingChild() = default;
    ~WaitingChild() {
        if (!process_) return;
        TerminateProcess(process_.get(), 0);
        // Its file can be removed only once it is gone.
        WaitForSingleObject(process_.get(), kChildEndLimitMilliseconds);
    }
    WaitingChild(const WaitingChild&) = delete;
    WaitingChild& operator=(const WaitingChild&) = delete;

    // True once the child runs and has said it is ready.
    bool start(const std::wstring& program, const std::wstring& currentDirectory, const std::wstring& extra = L"") {
        static unsigned sequence = 0;
        std::wstring eventName = L"Local\\ProcessScanReady-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
                                 std::to_wstring(++sequence);
        UniqueHandle ready(CreateEventW(nullptr, TRUE, FALSE, eventName.c_str()));
        std::wstring commandLine = L"\"" + program + L"\" " + kChildFlag + L" " +
                                   std::to_wstring(GetCurrentProcessId()) + L" " + eventName;
        if (!extra.empty()) commandLine += L" " + extra;
        if (!ready || !create(program, commandLine, currentDirectory)) return false;
        HANDLE waits[] = {ready.get(), process_.get()};
        return WaitForMultipleObjects(2, waits, FALSE, kChildStartLimitMilliseconds) == WAIT_OBJECT_0;
    }
    DWORD id() const { return id_; }

private:
    bool create(const std::wstring& program, std::wstring commandLine, const std::wstring& currentDirectory) {
        STARTUPINFOW startup = {};
        startup.cb = sizeof(startup);
        PROCESS_INFORMATION info = {};
        for (int attempt = 0; attempt < 2; ++attempt) {  // Wine now and then fails once with 1359
            if (CreateProcessW(program.c_str(), &commandLine[0], nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr,
                               currentDirectory.c_str(), &startup, &info)) {
                process_.reset(info.hProcess);
                thread_.reset(info.hThread);
                id_ = info.dwProcessId;
                return true;
            }
        }
        return false;
    }

    UniqueHandle process_;
    UniqueHandle thread_;
    DWORD id_ = 0;
};

// The process list the scan sees, for one test's scope. Like the system, the steered list
// gives no more IDs than the caller's buffer holds.
std::vector<DWORD> g_steeredIds;
std::vector<DWORD> g_listedIds;

BOOL WINAPI steeredEnumProcesses(DWORD* ids, DWORD size, DWORD* returned) {
    size_t count = std::min<size_t>(g_steeredIds.size(), size / sizeof(DWORD));
    std::copy(g_steeredIds.begin(), g_steeredIds.begin() + count, ids);
    *returned = static_cast<DWORD>(count * sizeof(DWORD));
    return TRUE;
}

// The system's own list, passed on unchanged and noted.
BOOL WINAPI notedRealEnumProcesses(DWORD* ids, DWORD size, DWORD* returned) {
    BOOL listed = realSystemCalls().enumProcesses(ids, size, returned);
    g_listedIds.assign(ids, ids + (listed ? *returned / sizeof(DWORD) : 0));
    return listed;
}

BOOL WINAPI failingEnumProcesses(DWORD*, DWORD, DWORD*) {
    SetLastError(ERROR_ACCESS_DENIED);
    return FALSE;
}

class ProcessListOverride {
public:
    explicit ProcessListOverride(BOOL(WINAPI* list)(DWORD*, DWORD, DWORD*), std::vector<DWORD> ids = {})
        : saved_(g_systemCalls.enumProcesses) {
        g_steeredIds = std::move(ids);
        g_listedIds.clear();
        g_systemCalls.enumProcesses = list;
    }
    ~ProcessListOverride() {
        g_systemCalls.enumProcesses = saved_;
        g_steeredIds.clear();
    }
    ProcessListOverride(const ProcessListOverride&) = delete;
    ProcessListOverride& operator=(const ProcessListOverride&) = delete;

private:
    BOOL(WINAPI* saved_)(DWORD*, DWORD, DWORD*);
};

struct ScanResult {
    BOOL found;
    std::wstring name;
};

// One scan, with a check that the name stays inside its 260 units.
ScanResult scan(const wchar_t* driveArgument) {
    wchar_t name[PROCESS_NAME_CAPACITY + 8];
    std::fill(std::begin(name), std::end(name), L'#');
    BOOL found = findProcessOnDriveLocal(driveArgument, name);
    for (size_t i = PROCESS_NAME_CAPACITY; i < PROCESS_NAME_CAPACITY + 8; ++i)
        EXPECT_EQ(name[i], L'#') << "wrote past the name's capacity";
    return {found, name};
}

// The process query for one test's scope.
class LoadedQuery {
public:
    LoadedQuery() : module_(loadProcessQuery()) {}
    ~LoadedQuery() { unloadProcessQuery(module_); }
    LoadedQuery(const LoadedQuery&) = delete;
    LoadedQuery& operator=(const LoadedQuery&) = delete;
    bool loaded() const { return module_ != nullptr; }

private:
    HMODULE module_;
};

// A snapshot followed by a guard, so that a string written past its field shows.
struct GuardedSnapshot {
    ProcessSnapshot snapshot;
    wchar_t guard[64];
};
const wchar_t kGuardUnit = 0xBEEF;

std::unique_ptr<GuardedSnapshot> newGuardedSnapshot() {
    std::unique_ptr<GuardedSnapshot> record(new GuardedSnapshot);
    // Left-overs that a correct read must zero.
    std::fill(std::begin(record->snapshot.imagePath), std::end(record->snapshot.imagePath), L'x');
    std::fill(std::begin(record->snapshot.currentDirectory), std::end(record->snapshot.currentDirectory), L'x');
    std::fill(std::begin(record->guard), std::end(record->guard), kGuardUnit);
    return record;
}

bool guardIntact(const GuardedSnapshot& record) {
    for (wchar_t unit : record.guard)
        if (unit != kGuardUnit) return false;
    return true;
}

bool sameText(const std::wstring& a, const std::wstring& b) { return _wcsicmp(a.c_str(), b.c_str()) == 0; }

// ---------------------------------------------------------------------------------------------

struct NameCase {
    const char* name;
    std::wstring imagePath;
    std::wstring expected;
};

TEST(ProcessScanName, LastComponentNeverOverflows) {
    const std::wstring a300(300, L'a'), b300(300, L'b');
    const NameCase cases[] = {
        {"plain", L"E:\\tools\\notepad.exe", L"notepad.exe"},
        {"forward slashes, dots before the extension", L"e:/a.b/tool.v2.exe", L"tool.v2.exe"},
        {"dot only in a folder", L"E:\\dir.d\\noext", L"noext"},
        {"drive without separator", L"E:tool.exe", L"tool.exe"},
        {"name without folder", L"tool.exe", L"tool.exe"},
        {"empty", L"", L""},
        {"folder of 300 units", L"E:\\" + a300 + L"\\x.exe", L"x.exe"},
        {"name of 250 units", L"E:\\d\\" + std::wstring(246, L'n') + L".exe", std::wstring(246, L'n') + L".exe"},
        {"name of 300 units keeps its extension", L"E:\\d\\" + a300 + L".exe", std::wstring(255, L'a') + L".exe"},
        {"extension of 300 units", L"E:\\d\\" + std::wstring(10, L'a') + L"." + b300,
         std::wstring(10, L'a') + L"." + std::wstring(248, L'b')},
        {"both parts of 300 units", L"E:\\d\\" + a300 + L"." + b300, std::wstring(255, L'a') + L".bbb"},
        {"nothing but a long extension", L"E:\\d\\." + b300, L"." + std::wstring(254, L'b')},
    };
    for (const NameCase& c : cases) {
        wchar_t name[PROCESS_NAME_CAPACITY + 8];
        std::fill(std::begin(name), std::end(name), L'#');
        processNameFromImagePath(c.imagePath.c_str(), name);
        EXPECT_EQ(std::wstring(name), c.expected) << c.name;
        EXPECT_EQ(name[PROCESS_NAME_CAPACITY], L'#') << c.name << ": wrote past the name's capacity";
    }
}

struct SystemImageCase {
    DWORD processId;
    bool completed;
};

TEST(ProcessScanSystem, OnlyProcessFourGetsTheKernelImage) {
    const std::wstring kernel = windowsFolder() + L"\\System32\\ntoskrnl.exe";
    const SystemImageCase cases[] = {{4, true}, {0, false}, {8, false}, {GetCurrentProcessId(), false}};
    for (const SystemImageCase& c : cases) {
        std::unique_ptr<GuardedSnapshot> record = newGuardedSnapshot();
        record->snapshot.processId = c.processId;
        copyText(record->snapshot.imagePath, L"kept");
        completeSystemProcessImage(record->snapshot);
        EXPECT_EQ(std::wstring(record->snapshot.imagePath), c.completed ? kernel : L"kept") << c.processId;
        EXPECT_TRUE(guardIntact(*record));
    }
}

// ---------------------------------------------------------------------------------------------

bool tokenHolds(const wchar_t* privilegeName, bool* enabled) {
    LUID wanted;
    HANDLE rawToken = nullptr;
    if (!LookupPrivilegeValueW(nullptr, privilegeName, &wanted) ||
        !OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &rawToken))
        return false;
    UniqueHandle token(rawToken);
    std::vector<BYTE> buffer(8192);
    DWORD size = 0;
    if (!GetTokenInformation(token.get(), TokenPrivileges, buffer.data(), static_cast<DWORD>(buffer.size()), &size))
        return false;
    const TOKEN_PRIVILEGES* held = reinterpret_cast<const TOKEN_PRIVILEGES*>(buffer.data());
    for (DWORD i = 0; i < held->PrivilegeCount; ++i) {
        const LUID_AND_ATTRIBUTES& entry = held->Privileges[i];
        if (entry.Luid.LowPart == wanted.LowPart && entry.Luid.HighPart == wanted.HighPart) {
            *enabled = (entry.Attributes & SE_PRIVILEGE_ENABLED) != 0;
            return true;
        }
    }
    return false;
}

TEST(ProcessScanPrivilege, GrantedExactlyWhenTheTokenHoldsIt) {
    const wchar_t* const names[] = {SE_DEBUG_NAME,        SE_BACKUP_NAME,        SE_CREATE_TOKEN_NAME,
                                    SE_LOCK_MEMORY_NAME, SE_ASSIGNPRIMARYTOKEN_NAME, L"SeNoSuchPrivilege"};
    int heldRows = 0, missingRows = 0;
    for (const wchar_t* name : names) {
        bool enabled = false;
        bool held = tokenHolds(name, &enabled);
        (held ? heldRows : missingRows)++;
        EXPECT_EQ(enablePrivilege(name), held ? TRUE : FALSE) << name;
        enabled = false;
        if (held) {
            EXPECT_TRUE(tokenHolds(name, &enabled) && enabled) << name << " is not enabled afterwards";
        }
    }
    // Both outcomes must have been seen, or the table proves nothing on this system.
    EXPECT_GT(heldRows, 0);
    EXPECT_GT(missingRows, 1);
}

// ---------------------------------------------------------------------------------------------

TEST(ProcessScanSnapshot, ReadsImagePathAndCurrentDirectoryOfChildren) {
    ScanFolder folder;
    ASSERT_TRUE(folder.created());
    const std::wstring onDrive = folder.copyProgram(L"scan-image.exe");
    ASSERT_FALSE(onDrive.empty());
    WaitingChild fromDrive, inDrive;
    ASSERT_TRUE(fromDrive.start(onDrive, windowsFolder()));
    ASSERT_TRUE(inDrive.start(thisProgram(), folder.path()));

    struct Case {
        const char* name;
        DWORD processId;
        std::wstring imagePath;
        std::wstring currentDirectory;  // the system keeps it with a closing backslash
    };
    const Case cases[] = {
        {"started from the drive", fromDrive.id(), onDrive, windowsFolder() + L"\\"},
        {"working on the drive", inDrive.id(), thisProgram(), folder.path() + L"\\"},
    };
    LoadedQuery query;
    ASSERT_TRUE(query.loaded());
    for (const Case& c : cases) {
        std::unique_ptr<GuardedSnapshot> record = newGuardedSnapshot();
        ASSERT_TRUE(readProcessSnapshot(c.processId, record->snapshot)) << c.name;
        EXPECT_EQ(record->snapshot.processId, c.processId) << c.name;
        EXPECT_PRED2(sameText, record->snapshot.imagePath, c.imagePath) << c.name;
        EXPECT_PRED2(sameText, record->snapshot.currentDirectory, c.currentDirectory) << c.name;
        EXPECT_TRUE(guardIntact(*record)) << c.name;
    }
}

TEST(ProcessScanSnapshot, ProcessesThatCannotBeOpenedGiveEmptyStrings) {
    // Under Wine no process has ID 4 (opening it fails with ERROR_INVALID_PARAMETER), so the
    // kernel-image rule for the System process is not reached; where 4 can be opened it is.
    UniqueHandle system(OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, 4));
    const std::wstring systemImage = system ? windowsFolder() + L"\\System32\\ntoskrnl.exe" : L"";
    struct Case {
        DWORD processId;
        std::wstring imagePath;
    };
    const Case cases[] = {{0, L""}, {4, systemImage}, {0x7FFFFFF0, L""}};
    LoadedQuery query;
    ASSERT_TRUE(query.loaded());
    for (const Case& c : cases) {
        std::unique_ptr<GuardedSnapshot> record = newGuardedSnapshot();
        EXPECT_TRUE(readProcessSnapshot(c.processId, record->snapshot)) << c.processId;
        EXPECT_EQ(record->snapshot.processId, c.processId);
        EXPECT_PRED2(sameText, record->snapshot.imagePath, c.imagePath) << c.processId;
        EXPECT_EQ(std::wstring(record->snapshot.currentDirectory), L"") << c.processId;
    }
}

TEST(ProcessScanSnapshot, QueryWorksOnlyWhileLoaded) {
    std::unique_ptr<GuardedSnapshot> record = newGuardedSnapshot();
    ASSERT_TRUE(readProcessSnapshot(GetCurrentProcessId(), record->snapshot));
    EXPECT_EQ(std::wstring(record->snapshot.imagePath), L"") << "read before the query was loaded";
    HMODULE module = loadProcessQuery();
    ASSERT_NE(module, nullptr);
    ASSERT_TRUE(readProcessSnapshot(GetCurrentProcessId(), record->snapshot));
    EXPECT_PRED2(sameText, record->snapshot.imagePath, thisProgram());
    unloadProcessQuery(module);
    ASSERT_TRUE(readProcessSnapshot(GetCurrentProcessId(), record->snapshot));
    EXPECT_EQ(std::wstring(record->snapshot.imagePath), L"") << "read after the query was unloaded";
}

// This process's own ImagePathName descriptor, found the documented way.
UNICODE_STRING* ownImagePathName() {
    typedef NTSTATUS(NTAPI * Query)(HANDLE, PROCESSINFOCLASS, PVOID, ULONG, PULONG);
    Query query = reinterpret_cast<Query>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtQueryInformationProcess"));
    PROCESS_BASIC_INFORMATION information = {};
    if (!query || query(GetCurrentProcess(), ProcessBasicInformation, &information, sizeof(information), nullptr) < 0)
        return nullptr;
    return &information.PebBaseAddress->ProcessParameters->ImagePathName;
}

// Rewrites this process's own ImagePathName descriptor, as another process might present it,
// and puts it back afterwards.
class ImagePathDescriptorEdit {
public:
    ImagePathDescriptorEdit(USHORT length, USHORT maximumLength) : target_(ownImagePathName()), saved_(*target_) {
        target_->Length = length;
        target_->MaximumLength = maximumLength;
    }
    ~ImagePathDescriptorEdit() { *target_ = saved_; }
    ImagePathDescriptorEdit(const ImagePathDescriptorEdit&) = delete;
    ImagePathDescriptorEdit& operator=(const ImagePathDescriptorEdit&) = delete;

private:
    UNICODE_STRING* target_;
    UNICODE_STRING saved_;
};

TEST(ProcessScanSnapshot, StringsAreCopiedByTheirCount) {
    ASSERT_NE(ownImagePathName(), nullptr);
    const UNICODE_STRING& own = *ownImagePathName();
    const std::wstring full(own.Buffer, own.Length / sizeof(wchar_t));
    const USHORT length = own.Length, maximum = own.MaximumLength;
    ASSERT_GT(full.size(), 3u);
    ASSERT_PRED2(sameText, full, thisProgram());
    struct Case {
        const char* name;
        USHORT length;
        USHORT maximumLength;
        bool exact;  // otherwise: whatever was readable, but never past the field
        std::wstring expected;
    };
    const Case cases[] = {
        {"as the system wrote it", length, maximum, true, full},
        {"count ends before the text does", 6, maximum, true, full.substr(0, 3)},
        {"odd count drops the half unit", 7, maximum, true, full.substr(0, 3)},
        {"count beyond the buffer is cut to it", length, 6, true, full.substr(0, 3)},
        {"count beyond the buffer, odd buffer", 9, 7, true, full.substr(0, 3)},
        {"no count", 0, maximum, true, L""},
        {"largest count", 0xFFFF, 0xFFFF, false, L""},
    };
    LoadedQuery query;
    ASSERT_TRUE(query.loaded());
    for (const Case& c : cases) {
        std::unique_ptr<GuardedSnapshot> record = newGuardedSnapshot();
        {
            ImagePathDescriptorEdit edit(c.length, c.maximumLength);
            ASSERT_TRUE(readProcessSnapshot(GetCurrentProcessId(), record->snapshot)) << c.name;
        }
        const std::wstring read = record->snapshot.imagePath;
        if (c.exact) {
            EXPECT_EQ(read, c.expected) << c.name;
        } else if (read.size() >= full.size()) {
            EXPECT_EQ(read.substr(0, full.size()), full) << c.name;
        }
        EXPECT_LE(read.size(), PROCESS_STRING_CAPACITY - 1) << c.name;
        EXPECT_TRUE(guardIntact(*record)) << c.name;
        EXPECT_NE(std::wstring(record->snapshot.currentDirectory), L"") << c.name << ": the other string suffered";
    }
}

// ---------------------------------------------------------------------------------------------

// Children: one started from the drive (once more with the letter in lower case), one working
// in a folder of the drive, and one that only names a file of the drive on its command line.
class ProcessScanFind : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(folder_.created());
        imageOnDrive_ = folder_.copyProgram(L"scan-image.exe");
        ASSERT_FALSE(imageOnDrive_.empty());
        const std::wstring namedFile = folder_.path() + L"\\notes.txt";
        UniqueFile file(CreateFileW(namedFile.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
        ASSERT_TRUE(file.valid());
        ASSERT_TRUE(fromDrive_.start(imageOnDrive_, windowsFolder()));
        ASSERT_TRUE(inDrive_.start(thisProgram(), folder_.path()));
        ASSERT_TRUE(namingDrive_.start(thisProgram(), folderOf(thisProgram()), L"\"" + namedFile + L"\""));
        // The system keeps the letter as the program was started with it.
        ASSERT_TRUE(lowerCaseDrive_.start(L"e" + imageOnDrive_.substr(1), windowsFolder()));
    }

    ScanFolder folder_;  // before the children: it is removed after they are gone
    std::wstring imageOnDrive_;
    WaitingChild fromDrive_, inDrive_, namingDrive_, lowerCaseDrive_;
};

TEST_F(ProcessScanFind, ByImagePathOrCurrentDirectoryNeverByCommandLine) {
    ASSERT_NE(towupper(thisProgram()[0]), L'E') << "the test program itself must not lie on E:";
    const std::wstring self = fileNameOf(thisProgram());
    struct Case {
        const char* name;
        DWORD processId;
        const wchar_t* driveArgument;
        BOOL found;
        std::wstring processName;
    };
    const Case cases[] = {
        {"image on the drive", fromDrive_.id(), L"E:", TRUE, L"scan-image.exe"},
        {"lower-case drive argument", fromDrive_.id(), L"e:", TRUE, L"scan-image.exe"},
        {"the tool's own argument form", fromDrive_.id(), L"E: ", TRUE, L"scan-image.exe"},
        {"its current directory's drive", fromDrive_.id(), L"C:", TRUE, L"scan-image.exe"},
        {"another drive", fromDrive_.id(), L"D:", FALSE, L""},
        {"image path with a lower-case letter", lowerCaseDrive_.id(), L"E:", TRUE, L"scan-image.exe"},
        {"both in lower case", lowerCaseDrive_.id(), L"e:", TRUE, L"scan-image.exe"},
        {"current directory on the drive", inDrive_.id(), L"E:", TRUE, self},
        {"current directory, lower case", inDrive_.id(), L"e:", TRUE, self},
        {"command line names a file on the drive", namingDrive_.id(), L"E:", FALSE, L""},
        {"command line, lower case", namingDrive_.id(), L"e:", FALSE, L""},
    };
    for (const Case& c : cases) {
        ProcessListOverride list(steeredEnumProcesses, {c.processId});
        ScanResult result = scan(c.driveArgument);
        EXPECT_EQ(result.found, c.found) << c.name;
        EXPECT_EQ(result.name, c.processName) << c.name;
    }
}

TEST_F(ProcessScanFind, EarlierProcessInTheListWins) {
    const std::wstring self = fileNameOf(thisProgram());
    const DWORD absent = 0x7FFFFFF0;
    struct Case {
        const char* name;
        std::vector<DWORD> ids;
        std::wstring processName;
    };
    const Case cases[] = {
        {"image first", {fromDrive_.id(), inDrive_.id()}, L"scan-image.exe"},
        {"directory first", {inDrive_.id(), fromDrive_.id()}, self},
        {"after processes that do not match",
         {0, absent, namingDrive_.id(), GetCurrentProcessId(), inDrive_.id(), fromDrive_.id()}, self},
    };
    for (const Case& c : cases) {
        ProcessListOverride list(steeredEnumProcesses, c.ids);
        ScanResult result = scan(L"E: ");
        EXPECT_TRUE(result.found) << c.name;
        EXPECT_EQ(result.name, c.processName) << c.name;
    }
}

TEST_F(ProcessScanFind, AtMostTheFirstThousandIdsAreScanned) {
    struct Case {
        size_t position;  // counted from 1
        BOOL found;
    };
    const Case cases[] = {{1, TRUE}, {1000, TRUE}, {1001, FALSE}, {1200, FALSE}};
    for (const Case& c : cases) {
        // Every other entry is this test process: real, readable, and not on the drive.
        std::vector<DWORD> ids(1200, GetCurrentProcessId());
        ids[c.position - 1] = fromDrive_.id();
        ProcessListOverride list(steeredEnumProcesses, ids);
        ScanResult result = scan(L"E:");
        EXPECT_EQ(result.found, c.found) << "at position " << c.position;
        EXPECT_EQ(result.name, c.found ? L"scan-image.exe" : L"") << "at position " << c.position;
    }
}

TEST_F(ProcessScanFind, SystemsOwnListHoldsTheChildren) {
    // Other test programs may run from E: at the same time, so with the real list something
    // on E: is found, but not necessarily one of these children.
    ProcessListOverride list(notedRealEnumProcesses);
    ScanResult onDrive = scan(L"E:");
    EXPECT_TRUE(onDrive.found);
    EXPECT_NE(onDrive.name, L"");
    const std::vector<DWORD> listed = g_listedIds;
    for (DWORD id : {fromDrive_.id(), inDrive_.id(), namingDrive_.id(), GetCurrentProcessId()})
        EXPECT_NE(std::find(listed.begin(), listed.end(), id), listed.end()) << id << " not in the list";
    ScanResult elsewhere = scan(L"Q:");
    EXPECT_FALSE(elsewhere.found) << "no process uses Q:, yet " << std::string(elsewhere.name.begin(), elsewhere.name.end());
}

TEST(ProcessScanFindFailure, NoProcessListMeansNoProcess) {
    ProcessListOverride list(failingEnumProcesses);
    ScanResult result = scan(L"E:");
    EXPECT_FALSE(result.found);
    EXPECT_EQ(result.name, L"");
}

TEST(ProcessScanFindSystem, ProcessFourOnTheSystemDrive) {
    // Under Wine process 4 cannot be opened, so it is passed over like any process that cannot
    // be opened, and the System rule is never reached; where it can be opened it is the kernel.
    UniqueHandle system(OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, 4));
    const std::wstring systemDrive = windowsFolder().substr(0, 2);
    ProcessListOverride list(steeredEnumProcesses, {4});
    ScanResult result = scan(systemDrive.c_str());
    EXPECT_EQ(result.found, system ? TRUE : FALSE);
    EXPECT_EQ(result.name, system ? L"ntoskrnl.exe" : L"");
}

TEST(ProcessScanFindLongPath, NamesOfProgramsWithLongPathParts) {
    // Programs start only from paths within MAX_PATH (Wine refuses longer ones with error 123,
    // as Windows does without long-path support), so the parts are as long as that allows;
    // longer parts are covered by the name table above.
    ScanFolder folder;
    ASSERT_TRUE(folder.created());
    const size_t room = MAX_PATH - 1 - (folder.path().size() + 1);
    struct Case {
        const char* name;
        std::wstring subFolder;
        std::wstring fileName;
    };
    const Case cases[] = {
        {"folder of 200 units", std::wstring(200, L'd') + L"\\", L"short.exe"},
        {"name up to MAX_PATH", L"", std::wstring(room - 4, L'n') + L".exe"},
        {"long extension", L"", L"x." + std::wstring(room - 2, L'e')},
    };
    for (const Case& c : cases) {
        const std::wstring program = folder.copyProgram(c.subFolder + c.fileName);
        ASSERT_FALSE(program.empty()) << c.name << ": cannot copy, error " << GetLastError();
        if (c.subFolder.empty()) {
            ASSERT_EQ(program.size(), MAX_PATH - 1u) << c.name;
        }
        WaitingChild child;
        ASSERT_TRUE(child.start(program, windowsFolder())) << c.name << ": error " << GetLastError();
        ProcessListOverride list(steeredEnumProcesses, {child.id()});
        ScanResult result = scan(L"E:");
        EXPECT_TRUE(result.found) << c.name;
        EXPECT_EQ(result.name, c.fileName) << c.name;
    }
}

}  // namespace
