// The shipped removal tool's main dialog under Wine, as a person and the product's service
// meet it: its title, its end by Esc, and the usage probe's requests to the service.
#include "e2e/staged_tool.h"
#include "e2e/tool_process.h"
#include "platform/owners.h"
#include "support/fake_service.h"
#include "support/fixture_drive.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

const DWORD kTimeoutMs = 20000;
const wchar_t kToolTitle[] = L"Safely Remove Tool@Stravio# Ver.5.1.0";
const int kRemoveButton = 1001;
const int kHideButton = 1002;

std::string message(const char* body) {
    return std::string("\x01" "Lumagate" "\x1f" "V2" "\x1f" "\x02") + body + "\x03";
}

const std::string kUsageRequest = message("CPD\x1fLumgatS\x1f" "E: \x1f");

std::wstring textOf(HWND window) {
    wchar_t text[256] = L"";
    SendMessageW(window, WM_GETTEXT, 256, reinterpret_cast<LPARAM>(text));
    return text;
}

size_t usageRequests(const FakeService& service) {
    size_t count = 0;
    for (const std::string& request : service.requests())
        if (request.compare(14, 3, "CPD") == 0) ++count;
    return count;
}

typedef StagedToolTest MainDialogE2e;

TEST_F(MainDialogE2e, AppearsWithTheExactTitleAndAfterEscANewToolStarts) {
    for (int round = 0; round < 2; ++round) {
        ToolProcess process;
        ASSERT_TRUE(process.start(tool, L"E: ")) << GetLastError();
        HWND dialog = process.waitForMainDialog(kTimeoutMs);
        ASSERT_NE(dialog, nullptr) << "round " << round << ": no main dialog";
        EXPECT_EQ(textOf(dialog), kToolTitle);
        EXPECT_EQ(FindWindowW(L"#32770", kToolTitle), dialog) << "the launcher finds it by its title";
        EXPECT_EQ(textOf(GetDlgItem(dialog, kHideButton)), L"Hide the &protected area");
        EXPECT_EQ(textOf(GetDlgItem(dialog, kRemoveButton)), L"&Safely remove");
        EXPECT_EQ(process.waitForBox(200), nullptr) << "no message box beside the dialog";
        ToolProcess::pressEscape(dialog);
        EXPECT_EQ(process.waitForExit(kTimeoutMs), 0u) << "round " << round;
    }
}

TEST_F(MainDialogE2e, UsageProbeAsksTheServiceAtStartAndASecondAfterEachAnswer) {
    // Each answer takes 600 ms; the next question must come a second after it, not a second
    // after the question before.
    FakeService service(L"[GDN]\r\nfield2=0\r\n[GPS]\r\ndword=0\r\n[CPD]\r\ndelay_ms=600\r\n");
    ToolProcess process;
    ASSERT_TRUE(process.start(tool, L"E: "));
    HWND dialog = process.waitForMainDialog(kTimeoutMs);
    ASSERT_NE(dialog, nullptr);
    EXPECT_GE(usageRequests(service), 1u) << "the first probe runs before the dialog is shown";

    std::vector<DWORD> arrivals;
    size_t seen = usageRequests(service);
    const DWORD start = GetTickCount();
    while (GetTickCount() - start < 6000) {
        size_t now = usageRequests(service);
        if (now > seen) {
            for (size_t i = seen; i < now; ++i) arrivals.push_back(GetTickCount());
            seen = now;
        }
        Sleep(20);
    }
    EXPECT_TRUE(IsWindowEnabled(GetDlgItem(dialog, kRemoveButton))) << "no process named: the commands are usable";
    ToolProcess::pressEscape(dialog);
    EXPECT_EQ(process.waitForExit(kTimeoutMs), 0u);
    service.stop();

    ASSERT_GE(arrivals.size(), 2u);
    for (size_t i = 1; i < arrivals.size(); ++i) {
        DWORD gap = arrivals[i] - arrivals[i - 1];
        EXPECT_GE(gap, 1450u) << "question " << i << " came before a second had passed after the answer";
        EXPECT_LE(gap, 3500u) << "question " << i;
    }
    for (const std::string& request : service.requests()) {
        if (request.compare(14, 3, "CPD") == 0) {
            EXPECT_EQ(request, kUsageRequest);
        }
    }
}

TEST_F(MainDialogE2e, ProcessNamedByTheServiceDisablesBothCommands) {
    FakeService service(L"[GDN]\r\nfield2=0\r\n[GPS]\r\ndword=0\r\n[CPD]\r\nfield2=NOTEPAD.EXE\r\n");
    ToolProcess process;
    ASSERT_TRUE(process.start(tool, L"E: "));
    HWND dialog = process.waitForMainDialog(kTimeoutMs);
    ASSERT_NE(dialog, nullptr);
    EXPECT_FALSE(IsWindowEnabled(GetDlgItem(dialog, kRemoveButton)));
    EXPECT_FALSE(IsWindowEnabled(GetDlgItem(dialog, kHideButton)));
    ToolProcess::pressEscape(dialog);
    EXPECT_EQ(process.waitForExit(kTimeoutMs), 0u);
}

// A tool started with its current folder on the drive, as a shortcut opened from the drive may
// start it, neither holds the drive open through that folder nor names itself as its user.
TEST_F(MainDialogE2e, StartedInAFolderOfTheDriveItLeavesTheDriveFree) {
    ToolProcess process;
    ASSERT_TRUE(process.start(tool, L"E: ", L"E:\\"));
    HWND dialog = process.waitForMainDialog(kTimeoutMs);
    ASSERT_NE(dialog, nullptr);
    EXPECT_TRUE(IsWindowEnabled(GetDlgItem(dialog, kRemoveButton))) << "the tool found itself on the drive";
    EXPECT_TRUE(IsWindowEnabled(GetDlgItem(dialog, kHideButton)));
    ToolProcess::pressEscape(dialog);
    EXPECT_EQ(process.waitForExit(kTimeoutMs), 0u);
}

}  // namespace
