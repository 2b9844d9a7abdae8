#include "sim/pnp.h"

#include "sim/machine.h"

#include <gtest/gtest.h>

#include <stddef.h>
#include <string.h>

#include <algorithm>
#include <functional>

namespace {

// Handles are tagged values no real handle takes.
const ULONG_PTR kSetBase = 0x7D000000;
const ULONG_PTR kKeyBase = 0x7C000000;
const ULONG_PTR kManagerHandle = 0x7B000000;
const ULONG_PTR kServiceBase = 0x7B000100;

struct SimSet {
    bool open = true;
    std::vector<int> devices;
    std::vector<std::pair<int, size_t>> interfaces;  // (node, interface index)
    std::map<int, DWORD> installFlags;
    std::map<int, bool> paramsSet;
};

std::vector<SimSet> g_sets;

SimPnp& pnp() { return SimulatedMachine::current().pnp; }
DWORD now() { return SimulatedMachine::current().now; }

BOOL fail(DWORD error) {
    SetLastError(error);
    return FALSE;
}

bool sameId(const std::wstring& a, const wchar_t* b) { return b && _wcsicmp(a.c_str(), b) == 0; }

SimSet* setOf(HDEVINFO h) {
    ULONG_PTR v = reinterpret_cast<ULONG_PTR>(h);
    if (v < kSetBase || (v - kSetBase) % 4 || (v - kSetBase) / 4 >= g_sets.size()) return nullptr;
    SimSet& s = g_sets[(v - kSetBase) / 4];
    return s.open ? &s : nullptr;
}

// The node a device record names, when it belongs to the set.
int nodeOf(SimSet* set, PSP_DEVINFO_DATA device) {
    if (!set || !device || device->cbSize != sizeof(SP_DEVINFO_DATA)) return -1;
    int node = static_cast<int>(device->DevInst) - 1;
    for (int d : set->devices)
        if (d == node) return node;
    return -1;
}

bool isPresent(int node) {
    pnp().advance(now());
    return pnp().nodes[static_cast<size_t>(node)].present;
}

void forSubtree(int top, const std::function<void(int)>& action) {
    action(top);
    for (size_t i = 0; i < pnp().nodes.size(); ++i)
        if (pnp().nodes[i].parent == top) forSubtree(static_cast<int>(i), action);
}

HDEVINFO WINAPI simGetClassDevsW(const GUID* classGuid, PCWSTR enumerator, HWND, DWORD flags) {
    SimSet set;
    bool wantPresent = (flags & DIGCF_PRESENT) != 0;
    bool interfaces = (flags & DIGCF_DEVICEINTERFACE) != 0;
    if (!(flags & DIGCF_ALLCLASSES) && !classGuid) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_HANDLE_VALUE;
    }
    for (size_t i = 1; i < pnp().nodes.size(); ++i) {
        const SimNode& n = pnp().nodes[i];
        if (wantPresent && !isPresent(static_cast<int>(i))) continue;
        if (wantPresent && interfaces && n.disabled) continue;
        if (enumerator && interfaces && !sameId(n.instanceId, enumerator)) continue;
        if (interfaces && !(flags & DIGCF_ALLCLASSES)) {
            bool any = false;
            for (size_t k = 0; k < n.interfaces.size(); ++k) {
                if (IsEqualGUID(n.interfaces[k].interfaceClass, *classGuid)) {
                    set.interfaces.push_back({static_cast<int>(i), k});
                    any = true;
                }
            }
            if (!any) continue;
        }
        set.devices.push_back(static_cast<int>(i));
    }
    g_sets.push_back(set);
    ++pnp().openSets;
    ++pnp().setsOpened;
    return reinterpret_cast<HDEVINFO>(kSetBase + 4 * (g_sets.size() - 1));
}

BOOL WINAPI simDestroyDeviceInfoList(HDEVINFO h) {
    SimSet* set = setOf(h);
    if (!set) {
        ADD_FAILURE() << "a device set destroyed twice, or never opened";
        return fail(ERROR_INVALID_HANDLE);
    }
    set->open = false;
    --pnp().openSets;
    return TRUE;
}

BOOL WINAPI simEnumDeviceInfo(HDEVINFO h, DWORD index, PSP_DEVINFO_DATA device) {
    SimSet* set = setOf(h);
    if (!set) return fail(ERROR_INVALID_HANDLE);
    if (!device || device->cbSize != sizeof(SP_DEVINFO_DATA)) return fail(ERROR_INVALID_USER_BUFFER);
    if (index >= set->devices.size()) return fail(ERROR_NO_MORE_ITEMS);
    ZeroMemory(&device->ClassGuid, sizeof(device->ClassGuid));
    device->DevInst = static_cast<DEVINST>(set->devices[index] + 1);
    device->Reserved = 0;
    return TRUE;
}

BOOL WINAPI simEnumDeviceInterfaces(HDEVINFO h, PSP_DEVINFO_DATA device, const GUID* interfaceClass, DWORD index,
                                    PSP_DEVICE_INTERFACE_DATA data) {
    SimSet* set = setOf(h);
    if (!set) return fail(ERROR_INVALID_HANDLE);
    if (!data || data->cbSize != sizeof(SP_DEVICE_INTERFACE_DATA) || !interfaceClass) return fail(ERROR_INVALID_USER_BUFFER);
    int only = device ? nodeOf(set, device) : -1;
    DWORD seen = 0;
    for (size_t e = 0; e < set->interfaces.size(); ++e) {
        const auto& entry = set->interfaces[e];
        const SimInterface& itf = pnp().nodes[static_cast<size_t>(entry.first)].interfaces[entry.second];
        if (!IsEqualGUID(itf.interfaceClass, *interfaceClass) || (device && entry.first != only)) continue;
        if (seen++ < index) continue;
        data->InterfaceClassGuid = itf.interfaceClass;
        data->Flags = SPINT_ACTIVE;
        data->Reserved = e;
        return TRUE;
    }
    return fail(ERROR_NO_MORE_ITEMS);
}

BOOL WINAPI simGetDeviceInterfaceDetailW(HDEVINFO h, PSP_DEVICE_INTERFACE_DATA data,
                                         PSP_DEVICE_INTERFACE_DETAIL_DATA_W detail, DWORD detailSize, PDWORD required,
                                         PSP_DEVINFO_DATA device) {
    SimSet* set = setOf(h);
    if (!set || !data || data->Reserved >= set->interfaces.size()) return fail(ERROR_INVALID_PARAMETER);
    const auto& entry = set->interfaces[data->Reserved];
    const std::wstring& path = pnp().nodes[static_cast<size_t>(entry.first)].interfaces[entry.second].devicePath;
    DWORD need = static_cast<DWORD>(offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_W, DevicePath) +
                                    (path.size() + 1) * sizeof(wchar_t));
    if (required) *required = need;
    if (!detail) return fail(detailSize ? ERROR_INVALID_USER_BUFFER : ERROR_INSUFFICIENT_BUFFER);
    if (detail->cbSize != sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W)) return fail(ERROR_INVALID_USER_BUFFER);
    if (detailSize < need) return fail(ERROR_INSUFFICIENT_BUFFER);
    memcpy(detail->DevicePath, path.c_str(), (path.size() + 1) * sizeof(wchar_t));
    if (device) {
        if (device->cbSize != sizeof(SP_DEVINFO_DATA)) return fail(ERROR_INVALID_USER_BUFFER);
        device->DevInst = static_cast<DEVINST>(entry.first + 1);
    }
    return TRUE;
}

BOOL WINAPI simGetDeviceInstanceIdW(HDEVINFO h, PSP_DEVINFO_DATA device, PWSTR id, DWORD idSize, PDWORD required) {
    int node = nodeOf(setOf(h), device);
    if (node < 0) return fail(ERROR_INVALID_PARAMETER);
    const std::wstring& value = pnp().nodes[static_cast<size_t>(node)].instanceId;
    if (required) *required = static_cast<DWORD>(value.size() + 1);
    if (!id || idSize < value.size() + 1) return fail(ERROR_INSUFFICIENT_BUFFER);
    memcpy(id, value.c_str(), (value.size() + 1) * sizeof(wchar_t));
    return TRUE;
}

BOOL WINAPI simGetDeviceRegistryPropertyW(HDEVINFO h, PSP_DEVINFO_DATA device, DWORD property, PDWORD type,
                                          PBYTE buffer, DWORD size, PDWORD required) {
    int node = nodeOf(setOf(h), device);
    if (node < 0) return fail(ERROR_INVALID_PARAMETER);
    const auto& properties = pnp().nodes[static_cast<size_t>(node)].properties;
    auto found = properties.find(property);
    if (found == properties.end()) return fail(ERROR_INVALID_DATA);
    const SimProperty& value = found->second;
    if (required) *required = static_cast<DWORD>(value.bytes.size());
    if (type) *type = value.type;
    if (!buffer || size < value.bytes.size()) return fail(ERROR_INSUFFICIENT_BUFFER);
    memcpy(buffer, value.bytes.data(), value.bytes.size());
    return TRUE;
}

BOOL WINAPI simSetDeviceRegistryPropertyW(HDEVINFO h, PSP_DEVINFO_DATA device, DWORD property, const BYTE* buffer,
                                          DWORD size) {
    int node = nodeOf(setOf(h), device);
    if (node < 0) return fail(ERROR_INVALID_PARAMETER);
    SimNode& n = pnp().nodes[static_cast<size_t>(node)];
    auto& properties = n.properties;
    if (!buffer && size == 0) {
        ++n.propertyDeletions;
        if (n.propertyWritesRefused) return fail(ERROR_ACCESS_DENIED);
        properties.erase(property);
        return TRUE;
    }
    ++n.propertyWrites;
    if (n.propertyWritesRefused) return fail(ERROR_ACCESS_DENIED);
    if (!buffer) return fail(ERROR_INVALID_PARAMETER);
    SimProperty& value = properties[property];
    value.type = (property == SPDRP_UPPERFILTERS || property == SPDRP_LOWERFILTERS) ? REG_MULTI_SZ : REG_SZ;
    value.bytes.assign(reinterpret_cast<const char*>(buffer), size);
    return TRUE;
}

BOOL WINAPI simSetClassInstallParamsW(HDEVINFO h, PSP_DEVINFO_DATA device, PSP_CLASSINSTALL_HEADER params,
                                      DWORD size) {
    SimSet* set = setOf(h);
    int node = nodeOf(set, device);
    if (node < 0) return fail(ERROR_INVALID_PARAMETER);
    if (!params || params->cbSize != sizeof(SP_CLASSINSTALL_HEADER) || size != sizeof(SP_PROPCHANGE_PARAMS))
        return fail(ERROR_INVALID_USER_BUFFER);
    SP_PROPCHANGE_PARAMS change;
    memcpy(&change, params, sizeof(change));
    pnp().nodes[static_cast<size_t>(node)].propertyChanges.push_back(change);
    set->paramsSet[node] = true;
    return TRUE;
}

// The device itself is disabled or enabled; the devices below it go or come back with it.
void scheduleStateChange(int device, bool enable, DWORD delay) {
    DWORD at = now() + delay;
    pnp().nodes[static_cast<size_t>(device)].disabledChanges.push_back({at, !enable});
    forSubtree(device, [&](int n) {
        if (n != device) pnp().nodes[static_cast<size_t>(n)].presenceChanges.push_back({at, enable});
    });
}

BOOL WINAPI simCallClassInstaller(DI_FUNCTION function, HDEVINFO h, PSP_DEVINFO_DATA device) {
    SimSet* set = setOf(h);
    int node = nodeOf(set, device);
    if (node < 0 || function != DIF_PROPERTYCHANGE || !set->paramsSet[node]) return fail(ERROR_INVALID_PARAMETER);
    SimNode& n = pnp().nodes[static_cast<size_t>(node)];
    InstallerOutcome outcome = n.installerOutcomes[std::min<size_t>(n.installerCalls, n.installerOutcomes.size() - 1)];
    ++n.installerCalls;
    // SetupDiCallClassInstaller refuses a 32-bit program on 64-bit Windows.
    if (SimulatedMachine::current().processIsWow64()) return fail(ERROR_IN_WOW64);
    DWORD state = n.propertyChanges.back().StateChange;
    switch (outcome) {
    case InstallerOutcome::Fails: return fail(ERROR_NOT_DISABLEABLE);
    case InstallerOutcome::NeedsRestart: set->installFlags[node] = DI_NEEDRESTART; return TRUE;
    case InstallerOutcome::NeedsReboot: set->installFlags[node] = DI_NEEDREBOOT; return TRUE;
    case InstallerOutcome::Succeeds: break;
    }
    set->installFlags[node] = 0;
    if (state == DICS_DISABLE) scheduleStateChange(node, false, pnp().removalDelayMs);
    if (state == DICS_ENABLE && pnp().subtreeComesBack) scheduleStateChange(node, true, pnp().arrivalDelayMs);
    return TRUE;
}

BOOL WINAPI simGetDeviceInstallParamsW(HDEVINFO h, PSP_DEVINFO_DATA device, PSP_DEVINSTALL_PARAMS_W params) {
    SimSet* set = setOf(h);
    int node = nodeOf(set, device);
    if (node < 0) return fail(ERROR_INVALID_PARAMETER);
    if (!params || params->cbSize != sizeof(SP_DEVINSTALL_PARAMS_W)) return fail(ERROR_INVALID_USER_BUFFER);
    params->Flags = set->installFlags[node];
    return TRUE;
}

HKEY WINAPI simCreateDevRegKeyW(HDEVINFO h, PSP_DEVINFO_DATA device, DWORD scope, DWORD profile, DWORD keyType, HINF,
                                PCWSTR) {
    int node = nodeOf(setOf(h), device);
    if (node < 0 || scope != DICS_FLAG_GLOBAL || profile != 0 || keyType != DIREG_DEV ||
        !pnp().nodes[static_cast<size_t>(node)].hardwareKeyOpens) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return static_cast<HKEY>(INVALID_HANDLE_VALUE);
    }
    ++pnp().openKeys;
    return reinterpret_cast<HKEY>(kKeyBase + 4 * static_cast<ULONG_PTR>(node));
}

int keyNode(HKEY key) {
    ULONG_PTR v = reinterpret_cast<ULONG_PTR>(key);
    if (v < kKeyBase || v >= kKeyBase + 4 * pnp().nodes.size() || (v - kKeyBase) % 4) return -1;
    return static_cast<int>((v - kKeyBase) / 4);
}

LONG WINAPI simRegDeleteValueW(HKEY key, LPCWSTR name) {
    int node = keyNode(key);
    if (node < 0) return realSystemCalls().regDeleteValueW(key, name);
    auto& values = pnp().nodes[static_cast<size_t>(node)].hardwareKeyValues;
    return values.erase(name ? name : L"") ? ERROR_SUCCESS : ERROR_FILE_NOT_FOUND;
}

LONG WINAPI simRegCloseKey(HKEY key) {
    if (keyNode(key) < 0) return realSystemCalls().regCloseKey(key);
    --pnp().openKeys;
    return ERROR_SUCCESS;
}

int devNode(DEVINST node) {
    int index = static_cast<int>(node) - 1;
    if (index < 0 || static_cast<size_t>(index) >= pnp().nodes.size() || !isPresent(index)) return -1;
    return index;
}

CONFIGRET WINAPI simLocateDevNodeW(PDEVINST node, DEVINSTID_W id, ULONG) {
    if (!id) {
        if (!pnp().rootLocates) return CR_FAILURE;
        *node = 1;
        return CR_SUCCESS;
    }
    int found = pnp().find(id);
    if (found < 0 || !isPresent(found)) return CR_NO_SUCH_DEVNODE;
    *node = static_cast<DEVINST>(found + 1);
    return CR_SUCCESS;
}

CONFIGRET WINAPI simGetDeviceIdW(DEVINST node, PWCHAR buffer, ULONG length, ULONG) {
    int index = devNode(node);
    if (index < 0) return CR_INVALID_DEVNODE;
    const SimNode& n = pnp().nodes[static_cast<size_t>(index)];
    if (!n.idReadable) return CR_NO_SUCH_VALUE;
    if (!buffer || length < n.instanceId.size() + 1) return CR_BUFFER_SMALL;
    memcpy(buffer, n.instanceId.c_str(), (n.instanceId.size() + 1) * sizeof(wchar_t));
    return CR_SUCCESS;
}

// The present children of a node, in the order they were added.
std::vector<int> childrenOf(int parent) {
    std::vector<int> children;
    for (size_t i = 1; i < pnp().nodes.size(); ++i)
        if (pnp().nodes[i].parent == parent && isPresent(static_cast<int>(i))) children.push_back(static_cast<int>(i));
    return children;
}

CONFIGRET WINAPI simGetChild(PDEVINST child, DEVINST node, ULONG) {
    int index = devNode(node);
    if (index < 0) return CR_INVALID_DEVNODE;
    std::vector<int> children = childrenOf(index);
    if (children.empty()) return CR_NO_SUCH_DEVNODE;
    *child = static_cast<DEVINST>(children[0] + 1);
    return CR_SUCCESS;
}

CONFIGRET WINAPI simGetSibling(PDEVINST sibling, DEVINST node, ULONG) {
    int index = devNode(node);
    if (index < 0) return CR_INVALID_DEVNODE;
    if (index == 0) return CR_NO_SUCH_DEVNODE;
    std::vector<int> peers = childrenOf(pnp().nodes[static_cast<size_t>(index)].parent);
    for (size_t i = 0; i + 1 < peers.size(); ++i) {
        if (peers[i] == index) {
            *sibling = static_cast<DEVINST>(peers[i + 1] + 1);
            return CR_SUCCESS;
        }
    }
    return CR_NO_SUCH_DEVNODE;
}

CONFIGRET WINAPI simGetParent(PDEVINST parent, DEVINST node, ULONG) {
    int index = devNode(node);
    if (index < 0) return CR_INVALID_DEVNODE;
    int up = pnp().nodes[static_cast<size_t>(index)].parent;
    if (up < 0) return CR_NO_SUCH_DEVNODE;
    *parent = static_cast<DEVINST>(up + 1);
    return CR_SUCCESS;
}

std::wstring removalList(int node) {
    std::wstring list;
    for (const std::wstring& id : pnp().nodes[static_cast<size_t>(node)].removalRelations) list += id + L'\0';
    return list + L'\0';
}

CONFIGRET WINAPI simGetDeviceIdListSizeW(PULONG length, PCWSTR filter, ULONG flags) {
    ++pnp().idListQueries;
    if (!(flags & CM_GETIDLIST_FILTER_REMOVALRELATIONS)) return CR_INVALID_FLAG;
    int node = filter ? pnp().find(filter) : -1;
    if (node < 0) return CR_INVALID_DEVICE_ID;
    *length = static_cast<ULONG>(removalList(node).size());
    return CR_SUCCESS;
}

CONFIGRET WINAPI simGetDeviceIdListW(PCWSTR filter, PWCHAR buffer, ULONG length, ULONG flags) {
    if (!(flags & CM_GETIDLIST_FILTER_REMOVALRELATIONS)) return CR_INVALID_FLAG;
    int node = filter ? pnp().find(filter) : -1;
    if (node < 0) return CR_INVALID_DEVICE_ID;
    std::wstring list = removalList(node);
    if (!buffer || length < list.size()) return CR_BUFFER_SMALL;
    memcpy(buffer, list.data(), list.size() * sizeof(wchar_t));
    return CR_SUCCESS;
}

// What an eject takes away: the node, the devices below it, and their removal relations (a
// USB stick's volume hangs under the volume manager, yet goes with the stick).
std::vector<int> ejectedWith(int top) {
    std::vector<int> taken;
    std::function<void(int)> take = [&](int n) {
        if (std::find(taken.begin(), taken.end(), n) != taken.end()) return;
        taken.push_back(n);
        for (size_t i = 0; i < pnp().nodes.size(); ++i)
            if (pnp().nodes[i].parent == n) take(static_cast<int>(i));
        for (const std::wstring& related : pnp().nodes[static_cast<size_t>(n)].removalRelations) {
            int r = pnp().find(related);
            if (r >= 0) take(r);
        }
    };
    take(top);
    return taken;
}

CONFIGRET veto(PPNP_VETO_TYPE vetoType, LPWSTR vetoName, ULONG nameLength, PNP_VETO_TYPE type,
               const std::wstring& name) {
    if (vetoType) *vetoType = type;
    if (vetoName && nameLength > 0) {
        size_t count = std::min<size_t>(name.size(), nameLength - 1);
        memcpy(vetoName, name.c_str(), count * sizeof(wchar_t));
        vetoName[count] = 0;
    }
    return CR_REMOVE_VETOED;
}

// The Plug and Play manager's own refusals come first: a node that is not removable
// (PNP_VetoIllegalDeviceRequest, "the device does not support the specified operation"), then
// open handles on any device that would go (PNP_VetoOutstandingOpen); both name the device by
// its instance path.
CONFIGRET WINAPI simRequestDeviceEjectW(DEVINST node, PPNP_VETO_TYPE vetoType, LPWSTR vetoName, ULONG nameLength,
                                        ULONG) {
    pnp().ejectRequests.push_back(node);
    int index = devNode(node);
    if (index < 0) return CR_INVALID_DEVNODE;
    SimNode& n = pnp().nodes[static_cast<size_t>(index)];
    ++n.ejectRequests;
    if (!n.removable) return veto(vetoType, vetoName, nameLength, PNP_VetoIllegalDeviceRequest, n.instanceId);
    std::vector<int> taken = ejectedWith(index);
    for (int t : taken) {
        if (isPresent(t) && SimulatedMachine::current().openHandlesOnNode(t) > 0)
            return veto(vetoType, vetoName, nameLength, PNP_VetoOutstandingOpen, pnp().nodes[static_cast<size_t>(t)].instanceId);
    }
    if (n.ejectResult == CR_SUCCESS) {
        for (int t : taken) pnp().nodes[static_cast<size_t>(t)].present = false;
        return CR_SUCCESS;
    }
    if (n.ejectResult == CR_REMOVE_VETOED) return veto(vetoType, vetoName, nameLength, n.vetoType, n.vetoName);
    if (vetoType) *vetoType = n.vetoType;
    if (vetoName && nameLength > 0) veto(nullptr, vetoName, nameLength, n.vetoType, n.vetoName);
    return n.ejectResult;
}

DWORD WINAPI simQueryDosDeviceW(LPCWSTR name, LPWSTR target, DWORD max) {
    for (const auto& entry : pnp().dosDevices) {
        if (!sameId(entry.first, name)) continue;
        if (max < entry.second.size() + 2) {
            SetLastError(ERROR_INSUFFICIENT_BUFFER);
            return 0;
        }
        memcpy(target, entry.second.c_str(), (entry.second.size() + 1) * sizeof(wchar_t));
        target[entry.second.size() + 1] = 0;
        return static_cast<DWORD>(entry.second.size() + 2);
    }
    SetLastError(ERROR_FILE_NOT_FOUND);
    return 0;
}

UINT WINAPI simGetDriveTypeW(LPCWSTR root) {
    for (const auto& entry : pnp().driveTypes)
        if (sameId(entry.first, root)) return entry.second;
    return DRIVE_NO_ROOT_DIR;
}

SC_HANDLE WINAPI simOpenScManagerW(LPCWSTR, LPCWSTR, DWORD) {
    if (!pnp().scmOpens) {
        SetLastError(ERROR_ACCESS_DENIED);
        return nullptr;
    }
    ++pnp().openServiceHandles;
    return reinterpret_cast<SC_HANDLE>(kManagerHandle);
}

SC_HANDLE WINAPI simOpenServiceW(SC_HANDLE manager, LPCWSTR name, DWORD) {
    if (reinterpret_cast<ULONG_PTR>(manager) != kManagerHandle) {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    for (size_t i = 0; i < pnp().services.size(); ++i) {
        if (sameId(pnp().services[i].name, name)) {
            ++pnp().openServiceHandles;
            return reinterpret_cast<SC_HANDLE>(kServiceBase + 4 * i);
        }
    }
    SetLastError(ERROR_SERVICE_DOES_NOT_EXIST);
    return nullptr;
}

BOOL WINAPI simDeleteService(SC_HANDLE handle) {
    ULONG_PTR v = reinterpret_cast<ULONG_PTR>(handle);
    if (v < kServiceBase || (v - kServiceBase) / 4 >= pnp().services.size()) return fail(ERROR_INVALID_HANDLE);
    SimService& service = pnp().services[(v - kServiceBase) / 4];
    if (!service.deletable) return fail(ERROR_ACCESS_DENIED);
    if (service.markedForDeletion) return fail(ERROR_SERVICE_MARKED_FOR_DELETE);
    service.markedForDeletion = true;
    return TRUE;
}

BOOL WINAPI simCloseServiceHandle(SC_HANDLE handle) {
    if (!handle) return fail(ERROR_INVALID_HANDLE);
    --pnp().openServiceHandles;
    return TRUE;
}

}  // namespace

SimPnp::SimPnp() {
    SimNode root;
    root.instanceId = L"HTREE\\ROOT\\0";
    nodes.push_back(root);
}

int SimPnp::addNode(const std::wstring& instanceId, int parent) {
    SimNode n;
    n.instanceId = instanceId;
    n.parent = parent;
    nodes.push_back(n);
    return static_cast<int>(nodes.size() - 1);
}

int SimPnp::find(const std::wstring& instanceId) const {
    for (size_t i = 0; i < nodes.size(); ++i)
        if (_wcsicmp(nodes[i].instanceId.c_str(), instanceId.c_str()) == 0) return static_cast<int>(i);
    return -1;
}

void SimPnp::setString(int index, DWORD property, const std::wstring& value) {
    SimProperty& p = node(index).properties[property];
    p.type = REG_SZ;
    p.bytes.assign(reinterpret_cast<const char*>(value.c_str()), (value.size() + 1) * sizeof(wchar_t));
}

void SimPnp::setMultiString(int index, DWORD property, const std::vector<std::wstring>& entries) {
    std::wstring list;
    for (const std::wstring& e : entries) list += e + L'\0';
    list += L'\0';
    SimProperty& p = node(index).properties[property];
    p.type = REG_MULTI_SZ;
    p.bytes.assign(reinterpret_cast<const char*>(list.data()), list.size() * sizeof(wchar_t));
}

void SimPnp::setRawProperty(int index, DWORD property, DWORD type, const std::wstring& units) {
    SimProperty& p = node(index).properties[property];
    p.type = type;
    p.bytes.assign(reinterpret_cast<const char*>(units.data()), units.size() * sizeof(wchar_t));
}

std::vector<std::wstring> SimPnp::multiString(int index, DWORD property) const {
    std::vector<std::wstring> entries;
    auto found = nodes[static_cast<size_t>(index)].properties.find(property);
    if (found == nodes[static_cast<size_t>(index)].properties.end()) return entries;
    std::wstring units(found->second.bytes.size() / sizeof(wchar_t), L'\0');
    memcpy(&units[0], found->second.bytes.data(), units.size() * sizeof(wchar_t));
    for (size_t start = 0; start < units.size() && units[start] != 0;) {
        size_t end = units.find(L'\0', start);
        if (end == std::wstring::npos) end = units.size();
        entries.push_back(units.substr(start, end - start));
        start = end + 1;
    }
    return entries;
}

bool SimPnp::hasProperty(int index, DWORD property) const {
    return nodes[static_cast<size_t>(index)].properties.count(property) != 0;
}

namespace {

void applyDue(std::vector<std::pair<DWORD, bool>>& changes, bool& value, DWORD tick) {
    std::vector<std::pair<DWORD, bool>> later;
    for (const auto& change : changes) {
        // Due when the tick has reached it, in wrapping 32-bit time.
        if (static_cast<LONG>(tick - change.first) >= 0) value = change.second;
        else later.push_back(change);
    }
    changes.swap(later);
}

}  // namespace

void SimPnp::advance(DWORD tick) {
    for (SimNode& n : nodes) {
        applyDue(n.presenceChanges, n.present, tick);
        applyDue(n.disabledChanges, n.disabled, tick);
    }
}

void installSimulatedPnp(SystemCalls& table) {
    g_sets.clear();
    table.queryDosDeviceW = &simQueryDosDeviceW;
    table.getDriveTypeW = &simGetDriveTypeW;
    table.setupDiGetClassDevsW = &simGetClassDevsW;
    table.setupDiEnumDeviceInfo = &simEnumDeviceInfo;
    table.setupDiEnumDeviceInterfaces = &simEnumDeviceInterfaces;
    table.setupDiGetDeviceInterfaceDetailW = &simGetDeviceInterfaceDetailW;
    table.setupDiGetDeviceInstanceIdW = &simGetDeviceInstanceIdW;
    table.setupDiGetDeviceRegistryPropertyW = &simGetDeviceRegistryPropertyW;
    table.setupDiSetDeviceRegistryPropertyW = &simSetDeviceRegistryPropertyW;
    table.setupDiSetClassInstallParamsW = &simSetClassInstallParamsW;
    table.setupDiCallClassInstaller = &simCallClassInstaller;
    table.setupDiGetDeviceInstallParamsW = &simGetDeviceInstallParamsW;
    table.setupDiCreateDevRegKeyW = &simCreateDevRegKeyW;
    table.setupDiDestroyDeviceInfoList = &simDestroyDeviceInfoList;
    table.regDeleteValueW = &simRegDeleteValueW;
    table.regCloseKey = &simRegCloseKey;
    table.cmLocateDevNodeW = &simLocateDevNodeW;
    table.cmGetDeviceIdW = &simGetDeviceIdW;
    table.cmGetChild = &simGetChild;
    table.cmGetSibling = &simGetSibling;
    table.cmGetParent = &simGetParent;
    table.cmGetDeviceIdListSizeW = &simGetDeviceIdListSizeW;
    table.cmGetDeviceIdListW = &simGetDeviceIdListW;
    table.cmRequestDeviceEjectW = &simRequestDeviceEjectW;
    table.openScManagerW = &simOpenScManagerW;
    table.openServiceW = &simOpenServiceW;
    table.deleteService = &simDeleteService;
    table.closeServiceHandle = &simCloseServiceHandle;
}
