#include "tool/device/volume.h"

#include "common/bounded.h"
#include "platform/system_calls.h"

#include <shlobj.h>

void formatVolumePath(wchar_t (&path)[VOLUME_PATH_CAPACITY], wchar_t driveLetter) {
    formatText(path, VOLUME_PATH_CAPACITY, L"\\\\.\\%c:", driveLetter);
}

BOOL volumeControl(HANDLE volume, DWORD code, void* in, DWORD inSize) {
    DWORD returned = 0;
    return sys().deviceIoControl(volume, code, in, inSize, nullptr, 0, &returned, nullptr);
}

void notifyDriveRemovedAndAdded(wchar_t driveLetter) {
    wchar_t root[4] = L"?:\\";
    root[0] = driveLetter;
    sys().shChangeNotify(SHCNE_DRIVEREMOVED, SHCNF_PATHW, root, nullptr);
    sys().shChangeNotify(SHCNE_DRIVEADD, SHCNF_PATHW, root, nullptr);
}
