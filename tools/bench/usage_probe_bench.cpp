// Measures one pass of the usage scan against a bare loop that makes the same system calls
// for every process (open it, query it, read its PEB, its parameters and its two strings) and
// nothing else. Both walk the same process list with no process on the drive, so both visit
// every process. Run with the number of extra processes to start: "usage_probe_bench 100".
// Prints one line: extra processes, processes seen, microseconds per process for the scan and
// for the bare loop and their ratio, by the median pass and again by the fastest pass: on a
// machine that other work shares, the fastest pass is the one least disturbed by it.
#include "common/bounded.h"
#include "platform/owners.h"
#include "platform/win.h"
#include "tool/usage/process_scan.h"

#include <psapi.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <vector>

namespace {

const wchar_t kReleaseEventName[] = L"ParvaneUsageBenchRelease";
const wchar_t kReadySemaphoreName[] = L"ParvaneUsageBenchReady";
// How long the extra processes may take to start, all together: on a busy machine Wine needs
// a good part of a second for each.
const DWORD kStartLimitMs = 10 * 60 * 1000;
// A drive letter that no process here uses, so that the scan never stops early.
const wchar_t kFreeDrive[] = L"Q: ";
const int kRounds = 15;

// PROCESS_BASIC_INFORMATION is asked for at its exact size: the query refuses any other.
#ifdef _WIN64
const ULONG kInformationBytes = 48;
const size_t kPebBytes = 712, kParametersBytes = 128, kPebAddressOffset = 8, kParametersOffset = 32;
const size_t kCurrentDirectoryOffset = 56, kImagePathOffset = 96, kStringBufferOffset = 8;
#else
const ULONG kInformationBytes = 24;
const size_t kPebBytes = 472, kParametersBytes = 72, kPebAddressOffset = 4, kParametersOffset = 16;
const size_t kCurrentDirectoryOffset = 36, kImagePathOffset = 56, kStringBufferOffset = 4;
#endif

typedef LONG(NTAPI* ProcessQuery)(HANDLE, ULONG, void*, ULONG, ULONG*);

template <typename T>
T fieldAt(const BYTE* block, size_t offset) {
    T value;
    memcpy(&value, block + offset, sizeof(T));
    return value;
}

bool readRemote(HANDLE process, const void* address, void* buffer, size_t bytes) {
    SIZE_T read = 0;
    return address && ReadProcessMemory(process, address, buffer, bytes, &read) && read == bytes;
}

void readRemoteString(HANDLE process, const BYTE* descriptor, wchar_t* text, size_t capacity) {
    USHORT length = fieldAt<USHORT>(descriptor, 0);
    size_t units = std::min<size_t>(length / sizeof(wchar_t), capacity - 1);
    if (units) readRemote(process, fieldAt<const void*>(descriptor, kStringBufferOffset), text, units * 2);
}

// The calls the scan makes for one process, without its bookkeeping.
void bareVisit(ProcessQuery query, DWORD id, wchar_t* image, wchar_t* directory, size_t capacity) {
    UniqueHandle process(OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, id));
    if (!process) return;
    BYTE information[48] = {};
    ULONG returned = 0;
    if (query(process.get(), 0, information, kInformationBytes, &returned) < 0) return;
    BYTE peb[kPebBytes];
    BYTE parameters[kParametersBytes];
    if (!readRemote(process.get(), fieldAt<const void*>(information, kPebAddressOffset), peb, sizeof(peb))) return;
    if (!readRemote(process.get(), fieldAt<const void*>(peb, kParametersOffset), parameters, sizeof(parameters)))
        return;
    readRemoteString(process.get(), parameters + kImagePathOffset, image, capacity);
    readRemoteString(process.get(), parameters + kCurrentDirectoryOffset, directory, capacity);
}

double seconds(LARGE_INTEGER from, LARGE_INTEGER to) {
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    return double(to.QuadPart - from.QuadPart) / double(frequency.QuadPart);
}

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

double fastest(const std::vector<double>& values) { return *std::min_element(values.begin(), values.end()); }

double timeScanPass() {
    wchar_t name[PROCESS_NAME_CAPACITY];
    LARGE_INTEGER start, end;
    QueryPerformanceCounter(&start);
    findProcessOnDriveLocal(kFreeDrive, name);
    QueryPerformanceCounter(&end);
    return seconds(start, end);
}

double timeBarePass(ProcessQuery query) {
    static wchar_t image[PROCESS_STRING_CAPACITY], directory[PROCESS_STRING_CAPACITY];
    LARGE_INTEGER start, end;
    QueryPerformanceCounter(&start);
    DWORD ids[PROCESS_ID_LIST_CAPACITY];
    DWORD returned = 0;
    EnumProcesses(ids, sizeof(ids), &returned);
    for (DWORD i = 0; i < returned / sizeof(DWORD); ++i)
        bareVisit(query, ids[i], image, directory, PROCESS_STRING_CAPACITY);
    QueryPerformanceCounter(&end);
    return seconds(start, end);
}

size_t countProcesses() {
    DWORD ids[PROCESS_ID_LIST_CAPACITY];
    DWORD returned = 0;
    return EnumProcesses(ids, sizeof(ids), &returned) ? returned / sizeof(DWORD) : 0;
}

// The extra processes say when they have started and then wait for the release event, with a
// limit, so that none outlives a benchmark that was stopped.
int runAsChild() {
    UniqueHandle release(OpenEventW(SYNCHRONIZE, FALSE, kReleaseEventName));
    UniqueHandle ready(OpenSemaphoreW(SEMAPHORE_MODIFY_STATE, FALSE, kReadySemaphoreName));
    if (ready) ReleaseSemaphore(ready.get(), 1, nullptr);
    if (release) WaitForSingleObject(release.get(), 10 * 60 * 1000);
    return 0;
}

// Until every extra process has started and is waiting: one still starting would take the
// processor from both passes, the more the more processes there are.
bool waitUntilStarted(HANDLE ready, size_t count) {
    DWORD start = GetTickCount();
    for (size_t i = 0; i < count; ++i) {
        DWORD spent = GetTickCount() - start;
        if (spent >= kStartLimitMs || WaitForSingleObject(ready, kStartLimitMs - spent) != WAIT_OBJECT_0) return false;
    }
    return true;
}

bool startChild(const wchar_t* self, std::vector<UniqueHandle>& children) {
    wchar_t commandLine[MAX_PATH + 16];
    formatText(commandLine, MAX_PATH + 16, L"\"%s\" --child", self);
    for (int attempt = 0; attempt < 2; ++attempt) {
        STARTUPINFOW startup = {};
        startup.cb = sizeof(startup);
        PROCESS_INFORMATION info = {};
        if (CreateProcessW(self, commandLine, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &info)) {
            CloseHandle(info.hThread);
            children.emplace_back(info.hProcess);
            return true;
        }
        // Wine now and then refuses a process start with this error; a second try goes through.
        if (GetLastError() != ERROR_INTERNAL_ERROR) break;
    }
    return false;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc > 1 && strcmp(argv[1], "--child") == 0) return runAsChild();
    int extra = argc > 1 ? atoi(argv[1]) : 10;
    wchar_t self[MAX_PATH];
    if (!GetModuleFileNameW(nullptr, self, MAX_PATH)) return 1;
    UniqueHandle release(CreateEventW(nullptr, TRUE, FALSE, kReleaseEventName));
    UniqueHandle ready(CreateSemaphoreW(nullptr, 0, 0x7FFFFFFF, kReadySemaphoreName));
    std::vector<UniqueHandle> children;
    for (int i = 0; i < extra; ++i)
        if (!startChild(self, children)) {
            fprintf(stderr, "could only start %d processes\n", i);
            break;
        }
    if (!waitUntilStarted(ready.get(), children.size())) fprintf(stderr, "not every process finished starting\n");
    Sleep(500);  // and let the last ones settle into their wait

    HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    ProcessQuery query = reinterpret_cast<ProcessQuery>(GetProcAddress(ntdll, "NtQueryInformationProcess"));
    std::vector<double> scan, bare;
    timeScanPass();  // warm both paths once
    timeBarePass(query);
    for (int round = 0; round < kRounds; ++round) {
        scan.push_back(timeScanPass());
        bare.push_back(timeBarePass(query));
    }
    size_t seen = countProcesses();
    double scanPer = median(scan) / double(seen) * 1e6;
    double barePer = median(bare) / double(seen) * 1e6;
    double scanBest = fastest(scan) / double(seen) * 1e6;
    double bareBest = fastest(bare) / double(seen) * 1e6;
    printf("%d %u %.1f %.1f %.2f %.1f %.1f %.2f\n", int(children.size()), unsigned(seen), scanPer, barePer,
           scanPer / barePer, scanBest, bareBest, scanBest / bareBest);

    SetEvent(release.get());
    for (UniqueHandle& child : children) WaitForSingleObject(child.get(), 5000);
    return 0;
}
