#include "tool/device/disk_identity.h"

#include "common/bounded.h"
#include "platform/owners.h"
#include "platform/system_calls.h"

#include <winioctl.h>

int32_t queryDiskNumber(const wchar_t* driveArgument) {
    wchar_t path[8] = L"\\\\.\\?:";
    path[4] = driveArgument[0];
    UniqueDevice volume(sys().createFileW(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                          OPEN_EXISTING, 0, nullptr));
    if (!volume) return -1;
    STORAGE_DEVICE_NUMBER number;
    ZeroMemory(&number, sizeof(number));
    DWORD returned = 0;
    if (!sys().deviceIoControl(volume.get(), IOCTL_STORAGE_GET_DEVICE_NUMBER, nullptr, 0, &number, sizeof(number),
                               &returned, nullptr))
        return -1;
    return static_cast<int32_t>(number.DeviceNumber);
}
