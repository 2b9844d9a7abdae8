// Taking the product's disk filter driver off the flash drive's disk device: its entry in the
// device's filter list, its marker value in the hardware key, and its driver service.
#pragma once
#include "common/message_code.h"
#include "platform/win.h"

enum : MessageCode {
    MSG_FILTER_NOT_REMOVED = 793,
    MSG_SERVICE_MANAGER_UNAVAILABLE = 800,
    MSG_SERVICE_NOT_DELETED = 801,
};

// "lumagate632" on a native 32-bit system, else "lumagate664".
const wchar_t* productDriverName();

// Detaches the driver and deletes its service; always 501, so that the hide goes on whatever
// of this could not be done.
MessageCode removeProductDriver(const wchar_t* diskInstanceId);

// 501 when the filter list (upper or lower) was written back without driverName and the marker
// value was deleted; 793 otherwise, also when no device has that instance ID.
MessageCode removeFilterDriver(const wchar_t* instanceId, const wchar_t* driverName, BOOL upper);
// TRUE when the list was written back without driverName, or there was no list. A list stored
// without its final terminators holds the entries it shows and is written back whole; data of
// odd size is no list and is left as it is, with FALSE.
BOOL removeFromFilterList(HDEVINFO set, SP_DEVINFO_DATA* device, const wchar_t* driverName, BOOL upper);
// TRUE exactly when the marker value existed in the hardware key and was deleted.
BOOL deleteMarkerValue(HDEVINFO set, SP_DEVINFO_DATA* device);
// 501 when the service was marked for deletion; 800 without the service control manager; 801
// when the service is missing or cannot be deleted.
MessageCode deleteDriverServiceLocal(const wchar_t* serviceName);

// The dispatchers: the service's RD2 and UDV commands when it is available, else the local forms.
MessageCode removeDiskDriver(const wchar_t* instanceId, const wchar_t* driverName);
MessageCode deleteDriverService(const wchar_t* driverName);
