#include "tool/service/service_commands.h"

#include "common/bounded.h"
#include "common/product_contract.h"
#include "platform/owners.h"
#include "platform/system_calls.h"
#include "tool/device/disk_identity.h"
#include "tool/device/volume.h"
#include "tool/service/sector_io.h"
#include "tool/service/service_pipe.h"
#include "tool/shell/tool_state.h"
#include "tool/usage/explorer_windows.h"
#include "tool/usage/process_scan.h"

#include <string.h>

#include <vector>

namespace {

const int kFlushAttempts = 25;
const DWORD kFlushPauseMs = 200;
const DWORD kSectionSize = 0;  // map the whole section
const size_t kProcessFieldSize = 260;

#define REQUEST_HEAD "%s%s\x1f%S\x1f"
#define REQUEST(body) REQUEST_HEAD body "\x03"

// A section the service fills, mapped for reading while one command runs.
class SectionView {
public:
    explicit SectionView(const wchar_t* name)
        : section_(OpenFileMappingW(FILE_MAP_READ, FALSE, name)),
          view_(section_ ? MapViewOfFile(section_.get(), FILE_MAP_READ, 0, 0, kSectionSize) : nullptr) {}
    ~SectionView() {
        if (view_) UnmapViewOfFile(view_);
    }
    SectionView(const SectionView&) = delete;
    SectionView& operator=(const SectionView&) = delete;
    bool opened() const { return section_.valid(); }
    const void* view() const { return view_; }

private:
    UniqueHandle section_;
    void* view_;
};

// Asks for one 32-bit value that the service leaves in the DwordData section.
BOOL serviceGetDword(const char* keyword, const wchar_t* devicePath, DWORD* value) {
    char request[SERVICE_MESSAGE_CAPACITY];
    size_t length = formatServiceMessage(request, REQUEST("%S\x1f"), SERVICE_MESSAGE_HEADER, keyword,
                                         SERVICE_CLIENT_TAG, devicePath);
    SectionView section(SERVICE_SECTION_DWORD);
    if (!section.view()) return FALSE;
    if (serviceCommand(request, length) != MSG_OK) return FALSE;
    memcpy(value, section.view(), sizeof(*value));
    return TRUE;
}

// The exchange of the commands that answer in field 2; FALSE unless the status is "OK".
BOOL serviceExchangeForField(const char* request, size_t length, char* field, size_t fieldSize) {
    if (length == 0) return FALSE;
    CServicePipe pipe;
    if (!pipe.connect(SERVICE_PIPE_NAME)) return FALSE;
    char reply[SERVICE_MESSAGE_CAPACITY];
    if (!pipe.write(request, length) || !pipe.read(reply, sizeof(reply)) || !sendEndRequest(pipe)) return FALSE;
    return getServiceReplyValue(reply, pipe.replyLength(), field, fieldSize);
}

BOOL localGetPartitionStyle(const wchar_t* devicePath, DWORD* style) {
    CSectorIO disk;
    if (!disk.open(devicePath, GENERIC_READ)) return FALSE;
    DriveLayout layout = disk.getDriveLayout();
    if (!layout) return FALSE;
    DWORD found = layout->PartitionStyle;
    if (found != PARTITION_STYLE_MBR && found != PARTITION_STYLE_GPT) return FALSE;
    *style = found;
    return TRUE;
}

// A disk reports at least 512 bytes per sector; anything less is no usable geometry and must
// never become a divisor or the source of a 512-byte copy.
BOOL localGetSectorSize(const wchar_t* devicePath, DWORD* bytesPerSector) {
    CSectorIO disk;
    if (!disk.open(devicePath, GENERIC_READ) || disk.bytesPerSector() < HEADER_SIZE) return FALSE;
    *bytesPerSector = disk.bytesPerSector();
    return TRUE;
}

MessageCode localReadSector(const wchar_t* devicePath, LONG sector, void* out, size_t outSize) {
    CSectorIO disk;
    if (!disk.open(devicePath, GENERIC_READ)) return MSG_SECTOR_OPEN_FAILED;
    DWORD sectorSize = disk.bytesPerSector();
    if (sectorSize < HEADER_SIZE) return MSG_SECTOR_READ_FAILED;
    std::vector<unsigned char> buffer;
    try {
        buffer.assign(sectorSize, 0);
    } catch (...) {
        return MSG_SECTOR_NO_MEMORY;
    }
    if (!disk.read(static_cast<DWORD>(sector), 1, buffer.data(), sectorSize)) return MSG_SECTOR_READ_FAILED;
    if (outSize < HEADER_SIZE) return MSG_BUFFER_TOO_SMALL;
    memcpy(out, buffer.data(), HEADER_SIZE);
    return MSG_OK;
}

}  // namespace

void formatPhysicalDrivePath(wchar_t* out, int32_t diskNumber) {
    formatText(out, DEVICE_PATH_CAPACITY, L"\\\\.\\PHYSICALDRIVE%d", diskNumber);
}

BOOL serviceGetPartitionStyle(const wchar_t* devicePath, DWORD* style) {
    return serviceGetDword(SERVICE_CMD_GPS, devicePath, style);
}

BOOL serviceGetSectorSize(const wchar_t* devicePath, DWORD* bytesPerSector) {
    return serviceGetDword(SERVICE_CMD_GSL, devicePath, bytesPerSector);
}

MessageCode serviceReadSector(const wchar_t* devicePath, LONG sector, void* out, size_t outSize) {
    // The service always hands back 512 bytes: a smaller buffer is refused before asking.
    if (outSize < HEADER_SIZE) return MSG_BUFFER_TOO_SMALL;
    char request[SERVICE_MESSAGE_CAPACITY];
    size_t length = formatServiceMessage(request, REQUEST("%S\x1f%ld\x1f%ld\x1f"), SERVICE_MESSAGE_HEADER,
                                         SERVICE_CMD_SRD, SERVICE_CLIENT_TAG, devicePath, static_cast<long>(sector),
                                         static_cast<long>(HEADER_SIZE));
    SectionView section(SERVICE_SECTION_SECTOR);
    if (!section.opened()) return MSG_SECTION_OPEN_FAILED;
    if (!section.view()) return MSG_SECTION_VIEW_FAILED;
    MessageCode result = serviceCommand(request, length);
    if (result == MSG_OK) memcpy(out, section.view(), HEADER_SIZE);
    return result;
}

int32_t serviceGetDiskNumber(const wchar_t* driveArgument) {
    char request[SERVICE_MESSAGE_CAPACITY];
    size_t length = formatServiceMessage(request, REQUEST("%S\x1f"), SERVICE_MESSAGE_HEADER, SERVICE_CMD_GDN,
                                         SERVICE_CLIENT_TAG, driveArgument);
    char number[SERVICE_STATUS_FIELD_SIZE];
    if (!serviceExchangeForField(request, length, number, sizeof(number))) return -1;
    return parseServiceNumber(number);
}

BOOL serviceFindProcessOnDrive(const wchar_t* driveArgument, wchar_t* nameOut) {
    char request[SERVICE_MESSAGE_CAPACITY];
    size_t length = formatServiceMessage(request, REQUEST("%S\x1f"), SERVICE_MESSAGE_HEADER, SERVICE_CMD_CPD,
                                         SERVICE_CLIENT_TAG, driveArgument);
    char name[kProcessFieldSize];
    if (!serviceExchangeForField(request, length, name, sizeof(name))) return FALSE;
    // The field holds at most 259 bytes, so its conversion fits with its terminator.
    if (MultiByteToWideChar(CP_ACP, 0, name, -1, nameOut, PROCESS_NAME_CAPACITY) == 0) nameOut[0] = 0;
    return TRUE;
}

MessageCode serviceDeleteDriverService(const wchar_t* driverService) {
    char request[SERVICE_MESSAGE_CAPACITY];
    size_t length = formatServiceMessage(request, REQUEST("%S\x1f"), SERVICE_MESSAGE_HEADER, SERVICE_CMD_UDV,
                                         SERVICE_CLIENT_TAG, driverService);
    return serviceCommand(request, length);
}

MessageCode serviceRemoveDiskDriver(const wchar_t* instanceId, const wchar_t* driverService) {
    char request[SERVICE_MESSAGE_CAPACITY];
    size_t length = formatServiceMessage(request, REQUEST("%S\x1f%S\x1f"), SERVICE_MESSAGE_HEADER, SERVICE_CMD_RD2,
                                         SERVICE_CLIENT_TAG, instanceId, driverService);
    return serviceCommand(request, length);
}

MessageCode serviceEnableDevice(const wchar_t* instanceId, int enable) {
    char request[SERVICE_MESSAGE_CAPACITY];
    size_t length = formatServiceMessage(request, REQUEST("%S\x1f%d\x1f"), SERVICE_MESSAGE_HEADER, SERVICE_CMD_ENA,
                                         SERVICE_CLIENT_TAG, instanceId, enable);
    return serviceCommand(request, length);
}

MessageCode serviceFlushVolume(const wchar_t* driveArgument) {
    char request[SERVICE_MESSAGE_CAPACITY];
    size_t length = formatServiceMessage(request, REQUEST("%S\x1f"), SERVICE_MESSAGE_HEADER, SERVICE_CMD_FLS,
                                         SERVICE_CLIENT_TAG, driveArgument);
    return serviceCommand(request, length);
}

BOOL getPartitionStyle(const wchar_t* devicePath, DWORD* style) {
    if (serviceAvailable && serviceGetPartitionStyle(devicePath, style)) return TRUE;
    return localGetPartitionStyle(devicePath, style);
}

BOOL getSectorSize(const wchar_t* devicePath, DWORD* bytesPerSector) {
    DWORD size = 0;
    BOOL found = (serviceAvailable && serviceGetSectorSize(devicePath, &size) && size >= HEADER_SIZE) ||
                 localGetSectorSize(devicePath, &size);
    if (found) *bytesPerSector = size;
    return found;
}

MessageCode readRawSector(const wchar_t* devicePath, LONG sector, void* out, size_t outSize) {
    if (serviceAvailable) return serviceReadSector(devicePath, sector, out, outSize);
    return localReadSector(devicePath, sector, out, outSize);
}

BOOL findProcessOnDrive(const wchar_t* driveArgument, wchar_t* nameOut) {
    if (serviceAvailable) return serviceFindProcessOnDrive(driveArgument, nameOut);
    return findProcessOnDriveLocal(driveArgument, nameOut);
}

int32_t getDiskNumber(const wchar_t* driveArgument) {
    if (serviceAvailable) return serviceGetDiskNumber(driveArgument);
    return queryDiskNumber(driveArgument);
}

BOOL flushVolume(const wchar_t* driveArgument) {
    closeExplorerWindowsOfDrive(driveArgument);
    if (serviceAvailable) return serviceFlushVolume(driveArgument) == MSG_OK;
    notifyDriveRemovedAndAdded(driveArgument[0]);
    for (int attempt = 0; attempt < kFlushAttempts; ++attempt) {
        if (myVolumeFlush(driveArgument)) return TRUE;
        sys().sleep(kFlushPauseMs);
    }
    return FALSE;
}

BOOL myVolumeFlush(const wchar_t* driveArgument) {
    wchar_t path[DEVICE_PATH_CAPACITY];
    // A cut path could name another device: a drive argument that does not fit is no volume.
    if (formatText(path, DEVICE_PATH_CAPACITY, L"\\\\.\\%s", driveArgument) != 4 + wcslen(driveArgument))
        return FALSE;
    UniqueDevice volume(sys().createFileW(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                          OPEN_EXISTING, 0, nullptr));
    if (!volume) return FALSE;
    // A volume that cannot be locked has open files: dismounting it now would close them before
    // the user was asked. Only the user's choice to continue may force it off.
    if (!volumeControl(volume.get(), FSCTL_LOCK_VOLUME, nullptr, 0)) return FALSE;
    if (volumeControl(volume.get(), FSCTL_UNLOCK_VOLUME, nullptr, 0)) return TRUE;
    sys().messageBoxW(nullptr, L"myVolumeFlush", nullptr, MB_ICONERROR | MB_SYSTEMMODAL);
    return volumeControl(volume.get(), FSCTL_DISMOUNT_VOLUME, nullptr, 0);
}
