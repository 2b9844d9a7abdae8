#include "platform/system_calls.h"

#include "platform/owners.h"

#include <psapi.h>
#include <objbase.h>
#include <shlobj.h>

namespace {

const SystemCalls kRealSystemCalls = {
    &GetVersionExW,
    &GetProcAddress,
    &IsUserAnAdmin,
    &CreateFileW,
    &DeviceIoControl,
    &SetFilePointerEx,
    &ReadFile,
    &FlushFileBuffers,
    &CloseHandle,
    &SHChangeNotify,
    &QueryDosDeviceW,
    &GetDriveTypeW,
    &SetupDiGetClassDevsW,
    &SetupDiEnumDeviceInfo,
    &SetupDiEnumDeviceInterfaces,
    &SetupDiGetDeviceInterfaceDetailW,
    &SetupDiGetDeviceInstanceIdW,
    &SetupDiGetDeviceRegistryPropertyW,
    &SetupDiSetDeviceRegistryPropertyW,
    &SetupDiSetClassInstallParamsW,
    &SetupDiCallClassInstaller,
    &SetupDiGetDeviceInstallParamsW,
    &SetupDiCreateDevRegKeyW,
    &SetupDiDestroyDeviceInfoList,
    &RegDeleteValueW,
    &RegCloseKey,
    &CM_Locate_DevNodeW,
    &CM_Get_Device_IDW,
    &CM_Get_Child,
    &CM_Get_Sibling,
    &CM_Get_Parent,
    &CM_Get_Device_ID_List_SizeW,
    &CM_Get_Device_ID_ListW,
    &CM_Request_Device_EjectW,
    &OpenSCManagerW,
    &OpenServiceW,
    &DeleteService,
    &CloseServiceHandle,
    &EnumProcesses,
    &GetTickCount,
    &Sleep,
    &CreateThread,
    &MessageBoxW,
    &ShellExecuteW,
    &ShellExecuteExW,
    &SHGetFileInfoW,
    &Shell_NotifyIconW,
    &SHChangeNotifyRegister,
    &SHChangeNotifyDeregister,
    &SHChangeNotification_Lock,
    &SHChangeNotification_Unlock,
    &SHGetPathFromIDListW,
    &WriteFile,
    &CoCreateInstance,
};

}  // namespace

SystemCalls g_systemCalls = kRealSystemCalls;

const SystemCalls& realSystemCalls() { return kRealSystemCalls; }

void DeviceHandleTraits::close(HANDLE h) { sys().closeHandle(h); }
void DeviceSetTraits::close(HDEVINFO h) { sys().setupDiDestroyDeviceInfoList(h); }
void DeviceKeyTraits::close(HKEY h) { sys().regCloseKey(h); }
void ServiceHandleTraits::close(SC_HANDLE h) { sys().closeServiceHandle(h); }
