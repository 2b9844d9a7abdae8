#include "tool/usage/process_scan.h"

#include "common/bounded.h"
#include "platform/owners.h"
#include "platform/system_calls.h"
#include "platform/win.h"

#include <string.h>

namespace {

// Blocks from the process heap, always zero-filled, so that a short read leaves zeros.
struct ProcessHeapTraits {
    typedef void* Type;
    static Type invalid() { return nullptr; }
    static bool isValid(Type block) { return block != nullptr; }
    static void close(Type block) { HeapFree(GetProcessHeap(), 0, block); }
};
typedef UniqueOwner<ProcessHeapTraits> HeapBlock;

HeapBlock allocateZeroed(size_t bytes) { return HeapBlock(HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, bytes)); }

// Layouts read from other processes. Each build reads only its own word size: the launcher
// starts the build that matches Windows, so the two never meet.
#ifdef _WIN64
const ULONG kBasicInformationBytes = 48;      // PROCESS_BASIC_INFORMATION
const size_t kPebBaseAddressOffset = 8;       //   .PebBaseAddress
const size_t kPebBytes = 712;                 // PEB, as far as it is read
const size_t kProcessParametersOffset = 32;   //   .ProcessParameters
const size_t kParametersBytes = 128;          // RTL_USER_PROCESS_PARAMETERS, as far as it is read
const size_t kCurrentDirectoryOffset = 56;    //   .CurrentDirectory.DosPath
const size_t kImagePathNameOffset = 96;       //   .ImagePathName
#else
const ULONG kBasicInformationBytes = 24;
const size_t kPebBaseAddressOffset = 4;
const size_t kPebBytes = 472;
const size_t kProcessParametersOffset = 16;
const size_t kParametersBytes = 72;
const size_t kCurrentDirectoryOffset = 36;
const size_t kImagePathNameOffset = 56;
#endif

const ULONG kProcessBasicInformation = 0;
const DWORD kSystemProcessId = 4;

typedef LONG(NTAPI* ProcessQuery)(HANDLE process, ULONG informationClass, void* information, ULONG length,
                                  ULONG* returned);

// Set only between loadProcessQuery and unloadProcessQuery. Every scan runs on the main
// dialog's thread, so no two scans ever share it.
ProcessQuery g_processQuery = nullptr;

// Holds the process query for the length of one scan.
class ProcessQueryScope {
public:
    ProcessQueryScope() : module_(loadProcessQuery()) {}
    ~ProcessQueryScope() { unloadProcessQuery(module_); }
    ProcessQueryScope(const ProcessQueryScope&) = delete;
    ProcessQueryScope& operator=(const ProcessQueryScope&) = delete;
    bool loaded() const { return module_ != nullptr; }

private:
    HMODULE module_;
};

// Fields of a structure copied from another process: nothing promises they are aligned here.
template <typename T>
T fieldAt(const void* block, size_t offset) {
    T value;
    memcpy(&value, static_cast<const BYTE*>(block) + offset, sizeof(T));
    return value;
}

// Needs PROCESS_VM_READ. A partial copy counts as a failure.
bool readRemote(HANDLE process, const void* address, void* buffer, size_t bytes) {
    SIZE_T read = 0;
    return address && ReadProcessMemory(process, address, buffer, bytes, &read) && read == bytes;
}

// Needs PROCESS_QUERY_INFORMATION. A system that describes the process at more length than
// asked for is asked again with room for all of it.
bool queryBasicInformation(HANDLE process, HeapBlock& information) {
    ULONG size = kBasicInformationBytes;
    ULONG returned = 0;
    if (!g_processQuery || g_processQuery(process, kProcessBasicInformation, information.get(), size, &returned) < 0)
        return false;
    if (returned <= size) return true;
    information = allocateZeroed(returned);
    if (!information) return false;
    return g_processQuery(process, kProcessBasicInformation, information.get(), returned, &returned) >= 0;
}

// The reader the string copy is given. Needs PROCESS_VM_READ.
bool readRemoteUnits(void* process, const void* address, wchar_t* text, size_t units) {
    return readRemote(process, address, text, units * sizeof(wchar_t));
}

// From the PEB to the process parameters to the two strings. Needs PROCESS_VM_READ.
void readProcessStrings(HANDLE process, const void* pebAddress, ProcessSnapshot& snapshot) {
    BYTE peb[kPebBytes];
    if (!readRemote(process, pebAddress, peb, sizeof(peb))) return;
    BYTE parameters[kParametersBytes];
    if (!readRemote(process, fieldAt<const void*>(peb, kProcessParametersOffset), parameters, sizeof(parameters)))
        return;
    copyRemoteString(readRemoteUnits, process, parameters + kImagePathNameOffset, snapshot.imagePath);
    copyRemoteString(readRemoteUnits, process, parameters + kCurrentDirectoryOffset, snapshot.currentDirectory);
}

// Walks the list in the system's order: the first process on the drive is the one named.
BOOL scanProcessList(const DWORD* ids, size_t count, const wchar_t* driveArgument, wchar_t* nameOut) {
    // One record, reused for every process: it is far too large for the dialog thread's stack.
    HeapBlock record = allocateZeroed(sizeof(ProcessSnapshot));
    if (!record) return FALSE;
    ProcessSnapshot& snapshot = *static_cast<ProcessSnapshot*>(record.get());
    for (size_t i = 0; i < count; ++i) {
        if (!readProcessSnapshot(ids[i], snapshot)) continue;
        if (isOnDrive(snapshot.imagePath, driveArgument) || isOnDrive(snapshot.currentDirectory, driveArgument)) {
            processNameFromImagePath(snapshot.imagePath, nameOut);
            return TRUE;
        }
    }
    return FALSE;
}

}  // namespace

BOOL findProcessOnDriveLocal(const wchar_t* driveArgument, wchar_t* nameOut) {
    nameOut[0] = 0;
    DWORD ids[PROCESS_ID_LIST_CAPACITY] = {};
    // Without the privilege the scan still runs; it sees fewer processes.
    enablePrivilege(SE_DEBUG_NAME);
    DWORD returned = 0;
    if (!sys().enumProcesses(ids, sizeof(ids), &returned)) return FALSE;
    size_t count = returned / sizeof(DWORD);
    if (count > PROCESS_ID_LIST_CAPACITY) count = PROCESS_ID_LIST_CAPACITY;
    ProcessQueryScope query;
    if (!query.loaded()) return FALSE;
    return scanProcessList(ids, count, driveArgument, nameOut);
}

// Needs TOKEN_ADJUST_PRIVILEGES to change the token and TOKEN_QUERY, without which the
// adjustment is refused on some systems.
BOOL enablePrivilege(const wchar_t* privilegeName) {
    HANDLE rawToken = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &rawToken)) return FALSE;
    UniqueHandle token(rawToken);
    TOKEN_PRIVILEGES privileges = {};
    privileges.PrivilegeCount = 1;
    privileges.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
    if (!LookupPrivilegeValueW(nullptr, privilegeName, &privileges.Privileges[0].Luid)) return FALSE;
    // The call also succeeds for a privilege the token does not hold, with the last error
    // ERROR_NOT_ALL_ASSIGNED: only a clean last error means the privilege is on now.
    BOOL adjusted = AdjustTokenPrivileges(token.get(), FALSE, &privileges, 0, nullptr, nullptr);
    return adjusted && GetLastError() == ERROR_SUCCESS;
}

HMODULE loadProcessQuery() {
    HMODULE ntdll = LoadLibraryW(L"ntdll.dll");
    if (!ntdll) return nullptr;
    g_processQuery = reinterpret_cast<ProcessQuery>(GetProcAddress(ntdll, "NtQueryInformationProcess"));
    if (g_processQuery) return ntdll;
    FreeLibrary(ntdll);
    return nullptr;
}

void unloadProcessQuery(HMODULE module) {
    if (module) FreeLibrary(module);
    g_processQuery = nullptr;
}

// Opens the process with PROCESS_QUERY_INFORMATION (for the query) and PROCESS_VM_READ (for
// the reads). Processes that refuse either are passed over with empty strings.
BOOL readProcessSnapshot(DWORD processId, ProcessSnapshot& snapshot) {
    ZeroMemory(&snapshot, sizeof(snapshot));
    snapshot.processId = processId;
    UniqueHandle process(OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, processId));
    if (!process) return TRUE;
    HeapBlock information = allocateZeroed(kBasicInformationBytes);
    if (!information) return FALSE;
    if (!queryBasicInformation(process.get(), information)) return TRUE;
    readProcessStrings(process.get(), fieldAt<const void*>(information.get(), kPebBaseAddressOffset), snapshot);
    completeSystemProcessImage(snapshot);
    return TRUE;
}

void completeSystemProcessImage(ProcessSnapshot& snapshot) {
    if (snapshot.processId != kSystemProcessId) return;
    DWORD units = ExpandEnvironmentStringsW(L"%SystemRoot%\\System32\\ntoskrnl.exe", snapshot.imagePath,
                                            PROCESS_STRING_CAPACITY);
    // A result that did not fit leaves the buffer undefined; an empty path never matches.
    if (units == 0 || units > PROCESS_STRING_CAPACITY) snapshot.imagePath[0] = 0;
}
