// The privileged operations, each in its service form (a command over the pipe) and, where
// this layer owns it, its local form; the dispatchers choose by serviceAvailable.
#pragma once
#include "common/message_code.h"
#include "platform/win.h"
#include "tool/usage/process_scan.h"

#include <stddef.h>
#include <stdint.h>

enum : MessageCode {
    MSG_SECTION_VIEW_FAILED = 708,
    MSG_SECTION_OPEN_FAILED = 709,
    MSG_SECTOR_READ_FAILED = 853,
    MSG_SECTOR_NO_MEMORY = 854,
    MSG_SECTOR_OPEN_FAILED = 855,
    MSG_BUFFER_TOO_SMALL = 914,
};

enum : size_t {
    HEADER_SIZE = 512,
    DEVICE_PATH_CAPACITY = 64,
};

// Service forms.
BOOL serviceGetPartitionStyle(const wchar_t* devicePath, DWORD* style);
BOOL serviceGetSectorSize(const wchar_t* devicePath, DWORD* bytesPerSector);
MessageCode serviceReadSector(const wchar_t* devicePath, LONG sector, void* out, size_t outSize);
int32_t serviceGetDiskNumber(const wchar_t* driveArgument);
// nameOut holds PROCESS_NAME_CAPACITY units.
BOOL serviceFindProcessOnDrive(const wchar_t* driveArgument, wchar_t* nameOut);
MessageCode serviceDeleteDriverService(const wchar_t* driverService);
MessageCode serviceRemoveDiskDriver(const wchar_t* instanceId, const wchar_t* driverService);
MessageCode serviceEnableDevice(const wchar_t* instanceId, int enable);
MessageCode serviceFlushVolume(const wchar_t* driveArgument);

// Dispatchers.
BOOL getPartitionStyle(const wchar_t* devicePath, DWORD* style);
BOOL getSectorSize(const wchar_t* devicePath, DWORD* bytesPerSector);
MessageCode readRawSector(const wchar_t* devicePath, LONG sector, void* out, size_t outSize);
BOOL findProcessOnDrive(const wchar_t* driveArgument, wchar_t* nameOut);
int32_t getDiskNumber(const wchar_t* driveArgument);
BOOL flushVolume(const wchar_t* driveArgument);

// The local flush: locking the volume makes the file system write everything out.
BOOL myVolumeFlush(const wchar_t* driveArgument);

// "\\.\PHYSICALDRIVE<n>" into a DEVICE_PATH_CAPACITY buffer.
void formatPhysicalDrivePath(wchar_t* out, int32_t diskNumber);
