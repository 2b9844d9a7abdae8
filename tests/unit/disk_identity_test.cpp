// From the drive letter to the disk, on simulated machines of several shapes.
#include "tool/device/disk_identity.h"

#include "platform/system_calls.h"
#include "sim/scenarios.h"

#include <gtest/gtest.h>

#include <winioctl.h>

#include <string>
#include <vector>

namespace {

MessageCode identify(const wchar_t* drive, DiskIdentity& record) {
    ZeroMemory(&record, sizeof(record));
    return identifyDisk(drive, &record);
}

TEST(IdentifyDisk, UsbStickThroughRemovalRelations) {
    SimulatedMachine machine;
    SimDrive stick = addUsbStick(machine, L'E', 1);
    DiskIdentity record;
    EXPECT_EQ(identify(L"E: ", record), MSG_OK);
    EXPECT_EQ(std::wstring(record.diskInstanceId), stick.diskId);
    EXPECT_STREQ(record.friendlyName, L"Stravio Secure Drive USB Device");
    EXPECT_STREQ(record.physicalDrivePath, L"\\\\.\\PHYSICALDRIVE1");
}

TEST(IdentifyDisk, VolumeUnderTheDiskThroughTheParentWalk) {
    SimulatedMachine machine;
    SimDrive medium = addMediumWithVolumeUnderDisk(machine, L'G', 3);
    DiskIdentity record;
    EXPECT_EQ(identify(L"G: ", record), MSG_OK);
    EXPECT_EQ(std::wstring(record.diskInstanceId), medium.diskId);
    EXPECT_STREQ(record.friendlyName, L"") << "a disk without a friendly name is still identified";
    EXPECT_STREQ(record.physicalDrivePath, L"\\\\.\\PHYSICALDRIVE3");
}

TEST(IdentifyDisk, CardReaderSlotThatHoldsTheCard) {
    SimulatedMachine machine;
    SimDrive reader = addCardReader(machine, L'H', 2);
    DiskIdentity record;
    EXPECT_EQ(identify(L"H: ", record), MSG_OK);
    EXPECT_EQ(std::wstring(record.diskInstanceId), reader.diskId);
    EXPECT_STREQ(record.friendlyName, L"Generic MS/MS-Pro USB Device");
}

TEST(IdentifyDisk, TwoDisksListingOneVolumeGiveTheFirst) {
    SimulatedMachine machine;
    SimDrive stick = addUsbStick(machine, L'E', 1);
    SimDrive other = addUsbStick(machine, L'F', 2);
    machine.pnp.node(other.disk).removalRelations.push_back(stick.volumeId);
    DiskIdentity record;
    EXPECT_EQ(identify(L"E: ", record), MSG_OK);
    EXPECT_EQ(std::wstring(record.diskInstanceId), stick.diskId);
}

struct NotIdentifiedCase {
    const char* name;
    void (*breakIt)(SimulatedMachine&, const SimDrive&);
    bool setupTouched;
};

TEST(IdentifyDisk, FailuresGive710) {
    const NotIdentifiedCase cases[] = {
        {"no DOS device", [](SimulatedMachine& m, const SimDrive&) { m.pnp.dosDevices.clear(); }, false},
        {"no volume device", [](SimulatedMachine& m, const SimDrive& d) { m.pnp.setString(d.volume, SPDRP_PHYSICAL_DEVICE_OBJECT_NAME, L"\\Device\\Other"); }, true},
        {"no disk lists it and it has no disk parent",
         [](SimulatedMachine& m, const SimDrive& d) { m.pnp.node(d.disk).removalRelations.clear(); }, true},
        {"no disk number", [](SimulatedMachine& m, const SimDrive&) { m.findDevice(L"\\\\.\\E:")->deviceNumber = -1; }, true},
    };
    for (const NotIdentifiedCase& c : cases) {
        SimulatedMachine machine;
        SimDrive stick = addUsbStick(machine, L'E', 1);
        c.breakIt(machine, stick);
        DiskIdentity record;
        EXPECT_EQ(identify(L"E: ", record), MSG_DISK_NOT_IDENTIFIED) << c.name;
        EXPECT_EQ(machine.pnp.setsOpened > 0, c.setupTouched) << c.name;
    }
}

struct ParentCase {
    const char* name;
    std::wstring child;
    MessageCode expected;
    std::wstring parent;
};

TEST(ParentDeviceId, WalksTheWholeTree) {
    SimulatedMachine machine;
    SimDrive stick = addUsbStick(machine, L'E', 1);
    SimDrive medium = addMediumWithVolumeUnderDisk(machine, L'G', 3);
    const ParentCase cases[] = {
        {"disk", stick.diskId, MSG_OK, stick.parentId},
        {"disk, other case", L"usbstor\\disk&ven_stravio&prod_secure_drive&rev_1.00\\stravio0001&0", MSG_OK, stick.parentId},
        {"USB device", stick.parentId, MSG_OK, L"USB\\ROOT_HUB30\\4&2A3B1C&0&0"},
        {"volume under the volume manager", stick.volumeId, MSG_OK, L"ROOT\\VOLMGR\\0000"},
        {"volume under its disk, last in the tree", medium.volumeId, MSG_OK, medium.diskId},
        {"root", L"HTREE\\ROOT\\0", MSG_NO_PARENT, L""},
        {"unknown", L"USB\\VID_FFFF&PID_FFFF\\NONE", MSG_NO_SUCH_DEVICE, L""},
    };
    for (const ParentCase& c : cases) {
        wchar_t out[INSTANCE_ID_CAPACITY] = L"";
        EXPECT_EQ(getParentDeviceId(c.child.c_str(), out, INSTANCE_ID_CAPACITY), c.expected) << c.name;
        EXPECT_EQ(std::wstring(out), c.parent) << c.name;
    }
}

TEST(ParentDeviceId, TreeFailures) {
    SimulatedMachine machine;
    SimDrive stick = addUsbStick(machine, L'E', 1);
    wchar_t out[INSTANCE_ID_CAPACITY];
    wchar_t small[10];
    EXPECT_EQ(getParentDeviceId(stick.diskId.c_str(), small, 10), MSG_PARENT_ID_TOO_LONG);
    EXPECT_EQ(getParentDeviceId(stick.diskId.c_str(), out, stick.parentId.size()), MSG_PARENT_ID_TOO_LONG);
    EXPECT_EQ(getParentDeviceId(stick.diskId.c_str(), out, stick.parentId.size() + 1), MSG_OK);
    machine.pnp.node(stick.usbDevice).idReadable = false;
    EXPECT_EQ(getParentDeviceId(stick.diskId.c_str(), out, INSTANCE_ID_CAPACITY), MSG_PARENT_ID_UNREADABLE);
    // A node whose ID cannot be read is still walked through.
    EXPECT_EQ(getParentDeviceId(stick.volumeId.c_str(), out, INSTANCE_ID_CAPACITY), MSG_OK);
    machine.pnp.rootLocates = false;
    EXPECT_EQ(getParentDeviceId(stick.diskId.c_str(), out, INSTANCE_ID_CAPACITY), MSG_TREE_ROOT_NOT_FOUND);
}

TEST(DiskPresence, FollowsTheDevice) {
    SimulatedMachine machine;
    SimDrive stick = addUsbStick(machine, L'E', 1);
    EXPECT_TRUE(isDiskPresent(stick.diskId.c_str()));
    EXPECT_TRUE(isDiskPresent(L"usbstor\\disk&ven_stravio&prod_secure_drive&rev_1.00\\stravio0001&0"));
    EXPECT_FALSE(isDiskPresent(stick.parentId.c_str())) << "not a disk";
    machine.pnp.node(stick.disk).present = false;
    EXPECT_FALSE(isDiskPresent(stick.diskId.c_str()));
}

struct LocateCase {
    const char* name;
    LONG number;
    UINT driveType;
    const wchar_t* ntName;
    int expectedNode;  // index into the nodes below; -1: none
};

TEST(LocateDiskDevNode, ChoosesTheInterfaceClassByDriveType) {
    SimulatedMachine machine;
    SimDrive stick = addUsbStick(machine, L'E', 1);
    SimDrive cd = addCdRom(machine, L'F', 1);       // same number as the stick's disk
    SimDrive floppy = addFloppy(machine, L'A', 1);  // and again
    const LocateCase cases[] = {
        {"removable disk", 1, DRIVE_REMOVABLE, L"\\Device\\HarddiskVolume5", stick.disk},
        {"fixed disk", 1, DRIVE_FIXED, L"\\Device\\HarddiskVolume5", stick.disk},
        {"CD-ROM among CD-ROMs only", 1, DRIVE_CDROM, L"\\Device\\CdRom1", cd.disk},
        {"floppy", 1, DRIVE_REMOVABLE, L"\\Device\\Floppy1", floppy.disk},
        {"floppy test is case-sensitive", 1, DRIVE_REMOVABLE, L"\\Device\\floppy1", stick.disk},
        {"no such number", 7, DRIVE_REMOVABLE, L"\\Device\\HarddiskVolume5", -1},
        {"remote", 1, DRIVE_REMOTE, L"\\Device\\LanmanRedirector", -1},
        {"RAM disk", 1, DRIVE_RAMDISK, L"\\Device\\Ramdisk", -1},
    };
    for (const LocateCase& c : cases) {
        int opened = machine.pnp.setsOpened;
        DEVINST node = locateDiskDevNode(c.number, c.driveType, c.ntName);
        EXPECT_EQ(node, c.expectedNode < 0 ? 0u : static_cast<DEVINST>(c.expectedNode + 1)) << c.name;
        if (c.driveType == DRIVE_REMOTE || c.driveType == DRIVE_RAMDISK) {
            EXPECT_EQ(machine.pnp.setsOpened, opened) << c.name << ": no set is opened";
        }
    }
}

TEST(LocateDiskDevNode, DetailLongerThan1024BytesIsSkipped) {
    SimulatedMachine machine;
    SimDrive first = addUsbStick(machine, L'E', 1);
    SimDrive second = addUsbStick(machine, L'F', 1);  // the same number, found only if the first is skipped
    std::wstring longPath = L"\\\\?\\usbstor#" + std::wstring(600, L'x');
    machine.pnp.node(first.disk).interfaces[0].devicePath = longPath;
    machine.addDevice(longPath).deviceNumber = 1;
    EXPECT_EQ(locateDiskDevNode(1, DRIVE_REMOVABLE, L"\\Device\\HarddiskVolume5"), static_cast<DEVINST>(second.disk + 1));
}

TEST(QueryDiskNumber, FromTheVolume) {
    SimulatedMachine machine;
    SimDrive stick = addUsbStick(machine, L'E', 4);
    EXPECT_EQ(queryDiskNumber(L"E: "), 4);
    EXPECT_EQ(machine.findDevice(L"\\\\.\\E:")->openAccess, std::vector<DWORD>{GENERIC_READ});
    // The interface of the disk is asked with no access at all.
    EXPECT_NE(locateDiskDevNode(4, DRIVE_REMOVABLE, stick.ntDeviceName.c_str()), 0u);
    EXPECT_EQ(machine.findDevice(stick.diskInterfacePath)->openAccess, std::vector<DWORD>{0});
    EXPECT_EQ(queryDiskNumber(L"e: "), 4);
    EXPECT_EQ(queryDiskNumber(L"Q: "), -1);
}

std::wstring lowerAscii(std::wstring text) {
    for (wchar_t& c : text)
        if (c >= L'A' && c <= L'Z') c = static_cast<wchar_t>(c + 32);
    return text;
}

// Instance IDs are the same device whatever the letter case: in a removal-relations list, and
// between the tree walk's parent and the disk set.
CONFIGRET(WINAPI* g_simGetDeviceIdW)(DEVINST, PWCHAR, ULONG, ULONG) = nullptr;
CONFIGRET WINAPI deviceIdInLowerCase(DEVINST node, PWCHAR buffer, ULONG length, ULONG flags) {
    CONFIGRET result = g_simGetDeviceIdW(node, buffer, length, flags);
    for (PWCHAR c = buffer; result == CR_SUCCESS && *c; ++c)
        if (*c >= L'A' && *c <= L'Z') *c = static_cast<wchar_t>(*c + 32);
    return result;
}

TEST(IdentifyDisk, InstanceIdsMatchWhateverTheirCase) {
    {
        SimulatedMachine machine;
        SimDrive stick = addUsbStick(machine, L'E', 1);
        machine.pnp.node(stick.disk).removalRelations = {lowerAscii(stick.volumeId)};
        DiskIdentity record;
        EXPECT_EQ(identify(L"E: ", record), MSG_OK) << "removal relations";
        EXPECT_EQ(std::wstring(record.diskInstanceId), stick.diskId);
    }
    {
        SimulatedMachine machine;
        SimDrive medium = addMediumWithVolumeUnderDisk(machine, L'G', 3);
        g_simGetDeviceIdW = g_systemCalls.cmGetDeviceIdW;
        g_systemCalls.cmGetDeviceIdW = &deviceIdInLowerCase;
        DiskIdentity record;
        EXPECT_EQ(identify(L"G: ", record), MSG_OK) << "parent fallback";
        EXPECT_EQ(std::wstring(record.diskInstanceId), medium.diskId) << "as the disk set spells it";
    }
}

// A removal-relations list as a driver may hand it out: without its final empty string, or
// without the last entry's terminator too. The list is read within its length.
ULONG g_unitsDropped = 0;
CONFIGRET(WINAPI* g_simListSize)(PULONG, PCWSTR, ULONG) = nullptr;
CONFIGRET(WINAPI* g_simList)(PCWSTR, PWCHAR, ULONG, ULONG) = nullptr;
CONFIGRET WINAPI shortListSize(PULONG length, PCWSTR filter, ULONG flags) {
    CONFIGRET result = g_simListSize(length, filter, flags);
    if (result == CR_SUCCESS) *length -= g_unitsDropped;
    return result;
}
CONFIGRET WINAPI shortList(PCWSTR filter, PWCHAR buffer, ULONG length, ULONG flags) {
    std::vector<wchar_t> whole(length + g_unitsDropped + 1, L'#');
    CONFIGRET result = g_simList(filter, whole.data(), length + g_unitsDropped, flags);
    if (result == CR_SUCCESS) memcpy(buffer, whole.data(), length * sizeof(wchar_t));
    return result;
}

TEST(IdentifyDisk, RemovalRelationsWithoutTheirTerminators) {
    const ULONG dropped[] = {1, 2};
    for (ULONG d : dropped) {
        SimulatedMachine machine;
        SimDrive stick = addUsbStick(machine, L'E', 1);
        g_unitsDropped = d;
        g_simListSize = g_systemCalls.cmGetDeviceIdListSizeW;
        g_simList = g_systemCalls.cmGetDeviceIdListW;
        g_systemCalls.cmGetDeviceIdListSizeW = &shortListSize;
        g_systemCalls.cmGetDeviceIdListW = &shortList;
        DiskIdentity record;
        EXPECT_EQ(identify(L"E: ", record), MSG_OK) << d << " units dropped";
        EXPECT_EQ(std::wstring(record.diskInstanceId), stick.diskId) << d;
        // The volume hangs under the volume manager: only the list can have named the disk.
        EXPECT_EQ(machine.pnp.node(stick.volume).parent, machine.pnp.find(L"ROOT\\VOLMGR\\0000"));
    }
}

TEST(IdentifyDisk, DeviceObjectNameStoredWithoutTerminator) {
    SimulatedMachine machine;
    SimDrive stick = addUsbStick(machine, L'E', 1);
    machine.pnp.setRawProperty(stick.volume, SPDRP_PHYSICAL_DEVICE_OBJECT_NAME, REG_SZ, stick.ntDeviceName);
    DiskIdentity record;
    EXPECT_EQ(identify(L"E: ", record), MSG_OK);
    EXPECT_EQ(std::wstring(record.diskInstanceId), stick.diskId);
}

struct FriendlyCase {
    const char* name;
    std::wstring stored;  // as stored, terminator included or not
    std::wstring read;
};

TEST(IdentifyDisk, FriendlyNameUpToItsBuffer) {
    const std::wstring n259(259, L'n');
    const std::wstring n260(260, L'n');
    const FriendlyCase cases[] = {
        {"259 characters and terminator", n259 + L'\0', n259},
        {"259 characters, no terminator", n259, n259},
        {"260 characters, no terminator: cut to its buffer", n260, n259},
        {"260 characters and terminator: does not fit", n260 + L'\0', L""},
    };
    for (const FriendlyCase& c : cases) {
        SimulatedMachine machine;
        SimDrive stick = addUsbStick(machine, L'E', 1);
        machine.pnp.setRawProperty(stick.disk, SPDRP_FRIENDLYNAME, REG_SZ, c.stored);
        DiskIdentity record;
        EXPECT_EQ(identify(L"E: ", record), MSG_OK) << c.name;
        EXPECT_EQ(std::wstring(record.friendlyName), c.read) << c.name;
        EXPECT_STREQ(record.physicalDrivePath, L"\\\\.\\PHYSICALDRIVE1") << c.name;
    }
}

// An instance ID that does not fit the caller's buffer is no answer: cut, it could name another.
TEST(FindDiskOfDrive, AnIdThatDoesNotFitIsNoAnswer) {
    SimulatedMachine machine;
    SimDrive stick = addUsbStick(machine, L'E', 1);
    SimDrive medium = addMediumWithVolumeUnderDisk(machine, L'G', 3);
    for (const SimDrive* d : {&stick, &medium}) {
        std::wstring drive = std::wstring(1, d->letter) + L": ";
        std::vector<wchar_t> out(d->diskId.size() + 1, L'#');
        EXPECT_FALSE(findDiskOfDrive(drive.c_str(), out.data(), d->diskId.size())) << drive.c_str();
        EXPECT_TRUE(findDiskOfDrive(drive.c_str(), out.data(), out.size())) << drive.c_str();
        EXPECT_EQ(std::wstring(out.data()), d->diskId);
    }
}

TEST(LocateDiskDevNode, SkipsInterfacesThatDoNotAnswer) {
    SimulatedMachine machine;
    SimDrive unopened = addUsbStick(machine, L'E', 1);
    SimDrive mute = addUsbStick(machine, L'F', 2);
    SimDrive answering = addUsbStick(machine, L'G', 3);
    machine.findDevice(unopened.diskInterfacePath)->opens = false;
    machine.findDevice(mute.diskInterfacePath)->deviceNumber = -1;
    EXPECT_EQ(locateDiskDevNode(3, DRIVE_REMOVABLE, L"\\Device\\HarddiskVolume7"), static_cast<DEVINST>(answering.disk + 1));
    // Neither stands for "no number": nothing is disk -1.
    EXPECT_EQ(locateDiskDevNode(-1, DRIVE_REMOVABLE, L"\\Device\\HarddiskVolume5"), 0u);
    EXPECT_EQ(machine.findDevice(answering.diskInterfacePath)->openAccess, std::vector<DWORD>(2, 0));
}

TEST(LocateDiskDevNode, DetailOfExactly1024BytesIsRead) {
    // The detail is the 4-byte size field and the path with its terminator.
    struct { size_t pathUnits; bool found; } cases[] = {{509, true}, {510, false}};
    for (const auto& c : cases) {
        SimulatedMachine machine;
        SimDrive stick = addUsbStick(machine, L'E', 1);
        std::wstring path = L"\\\\?\\usbstor#" + std::wstring(c.pathUnits - 12, L'x');
        ASSERT_EQ(path.size(), c.pathUnits);
        machine.pnp.node(stick.disk).interfaces[0].devicePath = path;
        machine.addDevice(path).deviceNumber = 1;
        EXPECT_EQ(locateDiskDevNode(1, DRIVE_REMOVABLE, L"\\Device\\HarddiskVolume5"),
                  c.found ? static_cast<DEVINST>(stick.disk + 1) : 0u)
            << c.pathUnits;
    }
}

}  // namespace
