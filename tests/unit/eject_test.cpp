// The regular eject and the forced removal on simulated drives, with what the tool writes to
// its standard output, read back through a pipe put in its place.
#include "tool/device/eject.h"

#include "platform/owners.h"
#include "platform/system_calls.h"
#include "platform/win.h"
#include "sim/machine.h"
#include "sim/scenarios.h"

#include <gtest/gtest.h>

#include <shlobj.h>
#include <wchar.h>

#include <memory>
#include <string>
#include <vector>

namespace {

// Puts a handle in place of the process's standard output while it lives.
class StandardOutputSwap {
public:
    explicit StandardOutputSwap(HANDLE replacement) : saved_(GetStdHandle(STD_OUTPUT_HANDLE)) {
        SetStdHandle(STD_OUTPUT_HANDLE, replacement);
    }
    ~StandardOutputSwap() { SetStdHandle(STD_OUTPUT_HANDLE, saved_); }
    StandardOutputSwap(const StandardOutputSwap&) = delete;
    StandardOutputSwap& operator=(const StandardOutputSwap&) = delete;

private:
    HANDLE saved_;
};

// Standard output redirected into a pipe; text() ends the capture and returns what was written.
// The pipe holds far more than the few lines written, so writing never blocks.
class StandardOutputCapture {
public:
    StandardOutputCapture() {
        HANDLE readEnd = nullptr, writeEnd = nullptr;
        if (!CreatePipe(&readEnd, &writeEnd, nullptr, 64 * 1024)) ADD_FAILURE() << "no pipe: " << GetLastError();
        read_.reset(readEnd);
        write_.reset(writeEnd);
        swap_.reset(new StandardOutputSwap(writeEnd));
    }
    // What has been written so far, left in the pipe.
    DWORD pending() const {
        DWORD available = 0;
        PeekNamedPipe(read_.get(), nullptr, 0, nullptr, &available, nullptr);
        return available;
    }
    std::string text() {
        swap_.reset();
        write_.reset();
        std::string all;
        char buffer[512];
        DWORD n = 0;
        while (read_ && ReadFile(read_.get(), buffer, sizeof(buffer), &n, nullptr) && n > 0) all.append(buffer, n);
        return all;
    }

private:
    UniqueHandle read_, write_;
    std::unique_ptr<StandardOutputSwap> swap_;
};

typedef SimDrive (*AddDrive)(SimulatedMachine&, wchar_t, LONG);

int totalEjectRequests(SimulatedMachine& machine) {
    int total = 0;
    for (const SimNode& n : machine.pnp.nodes) total += n.ejectRequests;
    return total;
}

std::string narrow(const std::wstring& text) { return std::string(text.begin(), text.end()); }

struct DriveCase {
    const char* name;
    AddDrive add;
    wchar_t letter;  // the drive the machine has
    wchar_t asked;   // the letter ejectDrive is given
    LONG number;
    bool removableParent;
};

TEST(EjectDrive, EjectsTheDeviceAboveTheDiskOnce) {
    const DriveCase cases[] = {
        {"usb stick", &addUsbStick, L'E', L'E', 1, true},
        {"lower-case letter", &addUsbStick, L'E', L'e', 1, true},
        {"volume under its disk", &addMediumWithVolumeUnderDisk, L'G', L'G', 2, true},
        {"card reader", &addCardReader, L'H', L'h', 3, true},
        {"floppy", &addFloppy, L'A', L'A', 0, true},
        // Looked up like the others; Windows refuses to eject a device its bus calls fixed,
        // naming it by its instance path.
        {"cd-rom on an IDE channel", &addCdRom, L'F', L'f', 0, false},
        {"internal disk", &addInternalDisk, L'C', L'C', 0, false},
    };
    for (const DriveCase& c : cases) {
        SimulatedMachine machine;
        SimDrive drive = c.add(machine, c.letter, c.number);
        StandardOutputCapture output;
        EXPECT_EQ(ejectDrive(c.asked), c.removableParent ? MSG_OK : MSG_CANCELLED) << c.name;
        EXPECT_EQ(output.text(), c.removableParent ? std::string("Success\n\n")
                                                   : "failed\nResult=0x17\nVetoName=" + narrow(drive.parentId) + ")\n\n")
            << c.name;
        EXPECT_EQ(machine.pnp.ejectRequests.size(), 1u) << c.name;
        EXPECT_EQ(machine.pnp.node(drive.usbDevice).ejectRequests, 1) << c.name << ": the disk's parent";
        EXPECT_EQ(machine.pnp.node(drive.disk).present, !c.removableParent) << c.name;
        EXPECT_EQ(machine.pnp.node(drive.volume).present, !c.removableParent) << c.name;
        EXPECT_EQ(machine.sleeps, std::vector<DWORD>(c.removableParent ? 0 : 1, 500)) << c.name;
    }
}

// Disk 0, CD-ROM 0 and floppy 0 side by side: only the drive's own kind of device may match.
TEST(EjectDrive, MatchesTheNumberAmongTheDrivesOwnKindOnly) {
    const wchar_t letters[] = {L'E', L'F', L'A'};
    for (wchar_t letter : letters) {
        SimulatedMachine machine;
        SimDrive drives[] = {addUsbStick(machine, L'E', 0), addCdRom(machine, L'F', 0), addFloppy(machine, L'A', 0)};
        StandardOutputCapture output;
        EXPECT_EQ(ejectDrive(letter), letter == L'F' ? MSG_CANCELLED : MSG_OK) << static_cast<char>(letter);
        output.text();
        for (const SimDrive& d : drives)
            EXPECT_EQ(machine.pnp.node(d.usbDevice).ejectRequests, d.letter == letter ? 1 : 0)
                << "ejecting " << static_cast<char>(letter) << ", parent of " << static_cast<char>(d.letter);
        EXPECT_EQ(totalEjectRequests(machine), 1) << static_cast<char>(letter);
    }
}

TEST(EjectDrive, RefusesWhatIsNotADriveLetter) {
    const wchar_t letters[] = {L'1', L'[', L'@', L'{', 0, L'\x00E9', L'\x0141'};
    for (wchar_t letter : letters) {
        SimulatedMachine machine;
        addUsbStick(machine, L'E', 1);
        StandardOutputCapture output;
        EXPECT_EQ(ejectDrive(letter), MSG_EJECT_NOT_A_LETTER) << static_cast<unsigned>(letter);
        EXPECT_EQ(output.text(), "") << static_cast<unsigned>(letter);
        EXPECT_EQ(machine.deviceOpens, 0) << static_cast<unsigned>(letter);
        EXPECT_TRUE(machine.pnp.ejectRequests.empty()) << static_cast<unsigned>(letter);
    }
}

struct MissingCase {
    const char* name;
    void (*breakDrive)(SimulatedMachine&, const SimDrive&);
    MessageCode expected;
};

TEST(EjectDrive, ReportsWhatIsMissingWithoutAsking) {
    const MissingCase cases[] = {
        {"volume does not open", [](SimulatedMachine& m, const SimDrive&) { m.findDevice(L"\\\\.\\E:")->opens = false; },
         MSG_EJECT_VOLUME_NOT_OPENED},
        {"no device number", [](SimulatedMachine& m, const SimDrive&) { m.findDevice(L"\\\\.\\E:")->deviceNumber = -1; },
         MSG_EJECT_NO_DEVICE_NUMBER},
        {"no DOS device", [](SimulatedMachine& m, const SimDrive&) { m.pnp.dosDevices.erase(L"E:"); },
         MSG_EJECT_NO_DOS_DEVICE},
        {"no disk with the number", [](SimulatedMachine& m, const SimDrive&) { m.findDevice(L"\\\\.\\E:")->deviceNumber = 7; },
         MSG_EJECT_NO_DEVICE_NODE},
        {"disk gone", [](SimulatedMachine& m, const SimDrive& d) { m.pnp.node(d.disk).present = false; },
         MSG_EJECT_NO_DEVICE_NODE},
        {"network drive", [](SimulatedMachine& m, const SimDrive&) { m.pnp.driveTypes[L"E:\\"] = DRIVE_REMOTE; },
         MSG_EJECT_NO_DEVICE_NODE},
    };
    for (const MissingCase& c : cases) {
        SimulatedMachine machine;
        c.breakDrive(machine, addUsbStick(machine, L'E', 1));
        StandardOutputCapture output;
        EXPECT_EQ(ejectDrive(L'E'), c.expected) << c.name;
        EXPECT_EQ(output.text(), "") << c.name;
        EXPECT_TRUE(machine.pnp.ejectRequests.empty()) << c.name;
        EXPECT_TRUE(machine.sleeps.empty()) << c.name;
    }
}

struct VetoCase {
    const char* name;
    CONFIGRET result;
    PNP_VETO_TYPE vetoType;
    const wchar_t* vetoName;
    const char* output;
};

TEST(EjectDrive, ReportsARefusalAfterOnePause) {
    const VetoCase cases[] = {
        {"vetoed by a device", CR_REMOVE_VETOED, PNP_VetoDevice,
         L"\\\\?\\STORAGE#Volume#{4f2a1c33-9b0e-11ef-a1b2-806e6f6e6963}#0000000000100000#",
         "failed\nResult=0x17\n"
         "VetoName=\\\\?\\STORAGE#Volume#{4f2a1c33-9b0e-11ef-a1b2-806e6f6e6963}#0000000000100000#)\n\n"},
        {"vetoed by a program", CR_REMOVE_VETOED, PNP_VetoOutstandingOpen, L"\\Device\\HarddiskVolume5",
         "failed\nResult=0x17\nVetoName=\\Device\\HarddiskVolume5)\n\n"},
        {"vetoed without a name", CR_REMOVE_VETOED, PNP_VetoOutstandingOpen, L"", "failed\nResult=0x17\n"},
        {"one-digit result", CR_OUT_OF_MEMORY, PNP_VetoTypeUnknown, L"", "failed\nResult=0x 2\n"},
        {"access denied", CR_ACCESS_DENIED, PNP_VetoTypeUnknown, L"", "failed\nResult=0x33\n"},
    };
    for (const VetoCase& c : cases) {
        SimulatedMachine machine;
        SimDrive drive = addUsbStick(machine, L'E', 1);
        SimNode& usb = machine.pnp.node(drive.usbDevice);
        usb.ejectResult = c.result;
        usb.vetoType = c.vetoType;
        usb.vetoName = c.vetoName;
        StandardOutputCapture output;
        EXPECT_EQ(ejectDrive(L'E'), MSG_CANCELLED) << c.name;
        EXPECT_EQ(output.text(), c.output) << c.name;
        EXPECT_EQ(usb.ejectRequests, 1) << c.name << ": one request, no second attempt";
        EXPECT_EQ(machine.pnp.ejectRequests.size(), 1u) << c.name;
        EXPECT_EQ(machine.sleeps, std::vector<DWORD>(1, 500)) << c.name;
    }
}

// The sim's own parent lookup, for a stand-in that answers like it and then fails anyway.
CONFIGRET(WINAPI* g_simGetParent)(PDEVINST, DEVINST, ULONG) = nullptr;

CONFIGRET WINAPI getParentThenFail(PDEVINST parent, DEVINST node, ULONG flags) {
    g_simGetParent(parent, node, flags);
    return CR_FAILURE;
}

struct NoParentCase {
    const char* name;
    void (*breakTree)(SimulatedMachine&, const SimDrive&);
};

TEST(EjectDrive, AsksNothingWhenTheDiskHasNoParent) {
    const NoParentCase cases[] = {
        {"disk without a parent", [](SimulatedMachine& m, const SimDrive& d) { m.pnp.node(d.disk).parent = -1; }},
        {"lookup fails and leaves a node behind",
         [](SimulatedMachine&, const SimDrive&) {
             g_simGetParent = g_systemCalls.cmGetParent;
             g_systemCalls.cmGetParent = &getParentThenFail;
         }},
    };
    for (const NoParentCase& c : cases) {
        SimulatedMachine machine;
        c.breakTree(machine, addUsbStick(machine, L'E', 1));
        StandardOutputCapture output;
        EXPECT_EQ(ejectDrive(L'E'), MSG_CANCELLED) << c.name;
        EXPECT_EQ(output.text(), "failed\nResult=0x D\n") << c.name << ": CR_NO_SUCH_DEVNODE";
        EXPECT_TRUE(machine.pnp.ejectRequests.empty()) << c.name;
        EXPECT_EQ(totalEjectRequests(machine), 0) << c.name;
        EXPECT_EQ(machine.sleeps, std::vector<DWORD>(1, 500)) << c.name;
    }
}

// Started as a GUI program, the tool has no standard output: the outcome stands all the same.
TEST(EjectDrive, WritesNothingWithoutStandardOutput) {
    const HANDLE handles[] = {nullptr, INVALID_HANDLE_VALUE};
    const CONFIGRET results[] = {CR_SUCCESS, CR_REMOVE_VETOED};
    for (HANDLE h : handles) {
        for (CONFIGRET r : results) {
            SimulatedMachine machine;
            SimDrive drive = addUsbStick(machine, L'E', 1);
            machine.pnp.node(drive.usbDevice).ejectResult = r;
            machine.pnp.node(drive.usbDevice).vetoName = L"\\Device\\HarddiskVolume5";
            StandardOutputSwap none(h);
            EXPECT_EQ(ejectDrive(L'E'), r == CR_SUCCESS ? MSG_OK : MSG_CANCELLED);
            EXPECT_EQ(machine.pnp.node(drive.usbDevice).ejectRequests, 1);
        }
    }
}

// What each open of the volume asked for, passed on to the simulated machine.
std::vector<DWORD> g_openAccess;
HANDLE(WINAPI* g_simCreateFileW)(LPCWSTR, DWORD, DWORD, LPSECURITY_ATTRIBUTES, DWORD, DWORD, HANDLE) = nullptr;

HANDLE WINAPI recordAccess(LPCWSTR path, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security,
                           DWORD disposition, DWORD flags, HANDLE templateFile) {
    if (path && wcscmp(path, L"\\\\.\\E:") == 0) g_openAccess.push_back(access);
    return g_simCreateFileW(path, access, share, security, disposition, flags, templateFile);
}

// The regular removal runs for users without administrator rights, who may not read a volume;
// the forced one reads it to dismount it.
TEST(EjectDrive, OpensTheVolumeWithoutReadAccessUnlikeTheForcedRemoval) {
    SimulatedMachine machine;
    addUsbStick(machine, L'E', 1);
    g_openAccess.clear();
    g_simCreateFileW = g_systemCalls.createFileW;
    g_systemCalls.createFileW = &recordAccess;
    StandardOutputCapture output;
    EXPECT_EQ(ejectDrive(L'e'), MSG_OK);
    EXPECT_TRUE(dismountAndEjectMedia(L"E: "));
    output.text();
    EXPECT_EQ(g_openAccess, (std::vector<DWORD>{0, GENERIC_READ}));
}

struct MediaCase {
    const char* name;
    bool opens, dismount, mediaRemoval, ejectMedia;
    BOOL expected;
    int mediaRemovalRequests, ejectMediaRequests;
};

TEST(DismountAndEjectMedia, EjectsOnlyAReleasedMediumAndCountsTheDismount) {
    const MediaCase cases[] = {
        {"all answer", true, true, true, true, TRUE, 1, 1},
        {"medium not released", true, true, false, true, TRUE, 1, 0},
        {"eject fails", true, true, true, false, TRUE, 1, 1},
        {"dismount fails", true, false, true, true, FALSE, 0, 0},
        {"volume does not open", false, true, true, true, FALSE, 0, 0},
    };
    for (const MediaCase& c : cases) {
        SimulatedMachine machine;
        SimDevice& volume = machine.addDevice(L"\\\\.\\E:");
        volume.opens = c.opens;
        volume.dismountSucceeds = c.dismount;
        volume.mediaRemovalSucceeds = c.mediaRemoval;
        volume.ejectMediaSucceeds = c.ejectMedia;
        EXPECT_EQ(dismountAndEjectMedia(L"E: "), c.expected) << c.name;
        EXPECT_EQ(volume.dismounts, c.opens ? 1 : 0) << c.name;
        EXPECT_EQ(volume.mediaRemovalRequests, c.mediaRemovalRequests) << c.name;
        EXPECT_EQ(volume.ejectMediaRequests, c.ejectMediaRequests) << c.name;
        if (c.mediaRemovalRequests) {
            EXPECT_EQ(volume.lastPreventMediaRemoval, 0) << c.name << ": removal allowed";
        }
    }
}

struct ForceCase {
    const char* name;
    bool opens, dismount, mediaRemoval;
    BOOL expected;
    int dismounts, pauses, ejectMediaRequests;
};

TEST(ForceRemoveDrive, NotifiesTheShellThenTriesUpTo25Times) {
    const ForceCase cases[] = {
        {"dismounts at once", true, true, true, TRUE, 1, 0, 1},
        {"medium not released", true, true, false, TRUE, 1, 0, 0},
        {"never dismounts", true, false, true, FALSE, 25, 25, 0},
        {"never opens", false, true, true, FALSE, 0, 25, 0},
    };
    for (const ForceCase& c : cases) {
        SimulatedMachine machine;
        SimDevice& volume = machine.addDevice(L"\\\\.\\E:");
        volume.opens = c.opens;
        volume.dismountSucceeds = c.dismount;
        volume.mediaRemovalSucceeds = c.mediaRemoval;
        EXPECT_EQ(forceRemoveDrive(L"E: "), c.expected) << c.name;
        EXPECT_EQ(volume.dismounts, c.dismounts) << c.name;
        EXPECT_EQ(machine.sleeps, std::vector<DWORD>(static_cast<size_t>(c.pauses), 200)) << c.name;
        EXPECT_EQ(volume.ejectMediaRequests, c.ejectMediaRequests) << c.name;
        ASSERT_EQ(machine.shellNotifications.size(), 2u) << c.name;
        EXPECT_EQ(machine.shellNotifications[0].event, SHCNE_DRIVEREMOVED) << c.name;
        EXPECT_EQ(machine.shellNotifications[1].event, SHCNE_DRIVEADD) << c.name;
        for (const ShellNotification& n : machine.shellNotifications) {
            EXPECT_EQ(n.flags, static_cast<UINT>(SHCNF_PATHW)) << c.name;
            EXPECT_EQ(n.path, L"E:\\") << c.name;
        }
    }
}

TEST(ForceRemoveDrive, StopsAtTheFirstDismount) {
    SimulatedMachine machine;
    SimDevice& volume = machine.addDevice(L"\\\\.\\E:");
    volume.dismountSucceeds = false;
    // The files close after the third pause: the fourth attempt dismounts.
    struct Releaser {
        static void WINAPI sleep(DWORD ms) {
            SimulatedMachine& m = SimulatedMachine::current();
            m.sleeps.push_back(ms);
            if (m.sleeps.size() == 3) m.findDevice(L"\\\\.\\E:")->dismountSucceeds = true;
        }
    };
    g_systemCalls.sleep = &Releaser::sleep;
    EXPECT_TRUE(forceRemoveDrive(L"E: "));
    EXPECT_EQ(machine.sleeps, std::vector<DWORD>(3, 200));
    EXPECT_EQ(volume.dismounts, 4);
    EXPECT_EQ(volume.ejectMediaRequests, 1);
}

// A program's file on the drive: Windows refuses the eject with PNP_VetoOutstandingOpen and
// names the device with the open handle, the volume, by its instance path. Once the file is
// closed the next request goes through.
TEST(EjectDrive, AnOpenFileVetoesUntilItIsClosed) {
    const AddDrive drives[] = {&addUsbStick, &addMediumWithVolumeUnderDisk};
    for (AddDrive add : drives) {
        SimulatedMachine machine;
        SimDrive drive = add(machine, L'E', 1);
        int file = machine.holdOpen(L"\\\\.\\E:");
        ASSERT_GE(file, 0);
        StandardOutputCapture refused;
        EXPECT_EQ(ejectDrive(L'E'), MSG_CANCELLED);
        EXPECT_EQ(refused.text(), "failed\nResult=0x17\nVetoName=" + narrow(drive.volumeId) + ")\n\n");
        EXPECT_TRUE(machine.pnp.node(drive.disk).present);
        machine.closeHeld(file);
        StandardOutputCapture ejected;
        EXPECT_EQ(ejectDrive(L'E'), MSG_OK);
        EXPECT_EQ(ejected.text(), "Success\n\n");
        EXPECT_FALSE(machine.pnp.node(drive.volume).present);
        EXPECT_EQ(machine.pnp.node(drive.usbDevice).ejectRequests, 2);
    }
}

// The program closes its file during the pause after the refusal; the user's retry succeeds.
TEST(EjectDrive, AFileClosedOnTheVirtualClockNoLongerVetoes) {
    SimulatedMachine machine;
    addUsbStick(machine, L'E', 1);
    int file = machine.holdOpen(L"\\\\.\\PHYSICALDRIVE1", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE);
    machine.closeHeldAt(file, machine.now + 300);
    StandardOutputCapture output;
    EXPECT_EQ(ejectDrive(L'E'), MSG_CANCELLED);
    EXPECT_EQ(ejectDrive(L'E'), MSG_OK);
    EXPECT_EQ(output.text(), "failed\nResult=0x17\nVetoName=USBSTOR\\DISK&VEN_STRAVIO&PROD_SECURE_DRIVE&REV_1.00\\STRAVIO0001&0)\n\n"
                             "Success\n\n");
}

// The user chose to continue: the dismount closes the program's file, the medium is ejected,
// and the device can then go.
TEST(ForceRemoveDrive, DismountsAnOpenVolumeAndEjectsTheMedium) {
    SimulatedMachine machine;
    SimDrive drive = addUsbStick(machine, L'E', 1);
    int file = machine.holdOpen(L"\\\\.\\E:");
    EXPECT_TRUE(forceRemoveDrive(L"E: "));
    SimDevice& volume = *machine.findDevice(L"\\\\.\\E:");
    EXPECT_EQ(volume.dismounts, 1);
    EXPECT_EQ(volume.ejectMediaRequests, 1);
    EXPECT_TRUE(machine.sleeps.empty());
    EXPECT_FALSE(machine.isHeldOpen(file));
    StandardOutputCapture output;
    EXPECT_EQ(ejectDrive(L'E'), MSG_OK);
    EXPECT_EQ(output.text(), "Success\n\n");
    EXPECT_FALSE(machine.pnp.node(drive.disk).present);
}

// The pause comes before the lines, so that a reader sees the outcome only once it stands.
size_t g_outputAtPause = 0;
StandardOutputCapture* g_capture = nullptr;
void WINAPI recordOutputAtPause(DWORD ms) {
    SimulatedMachine::current().sleeps.push_back(ms);
    g_outputAtPause = g_capture->pending();
}

TEST(EjectDrive, PausesBeforeWritingTheRefusal) {
    SimulatedMachine machine;
    SimDrive drive = addUsbStick(machine, L'E', 1);
    machine.pnp.node(drive.usbDevice).ejectResult = CR_REMOVE_VETOED;
    StandardOutputCapture output;
    g_capture = &output;
    g_outputAtPause = 99;
    g_systemCalls.sleep = &recordOutputAtPause;
    EXPECT_EQ(ejectDrive(L'E'), MSG_CANCELLED);
    EXPECT_EQ(g_outputAtPause, 0u);
    EXPECT_EQ(output.text(), "failed\nResult=0x17\n");
}

// Whatever the request leaves in the veto name, what is printed ends within the buffer.
const wchar_t* g_vetoWritten = nullptr;
size_t g_vetoUnits = 0;
CONFIGRET WINAPI vetoWithoutTerminator(DEVINST, PPNP_VETO_TYPE type, LPWSTR name, ULONG length, ULONG) {
    if (type) *type = PNP_VetoOutstandingOpen;
    for (size_t i = 0; i < g_vetoUnits && i < length; ++i) name[i] = g_vetoWritten[i % wcslen(g_vetoWritten)];
    return CR_REMOVE_VETOED;
}

struct UnterminatedCase {
    const char* name;
    size_t units;
    std::string printed;
};

TEST(EjectDrive, PrintsAVetoNameLeftWithoutTerminatorWithinItsBuffer) {
    const UnterminatedCase cases[] = {
        {"a short name", 3, "ABC"},
        {"the whole buffer", 260, std::string(259, 'A')},
    };
    for (const UnterminatedCase& c : cases) {
        SimulatedMachine machine;
        addUsbStick(machine, L'E', 1);
        g_vetoWritten = c.units == 3 ? L"ABC" : L"A";
        g_vetoUnits = c.units;
        g_systemCalls.cmRequestDeviceEjectW = &vetoWithoutTerminator;
        StandardOutputCapture output;
        EXPECT_EQ(ejectDrive(L'E'), MSG_CANCELLED) << c.name;
        EXPECT_EQ(output.text(), "failed\nResult=0x17\nVetoName=" + c.printed + ")\n\n") << c.name;
    }
}

}  // namespace
