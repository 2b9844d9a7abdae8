// The main dialog with real windows in this process: its texts in both languages, the usage
// probe against this very process, resizing, the window helpers, the message loop and the
// start of workflow threads. Message boxes and thread creation go through the seam.
#include "tool/shell/main_dialog.h"

#include "common/bounded.h"
#include "common/environment.h"
#include "common/texts.h"
#include "platform/owners.h"
#include "sim/machine.h"
#include "support/dialog_driver.h"
#include "support/fixture_drive.h"
#include "tool/shell/dialog_templates.h"
#include "tool/shell/resource_ids.h"
#include "tool/shell/startup.h"
#include "tool/shell/tool_state.h"
#include "tool/shell/workflows.h"

#include <commctrl.h>
#include <gtest/gtest.h>

#include <string>

namespace {

const wchar_t kTitle[] = L"Safely Remove Tool@Stravio# Ver.5.1.0";
const wchar_t kSelectAction[] = L"Please select what to do next.";

// The usage scan sees only this test process, whose current directory the tests move.
BOOL WINAPI onlyThisProcess(DWORD* ids, DWORD size, DWORD* returned) {
    if (size < sizeof(DWORD)) return FALSE;
    ids[0] = GetCurrentProcessId();
    *returned = sizeof(DWORD);
    return TRUE;
}

std::wstring thisProgramName() {
    wchar_t path[MAX_PATH] = L"";
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring p(path);
    return p.substr(p.find_last_of(L'\\') + 1);
}

class MainDialog : public ::testing::Test {
protected:
    void SetUp() override {
        clearFixtureDrive();
        removeProgramIni();
        GetCurrentDirectoryW(MAX_PATH, startDirectory);
        copyText(driveArgument, L"E: ");
        serviceAvailable = FALSE;
        toolInstance = GetModuleHandleW(nullptr);
        g_systemCalls.enumProcesses = &onlyThisProcess;  // the machine puts the real one back
    }
    void TearDown() override {
        if (dialog && IsWindow(dialog)) DestroyWindow(dialog);
        joinWorkerThread();
        discardQuitMessage();
        SetCurrentDirectoryW(startDirectory);
        clearFixtureDrive();
        removeProgramIni();
    }

    void useJapanese() {
        writeProgramIni(L"[Locale]\r\nLanguage=jp\r\n");
        applyLanguageSetting();
    }

    HWND open() {
        preloadMessageOverrides();
        dialog = createDialogFromTemplate(toolInstance, IDD_MAIN_DIALOG, nullptr, &mainDialogProc, 0);
        EXPECT_NE(dialog, nullptr);
        if (dialog) ShowWindow(dialog, SW_SHOW);
        return dialog;
    }

    bool enabled(int id) const { return IsWindowEnabled(GetDlgItem(dialog, id)) != FALSE; }
    bool timerRunning() const {
        // KillTimer tells whether the timer existed; it is set again at once.
        if (!KillTimer(dialog, USAGE_TIMER_ID)) return false;
        SetTimer(dialog, USAGE_TIMER_ID, USAGE_TIMER_PERIOD_MS, nullptr);
        return true;
    }

    SimulatedMachine machine;
    HWND dialog = nullptr;
    wchar_t startDirectory[MAX_PATH] = L"";
};

struct LanguageCase {
    const char* name;
    bool japanese;
    const wchar_t* title;
    const wchar_t* hide;
    const wchar_t* remove;
    const wchar_t* helpMenu;
    const wchar_t* versionItem;
    const wchar_t* status;
};

void PrintTo(const LanguageCase& c, std::ostream* os) { *os << c.name; }

class MainDialogTexts : public MainDialog, public ::testing::WithParamInterface<LanguageCase> {};

TEST_P(MainDialogTexts, TitleIconsButtonsMenuAndStatus) {
    const LanguageCase& c = GetParam();
    if (c.japanese) useJapanese();
    ASSERT_NE(open(), nullptr);

    EXPECT_EQ(windowText(dialog), c.title);
    EXPECT_EQ(FindWindowW(L"#32770", c.title), dialog) << "the launcher finds the tool by its title";
    EXPECT_EQ(windowText(GetDlgItem(dialog, IDC_HIDE)), c.hide);
    EXPECT_EQ(windowText(GetDlgItem(dialog, IDC_REMOVE)), c.remove);
    HMENU menu = GetMenu(dialog);
    ASSERT_NE(menu, nullptr);
    EXPECT_EQ(menuText(menu, 0, MF_BYPOSITION), c.helpMenu);
    EXPECT_EQ(menuText(GetSubMenu(menu, 0), IDM_VERSION_INFO, MF_BYCOMMAND), c.versionItem);
    EXPECT_EQ(statusText(dialog), c.status);

    HMODULE module = GetModuleHandleW(nullptr);
    HICON big = reinterpret_cast<HICON>(SendMessageW(dialog, WM_GETICON, ICON_BIG, 0));
    HICON small = reinterpret_cast<HICON>(SendMessageW(dialog, WM_GETICON, ICON_SMALL, 0));
    EXPECT_EQ(big, LoadImageW(module, MAKEINTRESOURCEW(102), IMAGE_ICON, 0, 0, LR_DEFAULTSIZE | LR_SHARED));
    EXPECT_EQ(small, LoadImageW(module, MAKEINTRESOURCEW(103), IMAGE_ICON, GetSystemMetrics(SM_CXSMICON),
                                GetSystemMetrics(SM_CYSMICON), LR_SHARED));
    EXPECT_EQ(iconWidth(big), GetSystemMetrics(SM_CXICON));
    EXPECT_EQ(iconWidth(small), GetSystemMetrics(SM_CXSMICON));
}

INSTANTIATE_TEST_SUITE_P(Languages, MainDialogTexts, ::testing::Values(
    LanguageCase{"English", false, kTitle, L"Hide the &protected area", L"&Safely remove", L"&Help",
                 L"&Version info.", kSelectAction},
    LanguageCase{"Japanese", true, L"安全な取り外しツール@Stravio# Ver.5.1.0", L"保護領域を隠す(&P)",
                 L"安全な取り外し(&S)", L"ヘルプ(&H)", L"バージョン情報(&A)", L"処理を選択して下さい。"}),
    [](const ::testing::TestParamInfo<LanguageCase>& info) { return std::string(info.param.name); });

TEST_F(MainDialog, OverriddenTitleIsCutToItsCaption) {
    writeOverrideFile(L"English.ini", L"[Parvane]\r\n521=" + std::wstring(100, L'N') + L"\r\n");
    ASSERT_NE(open(), nullptr);
    std::wstring expected = (L"Safely Remove Tool@" + std::wstring(100, L'N')).substr(0, 63);
    EXPECT_EQ(windowText(dialog), expected);
}

TEST_F(MainDialog, StatusBarNamesTheProcessThatUsesTheDriveAndTheButtonsFollow) {
    ASSERT_NE(open(), nullptr);
    HWND status = GetDlgItem(dialog, IDC_STATUS_BAR);
    ASSERT_NE(status, nullptr);
    EXPECT_TRUE(SendMessageW(status, SB_ISSIMPLE, 0, 0));
    EXPECT_EQ(GetWindowLongW(status, GWL_STYLE) & (SBARS_SIZEGRIP | CCS_BOTTOM), SBARS_SIZEGRIP | CCS_BOTTOM);
    EXPECT_EQ(statusText(dialog), kSelectAction);
    EXPECT_TRUE(enabled(IDC_REMOVE));
    EXPECT_TRUE(enabled(IDC_HIDE));

    ASSERT_TRUE(SetCurrentDirectoryW(L"E:\\"));
    const std::wstring inUse = thisProgramName() + L" is accessing E:  drive.";
    EXPECT_TRUE(pumpUntil(dialog, [&] { return statusText(dialog) == inUse; }, 5000)) << statusText(dialog).c_str();
    EXPECT_FALSE(enabled(IDC_REMOVE));
    EXPECT_FALSE(enabled(IDC_HIDE));

    ASSERT_TRUE(SetCurrentDirectoryW(startDirectory));
    EXPECT_TRUE(pumpUntil(dialog, [&] { return statusText(dialog) == kSelectAction; }, 5000));
    EXPECT_TRUE(enabled(IDC_REMOVE));
    EXPECT_TRUE(enabled(IDC_HIDE));
}

TEST_F(MainDialog, InUseTextTakesItsPlaceholdersOnlyAndIsBounded) {
    // An override text is never a format: only its %s are filled, a %d stays as it is.
    writeOverrideFile(L"English.ini",
                      L"[Parvane]\r\nerrorUsing=%d %s on %s%s " + std::wstring(600, L'x') + L"\r\n");
    ASSERT_TRUE(SetCurrentDirectoryW(L"E:\\"));
    ASSERT_NE(open(), nullptr);
    const std::wstring expected = (L"%d " + thisProgramName() + L" on E: %s " + std::wstring(600, L'x')).substr(0, 511);
    EXPECT_EQ(statusText(dialog), expected);
}

TEST_F(MainDialog, GrowsWiderOnlyAndTheButtonsStretchWithEqualMargins) {
    ASSERT_NE(open(), nullptr);
    const RECT start = windowRect(dialog);
    const int width = start.right - start.left;
    const int height = start.bottom - start.top;
    MINMAXINFO limits = {};
    SendMessageW(dialog, WM_GETMINMAXINFO, 0, reinterpret_cast<LPARAM>(&limits));
    EXPECT_EQ(limits.ptMinTrackSize.x, width);
    EXPECT_EQ(limits.ptMinTrackSize.y, height);
    EXPECT_EQ(limits.ptMaxTrackSize.y, height);

    const struct {
        int id;
        RECT start;
    } buttons[] = {{IDC_HIDE, clientRectOf(GetDlgItem(dialog, IDC_HIDE))},
                   {IDC_REMOVE, clientRectOf(GetDlgItem(dialog, IDC_REMOVE))}};
    struct Row {
        int askedWidth, askedHeight;
        int width;  // what the dialog becomes; its height never changes
    };
    const Row rows[] = {
        {width + 200, height, width + 200},
        {width + 37, height + 80, width + 37},
        {width - 60, height, width},
        {width, height - 20, width},
        {width + 1, height, width + 1},
    };
    for (const Row& r : rows) {
        SetWindowPos(dialog, nullptr, 0, 0, r.askedWidth, r.askedHeight, SWP_NOMOVE | SWP_NOZORDER);
        const RECT outer = windowRect(dialog);
        EXPECT_EQ(outer.right - outer.left, r.width) << r.askedWidth;
        EXPECT_EQ(outer.bottom - outer.top, height) << r.askedHeight;
        RECT client;
        GetClientRect(dialog, &client);
        for (const auto& b : buttons) {
            const RECT now = clientRectOf(GetDlgItem(dialog, b.id));
            EXPECT_EQ(now.left, b.start.left);
            EXPECT_EQ(now.top, b.start.top);
            EXPECT_EQ(now.bottom - now.top, b.start.bottom - b.start.top);
            EXPECT_EQ(now.right - now.left, client.right - 2 * b.start.left) << b.id << " at " << r.askedWidth;
        }
        const RECT status = clientRectOf(GetDlgItem(dialog, IDC_STATUS_BAR));
        EXPECT_EQ(status.bottom, client.bottom);
        EXPECT_EQ(status.right - status.left, client.right);
    }
}

TEST_F(MainDialog, CenterWindowOverOwnerOrDesktopAndBackOntoTheDesktop) {
    const RECT desktop = windowRect(GetDesktopWindow());
    if (desktop.left != 0 || desktop.top != 0 || desktop.right != 1280 || desktop.bottom != 800)
        GTEST_SKIP() << "the table is for the test display's 1280 x 800 desktop";
    struct Row {
        const char* name;
        RECT owner;  // empty: no owner, centred over the desktop
        int width, height;
        POINT expected;
    };
    const Row rows[] = {
        {"desktop", {}, 200, 100, {540, 350}},
        {"desktop, odd difference", {}, 201, 101, {539, 349}},
        {"owner", {100, 100, 500, 400}, 200, 100, {200, 200}},
        {"wider than the owner", {100, 100, 400, 300}, 301, 203, {100, 99}},
        {"owner off the right and bottom", {1100, 700, 1400, 900}, 200, 100, {1080, 700}},
        {"owner off the left and top", {-300, -200, 100, 100}, 200, 100, {0, 0}},
        {"larger than the desktop", {}, 1400, 900, {0, 0}},
    };
    for (const Row& r : rows) {
        UniqueWindow owner;
        if (r.owner.right > r.owner.left)
            owner.reset(CreateWindowExW(0, L"Static", L"", WS_POPUP, r.owner.left, r.owner.top,
                                        r.owner.right - r.owner.left, r.owner.bottom - r.owner.top, nullptr, nullptr,
                                        nullptr, nullptr));
        UniqueWindow window(CreateWindowExW(0, L"Static", L"", WS_POPUP, 3, 4, r.width, r.height, owner.get(), nullptr,
                                            nullptr, nullptr));
        ASSERT_TRUE(window.valid()) << r.name;
        centerWindow(window.get());
        const RECT placed = windowRect(window.get());
        EXPECT_EQ(placed.left, r.expected.x) << r.name;
        EXPECT_EQ(placed.top, r.expected.y) << r.name;
        EXPECT_EQ(placed.right - placed.left, r.width) << r.name;
    }
}

TEST_F(MainDialog, StartsCentredAndInFront) {
    ASSERT_NE(open(), nullptr);
    const RECT placed = windowRect(dialog);
    const RECT desktop = windowRect(GetDesktopWindow());
    EXPECT_EQ(placed.left, desktop.left + ((desktop.right - desktop.left) - (placed.right - placed.left)) / 2);
    EXPECT_EQ(placed.top, desktop.top + ((desktop.bottom - desktop.top) - (placed.bottom - placed.top)) / 2);
    EXPECT_EQ(GetForegroundWindow(), dialog);
}

// The message loop on this thread, a person on another.
struct LoopCase {
    const char* name;
    void (*act)(HWND dialog);
};

void PrintTo(const LoopCase& c, std::ostream* os) { *os << c.name; }

class MainDialogLoop : public MainDialog, public ::testing::WithParamInterface<LoopCase> {
protected:
    void SetUp() override {
        MainDialog::SetUp();
        machine.addDevice(L"\\\\.\\E:").deviceNumber = 1;
        machine.addDevice(L"\\\\.\\PHYSICALDRIVE1");
    }
};

TEST_P(MainDialogLoop, EndsTheToolAndReleasesTheMutexLast) {
    void (*act)(HWND) = GetParam().act;
    Person person(kTitle, [act](HWND found) {
        UniqueHandle mutex(OpenMutexW(SYNCHRONIZE, FALSE, TOOL_MUTEX_NAME));
        act(found);
        return mutex.valid();
    });
    EXPECT_EQ(runRemovalTool(GetModuleHandleW(nullptr), "E: "), 0);
    ASSERT_TRUE(person.finish()) << "the dialog did not appear or did not end the loop";
    EXPECT_TRUE(person.result()) << "the mutex is held while the dialog runs";
    UniqueHandle mutex(OpenMutexW(SYNCHRONIZE, FALSE, TOOL_MUTEX_NAME));
    EXPECT_FALSE(mutex.valid()) << "released at the end";
    EXPECT_TRUE(machine.messageBoxes.empty());
}

INSTANTIATE_TEST_SUITE_P(Ways, MainDialogLoop, ::testing::Values(
    LoopCase{"Escape", [](HWND d) { pressEscape(d); }},
    LoopCase{"CloseBox", [](HWND d) { PostMessageW(d, WM_SYSCOMMAND, SC_CLOSE, 0); }},
    LoopCase{"CloseSentByAWorkflow", [](HWND d) { SendMessageW(d, WM_CLOSE, 0, 0); }}),
    [](const ::testing::TestParamInfo<LoopCase>& info) { return std::string(info.param.name); });

TEST_F(MainDialog, WithoutItsTemplateTheToolEndsWith925) {
    // A module without dialog resources: the tool cannot show its window.
    HMODULE noDialogs = GetModuleHandleW(L"kernel32.dll");
    EXPECT_EQ(runMainDialog(noDialogs), static_cast<int>(MSG_NO_MAIN_DIALOG));
    ASSERT_EQ(machine.messageBoxes.size(), 1u);
    EXPECT_EQ(machine.messageBoxes[0].text, L"Some errors occurred.(925)");
    EXPECT_EQ(machine.messageBoxes[0].owner, nullptr);
    EXPECT_EQ(machine.messageBoxes[0].flags, static_cast<UINT>(MB_ICONERROR));
}

// Workflow threads: the seam starts a thread of the test's own in place of the workflow.
struct StartedThread {
    LPTHREAD_START_ROUTINE requested;
    HWND parameter;
};
std::vector<StartedThread> g_started;

DWORD WINAPI workflowThatReturnsTheDialog(LPVOID parameter) {
    HWND dialog = static_cast<HWND>(parameter);
    Sleep(100);
    PostMessageW(dialog, WMAPP_RESTORE_DIALOG, 0, 0);
    return 0;
}

HANDLE WINAPI startStandInWorkflow(LPSECURITY_ATTRIBUTES, SIZE_T, LPTHREAD_START_ROUTINE start, LPVOID parameter,
                                   DWORD flags, LPDWORD id) {
    g_started.push_back({start, static_cast<HWND>(parameter)});
    return CreateThread(nullptr, 0, &workflowThatReturnsTheDialog, parameter, flags, id);
}

HANDLE WINAPI failToStartThread(LPSECURITY_ATTRIBUTES, SIZE_T, LPTHREAD_START_ROUTINE, LPVOID, DWORD, LPDWORD) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
}

TEST_F(MainDialog, CommandHidesTheDialogAndTheWorkflowBringsItBack) {
    g_systemCalls.createThread = &startStandInWorkflow;
    g_started.clear();
    ASSERT_NE(open(), nullptr);
    const struct {
        int command;
        LPTHREAD_START_ROUTINE worker;
    } commands[] = {{IDC_REMOVE, &removeWorker}, {IDC_HIDE, &hideWorker}, {IDC_REMOVE, &removeWorker}};
    for (size_t i = 0; i < 3; ++i) {
        SendMessageW(dialog, WM_COMMAND, MAKEWPARAM(commands[i].command, BN_CLICKED), 0);
        EXPECT_FALSE(IsWindowVisible(dialog));
        EXPECT_FALSE(enabled(IDC_REMOVE));
        EXPECT_FALSE(enabled(IDC_HIDE));
        EXPECT_FALSE(timerRunning()) << "the usage probe is stopped while a workflow runs";
        ASSERT_EQ(g_started.size(), i + 1);
        EXPECT_EQ(g_started[i].requested, commands[i].worker);
        EXPECT_EQ(g_started[i].parameter, dialog);

        ASSERT_TRUE(pumpUntil(dialog, [&] { return IsWindowVisible(dialog) != FALSE; }, 5000));
        EXPECT_TRUE(enabled(IDC_REMOVE));
        EXPECT_TRUE(enabled(IDC_HIDE));
        EXPECT_TRUE(timerRunning());
    }
    joinWorkerThread();
    EXPECT_EQ(workerThread, INVALID_HANDLE_VALUE);
    EXPECT_TRUE(machine.messageBoxes.empty());
}

TEST_F(MainDialog, WorkflowThatCannotStartShowsItsCodeAndTheDialogComesBack) {
    g_systemCalls.createThread = &failToStartThread;
    ASSERT_NE(open(), nullptr);
    const struct {
        int command;
        const wchar_t* text;
    } rows[] = {{IDC_REMOVE, L"Some errors occurred.(927)"}, {IDC_HIDE, L"Some errors occurred.(928)"}};
    for (const auto& r : rows) {
        machine.messageBoxes.clear();
        SendMessageW(dialog, WM_COMMAND, MAKEWPARAM(r.command, BN_CLICKED), 0);
        ASSERT_EQ(machine.messageBoxes.size(), 1u);
        EXPECT_EQ(machine.messageBoxes[0].owner, nullptr);
        EXPECT_EQ(machine.messageBoxes[0].text, r.text);
        EXPECT_EQ(machine.messageBoxes[0].caption, kTitle);
        EXPECT_EQ(machine.messageBoxes[0].flags, static_cast<UINT>(MB_ICONERROR));
        EXPECT_TRUE(IsWindowVisible(dialog));
        EXPECT_TRUE(enabled(IDC_REMOVE));
        EXPECT_TRUE(enabled(IDC_HIDE));
        EXPECT_TRUE(timerRunning());
    }
}

DWORD WINAPI joinFromAnotherThread(LPVOID) {
    joinWorkerThread();
    return 0;
}

TEST_F(MainDialog, JoinNeverWaitsOnAMissingOrClosedThread) {
    for (HANDLE none : {static_cast<HANDLE>(nullptr), INVALID_HANDLE_VALUE}) {
        workerThread = none;
        UniqueHandle joining(CreateThread(nullptr, 0, &joinFromAnotherThread, nullptr, 0, nullptr));
        ASSERT_TRUE(joining.valid());
        EXPECT_EQ(WaitForSingleObject(joining.get(), 5000), static_cast<DWORD>(WAIT_OBJECT_0));
        EXPECT_EQ(workerThread, none);
    }
}

}  // namespace
