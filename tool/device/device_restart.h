// Restarting a device node for the hide command: disabling and enabling it through the class
// installer, waiting for the disk device to go and to come back, and asking the product's
// driver which device it wants restarted.
#pragma once
#include "common/message_code.h"
#include "platform/win.h"

#include <functional>

enum : MessageCode {
    MSG_DEVICE_NOT_SELECTED = 503,
    MSG_DEVICE_CHANGE_FAILED = 504,
    MSG_DEVICE_NOT_RENEWED = 505,
    MSG_DISK_STILL_PRESENT = 513,
    MSG_DISK_NOT_BACK = 514,
};

enum : DWORD {
    // Room for any instance ID the setup interfaces hand out, with its terminator.
    DEVICE_INSTANCE_ID_UNITS = 402,
    DEVICE_CHANGE_ATTEMPTS = 5,
    DEVICE_CHANGE_PAUSE_MS = 500,
    PRESENCE_POLL_MS = 500,
    PRESENCE_LIMIT_MS = 30000,
};

// One walk over a device set, in enumeration order, until visit returns TRUE or the set ends.
// Returns TRUE when a visit stopped it.
typedef std::function<BOOL(DWORD index, SP_DEVINFO_DATA* device)> DeviceSetVisitor;
BOOL walkDeviceSet(HDEVINFO set, const DeviceSetVisitor& visit);
// The first device of the set whose instance ID is exactly instanceId (letter case counts).
BOOL findDeviceExact(HDEVINFO set, const wchar_t* instanceId, DWORD* index, SP_DEVINFO_DATA* device);

// stateChange is DICS_ENABLE or DICS_DISABLE: 501, 503, 504, or 505 when only a restart
// would make the change take effect. 507 when the class installer refuses this process as a
// 32-bit program on 64-bit Windows (ERROR_IN_WOW64), which only the other build can do.
MessageCode changeDeviceState(HDEVINFO set, DWORD index, DWORD stateChange);
// One attempt on the present device with that instance ID; enable is 0 or 1.
MessageCode setDeviceEnabled(const wchar_t* instanceId, int enable);
// Up to five attempts, 500 ms apart; 507 is not tried again.
MessageCode setDeviceEnabledRetrying(const wchar_t* instanceId, int enable);
// The dispatcher: the service's ENA command when it is available, else the local change.
MessageCode enableDevice(const wchar_t* instanceId, int enable);

// 501 once the disk device is gone (513 after 30 s) or back (514 after 30 s).
MessageCode waitForDiskRemoval(const wchar_t* diskInstanceId);
MessageCode waitForDiskArrival(const wchar_t* diskInstanceId);

// TRUE when the driver on the drive's volume reports version 5 or later, which means the
// disk device itself can be restarted rather than its parent.
BOOL driverReportsVersion5(const wchar_t* driveArgument);
