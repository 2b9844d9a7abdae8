#include "tool/shell/workflows.h"

#include "common/bounded.h"
#include "common/texts.h"
#include "platform/system_calls.h"
#include "tool/device/device_restart.h"
#include "tool/device/disk_identity.h"
#include "tool/device/eject.h"
#include "tool/device/filter_driver.h"
#include "tool/service/service_commands.h"
#include "tool/service/service_pipe.h"
#include "tool/shell/hide_marker.h"
#include "tool/shell/main_dialog.h"
#include "tool/shell/notifications.h"
#include "tool/shell/tool_state.h"

namespace {

enum : size_t {
    CAPTION_CAPACITY = 64,
    DISPLAY_NAME_CAPACITY = 260,
    TARGET_ID_CAPACITY = 512,
};

enum : MessageCode {
    MSG_REMOVE_QUESTION = 107,
    MSG_REMOVED = 108,
    MSG_FORCE_FAILED = 710,
};

enum : DWORD {
    REMOVAL_NOTICE_LIMIT_MS = 10000,
    CLOSE_PAUSE_MS = 1000,
};

// The caption first: the title is built through the same text buffer as the messages.
void buildCaption(wchar_t (&caption)[CAPTION_CAPACITY]) { copyText(caption, windowTitle()); }

// A message with the drive's display name in its "%s". The text may come from the drive's
// override file, so it is filled in, never used as a format.
void buildDriveMessage(wchar_t (&out)[TEXT_CAPACITY], MessageCode id, const wchar_t* displayName) {
    wchar_t text[TEXT_CAPACITY];
    getMessageText(id, text, TEXT_CAPACITY);
    const wchar_t* args[] = {displayName};
    substituteText(out, TEXT_CAPACITY, text, args, 1);
}

// The name Explorer shows for the drive ("SECURE (E:)"), or its root path when the shell has none.
void getDriveDisplayName(wchar_t driveLetter, wchar_t (&out)[DISPLAY_NAME_CAPACITY]) {
    wchar_t root[4] = {driveLetter, L':', L'\\', 0};
    SHFILEINFOW info;
    ZeroMemory(&info, sizeof(info));
    if (sys().shGetFileInfoW(root, 0, &info, sizeof(info), SHGFI_DISPLAYNAME) && info.szDisplayName[0]) {
        info.szDisplayName[MAX_PATH - 1] = 0;
        copyText(out, info.szDisplayName);
    } else {
        copyText(out, root);
    }
}

// The balloon, or the same text in a box when no balloon can be shown. The dialog is hidden
// now, so the box has no owner and stays on top.
void reportRemoved(const wchar_t* caption, const wchar_t* displayName) {
    wchar_t text[TEXT_CAPACITY];
    buildDriveMessage(text, MSG_REMOVED, displayName);
    if (!showResultNotification(caption, text))
        sys().messageBoxW(nullptr, text, caption, MB_TOPMOST | MB_ICONINFORMATION);
}

void endTool(HWND dialog) { SendMessageW(dialog, WM_CLOSE, 0, 0); }

// The error box belongs to the dialog; the dialog's own thread then shows it again, restarts
// its usage timer and enables the commands.
void showErrorAndRestore(HWND dialog, MessageCode code) {
    wchar_t caption[CAPTION_CAPACITY];
    buildCaption(caption);
    sys().messageBoxW(dialog, messageText(code), caption, MB_ICONERROR);
    PostMessageW(dialog, WMAPP_RESTORE_DIALOG, 0, 0);
}

// One pass of the removal: display name, flush, eject. Returns the eject result.
MessageCode flushAndEject(wchar_t driveLetter, wchar_t (&displayName)[DISPLAY_NAME_CAPACITY]) {
    getDriveDisplayName(driveLetter, displayName);
    flushVolume(driveArgument);
    return ejectDrive(driveLetter);
}

// The device to restart: the disk itself when the driver can take that, else its parent.
MessageCode chooseRestartTarget(const DiskIdentity& identity, wchar_t (&target)[TARGET_ID_CAPACITY]) {
    if (driverReportsVersion5(driveArgument)) {
        copyText(target, identity.diskInstanceId);
        return MSG_OK;
    }
    return getParentDeviceId(identity.diskInstanceId, target, TARGET_ID_CAPACITY);
}

// Disable, wait until the disk has gone and the shell has noticed, enable, wait until it is
// back. The waits watch the disk, whichever device was restarted.
MessageCode restartDevice(const wchar_t* target, const wchar_t* diskInstanceId) {
    startRemovalWatcher(driveArgument[0]);
    MessageCode result = enableDevice(target, 0);
    if (result == MSG_OK) result = waitForDiskRemoval(diskInstanceId);
    if (result != MSG_OK) {
        waitRemovalWatcher(0);
        // A disabled device stays disabled across replugs: the drive would be lost to its user.
        // So it is enabled again when it stayed, and when the service's answer to the disable
        // was lost or unreadable: the service may have disabled it before it failed. Enabling
        // a device that is enabled changes nothing. Its code is still the one reported.
        if (result == MSG_DISK_STILL_PRESENT || result == MSG_SERVICE_FAILED) enableDevice(target, 1);
        return result;
    }
    waitRemovalWatcher(REMOVAL_NOTICE_LIMIT_MS);
    result = enableDevice(target, 1);
    if (result != MSG_OK) return result;
    return waitForDiskArrival(diskInstanceId);
}

MessageCode hideProtectedArea() {
    DiskIdentity identity;
    ZeroMemory(&identity, sizeof(identity));
    wchar_t target[TARGET_ID_CAPACITY] = L"";
    MessageCode result = identifyDisk(driveArgument, &identity);
    if (result == MSG_OK) result = removeProductDriver(identity.diskInstanceId);
    if (result != MSG_OK) return result;
    flushVolume(driveArgument);
    result = chooseRestartTarget(identity, target);
    if (result != MSG_OK) return result;
    return restartDevice(target, identity.diskInstanceId);
}

}  // namespace

DWORD WINAPI removeWorker(LPVOID param) {
    HWND dialog = static_cast<HWND>(param);
    const wchar_t driveLetter = driveArgument[0];
    wchar_t displayName[DISPLAY_NAME_CAPACITY];
    wchar_t caption[CAPTION_CAPACITY];
    MessageCode ejected = MSG_CANCELLED;
    for (;;) {
        ejected = flushAndEject(driveLetter, displayName);
        buildCaption(caption);
        if (ejected == MSG_OK) {
            reportRemoved(caption, displayName);
            endTool(dialog);
            return 0;
        }
        // Asked for every refusal and failure alike: the person decides before anything else is said.
        wchar_t question[TEXT_CAPACITY];
        buildDriveMessage(question, MSG_REMOVE_QUESTION, displayName);
        int answer = sys().messageBoxW(nullptr, question, caption,
                                       MB_TOPMOST | MB_ICONWARNING | MB_CANCELTRYCONTINUE);
        if (answer == IDTRYAGAIN) continue;
        if (answer == IDCONTINUE) {
            if (forceRemoveDrive(driveArgument))
                reportRemoved(caption, displayName);
            else
                sys().messageBoxW(nullptr, messageText(MSG_FORCE_FAILED), caption, MB_TOPMOST | MB_ICONERROR);
        }
        break;
    }
    // The eject result decides the end, whatever was answered: a refusal ends the tool, a
    // failure to find the device is reported and the dialog comes back.
    if (ejected == MSG_CANCELLED)
        endTool(dialog);
    else
        showErrorAndRestore(dialog, ejected);
    return 0;
}

DWORD WINAPI hideWorker(LPVOID param) {
    HWND dialog = static_cast<HWND>(param);
    MessageCode result = hideProtectedArea();
    if (result == MSG_OK) {
        writeHideMarker();
        sys().sleep(CLOSE_PAUSE_MS);
        endTool(dialog);
    } else if (result == MSG_CANCELLED) {
        // Only the service answers this, and it comes with no text of its own: the dialog comes
        // back without a box, so the tool is never left running without a window.
        PostMessageW(dialog, WMAPP_RESTORE_DIALOG, 0, 0);
    } else {
        showErrorAndRestore(dialog, result);
    }
    return 0;
}
