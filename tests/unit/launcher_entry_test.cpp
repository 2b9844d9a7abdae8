// The launcher's entry, in process: the "open" form, the version gate, a running tool brought
// forward, a launch already under way, and the failure box before the linger.
#include "launcher/entry.h"

#include "common/instance_names.h"
#include "common/texts.h"
#include "platform/owners.h"
#include "sim/machine.h"
#include "support/fixture_drive.h"
#include "support/launcher_seam.h"

#include <gtest/gtest.h>

#include <string>

namespace {

struct OpenCase {
    const wchar_t* commandLine;
    bool opens;
    const wchar_t* root;
};

TEST(LauncherOpenForm, OnlyTheSingleWordOpensTheDriveRoot) {
    const OpenCase cases[] = {
        {L"E:\\Parvane.exe open", true, L"E:\\"},
        {L"\"G:\\Stick\\Parvane.exe\" OPEN", true, L"G:\\"},
        {L"Parvane.exe Open", true, L"P:\\"},  // the letter comes from the name as written
        {L"E:\\Parvane.exe open now", false, nullptr},
        {L"E:\\Parvane.exe opened", false, nullptr},
        {L"E:\\Parvane.exe", false, nullptr},
        {L"", false, nullptr},
    };
    for (const OpenCase& c : cases) {
        SCOPED_TRACE(::testing::Message() << c.commandLine);
        SimulatedMachine machine;
        EXPECT_EQ(handleOpenForm(c.commandLine), c.opens);
        if (!c.opens) {
            EXPECT_TRUE(machine.shellLaunches.empty());
            continue;
        }
        ASSERT_EQ(machine.shellLaunches.size(), 1u);
        EXPECT_EQ(machine.shellLaunches[0].verb, L"open");
        EXPECT_EQ(machine.shellLaunches[0].file, c.root);
        EXPECT_EQ(machine.shellLaunches[0].parameters, L"");
    }
}

bool objectExists(const wchar_t* eventName) {
    UniqueHandle event(OpenEventW(SYNCHRONIZE, FALSE, eventName));
    return event.valid();
}

// A window with the tool's title, as the running tool's main dialog would have.
class StandInWindow {
public:
    explicit StandInWindow(const wchar_t* title)
        : window_(CreateWindowExW(0, L"STATIC", title, WS_OVERLAPPEDWINDOW | WS_VISIBLE, 10, 10, 200, 100, nullptr,
                                  nullptr, GetModuleHandleW(nullptr), nullptr)) {}
    ~StandInWindow() {
        if (window_) DestroyWindow(window_);
    }
    HWND get() const { return window_; }

private:
    HWND window_;
};

void pumpMessages() {
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
}

class LauncherEntry : public ::testing::Test {
protected:
    void SetUp() override { clearFixtureDrive(); }
    void TearDown() override { clearFixtureDrive(); }

    SimulatedMachine machine;
    LauncherSeam seam;
};

TEST_F(LauncherEntry, OldWindowsIsRefusedBeforeAnyNamedObject) {
    machine.majorVersion = 5;
    machine.minorVersion = 1;
    UniqueHandle tool(CreateMutexW(nullptr, TRUE, TOOL_MUTEX_NAME));
    EXPECT_EQ(runLauncherEntry(L"E:\\Parvane.exe"), 0);
    ASSERT_EQ(machine.messageBoxes.size(), 1u);
    EXPECT_EQ(machine.messageBoxes[0].text, L"The version of Windows doesn't correspond.");
    EXPECT_EQ(machine.messageBoxes[0].caption, L"Stravio Ver.5.1.0");
    EXPECT_EQ(machine.messageBoxes[0].flags, static_cast<UINT>(MB_ICONERROR));
}

TEST_F(LauncherEntry, OpenFormComesBeforeTheVersionGate) {
    machine.majorVersion = 5;
    EXPECT_EQ(runLauncherEntry(L"E:\\Parvane.exe open"), 0);
    EXPECT_TRUE(machine.messageBoxes.empty());
    ASSERT_EQ(machine.shellLaunches.size(), 1u);
    EXPECT_EQ(machine.shellLaunches[0].file, L"E:\\");
}

// With a tool running, the launcher brings its window forward, also when an override makes
// the title longer than 63 units, and shows and starts nothing.
TEST_F(LauncherEntry, RunningToolIsBroughtForward) {
    const wchar_t* productNames[] = {L"", L"A product name long enough to take the tool's title past sixty-three units"};
    for (const wchar_t* name : productNames) {
        SCOPED_TRACE(::testing::Message() << "product name \"" << name << "\"");
        if (name[0]) writeOverrideFile(L"default.ini", std::wstring(L"[Parvane]\r\n521=") + name + L"\r\n");
        // The tool's dialog shows its title cut to 63 units; the long name reaches that cut.
        std::wstring title = toolWindowTitle();
        ASSERT_EQ(title.size() == 63, name[0] != 0);
        UniqueHandle tool(CreateMutexW(nullptr, TRUE, TOOL_MUTEX_NAME));
        StandInWindow standIn(title.c_str());
        StandInWindow other(L"another window");
        SetForegroundWindow(other.get());
        pumpMessages();
        ASSERT_EQ(GetForegroundWindow(), other.get());
        EXPECT_EQ(runLauncherEntry(L"E:\\Parvane.exe"), 0);
        pumpMessages();
        EXPECT_EQ(GetForegroundWindow(), standIn.get());
        EXPECT_TRUE(machine.messageBoxes.empty());
        EXPECT_TRUE(seam.startRequests.empty());
        EXPECT_FALSE(objectExists(LAUNCHER_EVENT_NAME));
    }
}

TEST_F(LauncherEntry, LaunchUnderWayElsewhereMeansNothingToDo) {
    UniqueHandle otherLauncher(CreateEventW(nullptr, TRUE, FALSE, LAUNCHER_EVENT_NAME));
    DWORD start = GetTickCount();
    EXPECT_EQ(runLauncherEntry(L"E:\\Parvane.exe"), 0);
    EXPECT_LT(GetTickCount() - start, static_cast<DWORD>(LAUNCHER_LINGER_MS)) << "no linger";
    EXPECT_TRUE(machine.messageBoxes.empty());
    EXPECT_TRUE(seam.startRequests.empty());
    EXPECT_EQ(seam.adminQueries, 0);
    UniqueHandle tool(OpenMutexW(SYNCHRONIZE, FALSE, TOOL_MUTEX_NAME));
    EXPECT_FALSE(tool.valid()) << "the mutex is only tested, never kept";
}

TEST_F(LauncherEntry, FailedLaunchShowsItsCodeThenLingers) {
    machine.nativeArchitecture = PROCESSOR_ARCHITECTURE_IA64;
    DWORD start = GetTickCount();
    EXPECT_EQ(runLauncherEntry(L"E:\\Parvane.exe"), 0);
    DWORD elapsed = GetTickCount() - start;
    ASSERT_EQ(machine.messageBoxes.size(), 1u);
    EXPECT_EQ(machine.messageBoxes[0].text, L"Some errors occurred.(721)");
    EXPECT_EQ(machine.messageBoxes[0].caption, L"Safely Remove Tool@Stravio Ver.5.1.0");
    EXPECT_EQ(machine.messageBoxes[0].owner, nullptr);
    EXPECT_EQ(machine.messageBoxes[0].flags, static_cast<UINT>(MB_ICONERROR));
    // No tool will set the event, so the launcher waits it out after the box.
    EXPECT_GE(elapsed, static_cast<DWORD>(LAUNCHER_LINGER_MS) - 50);
    EXPECT_FALSE(objectExists(LAUNCHER_EVENT_NAME)) << "the launch phase ends with the launcher";
}

TEST_F(LauncherEntry, LaunchEndsWhenTheToolSetsTheEvent) {
    seam.startSetsLauncherEvent = true;
    EXPECT_EQ(runLauncherEntry(L"E:\\Parvane.exe"), 0);
    DWORD end = GetTickCount();
    EXPECT_TRUE(machine.messageBoxes.empty());
    ASSERT_EQ(seam.startRequests.size(), 1u);
    EXPECT_LT(end - seam.startRequests[0].tick, static_cast<DWORD>(LAUNCHER_LINGER_MS) / 2)
        << "the set event ends the linger";
}

}  // namespace
