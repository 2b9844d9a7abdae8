// Taking the drive away: the regular eject request to the Plug and Play manager, which other
// programs may veto, and the forced removal the user may choose when the drive stays in use.
// The eject outcome is written to standard output, the only diagnostic the tool gives.
#pragma once
#include "common/message_code.h"
#include "platform/win.h"

enum : MessageCode {
    MSG_EJECT_NOT_A_LETTER = 713,
    MSG_EJECT_VOLUME_NOT_OPENED = 714,
    MSG_EJECT_NO_DEVICE_NUMBER = 715,
    MSG_EJECT_NO_DOS_DEVICE = 716,
    MSG_EJECT_NO_DEVICE_NODE = 717,
};

// Asks once for the ejection of the device above the drive's disk, floppy or CD-ROM (for a USB
// stick, the USB device): 501 ejected, 502 refused or failed, 713 to 717 nothing to eject found.
// A lower-case letter counts as its upper-case form.
MessageCode ejectDrive(wchar_t driveLetter);

// Dismounts the volume of driveArgument's first character and, when the medium may be
// released, ejects it. TRUE when the volume was dismounted.
BOOL dismountAndEjectMedia(const wchar_t* driveArgument);

// Tells the shell the drive went and came back, then tries dismountAndEjectMedia up to 25 times,
// 200 ms apart. TRUE when one attempt dismounted the volume.
BOOL forceRemoveDrive(const wchar_t* driveArgument);
