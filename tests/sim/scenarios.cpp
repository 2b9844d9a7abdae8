#include "sim/scenarios.h"

#include <winioctl.h>

namespace {

std::wstring numbered(const wchar_t* prefix, LONG n) { return prefix + std::to_wstring(n); }

// A node under the root that several drives share, added once per machine.
int sharedRootNode(SimPnp& pnp, const wchar_t* id) {
    int node = pnp.find(id);
    return node >= 0 ? node : pnp.addNode(id, 0);
}

// The buses every removable drive here hangs under, added once per machine.
int usbHub(SimPnp& pnp) {
    int hub = pnp.find(L"USB\\ROOT_HUB30\\4&2A3B1C&0&0");
    if (hub >= 0) return hub;
    int controller = pnp.addNode(L"PCI\\VEN_8086&DEV_1E31&SUBSYS_00000000&REV_04\\3&11583659&0&A0", 0);
    return pnp.addNode(L"USB\\ROOT_HUB30\\4&2A3B1C&0&0", controller);
}

int volumeManager(SimPnp& pnp) { return sharedRootNode(pnp, L"ROOT\\VOLMGR\\0000"); }

// The volume behind the letter: its node, DOS device, drive type and openable device.
void addVolume(SimulatedMachine& machine, SimDrive& drive, int parent, UINT driveType, const std::wstring& ntName) {
    SimPnp& pnp = machine.pnp;
    drive.ntDeviceName = ntName;
    drive.volumeId = L"STORAGE\\VOLUME\\{4F2A1C33-9B0E-11EF-A1B2-806E6F6E6963}#" + std::to_wstring(drive.diskNumber);
    drive.volume = pnp.addNode(drive.volumeId, parent);
    pnp.node(drive.volume).interfaces.push_back(
        {GUID_DEVINTERFACE_VOLUME, L"\\\\?\\storage#volume#" + std::to_wstring(drive.diskNumber) +
                                       L"#{53f5630d-b6bf-11d0-94f2-00a0c91efb8b}"});
    pnp.setString(drive.volume, SPDRP_PHYSICAL_DEVICE_OBJECT_NAME, ntName);
    std::wstring letter(1, drive.letter);
    pnp.dosDevices[letter + L":"] = ntName;
    pnp.driveTypes[letter + L":\\"] = driveType;
    SimDevice& volume = machine.addDevice(L"\\\\.\\" + letter + L":");
    volume.deviceNumber = drive.diskNumber;
    volume.node = drive.volume;
}

void addDiskInterface(SimulatedMachine& machine, SimDrive& drive, const GUID& interfaceClass, const wchar_t* kind) {
    drive.diskInterfacePath = std::wstring(L"\\\\?\\") + kind + L"#" + std::to_wstring(drive.diskNumber) + L"#{iface}";
    machine.pnp.node(drive.disk).interfaces.push_back({interfaceClass, drive.diskInterfacePath});
    SimDevice& disk = machine.addDevice(drive.diskInterfacePath);
    disk.deviceNumber = drive.diskNumber;
    disk.node = drive.disk;
}

void addPhysicalDrive(SimulatedMachine& machine, const SimDrive& drive) {
    machine.addDevice(numbered(L"\\\\.\\PHYSICALDRIVE", drive.diskNumber)).node = drive.disk;
}

// A device on an external USB port: its hub reports it removable.
int addUsbDevice(SimPnp& pnp, const std::wstring& id, int hub) {
    int device = pnp.addNode(id, hub);
    pnp.node(device).removable = true;
    return device;
}

SimDrive newDrive(wchar_t letter, LONG number) {
    SimDrive drive;
    drive.letter = letter;
    drive.diskNumber = number;
    return drive;
}

}  // namespace

SimDrive addUsbStick(SimulatedMachine& machine, wchar_t letter, LONG diskNumber) {
    SimPnp& pnp = machine.pnp;
    SimDrive drive = newDrive(letter, diskNumber);
    drive.hub = usbHub(pnp);
    drive.controller = pnp.node(drive.hub).parent;
    drive.parentId = numbered(L"USB\\VID_0BDA&PID_0109\\STRAVIO000", diskNumber);
    drive.usbDevice = addUsbDevice(pnp, drive.parentId, drive.hub);
    drive.diskId = numbered(L"USBSTOR\\DISK&VEN_STRAVIO&PROD_SECURE_DRIVE&REV_1.00\\STRAVIO000", diskNumber) + L"&0";
    drive.disk = pnp.addNode(drive.diskId, drive.usbDevice);
    pnp.setString(drive.disk, SPDRP_FRIENDLYNAME, L"Stravio Secure Drive USB Device");
    pnp.setMultiString(drive.disk, SPDRP_UPPERFILTERS, {L"lumagate664"});
    pnp.node(drive.disk).hardwareKeyValues[L"{B1E07817-AAD5-4634-9099-59563DC91C0D}"] = L"1";
    addDiskInterface(machine, drive, GUID_DEVINTERFACE_DISK, L"usbstor#disk");
    addVolume(machine, drive, volumeManager(pnp), DRIVE_REMOVABLE, numbered(L"\\Device\\HarddiskVolume", diskNumber + 4));
    pnp.node(drive.disk).removalRelations.push_back(drive.volumeId);
    addPhysicalDrive(machine, drive);
    return drive;
}

SimDrive addMediumWithVolumeUnderDisk(SimulatedMachine& machine, wchar_t letter, LONG diskNumber) {
    SimPnp& pnp = machine.pnp;
    SimDrive drive = newDrive(letter, diskNumber);
    drive.hub = usbHub(pnp);
    drive.parentId = numbered(L"USB\\VID_058F&PID_6387\\MEDIUM000", diskNumber);
    drive.usbDevice = addUsbDevice(pnp, drive.parentId, drive.hub);
    drive.diskId = numbered(L"USBSTOR\\DISK&VEN_GENERIC&PROD_FLASH_DISK&REV_8.07\\MEDIUM000", diskNumber) + L"&0";
    drive.disk = pnp.addNode(drive.diskId, drive.usbDevice);
    addDiskInterface(machine, drive, GUID_DEVINTERFACE_DISK, L"usbstor#disk");
    addVolume(machine, drive, drive.disk, DRIVE_REMOVABLE, numbered(L"\\Device\\HarddiskVolume", diskNumber + 4));
    addPhysicalDrive(machine, drive);
    return drive;
}

SimDrive addCardReader(SimulatedMachine& machine, wchar_t letter, LONG diskNumber) {
    SimPnp& pnp = machine.pnp;
    SimDrive drive = newDrive(letter, diskNumber);
    drive.hub = usbHub(pnp);
    drive.parentId = L"USB\\VID_05E3&PID_0751\\000000000001";
    drive.usbDevice = addUsbDevice(pnp, drive.parentId, drive.hub);
    // The empty slot comes first and lists no volume.
    int emptySlot = pnp.addNode(L"USBSTOR\\DISK&VEN_GENERIC&PROD_SD_MMC&REV_1.00\\000000000001&0", drive.usbDevice);
    pnp.setString(emptySlot, SPDRP_FRIENDLYNAME, L"Generic SD/MMC USB Device");
    drive.diskId = L"USBSTOR\\DISK&VEN_GENERIC&PROD_MS_MS-PRO&REV_1.00\\000000000001&1";
    drive.disk = pnp.addNode(drive.diskId, drive.usbDevice);
    pnp.setString(drive.disk, SPDRP_FRIENDLYNAME, L"Generic MS/MS-Pro USB Device");
    addDiskInterface(machine, drive, GUID_DEVINTERFACE_DISK, L"usbstor#disk");
    addVolume(machine, drive, volumeManager(pnp), DRIVE_REMOVABLE, numbered(L"\\Device\\HarddiskVolume", diskNumber + 4));
    pnp.node(drive.disk).removalRelations.push_back(drive.volumeId);
    addPhysicalDrive(machine, drive);
    return drive;
}

SimDrive addInternalDisk(SimulatedMachine& machine, wchar_t letter, LONG diskNumber) {
    SimPnp& pnp = machine.pnp;
    SimDrive drive = newDrive(letter, diskNumber);
    int controller = sharedRootNode(pnp, L"PCI\\VEN_8086&DEV_1E03&SUBSYS_00000000&REV_04\\3&11583659&0&FA");
    drive.controller = controller;
    drive.usbDevice = controller;
    drive.parentId = pnp.node(controller).instanceId;
    drive.diskId = numbered(L"SCSI\\DISK&VEN_&PROD_ST1000DM010-2EP1\\4&2C8D1F3A&0&00000", diskNumber);
    drive.disk = pnp.addNode(drive.diskId, controller);
    pnp.setString(drive.disk, SPDRP_FRIENDLYNAME, L"ST1000DM010-2EP102");
    addDiskInterface(machine, drive, GUID_DEVINTERFACE_DISK, L"scsi#disk");
    addVolume(machine, drive, volumeManager(pnp), DRIVE_FIXED, numbered(L"\\Device\\HarddiskVolume", diskNumber + 4));
    pnp.node(drive.disk).removalRelations.push_back(drive.volumeId);
    addPhysicalDrive(machine, drive);
    return drive;
}

SimDrive addCdRom(SimulatedMachine& machine, wchar_t letter, LONG deviceNumber) {
    SimPnp& pnp = machine.pnp;
    SimDrive drive = newDrive(letter, deviceNumber);
    int ide = sharedRootNode(pnp, L"PCIIDE\\IDECHANNEL\\4&1B2C3D4E&0&1");
    drive.usbDevice = ide;
    drive.parentId = pnp.node(ide).instanceId;
    drive.diskId = numbered(L"IDE\\CDROMHL-DT-ST_DVDRAM_GH24NSD1\\5&2E3F4A5B&0&1.0.", deviceNumber);
    drive.disk = pnp.addNode(drive.diskId, ide);
    addDiskInterface(machine, drive, GUID_DEVINTERFACE_CDROM, L"ide#cdrom");
    addVolume(machine, drive, drive.disk, DRIVE_CDROM, numbered(L"\\Device\\CdRom", deviceNumber));
    return drive;
}

SimDrive addFloppy(SimulatedMachine& machine, wchar_t letter, LONG deviceNumber) {
    SimPnp& pnp = machine.pnp;
    SimDrive drive = newDrive(letter, deviceNumber);
    drive.hub = usbHub(pnp);
    drive.parentId = L"USB\\VID_0644&PID_0000\\5&3A1B2C3D&0&2";
    drive.usbDevice = addUsbDevice(pnp, drive.parentId, drive.hub);
    drive.diskId = L"USB\\VID_0644&PID_0000&MI_00\\6&1F2E3D4C&0&0000";
    drive.disk = pnp.addNode(drive.diskId, drive.usbDevice);
    addDiskInterface(machine, drive, GUID_DEVINTERFACE_FLOPPY, L"fdc#floppy");
    addVolume(machine, drive, drive.disk, DRIVE_REMOVABLE, numbered(L"\\Device\\Floppy", deviceNumber));
    return drive;
}
