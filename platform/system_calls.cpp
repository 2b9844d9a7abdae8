#include "platform/system_calls.h"

#include <shlobj.h>

namespace {

const SystemCalls kRealSystemCalls = {
    &GetVersionExW,
    &GetProcAddress,
    &IsUserAnAdmin,
    &GetTickCount,
    &Sleep,
    &MessageBoxW,
    &ShellExecuteW,
    &ShellExecuteExW,
};

}  // namespace

SystemCalls g_systemCalls = kRealSystemCalls;

const SystemCalls& realSystemCalls() { return kRealSystemCalls; }
