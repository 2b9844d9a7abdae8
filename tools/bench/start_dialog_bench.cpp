// Measures the time from the start of a process to its main dialog being visible, for the
// shipped removal tool and for a bare program that shows the same template and nothing else.
// Both are copied into folders of their own and started the same way, for drive E:, the
// three in turn each round so that the machine's load falls on all of them alike. Run with the
// number of rounds: "start_dialog_bench 15" (and "all" after it for every run's time). Prints one line for each program: its name,
// the runs that reached the dialog, and the median, fastest and slowest time in milliseconds;
// then two such lines for requests to the service stand-in as the tool makes them:
// "service_exchange" for one request and its answer alone, "service_burst" for the five the
// start-up with the service makes back to back (probe, disk number, partition style, header
// sector, usage probe).
#include "platform/owners.h"
#include "platform/win.h"
#include "support/fake_service.h"
#include "support/fixture_drive.h"
#include "tool/service/service_commands.h"
#include "tool/service/service_pipe.h"
#include "tool/shell/resource_ids.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <string>
#include <vector>

#ifndef PARVANE_TOOL_FILE
#error "PARVANE_TOOL_FILE names the removal tool build one folder up"
#endif

namespace {

const DWORD kDialogLimitMs = 30000;
const DWORD kExitLimitMs = 20000;
const DWORD kPollMs = 2;
// What the service stand-in answers at start-up: disk 0, an MBR disk, nothing uses the drive.
const wchar_t kServiceScenario[] = L"[GDN]\r\nfield2=0\r\n[GPS]\r\ndword=0\r\n";

struct DialogSearch {
    DWORD processId;
    HWND found;
};

// The dialog made from the main template: it alone has the Safely remove button.
BOOL CALLBACK findMainDialog(HWND window, LPARAM param) {
    DialogSearch* search = reinterpret_cast<DialogSearch*>(param);
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    wchar_t className[16] = L"";
    GetClassNameW(window, className, 16);
    if (owner == search->processId && wcscmp(className, L"#32770") == 0 && IsWindowVisible(window) &&
        GetDlgItem(window, IDC_REMOVE)) {
        search->found = window;
        return FALSE;
    }
    return TRUE;
}

std::wstring moduleFolder() {
    wchar_t path[MAX_PATH] = L"";
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring p(path);
    return p.substr(0, p.find_last_of(L'\\'));
}

// A copy of the program in a folder of its own under the temporary folder, without an INI file.
std::wstring stage(const std::wstring& built, const std::wstring& folderName, const std::wstring& fileName) {
    wchar_t temp[MAX_PATH] = L"";
    GetTempPathW(MAX_PATH, temp);
    std::wstring folder = std::wstring(temp) + L"parvane-bench-" + folderName;
    CreateDirectoryW(folder.c_str(), nullptr);
    std::wstring path = folder + L"\\" + fileName;
    DeleteFileW((path.substr(0, path.rfind(L'.')) + L".ini").c_str());
    return CopyFileW(built.c_str(), path.c_str(), FALSE) ? path : std::wstring();
}

double millisecondsSince(const LARGE_INTEGER& start) {
    LARGE_INTEGER now, frequency;
    QueryPerformanceCounter(&now);
    QueryPerformanceFrequency(&frequency);
    return double(now.QuadPart - start.QuadPart) * 1000.0 / double(frequency.QuadPart);
}

// One run: milliseconds from just before CreateProcess to the dialog being visible, or a
// negative number when it never came. The program is then ended by Esc, as a person would.
double timeToDialog(const std::wstring& exe) {
    std::wstring commandLine = L"\"" + exe + L"\" E: ";
    std::wstring folder = exe.substr(0, exe.find_last_of(L'\\'));
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION info = {};
    LARGE_INTEGER start;
    QueryPerformanceCounter(&start);
    BOOL started = FALSE;
    // Wine now and then refuses a process start once with ERROR_INTERNAL_ERROR.
    for (int attempt = 0; attempt < 2 && !started; ++attempt)
        started = CreateProcessW(exe.c_str(), &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, folder.c_str(),
                                 &startup, &info);
    if (!started) return -1;
    UniqueHandle process(info.hProcess);
    UniqueHandle thread(info.hThread);
    DialogSearch search = {info.dwProcessId, nullptr};
    double elapsed = -1;
    for (;;) {
        EnumWindows(&findMainDialog, reinterpret_cast<LPARAM>(&search));
        if (search.found) {
            elapsed = millisecondsSince(start);
            break;
        }
        if (WaitForSingleObject(process.get(), kPollMs) == WAIT_OBJECT_0) break;
        if (millisecondsSince(start) > kDialogLimitMs) break;
    }
    if (search.found) {
        PostMessageW(search.found, WM_KEYDOWN, VK_ESCAPE, 0x00010001);
        PostMessageW(search.found, WM_KEYUP, VK_ESCAPE, 0xC0010001);
    }
    if (WaitForSingleObject(process.get(), kExitLimitMs) != WAIT_OBJECT_0) {
        TerminateProcess(process.get(), 1);
        WaitForSingleObject(process.get(), kExitLimitMs);
    }
    return elapsed;
}

struct Series {
    explicit Series(const char* seriesName) : name(seriesName) {}
    const char* name;
    std::vector<double> times;
    int failed = 0;

    void add(double ms) {
        if (ms < 0) ++failed;
        else times.push_back(ms);
    }
    void print(bool everyRun) {
        std::sort(times.begin(), times.end());
        if (everyRun) {
            fprintf(stderr, "%s:", name);
            for (double t : times) fprintf(stderr, " %.0f", t);
            fprintf(stderr, "\n");
        }
        if (times.empty()) {
            printf("%s 0 - - -\n", name);
            return;
        }
        printf("%s %u %.1f %.1f %.1f\n", name, unsigned(times.size()), times[times.size() / 2], times.front(),
               times.back());
    }
};

// One disk number request over the pipe: connect, request, answer, END, close.
double timeServiceExchange() {
    LARGE_INTEGER start;
    QueryPerformanceCounter(&start);
    serviceGetDiskNumber(L"E: ");
    return millisecondsSince(start);
}

// The start-up's requests to the service, back to back as it makes them: the probe, the disk
// number, the partition style, the header sector, and the dialog's first usage probe.
double timeStartupExchanges() {
    DWORD style = 0;
    unsigned char sector[512];
    wchar_t name[PROCESS_NAME_CAPACITY];
    LARGE_INTEGER start;
    QueryPerformanceCounter(&start);
    isServiceAvailable();
    serviceGetDiskNumber(L"E: ");
    serviceGetPartitionStyle(L"\\\\.\\PHYSICALDRIVE0", &style);
    serviceReadSector(L"\\\\.\\PHYSICALDRIVE0", 3, sector, sizeof(sector));
    serviceFindProcessOnDrive(L"E: ", name);
    return millisecondsSince(start);
}

}  // namespace

int main(int argc, char** argv) {
    int rounds = argc > 1 ? atoi(argv[1]) : 15;
    // "start_dialog_bench 15 all" also lists every run's time, fastest first, on stderr.
    bool everyRun = argc > 2 && strcmp(argv[2], "all") == 0;
    std::wstring tool = stage(moduleFolder() + L"\\..\\" PARVANE_TOOL_FILE, L"tool", PARVANE_TOOL_FILE);
    std::wstring bare = stage(moduleFolder() + L"\\bare_dialog.exe", L"bare", L"bare_dialog.exe");
    if (tool.empty() || bare.empty()) {
        fprintf(stderr, "cannot stage the programs\n");
        return 1;
    }
    clearFixtureDrive();
    Series bareSeries("bare_dialog"), adminSeries("tool_admin"), serviceSeries("tool_service");
    // One unmeasured round first: the first start of each program loads its files from disk.
    for (int round = -1; round < rounds; ++round) {
        double b = timeToDialog(bare);
        double a = timeToDialog(tool);
        double s;
        {
            FakeService service(kServiceScenario);
            s = service.running() ? timeToDialog(tool) : -1;
        }
        if (round < 0) continue;
        bareSeries.add(b);
        adminSeries.add(a);
        serviceSeries.add(s);
    }
    Series exchangeSeries("service_exchange"), burstSeries("service_burst");
    {
        FakeService service(kServiceScenario);
        for (int round = 0; service.running() && round < rounds; ++round) {
            exchangeSeries.add(timeServiceExchange());
            Sleep(50);
            burstSeries.add(timeStartupExchanges());
            Sleep(50);
        }
    }
    bareSeries.print(everyRun);
    adminSeries.print(everyRun);
    serviceSeries.print(everyRun);
    exchangeSeries.print(everyRun);
    burstSeries.print(everyRun);
    int failed = bareSeries.failed + adminSeries.failed + serviceSeries.failed;
    if (failed) fprintf(stderr, "%d runs never showed the dialog\n", failed);
    return failed ? 1 : 0;
}
