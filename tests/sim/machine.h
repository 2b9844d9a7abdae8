// The simulated machine behind the system-call seam. A test creates one on its stack; while
// it lives, every call through the seam reaches it, and the real table is back afterwards.
#pragma once
#include "platform/system_calls.h"
#include "sim/pnp.h"

#include <winioctl.h>

#include <deque>
#include <map>
#include <string>
#include <vector>

struct MessageBoxRecord {
    HWND owner;
    std::wstring text;
    std::wstring caption;
    UINT flags;
};

struct ShellLaunchRecord {
    std::wstring verb;
    std::wstring file;
    std::wstring parameters;
};

// A disk or volume opened by its "\\.\" path. Unknown paths do not open; ordinary files go
// to the real file system. Its open handles are tracked with their access and share mode: an
// open that the share modes of the others refuse fails with ERROR_SHARING_VIOLATION, a lock
// fails with ERROR_ACCESS_DENIED while any other handle is open, and a locked device opens for
// no one else.
struct SimDevice {
    std::wstring path;
    int node = -1;  // the device node it belongs to, whose eject its open handles veto
    bool opens = true;
    bool geometryAnswers = true;
    DWORD bytesPerSector = 512;
    bool layoutAnswers = true;
    DWORD partitionStyle = PARTITION_STYLE_MBR;
    ULONGLONG size = 1ULL << 44;
    std::map<ULONGLONG, std::string> contents;  // byte offset -> bytes there; the rest reads as zeros
    LONG deviceNumber = -1;                      // -1: the device number query fails
    bool driverAnswers = false;
    DWORD driverVersion = 0;
    bool lockSucceeds = true;
    bool unlockSucceeds = true;
    bool dismountSucceeds = true;
    bool mediaRemovalSucceeds = true;
    bool ejectMediaSucceeds = true;
    // What was done to it.
    std::vector<DWORD> openAccess;  // the access asked for at each open
    std::vector<ULONGLONG> readOffsets;
    int locks = 0, unlocks = 0, dismounts = 0, flushes = 0;
    int mediaRemovalRequests = 0, ejectMediaRequests = 0;
    int lastPreventMediaRemoval = -1;  // the byte the last media-removal request carried

    void write(ULONGLONG offset, const std::string& bytes) { contents[offset] = bytes; }
};

struct ShellNotification {
    LONG event;
    UINT flags;
    std::wstring path;
};

class SimulatedMachine {
public:
    SimulatedMachine();
    // Fails the running test when a device handle was left open.
    ~SimulatedMachine();
    SimulatedMachine(const SimulatedMachine&) = delete;
    SimulatedMachine& operator=(const SimulatedMachine&) = delete;

    // What the machine reports.
    DWORD majorVersion = 6;
    DWORD minorVersion = 2;
    bool hasGetNativeSystemInfo = true;
    WORD nativeArchitecture = PROCESSOR_ARCHITECTURE_AMD64;
    BOOL userIsAdmin = TRUE;

    // The virtual clock: Sleep advances it; nothing waits for real.
    DWORD now = 1000;
    std::vector<DWORD> sleeps;

    // What a person was shown, and how they answer.
    std::vector<MessageBoxRecord> messageBoxes;
    int messageBoxAnswer = IDOK;
    std::vector<ShellLaunchRecord> shellLaunches;

    // Disks and volumes, and the handles handed out for them.
    SimDevice& addDevice(const std::wstring& path);
    SimDevice* findDevice(const std::wstring& path);
    std::deque<SimDevice> devices;
    int openDeviceHandles = 0;  // the tool's own
    int deviceOpens = 0;

    // The process the machine serves: a 32-bit one on 64-bit Windows runs under WOW64, and the
    // class installer refuses it. Both builds of the tests start as a process of the native
    // architecture, so that the same tests hold for both; a test sets it to be the 32-bit build.
    WORD processArchitecture = PROCESSOR_ARCHITECTURE_AMD64;
    bool processIsWow64() const;

    // Another program's open handle on a device, as a program holding a file on the drive has
    // one on its volume. Returns its number, or -1 when the device refuses the open (sharing,
    // lock, unknown path). It stays open until closed, here or on the virtual clock; a dismount
    // of its volume invalidates it.
    int holdOpen(const std::wstring& path, DWORD access = GENERIC_READ | GENERIC_WRITE,
                 DWORD share = FILE_SHARE_READ | FILE_SHARE_WRITE);
    void closeHeld(int held);
    void closeHeldAt(int held, DWORD tick);
    bool isHeldOpen(int held) const;
    // Open handles, the tool's and other programs', on the devices of a device node.
    int openHandlesOnNode(int node) const;
    std::vector<ShellNotification> shellNotifications;

    // Devices, device sets and services.
    SimPnp pnp;

    static SimulatedMachine& current();

private:
    SystemCalls saved_;
};
