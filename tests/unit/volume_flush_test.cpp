// The local volume flush on simulated volumes: lock, unlock and the forced dismount.
#include "tool/service/service_commands.h"

#include "sim/machine.h"

#include <gtest/gtest.h>

#include <shlobj.h>

namespace {

const wchar_t kDrive[] = L"E: ";
const wchar_t kVolume[] = L"\\\\.\\E: ";

struct FlushCase {
    const char* name;
    bool lock, unlock, dismount;
    BOOL expected;
    int dismounts;
    bool box;
};

TEST(MyVolumeFlush, LocksAndNeverForcesWhatItCouldNotLock) {
    const FlushCase cases[] = {
        {"lock and unlock", true, true, true, TRUE, 0, false},
        // Open files: no dismount behind the user's back.
        {"lock fails", false, true, true, FALSE, 0, false},
        {"unlock fails, dismount works", true, false, true, TRUE, 1, true},
        {"unlock fails, dismount fails", true, false, false, FALSE, 1, true},
    };
    for (const FlushCase& c : cases) {
        SimulatedMachine machine;
        SimDevice& volume = machine.addDevice(kVolume);
        volume.lockSucceeds = c.lock;
        volume.unlockSucceeds = c.unlock;
        volume.dismountSucceeds = c.dismount;
        EXPECT_EQ(myVolumeFlush(kDrive), c.expected) << c.name;
        EXPECT_EQ(volume.dismounts, c.dismounts) << c.name;
        EXPECT_EQ(volume.openAccess, std::vector<DWORD>{GENERIC_READ}) << c.name;
        ASSERT_EQ(machine.messageBoxes.size(), c.box ? 1u : 0u) << c.name;
        if (c.box) {
            EXPECT_EQ(machine.messageBoxes[0].text, L"myVolumeFlush");
            EXPECT_EQ(machine.messageBoxes[0].caption, L"");
            EXPECT_EQ(machine.messageBoxes[0].flags, static_cast<UINT>(MB_ICONERROR | MB_SYSTEMMODAL));
        }
    }
}

TEST(FlushVolume, WithoutServiceNotifiesTheShellThenRetries) {
    SimulatedMachine machine;
    SimDevice& volume = machine.addDevice(kVolume);
    volume.lockSucceeds = false;
    EXPECT_FALSE(flushVolume(kDrive));
    ASSERT_EQ(machine.shellNotifications.size(), 2u);
    EXPECT_EQ(machine.shellNotifications[0].event, SHCNE_DRIVEREMOVED);
    EXPECT_EQ(machine.shellNotifications[1].event, SHCNE_DRIVEADD);
    for (const ShellNotification& n : machine.shellNotifications) {
        EXPECT_EQ(n.flags, static_cast<UINT>(SHCNF_PATHW));
        EXPECT_EQ(n.path, L"E:\\");
    }
    EXPECT_EQ(volume.locks, 25);
    EXPECT_EQ(machine.sleeps, std::vector<DWORD>(25, 200));
    EXPECT_EQ(volume.dismounts, 0);
}

TEST(FlushVolume, StopsAtTheFirstSuccess) {
    SimulatedMachine machine;
    SimDevice& volume = machine.addDevice(kVolume);
    volume.opens = false;
    // The volume opens from the third try on.
    struct Opener {
        static void WINAPI sleep(DWORD ms) {
            SimulatedMachine& m = SimulatedMachine::current();
            m.sleeps.push_back(ms);
            if (m.sleeps.size() == 2) m.findDevice(kVolume)->opens = true;
        }
    };
    g_systemCalls.sleep = &Opener::sleep;
    EXPECT_TRUE(flushVolume(kDrive));
    EXPECT_EQ(machine.sleeps, std::vector<DWORD>(2, 200));
    EXPECT_EQ(volume.locks, 1);
}

}  // namespace
