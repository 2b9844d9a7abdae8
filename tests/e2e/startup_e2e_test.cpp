// The shipped removal tool, started as the launcher starts it, under Wine with a display.
// Drive E: is the fixture drive; the tool's own INI file lies beside a staged copy of it.
#include "e2e/staged_tool.h"
#include "e2e/tool_process.h"
#include "platform/owners.h"
#include "support/fake_service.h"
#include "support/fixture_drive.h"
#include "support/header_writer.h"
#include "tool/service/protected_header.h"

#include <gtest/gtest.h>

namespace {

const DWORD kBoxTimeoutMs = 20000;
const DWORD kExitTimeoutMs = 20000;
const wchar_t kToolTitle[] = L"Safely Remove Tool@Stravio# Ver.5.1.0";
const wchar_t kMutexName[] = L"_Parvane_Mutex";
const wchar_t kEventName[] = L"__Parvane_Event";

class ToolStartup : public StagedToolTest {
protected:
    // Runs the tool; answers the one box it shows, if any, then closes the main dialog with
    // Esc when it is expected. Returns the exit code.
    DWORD run(const std::wstring& path, const std::wstring& args, ShownBox* box, bool dialogExpected = false) {
        ToolProcess process;
        EXPECT_TRUE(process.start(path, args)) << GetLastError();
        HWND shown = process.waitForBox(box ? kBoxTimeoutMs : 1500);
        if (shown) {
            if (box) *box = ToolProcess::readBox(shown);
            else ADD_FAILURE() << "unexpected box: " << ToolProcess::readBox(shown).text.c_str();
            ToolProcess::answerBox(shown);
        } else if (box) {
            ADD_FAILURE() << "no message box appeared";
        }
        if (dialogExpected) {
            HWND dialog = process.waitForMainDialog(kBoxTimeoutMs);
            EXPECT_NE(dialog, nullptr) << "the main dialog did not appear";
            if (dialog) ToolProcess::pressEscape(dialog);
        }
        return process.waitForExit(kExitTimeoutMs);
    }
};

TEST_F(ToolStartup, EmptyCommandLineEndsWithoutAWord) {
    UniqueHandle event(CreateEventW(nullptr, TRUE, FALSE, kEventName));
    EXPECT_EQ(run(tool, L"", nullptr), 0u);
    EXPECT_EQ(WaitForSingleObject(event.get(), 0), static_cast<DWORD>(WAIT_TIMEOUT));
}

TEST_F(ToolStartup, ReleasesAWaitingLauncherAndShowsTheDialog) {
    UniqueHandle event(CreateEventW(nullptr, TRUE, FALSE, kEventName));
    EXPECT_EQ(run(tool, L"E: ", nullptr, true), 0u);
    EXPECT_EQ(WaitForSingleObject(event.get(), 0), static_cast<DWORD>(WAIT_OBJECT_0));
}

TEST_F(ToolStartup, SecondInstanceIsTurnedAway) {
    UniqueHandle firstTool(CreateMutexW(nullptr, TRUE, kMutexName));
    UniqueHandle event(CreateEventW(nullptr, TRUE, FALSE, kEventName));
    ShownBox box;
    EXPECT_EQ(run(tool, L"E: ", &box), 0u);
    EXPECT_EQ(box.caption, kToolTitle);
    EXPECT_EQ(box.text, L"It has already started.");
    EXPECT_EQ(WaitForSingleObject(event.get(), 0), static_cast<DWORD>(WAIT_TIMEOUT));
}

TEST_F(ToolStartup, OldWindowsIsRefused) {
    std::wstring xpTool = stageTool(L"winxp", L"ParvaneXP.exe");
    ASSERT_TRUE(setWineVersionFor(L"ParvaneXP.exe", L"winxp64"));
    ShownBox box;
    DWORD code = run(xpTool, L"E: ", &box);
    setWineVersionFor(L"ParvaneXP.exe", nullptr);
    EXPECT_EQ(code, 0u);
    EXPECT_EQ(box.caption, L"Stravio# Ver.5.1.0");
    EXPECT_EQ(box.text, L"The version of Windows doesn't correspond.");
}

TEST_F(ToolStartup, OverrideFilesOnTheDriveChangeTheTexts) {
    writeOverrideFile(L"English.ini", L"[Parvane]\r\nerrorMultiStart=Already running.\\nClose it first.\r\n521=Acme\r\n");
    UniqueHandle firstTool(CreateMutexW(nullptr, TRUE, kMutexName));
    ShownBox box;
    EXPECT_EQ(run(tool, L"E: ", &box), 0u);
    EXPECT_EQ(box.caption, L"Safely Remove Tool@Acme# Ver.5.1.0");
    EXPECT_EQ(box.text, L"Already running.\r\nClose it first.");
}

TEST_F(ToolStartup, LanguageSettingBesideTheToolSwitchesToJapanese) {
    std::wstring ini = tool.substr(0, tool.rfind(L'.')) + L".ini";
    ASSERT_TRUE(writeUnicodeFile(ini, L"[Locale]\r\nLanguage=jp\r\n"));
    UniqueHandle firstTool(CreateMutexW(nullptr, TRUE, kMutexName));
    ShownBox box;
    EXPECT_EQ(run(tool, L"E: ", &box), 0u);
    EXPECT_EQ(box.caption, L"\x5B89\x5168\x306A\x53D6\x308A\x5916\x3057\x30C4\x30FC\x30EB@Stravio# Ver.5.1.0");
    EXPECT_EQ(box.text, L"\x65E2\x306B\x8D77\x52D5\x3057\x3066\x3044\x307E\x3059\x3002");
}

TEST_F(ToolStartup, ServiceHeaderAndChangedAutorunGiveTheWarning) {
    TempFile stored(encryptHeader(plainHeader(0x4A8B7C7F, 0, 1), HEADER_CIPHER_UNIT));
    FakeService service(L"[GDN]\r\nfield2=1\r\n[GPS]\r\ndword=0\r\n[SRD]\r\nsector_file=" + stored.path() + L"\r\n");
    ASSERT_TRUE(writeUnicodeFile(L"E:\\autorun.inf", L"[autorun]\r\nopen=Parvane.exe open\r\n"
                                                       L"shell\\usbClose\\command=E:\\tools\\Parvane.exe\r\n"));
    ShownBox box;
    EXPECT_EQ(run(tool, L"E: ", &box, true), 0u);
    DeleteFileW(L"E:\\autorun.inf");
    EXPECT_EQ(box.caption, kToolTitle);
    EXPECT_EQ(box.text,
              L"The risk of change autorun.inf file has been detected. Please confirm the contents of autorun.inf file.");
}

TEST_F(ToolStartup, ServiceWithoutTheDiskEndsWith548) {
    FakeService service(L"[GDN]\r\nstatus=NG\r\nfield2=548\r\n");
    EXPECT_EQ(run(tool, L"E: ", nullptr), 548u);
}

}  // namespace
