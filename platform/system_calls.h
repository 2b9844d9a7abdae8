// The system-call seam. Every call that reaches hardware, drivers or device configuration,
// blocks on a person, or that a test must steer goes through this one table. Shipped
// programs use it as filled here with the real functions; only test code ever changes it.
#pragma once
#include "platform/win.h"

#include <shlobj.h>
#include <objbase.h>

struct SystemCalls {
    // Version and platform. getNativeSystemInfo is looked up at run time: it is absent before
    // XP, and a missing entry counts as an unknown architecture.
    BOOL(WINAPI* getVersionExW)(OSVERSIONINFOW* info);
    FARPROC(WINAPI* getProcAddress)(HMODULE module, LPCSTR name);
    BOOL(WINAPI* isUserAnAdmin)(void);

    // Disks and volumes opened by their "\\.\" device paths, and their handles.
    HANDLE(WINAPI* createFileW)(LPCWSTR path, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security,
                                DWORD disposition, DWORD flags, HANDLE templateFile);
    BOOL(WINAPI* deviceIoControl)(HANDLE device, DWORD code, LPVOID in, DWORD inSize, LPVOID out, DWORD outSize,
                                  LPDWORD returned, LPOVERLAPPED overlapped);
    BOOL(WINAPI* setFilePointerEx)(HANDLE file, LARGE_INTEGER distance, PLARGE_INTEGER newPosition, DWORD method);
    BOOL(WINAPI* readFile)(HANDLE file, LPVOID buffer, DWORD size, LPDWORD read, LPOVERLAPPED overlapped);
    BOOL(WINAPI* flushFileBuffers)(HANDLE file);
    BOOL(WINAPI* closeHandle)(HANDLE handle);
    void(WINAPI* shChangeNotify)(LONG event, UINT flags, LPCVOID item1, LPCVOID item2);

    // Which volume a drive letter is, and of what kind.
    DWORD(WINAPI* queryDosDeviceW)(LPCWSTR name, LPWSTR target, DWORD max);
    UINT(WINAPI* getDriveTypeW)(LPCWSTR root);

    // Device sets, interfaces, registry properties and the class installer.
    HDEVINFO(WINAPI* setupDiGetClassDevsW)(const GUID* classGuid, PCWSTR enumerator, HWND parent, DWORD flags);
    BOOL(WINAPI* setupDiEnumDeviceInfo)(HDEVINFO set, DWORD index, PSP_DEVINFO_DATA device);
    BOOL(WINAPI* setupDiEnumDeviceInterfaces)(HDEVINFO set, PSP_DEVINFO_DATA device, const GUID* interfaceClass,
                                              DWORD index, PSP_DEVICE_INTERFACE_DATA data);
    BOOL(WINAPI* setupDiGetDeviceInterfaceDetailW)(HDEVINFO set, PSP_DEVICE_INTERFACE_DATA data,
                                                   PSP_DEVICE_INTERFACE_DETAIL_DATA_W detail, DWORD detailSize,
                                                   PDWORD required, PSP_DEVINFO_DATA device);
    BOOL(WINAPI* setupDiGetDeviceInstanceIdW)(HDEVINFO set, PSP_DEVINFO_DATA device, PWSTR id, DWORD idSize,
                                              PDWORD required);
    BOOL(WINAPI* setupDiGetDeviceRegistryPropertyW)(HDEVINFO set, PSP_DEVINFO_DATA device, DWORD property,
                                                    PDWORD type, PBYTE buffer, DWORD size, PDWORD required);
    BOOL(WINAPI* setupDiSetDeviceRegistryPropertyW)(HDEVINFO set, PSP_DEVINFO_DATA device, DWORD property,
                                                    const BYTE* buffer, DWORD size);
    BOOL(WINAPI* setupDiSetClassInstallParamsW)(HDEVINFO set, PSP_DEVINFO_DATA device,
                                                PSP_CLASSINSTALL_HEADER params, DWORD size);
    BOOL(WINAPI* setupDiCallClassInstaller)(DI_FUNCTION function, HDEVINFO set, PSP_DEVINFO_DATA device);
    BOOL(WINAPI* setupDiGetDeviceInstallParamsW)(HDEVINFO set, PSP_DEVINFO_DATA device,
                                                 PSP_DEVINSTALL_PARAMS_W params);
    HKEY(WINAPI* setupDiCreateDevRegKeyW)(HDEVINFO set, PSP_DEVINFO_DATA device, DWORD scope, DWORD profile,
                                         DWORD keyType, HINF inf, PCWSTR section);
    BOOL(WINAPI* setupDiDestroyDeviceInfoList)(HDEVINFO set);
    LONG(WINAPI* regDeleteValueW)(HKEY key, LPCWSTR name);
    LONG(WINAPI* regCloseKey)(HKEY key);

    // The device tree and the eject request.
    CONFIGRET(WINAPI* cmLocateDevNodeW)(PDEVINST node, DEVINSTID_W id, ULONG flags);
    CONFIGRET(WINAPI* cmGetDeviceIdW)(DEVINST node, PWCHAR buffer, ULONG length, ULONG flags);
    CONFIGRET(WINAPI* cmGetChild)(PDEVINST child, DEVINST node, ULONG flags);
    CONFIGRET(WINAPI* cmGetSibling)(PDEVINST sibling, DEVINST node, ULONG flags);
    CONFIGRET(WINAPI* cmGetParent)(PDEVINST parent, DEVINST node, ULONG flags);
    CONFIGRET(WINAPI* cmGetDeviceIdListSizeW)(PULONG length, PCWSTR filter, ULONG flags);
    CONFIGRET(WINAPI* cmGetDeviceIdListW)(PCWSTR filter, PWCHAR buffer, ULONG length, ULONG flags);
    CONFIGRET(WINAPI* cmRequestDeviceEjectW)(DEVINST node, PPNP_VETO_TYPE vetoType, LPWSTR vetoName,
                                             ULONG nameLength, ULONG flags);

    // The service control manager, for the product driver's service.
    SC_HANDLE(WINAPI* openScManagerW)(LPCWSTR machine, LPCWSTR database, DWORD access);
    SC_HANDLE(WINAPI* openServiceW)(SC_HANDLE manager, LPCWSTR name, DWORD access);
    BOOL(WINAPI* deleteService)(SC_HANDLE service);
    BOOL(WINAPI* closeServiceHandle)(SC_HANDLE handle);

    // The process list: the usage scan walks it. Steered by tests for lists they cannot make.
    BOOL(WINAPI* enumProcesses)(DWORD* ids, DWORD size, DWORD* returned);

    // Time: the waits and retry pauses run on this clock.
    DWORD(WINAPI* getTickCount)(void);
    void(WINAPI* sleep)(DWORD milliseconds);

    // The threads the tool starts for its workflows and address openers: a test makes their
    // creation fail.
    HANDLE(WINAPI* createThread)(LPSECURITY_ATTRIBUTES security, SIZE_T stackSize, LPTHREAD_START_ROUTINE start,
                                 LPVOID parameter, DWORD flags, LPDWORD threadId);

    // What a person sees or answers.
    int(WINAPI* messageBoxW)(HWND owner, LPCWSTR text, LPCWSTR caption, UINT type);
    HINSTANCE(WINAPI* shellExecuteW)(HWND owner, LPCWSTR verb, LPCWSTR file, LPCWSTR parameters,
                                     LPCWSTR directory, INT show);
    BOOL(WINAPI* shellExecuteExW)(SHELLEXECUTEINFOW* info);

    // The shell around the workflows: the drive's display name, the notification-area icon
    // that reports a removal, and the drive-removed notices the hide waits for.
    DWORD_PTR(WINAPI* shGetFileInfoW)(LPCWSTR path, DWORD attributes, SHFILEINFOW* info, UINT infoSize, UINT flags);
    BOOL(WINAPI* shellNotifyIconW)(DWORD message, PNOTIFYICONDATAW data);
    ULONG(WINAPI* shChangeNotifyRegister)(HWND window, int sources, LONG events, UINT message, int count,
                                          const SHChangeNotifyEntry* entries);
    BOOL(WINAPI* shChangeNotifyDeregister)(ULONG registration);
    HANDLE(WINAPI* shChangeNotificationLock)(HANDLE change, DWORD processId, PIDLIST_ABSOLUTE** items, LONG* event);
    BOOL(WINAPI* shChangeNotificationUnlock)(HANDLE lock);
    BOOL(WINAPI* shGetPathFromIdListW)(PCIDLIST_ABSOLUTE item, LPWSTR path);

    // The launcher's installation: its file writes, so that a test can make one fail, and the
    // shell-link object, whose run-as flag Wine does not save into the file.
    BOOL(WINAPI* writeFile)(HANDLE file, LPCVOID buffer, DWORD size, LPDWORD written, LPOVERLAPPED overlapped);
    HRESULT(WINAPI* coCreateInstance)(REFCLSID classId, LPUNKNOWN outer, DWORD context, REFIID interfaceId,
                                      LPVOID* object);
};

// The table in force. Read it through sys(); it starts filled with the real functions.
extern SystemCalls g_systemCalls;
inline const SystemCalls& sys() { return g_systemCalls; }

// The table as shipped, for a test that wants to start from the real functions.
const SystemCalls& realSystemCalls();
