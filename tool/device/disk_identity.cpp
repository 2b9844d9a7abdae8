// The device interface classes are defined here, once for the whole program.
#include "platform/win.h"

#include <initguid.h>
#include <winioctl.h>

#include "tool/device/disk_identity.h"

#include "common/bounded.h"
#include "platform/owners.h"
#include "platform/system_calls.h"
#include "tool/device/volume.h"
#include "tool/service/service_commands.h"

#include <string.h>

#include <functional>
#include <vector>

namespace {

const DWORD kPresentInterfaces = DIGCF_PRESENT | DIGCF_DEVICEINTERFACE;
const DWORD kInterfaceDetailLimit = 1024;
const DWORD kObjectNameBytes = 520;
// No removal-relations list comes near this many units; a larger answer is not trusted.
const ULONG kRelationListLimit = 1u << 20;

// Windows checks these sizes; a packing mistake in the headers would make every call fail.
#ifdef _WIN64
static_assert(sizeof(SP_DEVINFO_DATA) == 32 && sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W) == 8, "x64 setup sizes");
#else
static_assert(sizeof(SP_DEVINFO_DATA) == 28 && sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W) == 6, "x86 setup sizes");
#endif

// Device instance IDs compare without regard to A-Z case, and to nothing else.
bool sameInstanceId(const wchar_t* a, const wchar_t* b) { return equalsIgnoringAsciiCase(a, b); }

// Walks the devices of a set in enumeration order until the visitor returns false.
typedef std::function<bool(HDEVINFO, SP_DEVINFO_DATA&, const wchar_t* instanceId)> DeviceVisitor;

void forEachDevice(const GUID* interfaceClass, const wchar_t* enumerator, const DeviceVisitor& visit) {
    UniqueDeviceSet set(sys().setupDiGetClassDevsW(interfaceClass, enumerator, nullptr, kPresentInterfaces));
    if (!set) return;
    SP_DEVINFO_DATA device;
    for (DWORD index = 0;; ++index) {
        device.cbSize = sizeof(device);
        if (!sys().setupDiEnumDeviceInfo(set.get(), index, &device)) return;
        wchar_t id[INSTANCE_ID_CAPACITY];
        if (!sys().setupDiGetDeviceInstanceIdW(set.get(), &device, id, INSTANCE_ID_CAPACITY, nullptr)) continue;
        if (!visit(set.get(), device, id)) return;
    }
}

// The NT device name a drive letter stands for ("\Device\HarddiskVolume5").
bool ntDeviceNameOf(wchar_t letter, wchar_t (&target)[PATH_CAPACITY_UNITS]) {
    wchar_t name[3] = {letter, L':', 0};
    ZeroMemory(target, sizeof(target));
    return sys().queryDosDeviceW(name, target, PATH_CAPACITY_UNITS) != 0;
}

bool findVolumeInstanceId(const wchar_t* ntDeviceName, wchar_t (&volumeId)[INSTANCE_ID_CAPACITY]) {
    bool found = false;
    forEachDevice(&GUID_DEVINTERFACE_VOLUME, nullptr, [&](HDEVINFO set, SP_DEVINFO_DATA& device, const wchar_t* id) {
        // Room for a terminator the property may lack.
        BYTE name[kObjectNameBytes + sizeof(wchar_t)] = {};
        if (!sys().setupDiGetDeviceRegistryPropertyW(set, &device, SPDRP_PHYSICAL_DEVICE_OBJECT_NAME, nullptr, name,
                                                     kObjectNameBytes, nullptr))
            return true;
        if (_wcsicmp(reinterpret_cast<const wchar_t*>(name), ntDeviceName) != 0) return true;
        copyText(volumeId, id);
        found = true;
        return false;
    });
    return found;
}

// Whether a disk lists the volume among its removal relations.
bool listsVolume(const wchar_t* diskId, const wchar_t* volumeId) {
    ULONG length = 0;
    if (sys().cmGetDeviceIdListSizeW(&length, diskId, CM_GETIDLIST_FILTER_REMOVALRELATIONS) != CR_SUCCESS ||
        length == 0 || length > kRelationListLimit)
        return false;
    // One unit more than asked, so that a list without its final terminator still ends.
    std::vector<wchar_t> list;
    try {
        list.assign(static_cast<size_t>(length) + 1, 0);
    } catch (...) {
        return false;
    }
    if (sys().cmGetDeviceIdListW(diskId, list.data(), length, CM_GETIDLIST_FILTER_REMOVALRELATIONS) != CR_SUCCESS)
        return false;
    for (const wchar_t* entry = list.data(); entry < list.data() + length && *entry; entry += wcslen(entry) + 1)
        if (sameInstanceId(entry, volumeId)) return true;
    return false;
}

// A cut instance ID could name another device: an ID that does not fit is no answer.
bool copyWhole(wchar_t* out, size_t capacity, const wchar_t* id) {
    if (wcslen(id) >= capacity) return false;
    copyText(out, capacity, id);
    return true;
}

bool findDiskOfVolume(const wchar_t* volumeId, wchar_t* out, size_t capacity) {
    const wchar_t* disk = nullptr;
    wchar_t found[INSTANCE_ID_CAPACITY];
    forEachDevice(&GUID_DEVINTERFACE_DISK, nullptr, [&](HDEVINFO, SP_DEVINFO_DATA&, const wchar_t* id) {
        if (!listsVolume(id, volumeId)) return true;
        copyText(found, id);
        disk = found;
        return false;
    });
    if (disk) return copyWhole(out, capacity, disk);
    // A medium whose volume hangs directly under its disk lists no removal relation.
    wchar_t parent[INSTANCE_ID_CAPACITY];
    if (getParentDeviceId(volumeId, parent, INSTANCE_ID_CAPACITY) != MSG_OK) return false;
    forEachDevice(&GUID_DEVINTERFACE_DISK, nullptr, [&](HDEVINFO, SP_DEVINFO_DATA&, const wchar_t* id) {
        if (!sameInstanceId(id, parent)) return true;
        copyText(found, id);
        disk = found;
        return false;
    });
    return disk && copyWhole(out, capacity, disk);
}

// The next node of a depth-first, pre-order walk; false when the whole tree is done.
bool nextNode(DEVINST& node) {
    DEVINST next = 0;
    if (sys().cmGetChild(&next, node, 0) == CR_SUCCESS || sys().cmGetSibling(&next, node, 0) == CR_SUCCESS) {
        node = next;
        return true;
    }
    for (;;) {
        DEVINST parent = 0;
        if (sys().cmGetParent(&parent, node, 0) != CR_SUCCESS) return false;
        node = parent;
        if (sys().cmGetSibling(&next, node, 0) == CR_SUCCESS) {
            node = next;
            return true;
        }
    }
}

const GUID* interfaceClassFor(UINT driveType, const wchar_t* ntDeviceName) {
    switch (driveType) {
    case DRIVE_REMOVABLE:
        return wcsstr(ntDeviceName, L"\\Floppy") ? &GUID_DEVINTERFACE_FLOPPY : &GUID_DEVINTERFACE_DISK;
    case DRIVE_FIXED: return &GUID_DEVINTERFACE_DISK;
    case DRIVE_CDROM: return &GUID_DEVINTERFACE_CDROM;
    default: return nullptr;
    }
}

// The device number behind a device path; false when the device does not open or does not
// answer. Access 0: no rights are needed to ask.
bool readDeviceNumber(const wchar_t* devicePath, DWORD access, LONG* out) {
    UniqueDevice device(sys().createFileW(devicePath, access, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                          OPEN_EXISTING, 0, nullptr));
    if (!device) return false;
    STORAGE_DEVICE_NUMBER number;
    ZeroMemory(&number, sizeof(number));
    DWORD returned = 0;
    if (!sys().deviceIoControl(device.get(), IOCTL_STORAGE_GET_DEVICE_NUMBER, nullptr, 0, &number, sizeof(number),
                               &returned, nullptr))
        return false;
    *out = static_cast<LONG>(number.DeviceNumber);
    return true;
}

}  // namespace

int32_t queryDiskNumber(const wchar_t* driveArgument) {
    wchar_t path[VOLUME_PATH_CAPACITY];
    formatVolumePath(path, driveArgument[0]);
    LONG number = -1;
    return readDeviceNumber(path, GENERIC_READ, &number) ? number : -1;
}

BOOL findDiskOfDrive(const wchar_t* driveArgument, wchar_t* out, size_t capacity) {
    wchar_t ntDeviceName[PATH_CAPACITY_UNITS];
    if (!ntDeviceNameOf(driveArgument[0], ntDeviceName)) return FALSE;
    wchar_t volumeId[INSTANCE_ID_CAPACITY];
    if (!findVolumeInstanceId(ntDeviceName, volumeId)) return FALSE;
    return findDiskOfVolume(volumeId, out, capacity);
}

BOOL getDiskFriendlyName(const wchar_t* diskInstanceId, wchar_t* out, size_t capacity) {
    BOOL found = FALSE;
    forEachDevice(&GUID_DEVINTERFACE_DISK, diskInstanceId, [&](HDEVINFO set, SP_DEVINFO_DATA& device, const wchar_t* id) {
        if (!sameInstanceId(id, diskInstanceId)) return true;
        // The read may fill the whole capacity: a name of capacity - 1 characters comes with its
        // terminator. The unit beyond ends a name stored without one.
        wchar_t name[FRIENDLY_NAME_CAPACITY + 1] = {};
        size_t units = capacity < FRIENDLY_NAME_CAPACITY ? capacity : FRIENDLY_NAME_CAPACITY;
        if (!sys().setupDiGetDeviceRegistryPropertyW(set, &device, SPDRP_FRIENDLYNAME, nullptr,
                                                     reinterpret_cast<PBYTE>(name),
                                                     static_cast<DWORD>(units * sizeof(wchar_t)), nullptr))
            return true;
        copyText(out, capacity, name);
        found = TRUE;
        return false;
    });
    return found;
}

MessageCode identifyDisk(const wchar_t* driveArgument, DiskIdentity* record) {
    if (!findDiskOfDrive(driveArgument, record->diskInstanceId, INSTANCE_ID_CAPACITY)) return MSG_DISK_NOT_IDENTIFIED;
    getDiskFriendlyName(record->diskInstanceId, record->friendlyName, FRIENDLY_NAME_CAPACITY);
    int32_t diskNumber = getDiskNumber(driveArgument);
    if (diskNumber < 0) return MSG_DISK_NOT_IDENTIFIED;
    formatPhysicalDrivePath(record->physicalDrivePath, diskNumber);
    return MSG_OK;
}

MessageCode getParentDeviceId(const wchar_t* instanceId, wchar_t* out, size_t capacity) {
    DEVINST node = 0;
    if (sys().cmLocateDevNodeW(&node, nullptr, CM_LOCATE_DEVNODE_NORMAL) != CR_SUCCESS) return MSG_TREE_ROOT_NOT_FOUND;
    for (;;) {
        wchar_t id[DEVICE_ID_BUFFER_CAPACITY];
        if (sys().cmGetDeviceIdW(node, id, DEVICE_ID_BUFFER_CAPACITY, 0) == CR_SUCCESS && sameInstanceId(id, instanceId))
            break;
        if (!nextNode(node)) return MSG_NO_SUCH_DEVICE;
    }
    DEVINST parent = 0;
    if (sys().cmGetParent(&parent, node, 0) != CR_SUCCESS) return MSG_NO_PARENT;
    wchar_t parentId[DEVICE_ID_BUFFER_CAPACITY];
    if (sys().cmGetDeviceIdW(parent, parentId, DEVICE_ID_BUFFER_CAPACITY, 0) != CR_SUCCESS)
        return MSG_PARENT_ID_UNREADABLE;
    if (wcslen(parentId) >= capacity) return MSG_PARENT_ID_TOO_LONG;
    copyText(out, capacity, parentId);
    return MSG_OK;
}

BOOL isDiskPresent(const wchar_t* diskInstanceId) {
    BOOL present = FALSE;
    forEachDevice(&GUID_DEVINTERFACE_DISK, diskInstanceId, [&](HDEVINFO, SP_DEVINFO_DATA&, const wchar_t* id) {
        present = sameInstanceId(id, diskInstanceId);
        return !present;
    });
    return present;
}

DEVINST locateDiskDevNode(int32_t diskNumber, UINT driveType, const wchar_t* ntDeviceName) {
    const GUID* interfaceClass = interfaceClassFor(driveType, ntDeviceName);
    if (!interfaceClass) return 0;
    UniqueDeviceSet set(sys().setupDiGetClassDevsW(interfaceClass, nullptr, nullptr, kPresentInterfaces));
    if (!set) return 0;
    SP_DEVICE_INTERFACE_DATA itf;
    for (DWORD index = 0;; ++index) {
        itf.cbSize = sizeof(itf);
        if (!sys().setupDiEnumDeviceInterfaces(set.get(), nullptr, interfaceClass, index, &itf)) return 0;
        DWORD required = 0;
        sys().setupDiGetDeviceInterfaceDetailW(set.get(), &itf, nullptr, 0, &required, nullptr);
        // A detail that does not fit the buffer is skipped, never cut.
        if (required == 0 || required > kInterfaceDetailLimit) continue;
        alignas(SP_DEVICE_INTERFACE_DETAIL_DATA_W) BYTE buffer[kInterfaceDetailLimit] = {};
        auto* detail = reinterpret_cast<PSP_DEVICE_INTERFACE_DETAIL_DATA_W>(buffer);
        detail->cbSize = sizeof(*detail);
        SP_DEVINFO_DATA device;
        device.cbSize = sizeof(device);
        if (!sys().setupDiGetDeviceInterfaceDetailW(set.get(), &itf, detail, kInterfaceDetailLimit, nullptr, &device))
            continue;
        // An interface that does not open or does not answer is skipped: it is no disk -1.
        LONG number = -1;
        if (readDeviceNumber(detail->DevicePath, 0, &number) && number == diskNumber) return device.DevInst;
    }
}
