#include "tool/device/filter_driver.h"

#include "common/bounded.h"
#include "common/environment.h"
#include "common/product_contract.h"
#include "platform/owners.h"
#include "platform/system_calls.h"
#include "tool/device/device_restart.h"
#include "tool/service/service_commands.h"
#include "tool/shell/tool_state.h"

#include <string.h>
#include <wchar.h>

#include <new>
#include <vector>

namespace {

// Two zero units beyond whatever the read returns, so that no scan can run off the buffer even
// when the stored list lacks its terminators.
const size_t kListPaddingUnits = 2;

enum class ListRead { Absent, Read, Failed };

// Reads a REG_MULTI_SZ property; bytes is what the read returned, never more than was allocated.
ListRead readFilterList(HDEVINFO set, SP_DEVINFO_DATA* device, DWORD property, std::vector<wchar_t>* units,
                        DWORD* bytes) {
    DWORD required = 0;
    if (sys().setupDiGetDeviceRegistryPropertyW(set, device, property, nullptr, nullptr, 0, &required) ||
        GetLastError() != ERROR_INSUFFICIENT_BUFFER)
        return ListRead::Absent;
    try {
        units->assign((static_cast<size_t>(required) + 1) / sizeof(wchar_t) + kListPaddingUnits, 0);
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

// Makes the list that was read well formed in place and returns its length in units, up to and
// including its final empty string. Windows lets a program store a list without its final
// empty string, or without the last entry's terminator as well; such a list holds the entries
// it plainly shows, and the terminators it lacks are written into the padding beyond the bytes
// read. 0 for data of odd size, which cannot be a list of UTF-16 strings.
size_t completeMultiString(wchar_t* units, DWORD bytes) {
    if (bytes % sizeof(wchar_t) != 0) return 0;
    size_t count = bytes / sizeof(wchar_t);
    size_t pos = 0;
    while (pos < count && units[pos] != 0) {
        while (pos < count && units[pos] != 0) ++pos;
        units[pos++] = 0;
    }
    units[pos] = 0;
    return pos + 1;
}

// Moves the rest of the list down over every entry equal to name; returns the new length.
// The list must be well formed within length.
size_t removeEntries(wchar_t* units, size_t length, const wchar_t* name) {
    size_t pos = 0;
    while (units[pos] != 0) {
        size_t entry = wcslen(units + pos) + 1;
        if (equalsIgnoringAsciiCase(units + pos, name)) {
            memmove(units + pos, units + pos + entry, (length - pos - entry) * sizeof(wchar_t));
            length -= entry;
        } else {
            pos += entry;
        }
    }
    return length;
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
