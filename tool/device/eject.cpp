#include "tool/device/eject.h"

#include "common/bounded.h"
#include "platform/owners.h"
#include "platform/system_calls.h"
#include "tool/device/disk_identity.h"
#include "tool/device/volume.h"

#include <string.h>
#include <winioctl.h>

namespace {

const DWORD kRefusedPauseMs = 500;
const int kForceAttempts = 25;
const DWORD kForcePauseMs = 200;
const DWORD kNtNameCapacity = 260;
const ULONG kVetoNameCapacity = 260;
const DWORD kShareReadWrite = FILE_SHARE_READ | FILE_SHARE_WRITE;

// The tool is a GUI program: unless someone redirected it, there is no standard output, and
// then the diagnostics simply go nowhere.
void writeStandardOutput(const char* text) {
    HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
    if (out == nullptr || out == INVALID_HANDLE_VALUE) return;
    DWORD written = 0;
    WriteFile(out, text, static_cast<DWORD>(strlen(text)), &written, nullptr);
}

void reportRefusal(CONFIGRET result, const wchar_t* vetoName) {
    char line[kVetoNameCapacity + 16];
    writeStandardOutput("failed\n");
    formatNarrow(line, sizeof(line), "Result=0x%2X\n", static_cast<unsigned>(result));
    writeStandardOutput(line);
    if (!vetoName[0]) return;
    // The closing parenthesis is part of the line as readers of this output know it.
    formatNarrow(line, sizeof(line), "VetoName=%S)\n\n", vetoName);
    writeStandardOutput(line);
}

// Access 0 asks for no data, only the device's answers: that is open to users without
// administrator rights, which the regular removal must not need.
MessageCode readVolumeDeviceNumber(wchar_t letter, LONG* number) {
    wchar_t path[VOLUME_PATH_CAPACITY];
    formatVolumePath(path, letter);
    UniqueDevice volume(sys().createFileW(path, 0, kShareReadWrite, nullptr, OPEN_EXISTING, 0, nullptr));
    if (!volume) return MSG_EJECT_VOLUME_NOT_OPENED;
    STORAGE_DEVICE_NUMBER answer;
    ZeroMemory(&answer, sizeof(answer));
    DWORD returned = 0;
    *number = sys().deviceIoControl(volume.get(), IOCTL_STORAGE_GET_DEVICE_NUMBER, nullptr, 0, &answer,
                                    sizeof(answer), &returned, nullptr)
                  ? static_cast<LONG>(answer.DeviceNumber)
                  : -1;
    if (*number == -1) return MSG_EJECT_NO_DEVICE_NUMBER;
    return MSG_OK;
}

MessageCode findDriveDevNode(wchar_t letter, LONG number, DEVINST* node) {
    wchar_t root[4] = L"?:\\";
    root[0] = letter;
    wchar_t dosName[3] = L"?:";
    dosName[0] = letter;
    UINT driveType = sys().getDriveTypeW(root);
    wchar_t ntName[kNtNameCapacity] = {};
    if (sys().queryDosDeviceW(dosName, ntName, kNtNameCapacity) == 0) return MSG_EJECT_NO_DOS_DEVICE;
    *node = locateDiskDevNode(number, driveType, ntName);
    if (*node == 0) return MSG_EJECT_NO_DEVICE_NODE;
    return MSG_OK;
}

MessageCode requestParentEject(DEVINST node) {
    DEVINST parent = 0;
    PNP_VETO_TYPE vetoType = PNP_VetoTypeUnknown;
    // Zero-filled before the request, and its last unit cleared after it, so that the name
    // printed ends within the buffer whatever the request wrote.
    wchar_t vetoName[kVetoNameCapacity] = {};
    CONFIGRET result;
    // Without a parent there is nothing to eject, so report it as a missing node, never ask.
    if (sys().cmGetParent(&parent, node, 0) != CR_SUCCESS || parent == 0)
        result = CR_NO_SUCH_DEVNODE;
    else
        result = sys().cmRequestDeviceEjectW(parent, &vetoType, vetoName, kVetoNameCapacity, 0);
    vetoName[kVetoNameCapacity - 1] = 0;
    if (result == CR_SUCCESS) {
        writeStandardOutput("Success\n\n");
        return MSG_OK;
    }
    sys().sleep(kRefusedPauseMs);
    reportRefusal(result, vetoName);
    return MSG_CANCELLED;
}

}  // namespace

MessageCode ejectDrive(wchar_t driveLetter) {
    wchar_t letter = static_cast<wchar_t>(driveLetter & 0xFFDF);
    if (letter < L'A' || letter > L'Z') return MSG_EJECT_NOT_A_LETTER;
    LONG number = -1;
    MessageCode result = readVolumeDeviceNumber(letter, &number);
    if (result != MSG_OK) return result;
    DEVINST node = 0;
    result = findDriveDevNode(letter, number, &node);
    if (result != MSG_OK) return result;
    return requestParentEject(node);
}

BOOL dismountAndEjectMedia(const wchar_t* driveArgument) {
    wchar_t path[VOLUME_PATH_CAPACITY];
    formatVolumePath(path, driveArgument[0]);
    UniqueDevice volume(sys().createFileW(path, GENERIC_READ, kShareReadWrite, nullptr, OPEN_EXISTING, 0, nullptr));
    if (!volume) return FALSE;
    if (!volumeControl(volume.get(), FSCTL_DISMOUNT_VOLUME, nullptr, 0)) return FALSE;
    // The volume is off once dismounted; a medium the drive will not release stays in, which is
    // no reason to call the removal failed.
    PREVENT_MEDIA_REMOVAL allow;
    allow.PreventMediaRemoval = FALSE;
    if (volumeControl(volume.get(), IOCTL_STORAGE_MEDIA_REMOVAL, &allow, sizeof(allow)))
        volumeControl(volume.get(), IOCTL_STORAGE_EJECT_MEDIA, nullptr, 0);
    return TRUE;
}

BOOL forceRemoveDrive(const wchar_t* driveArgument) {
    notifyDriveRemovedAndAdded(driveArgument[0]);
    BOOL dismounted = FALSE;
    for (int attempt = 0; attempt < kForceAttempts && !dismounted; ++attempt) {
        dismounted = dismountAndEjectMedia(driveArgument);
        if (!dismounted) sys().sleep(kForcePauseMs);
    }
    return dismounted;
}
