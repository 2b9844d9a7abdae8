// From the drive letter to the disk behind it: the disk number, the disk's device instance,
// its friendly name and physical drive path, any device's parent, and the disk's device node.
#pragma once
#include "common/message_code.h"
#include "platform/win.h"

#include <stddef.h>
#include <stdint.h>

enum : MessageCode {
    MSG_DISK_NOT_IDENTIFIED = 710,
    MSG_TREE_ROOT_NOT_FOUND = 802,
    MSG_PARENT_ID_TOO_LONG = 803,
    MSG_PARENT_ID_UNREADABLE = 804,
    MSG_NO_PARENT = 805,
    MSG_NO_SUCH_DEVICE = 806,
};

enum : size_t {
    INSTANCE_ID_CAPACITY = 201,
    FRIENDLY_NAME_CAPACITY = 260,
    DEVICE_ID_BUFFER_CAPACITY = 1024,
    PATH_CAPACITY_UNITS = 260,
};

struct DiskIdentity {
    wchar_t friendlyName[FRIENDLY_NAME_CAPACITY];
    wchar_t physicalDrivePath[260];
    wchar_t diskInstanceId[INSTANCE_ID_CAPACITY];
};

// The disk number of the drive's volume, or -1. Needs administrator rights on real Windows.
int32_t queryDiskNumber(const wchar_t* driveArgument);
// Fills a zero-filled record: 501, or 710 when the disk is not identified.
MessageCode identifyDisk(const wchar_t* driveArgument, DiskIdentity* record);
BOOL findDiskOfDrive(const wchar_t* driveArgument, wchar_t* out, size_t capacity);
BOOL getDiskFriendlyName(const wchar_t* diskInstanceId, wchar_t* out, size_t capacity);
// The parent's instance ID of a device anywhere in the tree: 501, or 802 to 806.
MessageCode getParentDeviceId(const wchar_t* instanceId, wchar_t* out, size_t capacity);
BOOL isDiskPresent(const wchar_t* diskInstanceId);
// The device node of the disk, floppy or CD-ROM with that device number, or 0.
DEVINST locateDiskDevNode(int32_t diskNumber, UINT driveType, const wchar_t* ntDeviceName);
