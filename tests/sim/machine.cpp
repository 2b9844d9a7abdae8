#include "sim/machine.h"

#include <stdlib.h>

namespace {

SimulatedMachine* g_machine = nullptr;

std::wstring orEmpty(LPCWSTR s) { return s ? std::wstring(s) : std::wstring(); }

BOOL WINAPI simGetVersionExW(OSVERSIONINFOW* info) {
    if (!info || info->dwOSVersionInfoSize < sizeof(OSVERSIONINFOW)) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    info->dwMajorVersion = SimulatedMachine::current().majorVersion;
    info->dwMinorVersion = SimulatedMachine::current().minorVersion;
    info->dwBuildNumber = 9200;
    info->dwPlatformId = VER_PLATFORM_WIN32_NT;
    info->szCSDVersion[0] = 0;
    return TRUE;
}

void WINAPI simGetNativeSystemInfo(SYSTEM_INFO* info) {
    ZeroMemory(info, sizeof(*info));
    info->wProcessorArchitecture = SimulatedMachine::current().nativeArchitecture;
    info->dwNumberOfProcessors = 2;
}

FARPROC WINAPI simGetProcAddress(HMODULE module, LPCSTR name) {
    if (HIWORD(reinterpret_cast<ULONG_PTR>(name)) != 0 && lstrcmpA(name, "GetNativeSystemInfo") == 0) {
        if (!SimulatedMachine::current().hasGetNativeSystemInfo) {
            SetLastError(ERROR_PROC_NOT_FOUND);
            return nullptr;
        }
        return reinterpret_cast<FARPROC>(reinterpret_cast<void*>(&simGetNativeSystemInfo));
    }
    return realSystemCalls().getProcAddress(module, name);
}

BOOL WINAPI simIsUserAnAdmin(void) { return SimulatedMachine::current().userIsAdmin; }
DWORD WINAPI simGetTickCount(void) { return SimulatedMachine::current().now; }

void WINAPI simSleep(DWORD ms) {
    SimulatedMachine::current().sleeps.push_back(ms);
    SimulatedMachine::current().now += ms;
}

int WINAPI simMessageBoxW(HWND owner, LPCWSTR text, LPCWSTR caption, UINT type) {
    SimulatedMachine::current().messageBoxes.push_back({owner, orEmpty(text), orEmpty(caption), type});
    return SimulatedMachine::current().messageBoxAnswer;
}

HINSTANCE WINAPI simShellExecuteW(HWND, LPCWSTR verb, LPCWSTR file, LPCWSTR parameters, LPCWSTR, INT) {
    SimulatedMachine::current().shellLaunches.push_back({orEmpty(verb), orEmpty(file), orEmpty(parameters)});
    return reinterpret_cast<HINSTANCE>(static_cast<INT_PTR>(33));
}

BOOL WINAPI simShellExecuteExW(SHELLEXECUTEINFOW* info) {
    SimulatedMachine::current().shellLaunches.push_back(
        {orEmpty(info->lpVerb), orEmpty(info->lpFile), orEmpty(info->lpParameters)});
    info->hInstApp = reinterpret_cast<HINSTANCE>(static_cast<INT_PTR>(33));
    info->hProcess = nullptr;
    return TRUE;
}

}  // namespace

SimulatedMachine::SimulatedMachine() : saved_(g_systemCalls) {
    if (g_machine) abort();  // one simulated machine at a time
    g_machine = this;
    g_systemCalls.getVersionExW = &simGetVersionExW;
    g_systemCalls.getProcAddress = &simGetProcAddress;
    g_systemCalls.isUserAnAdmin = &simIsUserAnAdmin;
    g_systemCalls.getTickCount = &simGetTickCount;
    g_systemCalls.sleep = &simSleep;
    g_systemCalls.messageBoxW = &simMessageBoxW;
    g_systemCalls.shellExecuteW = &simShellExecuteW;
    g_systemCalls.shellExecuteExW = &simShellExecuteExW;
}

SimulatedMachine::~SimulatedMachine() {
    g_systemCalls = saved_;
    g_machine = nullptr;
}

SimulatedMachine& SimulatedMachine::current() {
    if (!g_machine) abort();
    return *g_machine;
}
