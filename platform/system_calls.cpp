#include "platform/system_calls.h"

#include "platform/owners.h"

#include <psapi.h>
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
    &EnumProcesses,
    &GetTickCount,
    &Sleep,
    &MessageBoxW,
    &ShellExecuteW,
    &ShellExecuteExW,
};

}  // namespace

SystemCalls g_systemCalls = kRealSystemCalls;

const SystemCalls& realSystemCalls() { return kRealSystemCalls; }

void DeviceHandleTraits::close(HANDLE h) { sys().closeHandle(h); }
