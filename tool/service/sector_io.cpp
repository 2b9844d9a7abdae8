#include "tool/service/sector_io.h"

#include "common/product_contract.h"
#include "platform/system_calls.h"

#include <string.h>

#include <vector>

BOOL CSectorIO::open(const wchar_t* path, DWORD access) {
    close();
    device_ = sys().createFileW(path, access, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    if (device_ == INVALID_HANDLE_VALUE) return FALSE;
    if (!getGeometry()) {
        sys().closeHandle(device_);
        device_ = INVALID_HANDLE_VALUE;
        return FALSE;
    }
    return TRUE;
}

BOOL CSectorIO::close() {
    if (device_ != INVALID_HANDLE_VALUE) {
        sys().flushFileBuffers(device_);
        sys().closeHandle(device_);
        device_ = INVALID_HANDLE_VALUE;
    }
    return TRUE;
}

BOOL CSectorIO::getGeometry() {
    DWORD returned = 0;
    return sys().deviceIoControl(device_, IOCTL_DISK_GET_DRIVE_GEOMETRY, nullptr, 0, &geometry_, sizeof(geometry_),
                                 &returned, nullptr);
}

BOOL CSectorIO::read(DWORD firstSector, DWORD count, void* out, DWORD size) {
    if (static_cast<ULONGLONG>(count) * geometry_.BytesPerSector != size) {
        sys().messageBoxW(nullptr, L"\x672A\x5BFE\x5FDC", L"CSectorIO::read", MB_SYSTEMMODAL | MB_OK);
        return FALSE;
    }
    // Zero-filled, so that a short read at the end of the device leaves zeros, not old memory.
    std::vector<unsigned char> temporary;
    try {
        temporary.assign(size, 0);
    } catch (...) {
        return FALSE;
    }
    LARGE_INTEGER offset;
    offset.QuadPart = static_cast<LONGLONG>(static_cast<ULONGLONG>(firstSector) * geometry_.BytesPerSector);
    DWORD read = 0;
    if (!sys().setFilePointerEx(device_, offset, nullptr, FILE_BEGIN)) return FALSE;
    if (!sys().readFile(device_, temporary.data(), size, &read, nullptr)) return FALSE;
    memcpy(out, temporary.data(), size);
    return TRUE;
}

DriveLayout CSectorIO::getDriveLayout() {
    DriveLayout layout(static_cast<DRIVE_LAYOUT_INFORMATION_EX*>(
        HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, DRIVE_LAYOUT_BUFFER_SIZE)));
    if (!layout) return layout;
    DWORD returned = 0;
    if (!sys().deviceIoControl(device_, IOCTL_DISK_GET_DRIVE_LAYOUT_EX, nullptr, 0, layout.get(),
                               DRIVE_LAYOUT_BUFFER_SIZE, &returned, nullptr))
        layout.reset();
    return layout;
}

BOOL CSectorIO::queryDriverVersion(DWORD* version) {
    DWORD returned = 0;
    return sys().deviceIoControl(device_, DRIVER_IOCTL_QUERY_VERSION, nullptr, 0, version, sizeof(*version),
                                 &returned, nullptr);
}
