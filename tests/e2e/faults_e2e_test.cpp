// The shipped removal tool under Wine, with the service stand-in answering its usage probe
// badly while the main dialog is up. The probe asks every second; an answer cut off or
// unreadable must neither end the tool nor stop the probe, and the person keeps a dialog that
// offers both commands (an eject that a program still vetoes asks before anything is forced).
#include "e2e/staged_tool.h"
#include "e2e/tool_process.h"
#include "platform/owners.h"
#include "support/fake_service.h"

#include <commctrl.h>

#include <gtest/gtest.h>

#include <string>

namespace {

const DWORD kTimeoutMs = 20000;
const size_t kProbesWatched = 3;
const int kRemoveButton = 1001;
const int kHideButton = 1002;
const int kStatusBar = 1003;

size_t usageRequests(const FakeService& service) {
    size_t count = 0;
    for (const std::string& request : service.requests())
        if (request.size() > 17 && request.compare(14, 3, "CPD") == 0) ++count;
    return count;
}

// A remote block in another process, freed with the object.
class RemoteBlock {
public:
    RemoteBlock(HANDLE process, size_t bytes)
        : process_(process), address_(VirtualAllocEx(process, nullptr, bytes, MEM_COMMIT, PAGE_READWRITE)) {}
    ~RemoteBlock() {
        if (address_) VirtualFreeEx(process_, address_, 0, MEM_RELEASE);
    }
    RemoteBlock(const RemoteBlock&) = delete;
    RemoteBlock& operator=(const RemoteBlock&) = delete;
    void* address() const { return address_; }

private:
    HANDLE process_;
    void* address_;
};

// The status bar's text in its simple mode, which the dialog uses (Wine answers for the simple
// part under the index 0 only). SB_GETTEXTW writes to a pointer, which only means something
// in the tool's own process: the text is written there and read back.
std::wstring statusText(HWND statusBar) {
    DWORD id = 0;
    GetWindowThreadProcessId(statusBar, &id);
    UniqueHandle process(OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE, FALSE, id));
    if (!process) return L"<tool not opened>";
    wchar_t text[256] = L"";
    RemoteBlock remote(process.get(), sizeof(text));
    if (!remote.address()) return L"<no memory in the tool>";
    LRESULT units = SendMessageW(statusBar, SB_GETTEXTLENGTHW, 0, 0);
    if (LOWORD(units) >= 256) return L"<text too long>";
    SendMessageW(statusBar, SB_GETTEXTW, 0, reinterpret_cast<LPARAM>(remote.address()));
    SIZE_T read = 0;
    if (!ReadProcessMemory(process.get(), remote.address(), text, sizeof(text), &read)) return L"<unreadable>";
    text[255] = 0;
    return text;
}

struct ProbeFaultCase {
    const char* name;
    const wchar_t* answer;  // the [CPD] section of the stand-in
};

typedef StagedToolTest ServiceFaultE2e;

TEST_F(ServiceFaultE2e, ABadAnswerToTheUsageProbeLeavesTheDialogUpAndTheProbeGoingOn) {
    const ProbeFaultCase cases[] = {
        // Header, keyword and status, then nothing: the service died while it answered.
        {"dies in the middle of its answer", L"raw=01 4C 75 6D 61 67 61 74 65 1F 56 32 1F 02 43 50 44 1F 4F 4B\r\n"},
        {"answers garbage", L"raw=47 41 52 42 41 47 45 1F 03\r\n"},
    };
    for (const ProbeFaultCase& c : cases) {
        FakeService service(std::wstring(L"[GDN]\r\nfield2=0\r\n[GPS]\r\ndword=0\r\n[CPD]\r\n") + c.answer);
        ToolProcess process;
        ASSERT_TRUE(process.start(tool, L"E: ")) << c.name;
        HWND dialog = process.waitForMainDialog(kTimeoutMs);
        ASSERT_NE(dialog, nullptr) << c.name;
        const DWORD start = GetTickCount();
        while (usageRequests(service) < kProbesWatched && GetTickCount() - start < kTimeoutMs) Sleep(50);
        EXPECT_GE(usageRequests(service), kProbesWatched) << c.name << ": the probe stopped after a bad answer";
        EXPECT_EQ(process.waitForBox(0), nullptr) << c.name << ": no box for a probe";
        EXPECT_EQ(statusText(GetDlgItem(dialog, kStatusBar)), L"Please select what to do next.") << c.name;
        EXPECT_TRUE(IsWindowEnabled(GetDlgItem(dialog, kRemoveButton))) << c.name;
        EXPECT_TRUE(IsWindowEnabled(GetDlgItem(dialog, kHideButton))) << c.name;
        ToolProcess::pressEscape(dialog);
        EXPECT_EQ(process.waitForExit(kTimeoutMs), 0u) << c.name;
    }
}

}  // namespace
