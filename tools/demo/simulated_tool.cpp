// The removal tool on a simulated machine, for the demonstration only: a product USB stick as
// drive E: that ejects, and whose protected area can be hidden. Its title says so. Built beside
// the tests and never shipped, packed or copied to the distribution.
//
// The person meets the real windows: the dialog, any message box and the notification-area
// icon are Windows' own. When the balloon is shown, its title and text are also written to the
// file balloon.txt beside this program, for the demonstration to tell (Wine shows no balloons).
#include "platform/win.h"
#include "sim/scenarios.h"
#include "sim/shell.h"
#include "tool/shell/startup.h"

#include <string>

namespace {

std::wstring besideThisProgram(const wchar_t* fileName) {
    wchar_t path[MAX_PATH] = L"";
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring p(path);
    return p.substr(0, p.find_last_of(L'\\') + 1) + fileName;
}

BOOL WINAPI notifyIconAndKeepTheBalloon(DWORD message, PNOTIFYICONDATAW data) {
    if (message == NIM_MODIFY && data && (data->uFlags & NIF_INFO)) {
        std::wstring text = std::wstring(data->szInfoTitle) + L"\n" + data->szInfo;
        HANDLE file = CreateFileW(besideThisProgram(L"balloon.txt").c_str(), GENERIC_WRITE, 0, nullptr,
                                  CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file != INVALID_HANDLE_VALUE) {
            DWORD written = 0;
            WriteFile(file, text.c_str(), static_cast<DWORD>(text.size() * sizeof(wchar_t)), &written, nullptr);
            CloseHandle(file);
        }
    }
    return Shell_NotifyIconW(message, data);
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR commandLine, int) {
    restrictDllSearch();
    SimulatedMachine machine;
    addUsbStick(machine, L'E', 1);
    machine.addDevice(L"\\\\.\\E: ");  // the volume as the flush opens it, by the whole drive argument
    machine.pnp.services.push_back(SimService{L"lumagate664"});
    SimulatedShell shell(machine);
    shell.displayNames[L"E:\\"] = L"SECURE (E:)";
    g_systemCalls.messageBoxW = &MessageBoxW;
    g_systemCalls.shellNotifyIconW = &notifyIconAndKeepTheBalloon;
    return runRemovalTool(instance, commandLine);
}
