// The removal tool's start-up up to the service decision, in this process: the named mutex and
// event are real, the machine (version, administrator, message boxes) is simulated.
#include "tool/shell/startup.h"

#include "platform/owners.h"
#include "sim/machine.h"
#include "support/fixture_drive.h"
#include "tool/shell/tool_state.h"

#include <gtest/gtest.h>

#include <string>

namespace {

const wchar_t kToolTitle[] = L"Safely Remove Tool@Stravio# Ver.5.1.0";

class Startup : public ::testing::Test {
protected:
    void SetUp() override { clearFixtureDrive(); }
    void TearDown() override { clearFixtureDrive(); }

    // The launcher's side: the event it creates and waits on during its launch phase.
    UniqueHandle launcherEvent{CreateEventW(nullptr, TRUE, FALSE, LAUNCHER_EVENT_NAME)};
    bool launcherReleased() const { return WaitForSingleObject(launcherEvent.get(), 0) == WAIT_OBJECT_0; }
    SimulatedMachine machine;
};

TEST_F(Startup, EmptyCommandLineEndsSilently) {
    EXPECT_EQ(runRemovalTool(nullptr, ""), 0);
    EXPECT_TRUE(machine.messageBoxes.empty());
    EXPECT_FALSE(launcherReleased());
    UniqueHandle mutex(OpenMutexW(SYNCHRONIZE, FALSE, TOOL_MUTEX_NAME));
    EXPECT_FALSE(mutex.valid()) << "no mutex was created";
}

TEST_F(Startup, OldWindowsGetsText507BeforeAnyNamedObject) {
    const DWORD versions[][2] = {{5, 0}, {5, 1}, {5, 2}};
    for (const auto& v : versions) {
        machine.majorVersion = v[0];
        machine.minorVersion = v[1];
        machine.messageBoxes.clear();
        EXPECT_EQ(runRemovalTool(nullptr, "E: "), 0);
        ASSERT_EQ(machine.messageBoxes.size(), 1u);
        EXPECT_EQ(machine.messageBoxes[0].text, L"The version of Windows doesn't correspond.");
        EXPECT_EQ(machine.messageBoxes[0].caption, L"Stravio# Ver.5.1.0");
        EXPECT_EQ(machine.messageBoxes[0].flags, static_cast<UINT>(MB_ICONERROR));
        EXPECT_FALSE(launcherReleased());
    }
}

TEST_F(Startup, SecondInstanceShowsText531AndLeavesTheLauncherWaiting) {
    UniqueHandle runningTool(CreateMutexW(nullptr, TRUE, TOOL_MUTEX_NAME));
    EXPECT_EQ(runRemovalTool(nullptr, "E: "), 0);
    ASSERT_EQ(machine.messageBoxes.size(), 1u);
    EXPECT_EQ(machine.messageBoxes[0].owner, nullptr);
    EXPECT_EQ(machine.messageBoxes[0].text, L"It has already started.");
    EXPECT_EQ(machine.messageBoxes[0].caption, kToolTitle);
    EXPECT_EQ(machine.messageBoxes[0].flags, static_cast<UINT>(MB_ICONERROR));
    EXPECT_FALSE(launcherReleased());
}

TEST_F(Startup, ReleasesTheLauncherOnceTheMutexIsHeld) {
    EXPECT_EQ(runRemovalTool(nullptr, "E: "), 0);
    EXPECT_TRUE(machine.messageBoxes.empty());
    EXPECT_TRUE(launcherReleased());
    EXPECT_STREQ(driveArgument, L"E: ");
}

TEST_F(Startup, WithoutALauncherStartUpGoesOn) {
    launcherEvent.reset();
    EXPECT_EQ(runRemovalTool(nullptr, "E: "), 0);
    EXPECT_TRUE(machine.messageBoxes.empty());
}

TEST_F(Startup, NoServiceAndNoAdministratorGetsText532AfterTheRelease) {
    machine.userIsAdmin = FALSE;
    EXPECT_EQ(runRemovalTool(nullptr, "E: "), 0);
    ASSERT_EQ(machine.messageBoxes.size(), 1u);
    EXPECT_EQ(machine.messageBoxes[0].owner, nullptr);
    EXPECT_EQ(machine.messageBoxes[0].text, L"It is not treatable in Limited acount.");
    EXPECT_EQ(machine.messageBoxes[0].caption, kToolTitle);
    EXPECT_EQ(machine.messageBoxes[0].flags, static_cast<UINT>(MB_ICONERROR));
    EXPECT_TRUE(launcherReleased());
    EXPECT_FALSE(serviceAvailable);
}

TEST_F(Startup, OverridesComeFromTheDriveOfTheArgument) {
    writeOverrideFile(L"English.ini", L"[Parvane]\r\nerrorMultiStart=Already\\nrunning\r\n521=Acme\r\n");
    UniqueHandle runningTool(CreateMutexW(nullptr, TRUE, TOOL_MUTEX_NAME));
    EXPECT_EQ(runRemovalTool(nullptr, "e: "), 0);
    ASSERT_EQ(machine.messageBoxes.size(), 1u);
    EXPECT_EQ(machine.messageBoxes[0].text, L"Already\r\nrunning");
    EXPECT_EQ(machine.messageBoxes[0].caption, L"Safely Remove Tool@Acme# Ver.5.1.0");
}

TEST_F(Startup, LongCommandLineIsCutTo259) {
    std::string longLine = "E: " + std::string(400, 'x');
    EXPECT_EQ(runRemovalTool(nullptr, longLine.c_str()), 0);
    EXPECT_EQ(wcslen(driveArgument), 259u);
    EXPECT_EQ(std::wstring(driveArgument), std::wstring(L"E: ") + std::wstring(256, L'x'));
}

}  // namespace
