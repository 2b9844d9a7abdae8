#include "tool/device/filter_driver.h"

#include "common/environment.h"
#include "common/product_contract.h"
#include "platform/owners.h"
#include "platform/system_calls.h"
#include "tool/device/device_restart.h"
#include "tool/device/filter_list.h"
#include "tool/service/service_commands.h"
#include "tool/shell/tool_state.h"

#include <new>
#include <vector>

namespace {

enum class ListRead { Absent, Read, Failed };

// Reads a REG_MULTI_SZ property; bytes is what the read returned, never more than was allocated.
ListRead readFilterList(HDEVINFO set, SP_DEVINFO_DATA* device, DWORD property, std::vector<wchar_t>* units,
                        DWORD* bytes) {
    DWORD required = 0;
    if (sys().setupDiGetDeviceRegistryPropertyW(set, device, property, nullptr, nullptr, 0, &required) ||
        GetLastError() != ERROR_INSUFFICIENT_BUFFER)
        return ListRead::Absent;
    try {
        units->assign((static_cast<size_t>(required) + 1) / sizeof(wchar_t) + MULTI_STRING_PADDING_UNITS, 0);
    } catch (const std::bad_alloc&) {
        return ListRead::Failed;
    }
    DWORD type = 0, returned = 0;
    if (!sys().setupDiGetDeviceRegistryPropertyW(set, device, property, &type, reinterpret_cast<BYTE*>(units->data()),
                                                 required, &returned) ||
        type != REG_MULTI_SZ)
        return ListRead::Absent;
    *bytes = returned < required ? returned : required;
    // An empty value holds no entries, like a missing one.
    return *bytes == 0 ? ListRead::Absent : ListRead::Read;
}

// An empty list is not stored as such: the property is deleted.
BOOL writeFilterList(HDEVINFO set, SP_DEVINFO_DATA* device, DWORD property, const wchar_t* units, size_t length) {
    if (length == 1) return sys().setupDiSetDeviceRegistryPropertyW(set, device, property, nullptr, 0);
    return sys().setupDiSetDeviceRegistryPropertyW(set, device, property, reinterpret_cast<const BYTE*>(units),
                                                   static_cast<DWORD>(length * sizeof(wchar_t)));
}

// One pass over the devices that flags selects. FALSE when no device there has the ID; else the
// first such device is cleaned and result tells how that went.
BOOL cleanFirstMatch(DWORD flags, const wchar_t* instanceId, const wchar_t* driverName, BOOL upper,
                     MessageCode* result) {
    UniqueDeviceSet set(sys().setupDiGetClassDevsW(nullptr, nullptr, nullptr, flags));
    if (!set) return FALSE;
    SP_DEVINFO_DATA device;
    if (!findDeviceExact(set.get(), instanceId, nullptr, &device)) return FALSE;
    if (removeFromFilterList(set.get(), &device, driverName, upper) && deleteMarkerValue(set.get(), &device))
        *result = MSG_OK;
    return TRUE;
}

}  // namespace

const wchar_t* productDriverName() { return isNativeX86() ? DRIVER_SERVICE_X86 : DRIVER_SERVICE_X64; }

MessageCode removeProductDriver(const wchar_t* diskInstanceId) {
    const wchar_t* driverName = productDriverName();
    // Neither outcome may stop the hide: a driver left behind only keeps the area visible.
    removeDiskDriver(diskInstanceId, driverName);
    deleteDriverService(driverName);
    return MSG_OK;
}

MessageCode removeFilterDriver(const wchar_t* instanceId, const wchar_t* driverName, BOOL upper) {
    MessageCode result = MSG_FILTER_NOT_REMOVED;
    if (cleanFirstMatch(DIGCF_PRESENT | DIGCF_ALLCLASSES, instanceId, driverName, upper, &result)) return result;
    // A disk that has just gone away still carries its filter list in the registry.
    cleanFirstMatch(DIGCF_ALLCLASSES, instanceId, driverName, upper, &result);
    return result;
}

BOOL removeFromFilterList(HDEVINFO set, SP_DEVINFO_DATA* device, const wchar_t* driverName, BOOL upper) {
    DWORD property = upper ? SPDRP_UPPERFILTERS : SPDRP_LOWERFILTERS;
    std::vector<wchar_t> units;
    DWORD bytes = 0;
    ListRead read = readFilterList(set, device, property, &units, &bytes);
    if (read != ListRead::Read) return read == ListRead::Absent;
    size_t length = completeMultiString(units.data(), bytes);
    // Writing back what is not a list would damage the device's other filters.
    if (length == 0) return FALSE;
    length = removeEntries(units.data(), length, driverName);
    return writeFilterList(set, device, property, units.data(), length);
}

BOOL deleteMarkerValue(HDEVINFO set, SP_DEVINFO_DATA* device) {
    UniqueDeviceKey key(sys().setupDiCreateDevRegKeyW(set, device, DICS_FLAG_GLOBAL, 0, DIREG_DEV, nullptr, nullptr));
    if (!key) return FALSE;
    return sys().regDeleteValueW(key.get(), DRIVER_MARKER_VALUE) == ERROR_SUCCESS;
}

MessageCode deleteDriverServiceLocal(const wchar_t* serviceName) {
    UniqueServiceHandle manager(sys().openScManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
    if (!manager) return MSG_SERVICE_MANAGER_UNAVAILABLE;
    UniqueServiceHandle service(sys().openServiceW(manager.get(), serviceName, SERVICE_ALL_ACCESS));
    if (!service || !sys().deleteService(service.get())) return MSG_SERVICE_NOT_DELETED;
    return MSG_OK;
}

MessageCode removeDiskDriver(const wchar_t* instanceId, const wchar_t* driverName) {
    if (serviceAvailable) return serviceRemoveDiskDriver(instanceId, driverName);
    return removeFilterDriver(instanceId, driverName, TRUE);
}

MessageCode deleteDriverService(const wchar_t* driverName) {
    if (serviceAvailable) return serviceDeleteDriverService(driverName);
    return deleteDriverServiceLocal(driverName);
}
