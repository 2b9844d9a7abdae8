// Small machines to test against, written as data: each adds the devices of one kind of drive
// to a simulated machine, as Windows would show them.
#pragma once
#include "sim/machine.h"

#include <string>

struct SimDrive {
    wchar_t letter = 0;
    LONG diskNumber = -1;
    int controller = -1, hub = -1, usbDevice = -1, disk = -1, volume = -1;
    std::wstring diskId, parentId, volumeId;
    std::wstring ntDeviceName;        // "\\Device\\HarddiskVolume5"
    std::wstring diskInterfacePath;   // the disk's interface device path
};

// The product's USB stick: controller, hub, removable USB device, disk (with the product's
// filter and marker value), and its volume under the volume manager, tied to the disk by
// removal relations.
SimDrive addUsbStick(SimulatedMachine& machine, wchar_t letter, LONG diskNumber);
// A medium whose volume hangs directly under its disk device, with no removal relations.
SimDrive addMediumWithVolumeUnderDisk(SimulatedMachine& machine, wchar_t letter, LONG diskNumber);
// A card reader: one USB device with two disks (slots), the second holding the card.
SimDrive addCardReader(SimulatedMachine& machine, wchar_t letter, LONG diskNumber);
// An internal disk straight under its storage controller, which is not removable.
SimDrive addInternalDisk(SimulatedMachine& machine, wchar_t letter, LONG diskNumber);
// A CD-ROM drive on an IDE channel (not removable) and a floppy drive on USB.
SimDrive addCdRom(SimulatedMachine& machine, wchar_t letter, LONG deviceNumber);
SimDrive addFloppy(SimulatedMachine& machine, wchar_t letter, LONG deviceNumber);
