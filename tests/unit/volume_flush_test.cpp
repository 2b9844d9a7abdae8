// The local volume flush on simulated volumes: lock, unlock and the forced dismount.
#include "tool/service/service_commands.h"

#include "sim/machine.h"
#include "sim/scenarios.h"

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

// Another program's open handle on the volume, as Windows treats it when the tool opens and
// locks the volume: its share mode may refuse the open, and any open handle refuses the lock.
struct HolderCase {
    const char* name;
    DWORD access, share;
    BOOL flushed;
    int locks;  // a refused open never gets to the lock
};

TEST(MyVolumeFlush, RefusedByAnotherProgramsHandle) {
    const HolderCase cases[] = {
        {"a program's file: open, lock refused", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, FALSE, 1},
        {"a disk utility alone on the volume: sharing violation", GENERIC_READ, 0, FALSE, 0},
        {"a reader that shares no writing: the tool reads only", GENERIC_READ, FILE_SHARE_READ, FALSE, 1},
        {"a writer that shares no reading: sharing violation", GENERIC_WRITE, FILE_SHARE_WRITE, FALSE, 0},
        {"a handle without data access still refuses the lock", 0, 0, FALSE, 1},
    };
    for (const HolderCase& c : cases) {
        SimulatedMachine machine;
        SimDrive stick = addUsbStick(machine, L'E', 1);
        SimDevice& volume = *machine.findDevice(L"\\\\.\\E:");
        ASSERT_GE(machine.holdOpen(volume.path, c.access, c.share), 0) << c.name;
        EXPECT_EQ(myVolumeFlush(L"E:"), c.flushed) << c.name;
        EXPECT_EQ(volume.locks, c.locks) << c.name;
        EXPECT_EQ(volume.dismounts, 0) << c.name << ": nothing forced behind the user's back";
        EXPECT_TRUE(machine.messageBoxes.empty()) << c.name;
    }
}

TEST(MyVolumeFlush, SucceedsOnceTheProgramHasClosedItsFile) {
    SimulatedMachine machine;
    addUsbStick(machine, L'E', 1);
    int file = machine.holdOpen(L"\\\\.\\E:");
    ASSERT_GE(file, 0);
    EXPECT_FALSE(myVolumeFlush(L"E:"));
    machine.closeHeld(file);
    EXPECT_TRUE(myVolumeFlush(L"E:"));
    SimDevice& volume = *machine.findDevice(L"\\\\.\\E:");
    EXPECT_EQ(volume.locks, 2);
    EXPECT_EQ(volume.unlocks, 1);
    EXPECT_EQ(volume.dismounts, 0);
}

// The program closes its file 700 ms after the first try: the fifth try, after four pauses of
// 200 ms, finds the volume free.
TEST(FlushVolume, RetriesUntilTheProgramHasClosedItsFile) {
    SimulatedMachine machine;
    addUsbStick(machine, L'E', 1);
    int file = machine.holdOpen(L"\\\\.\\E:");
    machine.closeHeldAt(file, machine.now + 700);
    EXPECT_TRUE(flushVolume(L"E:"));
    EXPECT_EQ(machine.sleeps, std::vector<DWORD>(4, 200));
    EXPECT_EQ(machine.findDevice(L"\\\\.\\E:")->locks, 5);
    EXPECT_FALSE(machine.isHeldOpen(file));
}

// A drive argument whose volume path would not fit is no volume: a cut path could name another.
TEST(MyVolumeFlush, ADriveArgumentTooLongForThePathOpensNothing) {
    SimulatedMachine machine;
    const std::wstring fits(59, L'E');  // "\\\\.\\" and 59 characters fill 63 units
    const std::wstring tooLong(60, L'E');
    machine.addDevice(L"\\\\.\\" + fits);  // where a cut path would lead
    EXPECT_TRUE(myVolumeFlush(fits.c_str()));
    EXPECT_FALSE(myVolumeFlush(tooLong.c_str()));
    EXPECT_EQ(machine.deviceOpens, 1);
}

}  // namespace
