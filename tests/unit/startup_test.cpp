// The removal tool's start-up up to the service decision, in this process: the named mutex and
// event are real, the machine (version, administrator, message boxes) is simulated.
#include "tool/shell/startup.h"

#include "platform/owners.h"
#include "sim/machine.h"
#include "support/fake_service.h"
#include "support/fixture_drive.h"
#include "support/header_writer.h"
#include "tool/service/protected_header.h"
#include "tool/shell/tool_state.h"

#include <gtest/gtest.h>

#include <string>

namespace {

const wchar_t kToolTitle[] = L"Safely Remove Tool@Stravio# Ver.5.1.0";

// The start-up up to the main dialog: the exit code it ends with, 0 also when the dialog
// would come next. The mutex it took is released on return.
int startUp(const char* commandLine, bool* dialogNext = nullptr) {
    UniqueHandle mutex;
    int exitCode = -1;
    bool next = passStartupChecks(commandLine, mutex, exitCode);
    if (dialogNext) *dialogNext = next;
    return exitCode;
}

class Startup : public ::testing::Test {
protected:
    // Drive E: is the volume of disk 1, an MBR disk without a protected area.
    void SetUp() override {
        clearFixtureDrive();
        machine.addDevice(L"\\\\.\\E:").deviceNumber = 1;
        machine.addDevice(L"\\\\.\\PHYSICALDRIVE1");
    }
    void TearDown() override {
        clearFixtureDrive();
        DeleteFileW(L"E:\\autorun.inf");
    }

    // The launcher's side: the event it creates and waits on during its launch phase.
    UniqueHandle launcherEvent{CreateEventW(nullptr, TRUE, FALSE, LAUNCHER_EVENT_NAME)};
    bool launcherReleased() const { return WaitForSingleObject(launcherEvent.get(), 0) == WAIT_OBJECT_0; }
    SimulatedMachine machine;
};

TEST_F(Startup, EmptyCommandLineEndsSilently) {
    EXPECT_EQ(startUp(""), 0);
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
        EXPECT_EQ(startUp("E: "), 0);
        ASSERT_EQ(machine.messageBoxes.size(), 1u);
        EXPECT_EQ(machine.messageBoxes[0].text, L"The version of Windows doesn't correspond.");
        EXPECT_EQ(machine.messageBoxes[0].caption, L"Stravio# Ver.5.1.0");
        EXPECT_EQ(machine.messageBoxes[0].flags, static_cast<UINT>(MB_ICONERROR));
        EXPECT_FALSE(launcherReleased());
    }
}

TEST_F(Startup, SecondInstanceShowsText531AndLeavesTheLauncherWaiting) {
    UniqueHandle runningTool(CreateMutexW(nullptr, TRUE, TOOL_MUTEX_NAME));
    EXPECT_EQ(startUp("E: "), 0);
    ASSERT_EQ(machine.messageBoxes.size(), 1u);
    EXPECT_EQ(machine.messageBoxes[0].owner, nullptr);
    EXPECT_EQ(machine.messageBoxes[0].text, L"It has already started.");
    EXPECT_EQ(machine.messageBoxes[0].caption, kToolTitle);
    EXPECT_EQ(machine.messageBoxes[0].flags, static_cast<UINT>(MB_ICONERROR));
    EXPECT_FALSE(launcherReleased());
}

TEST_F(Startup, ReleasesTheLauncherOnceTheMutexIsHeld) {
    bool dialogNext = false;
    EXPECT_EQ(startUp("E: ", &dialogNext), 0);
    EXPECT_TRUE(dialogNext);
    EXPECT_TRUE(machine.messageBoxes.empty());
    EXPECT_TRUE(launcherReleased());
    EXPECT_STREQ(driveArgument, L"E: ");
}

TEST_F(Startup, WithoutALauncherStartUpGoesOn) {
    launcherEvent.reset();
    EXPECT_EQ(startUp("E: "), 0);
    EXPECT_TRUE(machine.messageBoxes.empty());
}

TEST_F(Startup, NoServiceAndNoAdministratorGetsText532AfterTheRelease) {
    machine.userIsAdmin = FALSE;
    EXPECT_EQ(startUp("E: "), 0);
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
    EXPECT_EQ(startUp("e: "), 0);
    ASSERT_EQ(machine.messageBoxes.size(), 1u);
    EXPECT_EQ(machine.messageBoxes[0].text, L"Already\r\nrunning");
    EXPECT_EQ(machine.messageBoxes[0].caption, L"Safely Remove Tool@Acme# Ver.5.1.0");
}

TEST_F(Startup, LongCommandLineIsCutTo259) {
    std::string longLine = "E: " + std::string(400, 'x');
    EXPECT_EQ(startUp(longLine.c_str()), 0);
    EXPECT_EQ(wcslen(driveArgument), 259u);
    EXPECT_EQ(std::wstring(driveArgument), std::wstring(L"E: ") + std::wstring(256, L'x'));
}

const wchar_t kChangedAutorun[] = L"[autorun]\r\nopen=evil.exe\r\n";
const wchar_t kGuardText[] =
    L"The risk of change autorun.inf file has been detected. Please confirm the contents of autorun.inf file.";

struct GuardCase {
    const char* name;
    uint32_t signature;
    unsigned char suppressed, enabled;
    const wchar_t* autorun;  // null: no autorun.inf
    bool headerReadable;
    bool warned;
};

TEST_F(Startup, HeaderDecidesTheAutorunGuard) {
    const GuardCase cases[] = {
        {"asked, changed", 0x4A8B7C6F, 0, 1, kChangedAutorun, true, true},
        {"asked with 7, changed", 0x4A8B7C8F, 0, 7, kChangedAutorun, true, true},
        {"asked, intact", 0x4A8B7C6F, 0, 1, L"[autorun]\r\nopen=Parvane.exe open\r\n", true, false},
        {"asked, no file", 0x4A8B7C6F, 0, 1, nullptr, true, false},
        {"suppressed", 0x4A8B7C7F, 1, 1, kChangedAutorun, true, false},
        {"not enabled", 0x4A8B7C7F, 0, 0, kChangedAutorun, true, false},
        {"unknown signature", 0x4A8B7C9F, 0, 1, kChangedAutorun, true, false},
        {"header unreadable", 0x4A8B7C6F, 0, 1, kChangedAutorun, false, false},
    };
    for (const GuardCase& c : cases) {
        SimDevice& disk = *machine.findDevice(L"\\\\.\\PHYSICALDRIVE1");
        disk.opens = c.headerReadable;
        disk.write(3 * 512, encryptHeader(plainHeader(c.signature, c.suppressed, c.enabled), HEADER_CIPHER_UNIT));
        DeleteFileW(L"E:\\autorun.inf");
        if (c.autorun) {
            ASSERT_TRUE(writeUnicodeFile(L"E:\\autorun.inf", c.autorun));
        }
        machine.messageBoxes.clear();
        EXPECT_EQ(startUp("E: "), 0) << c.name;
        ASSERT_EQ(machine.messageBoxes.size(), c.warned ? 1u : 0u) << c.name;
        if (c.warned) {
            EXPECT_EQ(machine.messageBoxes[0].owner, nullptr);
            EXPECT_EQ(machine.messageBoxes[0].text, kGuardText);
            EXPECT_EQ(machine.messageBoxes[0].caption, kToolTitle);
            EXPECT_EQ(machine.messageBoxes[0].flags, static_cast<UINT>(MB_TOPMOST | MB_ICONERROR));
        }
    }
}

TEST_F(Startup, NoDiskNumberEndsWith548Silently) {
    machine.findDevice(L"\\\\.\\E:")->deviceNumber = -1;
    bool dialogNext = true;
    EXPECT_EQ(startUp("E: ", &dialogNext), 548);
    EXPECT_FALSE(dialogNext);
    EXPECT_TRUE(machine.messageBoxes.empty());
    EXPECT_TRUE(launcherReleased());
}

std::string message(const char* body) {
    return std::string("\x01" "Lumagate" "\x1f" "V2" "\x1f" "\x02") + body + "\x03";
}

TEST_F(Startup, WithTheServiceEveryStepAsksIt) {
    machine.userIsAdmin = FALSE;
    const std::string plain = plainHeader(0x4A8B7C6F, 0, 1);
    TempFile stored(encryptHeader(plain, HEADER_CIPHER_UNIT));
    FakeService service(L"[GDN]\r\nfield2=2\r\n[GPS]\r\ndword=1\r\n[GSL]\r\ndword=512\r\n"
                        L"[SRD]\r\nsector_file=" + stored.path() + L"\r\n");
    ASSERT_TRUE(writeUnicodeFile(L"E:\\autorun.inf", kChangedAutorun));
    EXPECT_EQ(startUp("E: "), 0);
    service.stop();
    const std::string end = message("END\x1fLumgatS\x1f");
    std::vector<std::vector<std::string>> expected = {
        {end},  // the probe sends nothing else
        {message("GDN\x1fLumgatS\x1f" "E: \x1f"), end},
        {message("GPS\x1fLumgatS\x1f\\\\.\\PHYSICALDRIVE2\x1f"), end},
        {message("GSL\x1fLumgatS\x1f\\\\.\\PHYSICALDRIVE2\x1f"), end},
        {message("SRD\x1fLumgatS\x1f\\\\.\\PHYSICALDRIVE2\x1f" "34\x1f" "512\x1f"), end},
    };
    EXPECT_EQ(service.requestsByConnection(), expected);
    ASSERT_EQ(machine.messageBoxes.size(), 1u);
    EXPECT_EQ(machine.messageBoxes[0].text, kGuardText);
    EXPECT_EQ(machine.deviceOpens, 0) << "no local disk access with the service";
}

TEST_F(Startup, ServiceWithoutADiskNumberEndsWith548) {
    machine.userIsAdmin = FALSE;
    FakeService service(L"[GDN]\r\nstatus=NG\r\nfield2=520\r\n");
    EXPECT_EQ(startUp("E: "), 548);
    EXPECT_TRUE(machine.messageBoxes.empty());
}

}  // namespace
