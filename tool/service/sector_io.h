// Direct access to a disk or volume device: geometry, whole-sector reads, partition layout and
// the product driver's version query. Opened through the system-call seam.
#pragma once
#include "platform/win.h"

#include <winioctl.h>

#include <memory>

// The layout buffer: the layout header and room for 128 partition entries.
enum : size_t { DRIVE_LAYOUT_BUFFER_SIZE = 48 + 128 * 144 };

struct LayoutDeleter {
    void operator()(DRIVE_LAYOUT_INFORMATION_EX* layout) const { HeapFree(GetProcessHeap(), 0, layout); }
};
typedef std::unique_ptr<DRIVE_LAYOUT_INFORMATION_EX, LayoutDeleter> DriveLayout;

class CSectorIO {
public:
    CSectorIO() : device_(INVALID_HANDLE_VALUE) { ZeroMemory(&geometry_, sizeof(geometry_)); }
    ~CSectorIO() { close(); }
    CSectorIO(const CSectorIO&) = delete;
    CSectorIO& operator=(const CSectorIO&) = delete;

    BOOL open(const wchar_t* path, DWORD access);
    BOOL close();
    // Reads count whole sectors from firstSector; size must be exactly count sectors.
    BOOL read(DWORD firstSector, DWORD count, void* out, DWORD size);
    BOOL getGeometry();
    DriveLayout getDriveLayout();
    BOOL queryDriverVersion(DWORD* version);
    DWORD bytesPerSector() const { return geometry_.BytesPerSector; }

private:
    HANDLE device_;
    DISK_GEOMETRY geometry_;
};
