// The About box, modal over a real main dialog in this process, driven by a person on another
// thread; the browser launches go through the seam and are recorded.
#include "tool/shell/about_box.h"

#include "common/bounded.h"
#include "common/environment.h"
#include "common/texts.h"
#include "sim/machine.h"
#include "support/dialog_driver.h"
#include "support/fixture_drive.h"
#include "tool/shell/dialog_templates.h"
#include "tool/shell/main_dialog.h"
#include "tool/shell/resource_ids.h"
#include "tool/shell/tool_state.h"

#include <gtest/gtest.h>

#include <string>

namespace {

const wchar_t kAboutTitle[] = L"Version info.";

BOOL WINAPI noProcesses(DWORD*, DWORD, DWORD* returned) {
    *returned = 0;
    return TRUE;
}

bool waitForNoAddressThread() {
    for (int i = 0; i < 250 && urlOpenThread; ++i) Sleep(20);
    return urlOpenThread == nullptr;
}

void click(HWND dialog, int id) { SendMessageW(GetDlgItem(dialog, id), BM_CLICK, 0, 0); }

// A double click as the mouse gives it, posted to the button.
void doubleClick(HWND dialog, int id) {
    HWND button = GetDlgItem(dialog, id);
    const LPARAM at = MAKELPARAM(5, 5);
    PostMessageW(button, WM_LBUTTONDOWN, MK_LBUTTON, at);
    PostMessageW(button, WM_LBUTTONUP, 0, at);
    PostMessageW(button, WM_LBUTTONDBLCLK, MK_LBUTTON, at);
    PostMessageW(button, WM_LBUTTONUP, 0, at);
}

class AboutBox : public ::testing::Test {
protected:
    void SetUp() override {
        clearFixtureDrive();
        removeProgramIni();
        copyText(driveArgument, L"E: ");
        serviceAvailable = FALSE;
        toolInstance = GetModuleHandleW(nullptr);
        g_systemCalls.enumProcesses = &noProcesses;
    }
    void TearDown() override {
        EXPECT_TRUE(waitForNoAddressThread());
        if (mainDialog) DestroyWindow(mainDialog);
        discardQuitMessage();
        clearFixtureDrive();
        removeProgramIni();
    }

    void openMainDialog() {
        preloadMessageOverrides();
        mainDialog = createDialogFromTemplate(toolInstance, IDD_MAIN_DIALOG, nullptr, &mainDialogProc, 0);
        ASSERT_NE(mainDialog, nullptr);
        ShowWindow(mainDialog, SW_SHOW);
    }

    // Shows the About box over the main dialog until the person's action has closed it.
    bool showWhile(const wchar_t* title, std::function<bool(HWND)> action) {
        Person person(title, std::move(action));
        showAboutBox(mainDialog);
        EXPECT_TRUE(person.finish()) << "the About box did not appear or did not close";
        return person.result();
    }

    SimulatedMachine machine;
    HWND mainDialog = nullptr;
};

struct AboutTexts {
    const char* name;
    bool japanese;
    const wchar_t* title;
    const wchar_t* productLine;
    const wchar_t* homepage;
    const wchar_t* usage;
};

void PrintTo(const AboutTexts& c, std::ostream* os) { *os << c.name; }

class AboutBoxTexts : public AboutBox, public ::testing::WithParamInterface<AboutTexts> {};

TEST_P(AboutBoxTexts, ShowsTheProductTheAddressesAndClosesWithEsc) {
    const AboutTexts& c = GetParam();
    if (c.japanese) {
        writeProgramIni(L"[Locale]\r\nLanguage=jp\r\n");
        applyLanguageSetting();
    }
    openMainDialog();
    struct Seen {
        std::wstring productLine, homepage, usage, ok, notice;
        RECT box, owner;
        bool ownerDisabled;
    } seen;
    const HWND owner = mainDialog;
    showWhile(c.title, [&](HWND box) {
        seen.productLine = windowText(GetDlgItem(box, IDC_ABOUT_TITLE));
        seen.homepage = windowText(GetDlgItem(box, IDC_HOMEPAGE));
        seen.usage = windowText(GetDlgItem(box, IDC_USAGE));
        seen.ok = windowText(GetDlgItem(box, IDOK));
        seen.box = windowRect(box);
        seen.owner = windowRect(owner);
        seen.ownerDisabled = !IsWindowEnabled(owner);
        pressEscape(box);
        return true;
    });
    EXPECT_EQ(seen.productLine, c.productLine);
    EXPECT_EQ(seen.homepage, c.homepage);
    EXPECT_EQ(seen.usage, c.usage);
    EXPECT_EQ(seen.ok, L"OK");
    EXPECT_TRUE(seen.ownerDisabled) << "modal over the main dialog";
    EXPECT_TRUE(IsWindowEnabled(mainDialog)) << "the main dialog is usable again";
    // Centred over the main dialog (both lie well inside the desktop).
    EXPECT_EQ(seen.box.left, seen.owner.left + ((seen.owner.right - seen.owner.left) - (seen.box.right - seen.box.left)) / 2);
    EXPECT_EQ(seen.box.top, seen.owner.top + ((seen.owner.bottom - seen.owner.top) - (seen.box.bottom - seen.box.top)) / 2);
    EXPECT_TRUE(machine.shellLaunches.empty());
}

INSTANTIATE_TEST_SUITE_P(Languages, AboutBoxTexts, ::testing::Values(
    AboutTexts{"English", false, L"Version info.", L"Safely Remove Tool@Stravio# Ver.5.1.0",
               L"&Homepage:https://www.torvaworks.example/en/", L"&Usage:https://www.torvaworks.example/en/usage.html"},
    AboutTexts{"Japanese", true, L"バージョン情報", L"安全な取り外しツール@Stravio# Ver.5.1.0",
               L"ホームページ(&H):https://www.torvaworks.example/ja/",
               L"使い方(&U):https://www.torvaworks.example/ja/usage.html"}),
    [](const ::testing::TestParamInfo<AboutTexts>& info) { return std::string(info.param.name); });

TEST_F(AboutBox, OkButtonAndMenuItemOfTheMainDialog) {
    openMainDialog();
    Person person(kAboutTitle, [](HWND box) {
        click(box, IDOK);
        return true;
    });
    // The Help menu's item, as the menu sends it.
    SendMessageW(mainDialog, WM_COMMAND, MAKEWPARAM(IDM_VERSION_INFO, 0), 0);
    EXPECT_TRUE(person.finish());
    EXPECT_TRUE(IsWindowEnabled(mainDialog));
}

// The browser stand-in holds the opening thread until the test lets it go.
HANDLE g_browserMayReturn = nullptr;
std::vector<std::wstring> g_opened;

HINSTANCE WINAPI slowBrowser(HWND, LPCWSTR verb, LPCWSTR file, LPCWSTR parameters, LPCWSTR directory, INT show) {
    WaitForSingleObject(g_browserMayReturn, 10000);
    g_opened.push_back(std::wstring(verb) + L" " + file + (parameters || directory ? L" with more" : L"") +
                       (show == SW_SHOW ? L"" : L" hidden"));
    return reinterpret_cast<HINSTANCE>(33);
}

TEST_F(AboutBox, DoubleClickOpensTheAddressOnceAndClicksWaitForTheOpener) {
    UniqueHandle mayReturn(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    g_browserMayReturn = mayReturn.get();
    g_opened.clear();
    g_systemCalls.shellExecuteW = &slowBrowser;
    openMainDialog();
    struct Seen {
        bool runningAfterDoubleClick = false;
        bool endedAfterRelease = false;
        bool endedAfterSecond = false;
    } seen;
    showWhile(kAboutTitle, [&](HWND box) {
        doubleClick(box, IDC_HOMEPAGE);
        Sleep(300);  // the posted clicks are served by the box's own loop
        seen.runningAfterDoubleClick = urlOpenThread != nullptr;
        click(box, IDC_USAGE);  // ignored: an opener runs
        click(box, IDC_HOMEPAGE);
        SetEvent(g_browserMayReturn);
        seen.endedAfterRelease = waitForNoAddressThread();
        click(box, IDC_USAGE);  // usable again
        seen.endedAfterSecond = waitForNoAddressThread();
        pressEscape(box);
        return true;
    });
    EXPECT_TRUE(seen.runningAfterDoubleClick);
    EXPECT_TRUE(seen.endedAfterRelease);
    EXPECT_TRUE(seen.endedAfterSecond);
    const std::vector<std::wstring> expected = {L"open https://www.torvaworks.example/en/",
                                                L"open https://www.torvaworks.example/en/usage.html"};
    EXPECT_EQ(g_opened, expected);
}

TEST_F(AboutBox, AddressFromAFileThatIsNoWebAddressIsNotOpened) {
    writeOverrideFile(L"English.ini", L"[Parvane]\r\n535=file:///C:/windows/system32/calc.exe\r\n"
                                      L"551=C:\\windows\\notepad.exe\r\n");
    openMainDialog();
    bool anyOpener = false;
    showWhile(kAboutTitle, [&](HWND box) {
        click(box, IDC_HOMEPAGE);
        click(box, IDC_USAGE);
        anyOpener = urlOpenThread != nullptr;
        pressEscape(box);
        return true;
    });
    EXPECT_FALSE(anyOpener);
    EXPECT_TRUE(machine.shellLaunches.empty());
}

TEST_F(AboutBox, AddressButtonTextsAreCutTo255) {
    writeOverrideFile(L"English.ini", L"[Parvane]\r\nhomePage=" + std::wstring(300, L'h') + L"\r\n550=%s%d\r\n");
    openMainDialog();
    std::wstring homepage, usage;
    showWhile(kAboutTitle, [&](HWND box) {
        homepage = windowText(GetDlgItem(box, IDC_HOMEPAGE));
        usage = windowText(GetDlgItem(box, IDC_USAGE));
        pressEscape(box);
        return true;
    });
    EXPECT_EQ(homepage, std::wstring(255, L'h'));
    EXPECT_EQ(usage, L"%s%d:https://www.torvaworks.example/en/usage.html") << "a text is never a format";
}

TEST_F(AboutBox, OnlyHttpAndHttpsAddressesAreOpened) {
    struct Row {
        const wchar_t* address;
        bool opened;
    };
    const Row rows[] = {
        {L"https://www.torvaworks.example/en/usage.html", true},
        {L"http://www.torvaworks.example/", true},
        {L"HTTPS://WWW.TORVAWORKS.EXAMPLE/", true},
        {L"file:///C:/windows/system32/calc.exe", false},
        {L"C:\\windows\\notepad.exe", false},
        {L"notepad.exe", false},
        {L"\\\\server\\share\\setup.exe", false},
        {L"https:/www.torvaworks.example/", false},
        {L"mailto:support@torvaworks.example", false},
    };
    // Text 551 is not kept from the start: each lookup reads the file again. The first
    // lookup finds English.ini, so that is the override file for the rest of the run.
    for (const Row& r : rows) {
        writeOverrideFile(L"English.ini", std::wstring(L"[Parvane]\r\n551=") + r.address + L"\r\n");
        machine.shellLaunches.clear();
        EXPECT_EQ(startAddressThread(551), r.opened ? TRUE : FALSE);
        ASSERT_TRUE(waitForNoAddressThread());
        ASSERT_EQ(machine.shellLaunches.size(), r.opened ? 1u : 0u);
        if (r.opened) {
            EXPECT_EQ(machine.shellLaunches[0].verb, L"open");
            EXPECT_EQ(machine.shellLaunches[0].file, r.address);
        }
    }
}

}  // namespace
