// Names and values shared with the product's service and its disk filter driver. They are
// fixed by those components; nothing here may change on our side alone.
#pragma once

// The service's pipe and the sections through which it hands back larger answers.
#define SERVICE_PIPE_NAME L"\\\\.\\pipe\\lumgatservice_v2"
#define SERVICE_SECTION_EXTENTS L"Global\\LumgatService2_VolumeDiskExtents"
#define SERVICE_SECTION_DWORD L"Global\\LumgatService2_DwordData"
#define SERVICE_SECTION_SECTOR L"Global\\LumgatService2_SectorRW"

// Frame of every service message: SOH "Lumagate" US "V2" US STX, then the body, then ETX.
#define SERVICE_MESSAGE_HEADER "\x01" "Lumagate" "\x1f" "V2" "\x1f" "\x02"
#define SERVICE_MESSAGE_HEADER_LENGTH 14
#define SERVICE_UNIT_SEPARATOR '\x1f'
#define SERVICE_MESSAGE_END '\x03'
#define SERVICE_CLIENT_TAG L"LumgatS"

// Command keywords.
#define SERVICE_CMD_END "END"
#define SERVICE_CMD_CPD "CPD"
#define SERVICE_CMD_GPS "GPS"
#define SERVICE_CMD_GSL "GSL"
#define SERVICE_CMD_SRD "SRD"
#define SERVICE_CMD_GDN "GDN"
#define SERVICE_CMD_UDV "UDV"
#define SERVICE_CMD_RD2 "RD2"
#define SERVICE_CMD_ENA "ENA"
#define SERVICE_CMD_FLS "FLS"

// The disk filter driver: its service names, its attachment marker and its version query.
#define DRIVER_SERVICE_X86 L"lumagate632"
#define DRIVER_SERVICE_X64 L"lumagate664"
#define DRIVER_MARKER_VALUE L"{B1E07817-AAD5-4634-9099-59563DC91C0D}"
#define DRIVER_IOCTL_QUERY_VERSION 0x222020u
// A driver that reports this version or later is restarted with the disk device itself.
#define DRIVER_VERSION_RESTARTS_DISK 5u
