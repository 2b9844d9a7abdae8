// Restarting a device on the simulated machine: what the class installer is asked and how its
// answers are read, the retries, the presence waits on the virtual clock, and the driver's
// version answer.
#include "tool/device/device_restart.h"

#include "platform/owners.h"
#include "platform/system_calls.h"
#include "sim/scenarios.h"
#include "tool/shell/tool_state.h"

#include <gtest/gtest.h>

#include <wctype.h>

#include <string>
#include <vector>

namespace {

typedef std::vector<InstallerOutcome> Outcomes;
const InstallerOutcome kSucceeds = InstallerOutcome::Succeeds;
const InstallerOutcome kFails = InstallerOutcome::Fails;
const InstallerOutcome kRestart = InstallerOutcome::NeedsRestart;
const InstallerOutcome kReboot = InstallerOutcome::NeedsReboot;

std::vector<DWORD> states(const SimNode& node) {
    std::vector<DWORD> result;
    for (const SP_PROPCHANGE_PARAMS& change : node.propertyChanges) result.push_back(change.StateChange);
    return result;
}

// Every installer call is prepared by a global setting and then a configuration-specific one.
void expectRequestsInPairs(const SimNode& node, const char* name) {
    ASSERT_EQ(node.propertyChanges.size() % 2, 0u) << name;
    for (size_t i = 0; i < node.propertyChanges.size(); ++i) {
        const SP_PROPCHANGE_PARAMS& change = node.propertyChanges[i];
        EXPECT_EQ(change.ClassInstallHeader.cbSize, 8u) << name;
        EXPECT_EQ(change.ClassInstallHeader.InstallFunction, static_cast<DI_FUNCTION>(DIF_PROPERTYCHANGE)) << name;
        EXPECT_EQ(change.Scope, i % 2 == 0 ? DWORD(DICS_FLAG_GLOBAL) : DWORD(DICS_FLAG_CONFIGSPECIFIC)) << name;
        EXPECT_EQ(change.HwProfile, 0u) << name;
        if (i % 2) {
            EXPECT_EQ(change.StateChange, node.propertyChanges[i - 1].StateChange) << name;
        }
    }
}

struct StateCase {
    const char* name;
    int enable;
    Outcomes outcomes;
    MessageCode expected;
    std::vector<DWORD> requested;  // one state per installer call, in order
};

TEST(SetDeviceEnabled, AsksTheClassInstallerAndReadsItsAnswer) {
    static_assert(sizeof(SP_PROPCHANGE_PARAMS) == 20, "the request the class installer expects");
    const StateCase cases[] = {
        {"disable", 0, {kSucceeds}, MSG_OK, {DICS_DISABLE}},
        {"enable", 1, {kSucceeds}, MSG_OK, {DICS_ENABLE}},
        {"enable needing a restart", 1, {kRestart}, MSG_DEVICE_NOT_RENEWED, {DICS_ENABLE}},
        {"enable needing a reboot", 1, {kReboot}, MSG_DEVICE_NOT_RENEWED, {DICS_ENABLE}},
        {"enable refused", 1, {kFails}, MSG_DEVICE_CHANGE_FAILED, {DICS_ENABLE}},
        // A disable that did not take is undone at once; the disable's code is reported.
        {"disable needing a restart", 0, {kRestart, kSucceeds}, MSG_DEVICE_NOT_RENEWED, {DICS_DISABLE, DICS_ENABLE}},
        {"disable needing a reboot", 0, {kReboot, kSucceeds}, MSG_DEVICE_NOT_RENEWED, {DICS_DISABLE, DICS_ENABLE}},
        {"disable refused", 0, {kFails, kSucceeds}, MSG_DEVICE_CHANGE_FAILED, {DICS_DISABLE, DICS_ENABLE}},
        {"disable refused, enable too", 0, {kFails}, MSG_DEVICE_CHANGE_FAILED, {DICS_DISABLE, DICS_ENABLE}},
    };
    for (const StateCase& c : cases) {
        SimulatedMachine machine;
        SimDrive stick = addUsbStick(machine, L'E', 1);
        machine.pnp.node(stick.usbDevice).installerOutcomes = c.outcomes;
        EXPECT_EQ(setDeviceEnabled(stick.parentId.c_str(), c.enable), c.expected) << c.name;
        const SimNode& target = machine.pnp.node(stick.usbDevice);
        EXPECT_EQ(target.installerCalls, static_cast<int>(c.requested.size())) << c.name;
        ASSERT_EQ(target.propertyChanges.size(), 2 * c.requested.size()) << c.name;
        std::vector<DWORD> expectedStates;
        for (DWORD s : c.requested) expectedStates.insert(expectedStates.end(), 2, s);
        EXPECT_EQ(states(target), expectedStates) << c.name;
        expectRequestsInPairs(target, c.name);
        EXPECT_TRUE(machine.pnp.node(stick.disk).propertyChanges.empty()) << c.name;
        EXPECT_TRUE(machine.sleeps.empty()) << c.name;
    }
}

// Steers the seam so that one step of a change fails.
struct SteeredInstaller {
    static inline int failingSetting = 0;  // which class-install setting fails, counting from 1
    static inline int settings = 0;
    static inline bool paramsReadable = true;
    static inline bool setOpens = true;
    static inline SystemCalls simulated;

    static BOOL WINAPI setParams(HDEVINFO set, PSP_DEVINFO_DATA device, PSP_CLASSINSTALL_HEADER params, DWORD size) {
        if (++settings == failingSetting) {
            SetLastError(ERROR_INVALID_PARAMETER);
            return FALSE;
        }
        return simulated.setupDiSetClassInstallParamsW(set, device, params, size);
    }
    static BOOL WINAPI getParams(HDEVINFO set, PSP_DEVINFO_DATA device, PSP_DEVINSTALL_PARAMS_W params) {
        if (!paramsReadable) {
            SetLastError(ERROR_INVALID_PARAMETER);
            return FALSE;
        }
        return simulated.setupDiGetDeviceInstallParamsW(set, device, params);
    }
    static HDEVINFO WINAPI classDevs(const GUID* guid, PCWSTR enumerator, HWND parent, DWORD flags) {
        if (!setOpens) {
            SetLastError(ERROR_NOT_ENOUGH_MEMORY);
            return INVALID_HANDLE_VALUE;
        }
        return simulated.setupDiGetClassDevsW(guid, enumerator, parent, flags);
    }
    static void install(int failing, bool readable, bool opens) {
        failingSetting = failing;
        settings = 0;
        paramsReadable = readable;
        setOpens = opens;
        simulated = g_systemCalls;
        g_systemCalls.setupDiSetClassInstallParamsW = &setParams;
        g_systemCalls.setupDiGetDeviceInstallParamsW = &getParams;
        g_systemCalls.setupDiGetClassDevsW = &classDevs;
    }
};

struct StepCase {
    const char* name;
    int failingSetting;
    bool paramsReadable;
    InstallerOutcome outcome;
    MessageCode expected;
    int installerCalls;
};

TEST(ChangeDeviceState, EachFailingStepHasItsCode) {
    const StepCase cases[] = {
        {"global setting refused", 1, true, kSucceeds, MSG_DEVICE_CHANGE_FAILED, 0},
        {"configuration-specific setting refused", 2, true, kSucceeds, MSG_DEVICE_CHANGE_FAILED, 0},
        {"installer refuses", 0, true, kFails, MSG_DEVICE_CHANGE_FAILED, 1},
        // Unreadable install parameters give no sign of a pending restart.
        {"install parameters unreadable", 0, false, kRestart, MSG_OK, 1},
        {"restart pending", 0, true, kRestart, MSG_DEVICE_NOT_RENEWED, 1},
    };
    for (const StepCase& c : cases) {
        SimulatedMachine machine;
        SimDrive stick = addUsbStick(machine, L'E', 1);
        machine.pnp.node(stick.usbDevice).installerOutcomes = {c.outcome};
        SteeredInstaller::install(c.failingSetting, c.paramsReadable, true);
        UniqueDeviceSet set(sys().setupDiGetClassDevsW(nullptr, nullptr, nullptr, DIGCF_PRESENT | DIGCF_ALLCLASSES));
        DWORD index = 0;
        ASSERT_TRUE(findDeviceExact(set.get(), stick.parentId.c_str(), &index, nullptr)) << c.name;
        EXPECT_EQ(changeDeviceState(set.get(), index, DICS_ENABLE), c.expected) << c.name;
        EXPECT_EQ(machine.pnp.node(stick.usbDevice).installerCalls, c.installerCalls) << c.name;
    }
}

TEST(ChangeDeviceState, AnIndexOutsideTheSetSelectsNothing) {
    SimulatedMachine machine;
    addUsbStick(machine, L'E', 1);
    UniqueDeviceSet set(sys().setupDiGetClassDevsW(nullptr, nullptr, nullptr, DIGCF_PRESENT | DIGCF_ALLCLASSES));
    EXPECT_EQ(changeDeviceState(set.get(), static_cast<DWORD>(machine.pnp.nodes.size()), DICS_DISABLE),
              MSG_DEVICE_NOT_SELECTED);
    for (const SimNode& node : machine.pnp.nodes) EXPECT_TRUE(node.propertyChanges.empty());
}

std::wstring lowerCase(std::wstring id) {
    for (wchar_t& ch : id) ch = static_cast<wchar_t>(towlower(ch));
    return id;
}

struct LookupCase {
    const char* name;
    std::wstring (*target)(const SimDrive& stick);
    bool parentPresent;
    bool setOpens;
};

TEST(SetDeviceEnabled, TouchesNothingUnlessAPresentDeviceHasExactlyThatId) {
    const LookupCase cases[] = {
        {"ID in other letter case", [](const SimDrive& s) { return lowerCase(s.parentId); }, true, true},
        {"ID with more after it", [](const SimDrive& s) { return s.parentId + L"0"; }, true, true},
        {"ID cut short", [](const SimDrive& s) { return s.parentId.substr(0, s.parentId.size() - 1); }, true, true},
        {"device not present", [](const SimDrive& s) { return s.parentId; }, false, true},
        {"no device set", [](const SimDrive& s) { return s.parentId; }, true, false},
    };
    for (const LookupCase& c : cases) {
        for (int enable = 0; enable <= 1; ++enable) {
            SimulatedMachine machine;
            SimDrive stick = addUsbStick(machine, L'E', 1);
            machine.pnp.node(stick.usbDevice).present = c.parentPresent;
            SteeredInstaller::install(0, true, c.setOpens);
            std::wstring id = c.target(stick);
            EXPECT_EQ(setDeviceEnabled(id.c_str(), enable), MSG_DEVICE_NOT_RENEWED) << c.name;
            for (const SimNode& node : machine.pnp.nodes) EXPECT_EQ(node.installerCalls, 0) << c.name;
        }
    }
}

struct RetryCase {
    const char* name;
    int enable;
    Outcomes outcomes;
    MessageCode expected;
    size_t pauses;
    int installerCalls;
};

TEST(SetDeviceEnabledRetrying, FiveAttemptsWithAPauseAfterEachFailure) {
    const RetryCase cases[] = {
        {"enable at once", 1, {kSucceeds}, MSG_OK, 0, 1},
        {"enable on the third attempt", 1, {kFails, kFails, kSucceeds}, MSG_OK, 2, 3},
        {"enable on the fifth attempt", 1, {kFails, kFails, kFails, kFails, kSucceeds}, MSG_OK, 4, 5},
        {"enable never", 1, {kFails}, MSG_DEVICE_CHANGE_FAILED, 5, 5},
        {"enable always pending a restart", 1, {kRestart}, MSG_DEVICE_NOT_RENEWED, 5, 5},
        // Each failed disable is followed by its enable, which takes an installer call too.
        {"disable on the third attempt", 0, {kFails, kSucceeds, kFails, kSucceeds, kSucceeds}, MSG_OK, 2, 5},
        {"disable never", 0, {kFails}, MSG_DEVICE_CHANGE_FAILED, 5, 10},
        {"disable pending a reboot, then refused", 0, {kReboot, kSucceeds, kFails}, MSG_DEVICE_CHANGE_FAILED, 5, 10},
    };
    for (const RetryCase& c : cases) {
        SimulatedMachine machine;
        SimDrive stick = addUsbStick(machine, L'E', 1);
        machine.pnp.node(stick.usbDevice).installerOutcomes = c.outcomes;
        DWORD start = machine.now;
        EXPECT_EQ(setDeviceEnabledRetrying(stick.parentId.c_str(), c.enable), c.expected) << c.name;
        EXPECT_EQ(machine.sleeps, std::vector<DWORD>(c.pauses, 500)) << c.name;
        EXPECT_EQ(machine.now - start, 500 * c.pauses) << c.name;
        EXPECT_EQ(machine.pnp.node(stick.usbDevice).installerCalls, c.installerCalls) << c.name;
    }
}

struct ArchitectureCase {
    const char* name;
    WORD process, native;
    MessageCode expected;
    int installerCalls;
};

// SetupDiCallClassInstaller refuses a 32-bit program on 64-bit Windows with ERROR_IN_WOW64. No
// retry can change that: the change stops at once with the Windows-version text, and the failed
// disable's enable is refused alike.
TEST(SetDeviceEnabledRetrying, A32BitBuildOn64BitWindowsStopsAtOnce) {
    const ArchitectureCase cases[] = {
        {"32-bit on 64-bit Windows", PROCESSOR_ARCHITECTURE_INTEL, PROCESSOR_ARCHITECTURE_AMD64, MSG_WINDOWS_VERSION, 2},
        {"32-bit on 32-bit Windows", PROCESSOR_ARCHITECTURE_INTEL, PROCESSOR_ARCHITECTURE_INTEL, MSG_OK, 1},
        {"64-bit on 64-bit Windows", PROCESSOR_ARCHITECTURE_AMD64, PROCESSOR_ARCHITECTURE_AMD64, MSG_OK, 1},
    };
    for (const ArchitectureCase& c : cases) {
        SimulatedMachine machine;
        machine.processArchitecture = c.process;
        machine.nativeArchitecture = c.native;
        SimDrive stick = addUsbStick(machine, L'E', 1);
        EXPECT_EQ(setDeviceEnabledRetrying(stick.parentId.c_str(), 0), c.expected) << c.name;
        EXPECT_TRUE(machine.sleeps.empty()) << c.name;
        EXPECT_EQ(machine.pnp.node(stick.usbDevice).installerCalls, c.installerCalls) << c.name;
    }
}

TEST(SetDeviceEnabledRetrying, AnUnknownDeviceIsLookedForFiveTimes) {
    SimulatedMachine machine;
    addUsbStick(machine, L'E', 1);
    EXPECT_EQ(setDeviceEnabledRetrying(L"USB\\VID_FFFF&PID_FFFF\\NONE", 0), MSG_DEVICE_NOT_RENEWED);
    EXPECT_EQ(machine.sleeps, std::vector<DWORD>(5, 500));
    EXPECT_EQ(machine.pnp.setsOpened, 5);
}

struct WaitCase {
    const char* name;
    bool arrival;
    DWORD startTick;
    DWORD delayMs;      // how long after the change the disk goes or comes back
    bool comesBack;
    MessageCode expected;
    size_t pauses;
};

// The limit is tested before each pause, so a disk that turns up at exactly 30.5 s still counts.
TEST(PresenceWaits, PollEveryHalfSecondForThirtySeconds) {
    const WaitCase cases[] = {
        {"removal at once", false, 1000, 0, true, MSG_OK, 0},
        {"removal after the disable's delay", false, 1000, 1500, true, MSG_OK, 3},
        {"removal just after a poll", false, 1000, 1501, true, MSG_OK, 4},
        {"removal at the last poll", false, 1000, 30500, true, MSG_OK, 61},
        {"removal too late", false, 1000, 30501, true, MSG_DISK_STILL_PRESENT, 61},
        {"removal too late, clock wrapping", false, 0xFFFFF000, 30501, true, MSG_DISK_STILL_PRESENT, 61},
        {"arrival at once", true, 1000, 0, true, MSG_OK, 0},
        {"arrival after the enable's delay", true, 1000, 2500, true, MSG_OK, 5},
        {"arrival at the last poll", true, 1000, 30500, true, MSG_OK, 61},
        {"arrival never", true, 1000, 2500, false, MSG_DISK_NOT_BACK, 61},
        {"arrival never, clock wrapping", true, 0xFFFFFF00, 2500, false, MSG_DISK_NOT_BACK, 61},
    };
    for (const WaitCase& c : cases) {
        SimulatedMachine machine;
        machine.now = c.startTick;
        SimDrive stick = addUsbStick(machine, L'E', 1);
        machine.pnp.removalDelayMs = c.delayMs;
        machine.pnp.arrivalDelayMs = c.delayMs;
        machine.pnp.subtreeComesBack = c.comesBack;
        if (c.arrival) machine.pnp.node(stick.disk).present = false;
        ASSERT_EQ(setDeviceEnabled(stick.parentId.c_str(), c.arrival ? 1 : 0), MSG_OK) << c.name;
        MessageCode result = c.arrival ? waitForDiskArrival(stick.diskId.c_str()) : waitForDiskRemoval(stick.diskId.c_str());
        EXPECT_EQ(result, c.expected) << c.name;
        EXPECT_EQ(machine.sleeps, std::vector<DWORD>(c.pauses, 500)) << c.name;
        EXPECT_EQ(machine.now, static_cast<DWORD>(c.startTick + 500 * c.pauses)) << c.name;
    }
}

TEST(PresenceWaits, ADiskAlreadyAsWantedCostsNoPause) {
    SimulatedMachine machine;
    SimDrive stick = addUsbStick(machine, L'E', 1);
    EXPECT_EQ(waitForDiskArrival(stick.diskId.c_str()), MSG_OK);
    machine.pnp.node(stick.disk).present = false;
    EXPECT_EQ(waitForDiskRemoval(stick.diskId.c_str()), MSG_OK);
    // A disk that never existed is gone as far as the removal wait cares.
    EXPECT_EQ(waitForDiskRemoval(L"USBSTOR\\DISK&VEN_NONE\\0"), MSG_OK);
    EXPECT_TRUE(machine.sleeps.empty());
    EXPECT_EQ(machine.now, 1000u);
}

TEST(EnableDevice, WithoutTheServiceRestartsTheDeviceLocally) {
    serviceAvailable = FALSE;
    SimulatedMachine machine;
    SimDrive stick = addUsbStick(machine, L'E', 1);
    EXPECT_EQ(enableDevice(stick.parentId.c_str(), 0), MSG_OK);
    EXPECT_EQ(waitForDiskRemoval(stick.diskId.c_str()), MSG_OK);
    EXPECT_EQ(enableDevice(stick.parentId.c_str(), 1), MSG_OK);
    EXPECT_EQ(waitForDiskArrival(stick.diskId.c_str()), MSG_OK);
    EXPECT_EQ(states(machine.pnp.node(stick.usbDevice)),
              (std::vector<DWORD>{DICS_DISABLE, DICS_DISABLE, DICS_ENABLE, DICS_ENABLE}));
    // 1.5 s to go and 2.5 s to come back, in half-second polls.
    EXPECT_EQ(machine.sleeps, std::vector<DWORD>(8, 500));
    EXPECT_TRUE(machine.pnp.node(stick.disk).present);
}

TEST(EnableDevice, RestartingTheDiskItselfHidesItsInterfaceUntilEnabled) {
    serviceAvailable = FALSE;
    SimulatedMachine machine;
    SimDrive stick = addUsbStick(machine, L'E', 1);
    EXPECT_EQ(enableDevice(stick.diskId.c_str(), 0), MSG_OK);
    EXPECT_EQ(waitForDiskRemoval(stick.diskId.c_str()), MSG_OK);
    EXPECT_TRUE(machine.pnp.node(stick.disk).present) << "a disabled device stays in the tree";
    EXPECT_EQ(enableDevice(stick.diskId.c_str(), 1), MSG_OK);
    EXPECT_EQ(waitForDiskArrival(stick.diskId.c_str()), MSG_OK);
    EXPECT_EQ(machine.sleeps, std::vector<DWORD>(8, 500));
}

struct VersionCase {
    const char* name;
    bool volumeExists;
    bool opens;
    bool answers;
    DWORD version;
    BOOL expected;
};

TEST(DriverReportsVersion5, OnlyAnAnswerOfFiveOrMore) {
    const VersionCase cases[] = {
        {"version 4", true, true, true, 4, FALSE},
        {"version 5", true, true, true, 5, TRUE},
        {"version 6", true, true, true, 6, TRUE},
        {"largest value, compared unsigned", true, true, true, 0xFFFFFFFF, TRUE},
        {"version 0", true, true, true, 0, FALSE},
        {"no answer", true, true, false, 9, FALSE},
        {"volume does not open", true, false, true, 9, FALSE},
        {"no volume", false, true, true, 9, FALSE},
    };
    for (const VersionCase& c : cases) {
        SimulatedMachine machine;
        if (c.volumeExists) {
            SimDevice& volume = machine.addDevice(L"\\\\.\\E:");
            volume.opens = c.opens;
            volume.driverAnswers = c.answers;
            volume.driverVersion = c.version;
        }
        EXPECT_EQ(driverReportsVersion5(L"E: "), c.expected) << c.name;
        EXPECT_EQ(machine.deviceOpens, c.volumeExists && c.opens ? 1 : 0) << c.name;
    }
}

}  // namespace
