#include "sim/machine.h"

#include <gtest/gtest.h>

#include <stdlib.h>
#include <string.h>
#include <shlobj.h>
#include <winioctl.h>

#include <algorithm>

namespace {

SimulatedMachine* g_machine = nullptr;

std::wstring orEmpty(LPCWSTR s) { return s ? std::wstring(s) : std::wstring(); }

BOOL WINAPI simGetVersionExW(OSVERSIONINFOW* info) {
    if (!info || info->dwOSVersionInfoSize < sizeof(OSVERSIONINFOW)) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    info->dwMajorVersion = SimulatedMachine::current().majorVersion;
    info->dwMinorVersion = SimulatedMachine::current().minorVersion;
    info->dwBuildNumber = 9200;
    info->dwPlatformId = VER_PLATFORM_WIN32_NT;
    info->szCSDVersion[0] = 0;
    return TRUE;
}

void WINAPI simGetNativeSystemInfo(SYSTEM_INFO* info) {
    ZeroMemory(info, sizeof(*info));
    info->wProcessorArchitecture = SimulatedMachine::current().nativeArchitecture;
    info->dwNumberOfProcessors = 2;
}

FARPROC WINAPI simGetProcAddress(HMODULE module, LPCSTR name) {
    if (HIWORD(reinterpret_cast<ULONG_PTR>(name)) != 0 && lstrcmpA(name, "GetNativeSystemInfo") == 0) {
        if (!SimulatedMachine::current().hasGetNativeSystemInfo) {
            SetLastError(ERROR_PROC_NOT_FOUND);
            return nullptr;
        }
        return reinterpret_cast<FARPROC>(reinterpret_cast<void*>(&simGetNativeSystemInfo));
    }
    return realSystemCalls().getProcAddress(module, name);
}

BOOL WINAPI simIsUserAnAdmin(void) { return SimulatedMachine::current().userIsAdmin; }
DWORD WINAPI simGetTickCount(void) { return SimulatedMachine::current().now; }

void applyScheduledCloses();

void WINAPI simSleep(DWORD ms) {
    SimulatedMachine::current().sleeps.push_back(ms);
    SimulatedMachine::current().now += ms;
    applyScheduledCloses();
    // Virtual time passes at once, but real peers (a service stand-in making its next pipe
    // instance) still need a moment of real time between two tries.
    Sleep(1);
}

int WINAPI simMessageBoxW(HWND owner, LPCWSTR text, LPCWSTR caption, UINT type) {
    SimulatedMachine::current().messageBoxes.push_back({owner, orEmpty(text), orEmpty(caption), type});
    return SimulatedMachine::current().messageBoxAnswer;
}

HINSTANCE WINAPI simShellExecuteW(HWND, LPCWSTR verb, LPCWSTR file, LPCWSTR parameters, LPCWSTR, INT) {
    SimulatedMachine::current().shellLaunches.push_back({orEmpty(verb), orEmpty(file), orEmpty(parameters)});
    return reinterpret_cast<HINSTANCE>(static_cast<INT_PTR>(33));
}

BOOL WINAPI simShellExecuteExW(SHELLEXECUTEINFOW* info) {
    SimulatedMachine::current().shellLaunches.push_back(
        {orEmpty(info->lpVerb), orEmpty(info->lpFile), orEmpty(info->lpParameters)});
    info->hInstApp = reinterpret_cast<HINSTANCE>(static_cast<INT_PTR>(33));
    info->hProcess = nullptr;
    return TRUE;
}

// Device handles are small tagged values that no real handle takes.
const ULONG_PTR kDeviceHandleBase = 0x7E000000;

struct OpenDevice {
    SimDevice* device;
    ULONGLONG position;
    bool open;
    DWORD access, share;
    bool program;  // another program's handle, not the tool's
    bool locks;    // holds the device's lock
};
std::vector<OpenDevice> g_openDevices;
std::vector<std::pair<DWORD, int>> g_scheduledCloses;  // (tick, held handle)

SimDevice* deviceOf(HANDLE h, OpenDevice** state = nullptr) {
    ULONG_PTR v = reinterpret_cast<ULONG_PTR>(h);
    if (v < kDeviceHandleBase || v >= kDeviceHandleBase + 4 * g_openDevices.size() || (v & 3)) return nullptr;
    OpenDevice& d = g_openDevices[(v - kDeviceHandleBase) / 4];
    if (!d.open || d.program) return nullptr;
    if (state) *state = &d;
    return d.device;
}

bool isDevicePath(LPCWSTR path) {
    // "\\.\" names devices; "\\?\" is how device interfaces name theirs.
    bool device = path && (wcsncmp(path, L"\\\\.\\", 4) == 0 || wcsncmp(path, L"\\\\?\\", 4) == 0);
    return device && _wcsnicmp(path + 4, L"pipe\\", 5) != 0;
}

void closeOpen(OpenDevice& d) {
    d.open = false;
    d.locks = false;
}

// Programs close their files when the virtual clock says so.
void applyScheduledCloses() {
    DWORD tick = SimulatedMachine::current().now;
    std::vector<std::pair<DWORD, int>> later;
    for (const auto& close : g_scheduledCloses) {
        if (static_cast<LONG>(tick - close.first) >= 0) closeOpen(g_openDevices[static_cast<size_t>(close.second)]);
        else later.push_back(close);
    }
    g_scheduledCloses.swap(later);
}

// Only access to the data takes part in sharing; an open for access 0 only asks the device questions.
bool readsData(DWORD access) { return (access & (GENERIC_READ | GENERIC_ALL | FILE_READ_DATA | GENERIC_EXECUTE | FILE_EXECUTE)) != 0; }
bool writesData(DWORD access) { return (access & (GENERIC_WRITE | GENERIC_ALL | FILE_WRITE_DATA | FILE_APPEND_DATA)) != 0; }

// CreateFileW's rule: a new open must allow what every open handle does, and every open
// handle must allow what the new one asks for. ERROR_SUCCESS when the open may go ahead.
DWORD admitOpen(const SimDevice* device, DWORD access, DWORD share) {
    applyScheduledCloses();
    for (const OpenDevice& other : g_openDevices) {
        if (!other.open || other.device != device) continue;
        if (other.locks) return ERROR_ACCESS_DENIED;
        // A handle without access to the data takes no part in sharing, either way.
        if (!readsData(other.access) && !writesData(other.access)) continue;
        bool conflict = (readsData(access) && !(other.share & FILE_SHARE_READ)) ||
                        (writesData(access) && !(other.share & FILE_SHARE_WRITE)) ||
                        (readsData(other.access) && !(share & FILE_SHARE_READ)) ||
                        (writesData(other.access) && !(share & FILE_SHARE_WRITE));
        if (conflict) return ERROR_SHARING_VIOLATION;
    }
    return ERROR_SUCCESS;
}

size_t addOpen(SimDevice* device, DWORD access, DWORD share, bool program) {
    g_openDevices.push_back({device, 0, true, access, share, program, false});
    return g_openDevices.size() - 1;
}

int otherOpensOf(const SimDevice* device, const OpenDevice* except) {
    applyScheduledCloses();
    int count = 0;
    for (const OpenDevice& other : g_openDevices)
        if (other.open && other.device == device && &other != except) ++count;
    return count;
}

HANDLE WINAPI simCreateFileW(LPCWSTR path, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security,
                             DWORD disposition, DWORD flags, HANDLE templateFile) {
    if (!isDevicePath(path))
        return realSystemCalls().createFileW(path, access, share, security, disposition, flags, templateFile);
    SimulatedMachine& m = SimulatedMachine::current();
    SimDevice* device = m.findDevice(path);
    if (!device || !device->opens) {
        SetLastError(device ? ERROR_ACCESS_DENIED : ERROR_FILE_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    }
    // Opening a device for writing needs rights the tool does not ask for.
    if (access & ~(GENERIC_READ | SYNCHRONIZE)) {
        ADD_FAILURE() << "a device was opened for more than reading";
        SetLastError(ERROR_ACCESS_DENIED);
        return INVALID_HANDLE_VALUE;
    }
    DWORD refusal = admitOpen(device, access, share);
    if (refusal != ERROR_SUCCESS) {
        SetLastError(refusal);
        return INVALID_HANDLE_VALUE;
    }
    device->openAccess.push_back(access);
    size_t index = addOpen(device, access, share, false);
    ++m.openDeviceHandles;
    ++m.deviceOpens;
    return reinterpret_cast<HANDLE>(kDeviceHandleBase + 4 * index);
}

BOOL WINAPI simCloseHandle(HANDLE h) {
    OpenDevice* state = nullptr;
    if (!deviceOf(h, &state)) {
        if (reinterpret_cast<ULONG_PTR>(h) >= kDeviceHandleBase && reinterpret_cast<ULONG_PTR>(h) < kDeviceHandleBase + 0x100000)
            abort();  // a simulated handle closed twice
        return realSystemCalls().closeHandle(h);
    }
    closeOpen(*state);
    --SimulatedMachine::current().openDeviceHandles;
    return TRUE;
}

// The lock is refused while any other handle is open: the volume has files open.
BOOL lockVolume(OpenDevice* state) {
    if (!state->device->lockSucceeds || otherOpensOf(state->device, state) > 0) {
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    state->locks = true;
    return TRUE;
}

BOOL unlockVolume(OpenDevice* state) {
    if (!state->device->unlockSucceeds || !state->locks) {
        SetLastError(ERROR_NOT_LOCKED);
        return FALSE;
    }
    state->locks = false;
    return TRUE;
}

// A dismount does not ask about open files: a dismounted volume has none, so it invalidates
// every other program's handle on it. Only another handle's lock refuses it.
BOOL dismountVolume(OpenDevice* state) {
    bool lockedByOther = false;
    for (const OpenDevice& other : g_openDevices)
        if (other.open && other.locks && other.device == state->device && &other != state) lockedByOther = true;
    if (!state->device->dismountSucceeds || lockedByOther) {
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    for (OpenDevice& other : g_openDevices)
        if (other.open && other.program && other.device == state->device) closeOpen(other);
    return TRUE;
}

BOOL answer(void* out, DWORD outSize, const void* value, DWORD valueSize, LPDWORD returned) {
    if (outSize < valueSize) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    memcpy(out, value, valueSize);
    if (returned) *returned = valueSize;
    return TRUE;
}

BOOL fail(DWORD error) {
    SetLastError(error);
    return FALSE;
}

BOOL WINAPI simDeviceIoControl(HANDLE h, DWORD code, LPVOID in, DWORD inSize, LPVOID out, DWORD outSize,
                               LPDWORD returned, LPOVERLAPPED overlapped) {
    OpenDevice* state = nullptr;
    SimDevice* d = deviceOf(h, &state);
    if (!d) return realSystemCalls().deviceIoControl(h, code, in, inSize, out, outSize, returned, overlapped);
    switch (code) {
    case IOCTL_DISK_GET_DRIVE_GEOMETRY: {
        if (!d->geometryAnswers) return fail(ERROR_INVALID_FUNCTION);
        DISK_GEOMETRY g;
        ZeroMemory(&g, sizeof(g));
        g.BytesPerSector = d->bytesPerSector;
        g.SectorsPerTrack = 63;
        g.TracksPerCylinder = 255;
        g.MediaType = RemovableMedia;
        g.Cylinders.QuadPart = d->bytesPerSector ? static_cast<LONGLONG>(d->size / (63ULL * 255 * d->bytesPerSector)) : 0;
        return answer(out, outSize, &g, sizeof(g), returned);
    }
    case IOCTL_DISK_GET_DRIVE_LAYOUT_EX: {
        if (!d->layoutAnswers) return fail(ERROR_INSUFFICIENT_BUFFER);
        DRIVE_LAYOUT_INFORMATION_EX layout;
        ZeroMemory(&layout, sizeof(layout));
        layout.PartitionStyle = d->partitionStyle;
        layout.PartitionCount = 1;
        return answer(out, outSize, &layout, sizeof(layout), returned);
    }
    case IOCTL_STORAGE_GET_DEVICE_NUMBER: {
        if (d->deviceNumber < 0) return fail(ERROR_INVALID_FUNCTION);
        STORAGE_DEVICE_NUMBER n = {FILE_DEVICE_DISK, static_cast<DWORD>(d->deviceNumber), 1};
        return answer(out, outSize, &n, sizeof(n), returned);
    }
    case 0x222020: {
        if (!d->driverAnswers) return fail(ERROR_INVALID_FUNCTION);
        return answer(out, outSize, &d->driverVersion, sizeof(DWORD), returned);
    }
    case FSCTL_LOCK_VOLUME: ++d->locks; return lockVolume(state);
    case FSCTL_UNLOCK_VOLUME: ++d->unlocks; return unlockVolume(state);
    case FSCTL_DISMOUNT_VOLUME: ++d->dismounts; return dismountVolume(state);
    case IOCTL_STORAGE_MEDIA_REMOVAL:
        ++d->mediaRemovalRequests;
        if (!in || inSize < sizeof(PREVENT_MEDIA_REMOVAL)) return fail(ERROR_INVALID_PARAMETER);
        d->lastPreventMediaRemoval = static_cast<const PREVENT_MEDIA_REMOVAL*>(in)->PreventMediaRemoval;
        return d->mediaRemovalSucceeds ? TRUE : fail(ERROR_INVALID_FUNCTION);
    case IOCTL_STORAGE_EJECT_MEDIA: ++d->ejectMediaRequests; return d->ejectMediaSucceeds ? TRUE : fail(ERROR_NOT_READY);
    default: return fail(ERROR_INVALID_FUNCTION);
    }
}

BOOL WINAPI simSetFilePointerEx(HANDLE h, LARGE_INTEGER distance, PLARGE_INTEGER newPosition, DWORD method) {
    OpenDevice* state = nullptr;
    if (!deviceOf(h, &state)) return realSystemCalls().setFilePointerEx(h, distance, newPosition, method);
    if (method != FILE_BEGIN || distance.QuadPart < 0) return fail(ERROR_NEGATIVE_SEEK);
    state->position = static_cast<ULONGLONG>(distance.QuadPart);
    if (newPosition) newPosition->QuadPart = distance.QuadPart;
    return TRUE;
}

BOOL WINAPI simReadFile(HANDLE h, LPVOID buffer, DWORD size, LPDWORD read, LPOVERLAPPED overlapped) {
    OpenDevice* state = nullptr;
    SimDevice* d = deviceOf(h, &state);
    if (!d) return realSystemCalls().readFile(h, buffer, size, read, overlapped);
    d->readOffsets.push_back(state->position);
    ULONGLONG start = state->position;
    ULONGLONG available = start >= d->size ? 0 : d->size - start;
    DWORD n = static_cast<DWORD>(std::min<ULONGLONG>(size, available));
    // A real device writes only the bytes it read; the rest of the caller's buffer is left as it was.
    unsigned char* out = static_cast<unsigned char*>(buffer);
    memset(out, 0, n);
    for (const auto& chunk : d->contents) {
        ULONGLONG cStart = chunk.first, cEnd = chunk.first + chunk.second.size();
        ULONGLONG from = std::max(cStart, start), to = std::min(cEnd, start + n);
        if (from < to) memcpy(out + (from - start), chunk.second.data() + (from - cStart), static_cast<size_t>(to - from));
    }
    state->position += n;
    if (read) *read = n;
    return TRUE;
}

BOOL WINAPI simFlushFileBuffers(HANDLE h) {
    SimDevice* d = deviceOf(h);
    if (!d) return realSystemCalls().flushFileBuffers(h);
    ++d->flushes;
    return TRUE;
}

void WINAPI simShChangeNotify(LONG event, UINT flags, LPCVOID item1, LPCVOID) {
    std::wstring path = (flags & SHCNF_TYPE) == SHCNF_PATHW && item1 ? static_cast<const wchar_t*>(item1) : L"";
    SimulatedMachine::current().shellNotifications.push_back({event, flags, path});
}

}  // namespace

SimDevice& SimulatedMachine::addDevice(const std::wstring& path) {
    devices.push_back(SimDevice());
    devices.back().path = path;
    return devices.back();
}

SimDevice* SimulatedMachine::findDevice(const std::wstring& path) {
    for (SimDevice& d : devices)
        if (_wcsicmp(d.path.c_str(), path.c_str()) == 0) return &d;
    return nullptr;
}

SimulatedMachine::SimulatedMachine() : saved_(g_systemCalls) {
    if (g_machine) abort();  // one simulated machine at a time
    g_machine = this;
    g_systemCalls.getVersionExW = &simGetVersionExW;
    g_systemCalls.getProcAddress = &simGetProcAddress;
    g_systemCalls.isUserAnAdmin = &simIsUserAnAdmin;
    g_systemCalls.getTickCount = &simGetTickCount;
    g_systemCalls.sleep = &simSleep;
    g_systemCalls.messageBoxW = &simMessageBoxW;
    g_systemCalls.shellExecuteW = &simShellExecuteW;
    g_systemCalls.shellExecuteExW = &simShellExecuteExW;
    g_systemCalls.createFileW = &simCreateFileW;
    g_systemCalls.deviceIoControl = &simDeviceIoControl;
    g_systemCalls.setFilePointerEx = &simSetFilePointerEx;
    g_systemCalls.readFile = &simReadFile;
    g_systemCalls.flushFileBuffers = &simFlushFileBuffers;
    g_systemCalls.closeHandle = &simCloseHandle;
    g_systemCalls.shChangeNotify = &simShChangeNotify;
    g_openDevices.clear();
    g_scheduledCloses.clear();
    installSimulatedPnp(g_systemCalls);
}

SimulatedMachine::~SimulatedMachine() {
    EXPECT_EQ(openDeviceHandles, 0) << "device handles left open";
    EXPECT_EQ(pnp.openSets, 0) << "device sets left open";
    EXPECT_EQ(pnp.openKeys, 0) << "registry keys left open";
    EXPECT_EQ(pnp.openServiceHandles, 0) << "service handles left open";
    g_systemCalls = saved_;
    g_machine = nullptr;
}

bool SimulatedMachine::processIsWow64() const {
    return processArchitecture == PROCESSOR_ARCHITECTURE_INTEL && nativeArchitecture != PROCESSOR_ARCHITECTURE_INTEL;
}

int SimulatedMachine::holdOpen(const std::wstring& path, DWORD access, DWORD share) {
    SimDevice* device = findDevice(path);
    if (!device || !device->opens || admitOpen(device, access, share) != ERROR_SUCCESS) return -1;
    return static_cast<int>(addOpen(device, access, share, true));
}

void SimulatedMachine::closeHeld(int held) { closeOpen(g_openDevices.at(static_cast<size_t>(held))); }

void SimulatedMachine::closeHeldAt(int held, DWORD tick) { g_scheduledCloses.push_back({tick, held}); }

bool SimulatedMachine::isHeldOpen(int held) const {
    applyScheduledCloses();
    return g_openDevices.at(static_cast<size_t>(held)).open;
}

int SimulatedMachine::openHandlesOnNode(int node) const {
    applyScheduledCloses();
    int count = 0;
    for (const OpenDevice& d : g_openDevices)
        if (d.open && d.device->node == node) ++count;
    return count;
}

SimulatedMachine& SimulatedMachine::current() {
    if (!g_machine) abort();
    return *g_machine;
}
