#include "tool/device/device_restart.h"

#include "common/product_contract.h"
#include "platform/owners.h"
#include "platform/system_calls.h"
#include "tool/device/disk_identity.h"
#include "tool/device/volume.h"
#include "tool/service/sector_io.h"
#include "tool/service/service_commands.h"
#include "tool/shell/tool_state.h"

#include <wchar.h>

namespace {

SP_PROPCHANGE_PARAMS propertyChange(DWORD stateChange, DWORD scope) {
    SP_PROPCHANGE_PARAMS change;
    ZeroMemory(&change, sizeof(change));
    change.ClassInstallHeader.cbSize = sizeof(SP_CLASSINSTALL_HEADER);
    change.ClassInstallHeader.InstallFunction = DIF_PROPERTYCHANGE;
    change.StateChange = stateChange;
    change.Scope = scope;
    change.HwProfile = 0;
    return change;
}

BOOL setPropertyChange(HDEVINFO set, SP_DEVINFO_DATA* device, DWORD stateChange, DWORD scope) {
    SP_PROPCHANGE_PARAMS change = propertyChange(stateChange, scope);
    return sys().setupDiSetClassInstallParamsW(set, device, &change.ClassInstallHeader, sizeof(change));
}

// Whether the class installer left the change waiting for a restart of the device or system.
BOOL needsRestart(HDEVINFO set, SP_DEVINFO_DATA* device) {
    SP_DEVINSTALL_PARAMS_W params;
    ZeroMemory(&params, sizeof(params));
    params.cbSize = sizeof(params);
    if (!sys().setupDiGetDeviceInstallParamsW(set, device, &params)) return FALSE;
    return (params.Flags & (DI_NEEDRESTART | DI_NEEDREBOOT)) != 0;
}

// Polls the disk's presence until it is as wanted, testing the limit before each pause.
MessageCode waitForDiskPresence(const wchar_t* diskInstanceId, bool wanted, MessageCode timeout) {
    DWORD start = sys().getTickCount();
    while ((isDiskPresent(diskInstanceId) != FALSE) != wanted) {
        if (static_cast<DWORD>(sys().getTickCount() - start) > PRESENCE_LIMIT_MS) return timeout;
        sys().sleep(PRESENCE_POLL_MS);
    }
    return MSG_OK;
}

}  // namespace

BOOL walkDeviceSet(HDEVINFO set, const DeviceSetVisitor& visit) {
    for (DWORD index = 0;; ++index) {
        SP_DEVINFO_DATA device;
        ZeroMemory(&device, sizeof(device));
        device.cbSize = sizeof(device);
        if (!sys().setupDiEnumDeviceInfo(set, index, &device)) return FALSE;
        if (visit(index, &device)) return TRUE;
    }
}

BOOL findDeviceExact(HDEVINFO set, const wchar_t* instanceId, DWORD* index, SP_DEVINFO_DATA* device) {
    return walkDeviceSet(set, [&](DWORD i, SP_DEVINFO_DATA* candidate) {
        wchar_t id[DEVICE_INSTANCE_ID_UNITS] = L"";
        if (!sys().setupDiGetDeviceInstanceIdW(set, candidate, id, DEVICE_INSTANCE_ID_UNITS, nullptr)) return FALSE;
        if (wcscmp(id, instanceId) != 0) return FALSE;
        if (index) *index = i;
        if (device) *device = *candidate;
        return TRUE;
    });
}

MessageCode changeDeviceState(HDEVINFO set, DWORD index, DWORD stateChange) {
    SP_DEVINFO_DATA device;
    ZeroMemory(&device, sizeof(device));
    device.cbSize = sizeof(device);
    if (!sys().setupDiEnumDeviceInfo(set, index, &device)) return MSG_DEVICE_NOT_SELECTED;
    // The global setting comes first; the configuration-specific one then replaces it.
    if (!setPropertyChange(set, &device, stateChange, DICS_FLAG_GLOBAL)) return MSG_DEVICE_CHANGE_FAILED;
    if (!setPropertyChange(set, &device, stateChange, DICS_FLAG_CONFIGSPECIFIC)) return MSG_DEVICE_CHANGE_FAILED;
    if (!sys().setupDiCallClassInstaller(DIF_PROPERTYCHANGE, set, &device))
        return GetLastError() == ERROR_IN_WOW64 ? MessageCode(MSG_WINDOWS_VERSION) : MessageCode(MSG_DEVICE_CHANGE_FAILED);
    if (needsRestart(set, &device)) return MSG_DEVICE_NOT_RENEWED;
    return MSG_OK;
}

MessageCode setDeviceEnabled(const wchar_t* instanceId, int enable) {
    UniqueDeviceSet set(sys().setupDiGetClassDevsW(nullptr, nullptr, nullptr, DIGCF_PRESENT | DIGCF_ALLCLASSES));
    if (!set) return MSG_DEVICE_NOT_RENEWED;
    DWORD index = 0;
    if (!findDeviceExact(set.get(), instanceId, &index, nullptr)) return MSG_DEVICE_NOT_RENEWED;
    if (enable) return changeDeviceState(set.get(), index, DICS_ENABLE);
    MessageCode result = changeDeviceState(set.get(), index, DICS_DISABLE);
    // A half-done disable must not leave the drive switched off; the disable's code still counts.
    if (result != MSG_OK) changeDeviceState(set.get(), index, DICS_ENABLE);
    return result;
}

MessageCode setDeviceEnabledRetrying(const wchar_t* instanceId, int enable) {
    MessageCode result = MSG_DEVICE_NOT_RENEWED;
    for (DWORD attempt = 0; attempt < DEVICE_CHANGE_ATTEMPTS; ++attempt) {
        result = setDeviceEnabled(instanceId, enable);
        // A 32-bit build on 64-bit Windows will never be let through: say so at once.
        if (result == MSG_OK || result == MSG_WINDOWS_VERSION) break;
        sys().sleep(DEVICE_CHANGE_PAUSE_MS);
    }
    return result;
}

MessageCode enableDevice(const wchar_t* instanceId, int enable) {
    if (serviceAvailable) return serviceEnableDevice(instanceId, enable);
    return setDeviceEnabledRetrying(instanceId, enable);
}

MessageCode waitForDiskRemoval(const wchar_t* diskInstanceId) {
    return waitForDiskPresence(diskInstanceId, false, MSG_DISK_STILL_PRESENT);
}

MessageCode waitForDiskArrival(const wchar_t* diskInstanceId) {
    return waitForDiskPresence(diskInstanceId, true, MSG_DISK_NOT_BACK);
}

BOOL driverReportsVersion5(const wchar_t* driveArgument) {
    wchar_t path[VOLUME_PATH_CAPACITY];
    formatVolumePath(path, driveArgument[0]);
    CSectorIO volume;
    if (!volume.open(path, GENERIC_READ)) return FALSE;
    DWORD version = 0;
    BOOL answered = volume.queryDriverVersion(&version);
    volume.close();
    return answered && version >= DRIVER_VERSION_RESTARTS_DISK;
}
