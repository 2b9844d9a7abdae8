#include "launcher/launch.h"

#include "common/bounded.h"
#include "common/environment.h"
#include "launcher/module_install.h"
#include "platform/owners.h"
#include "platform/system_calls.h"
#include "tool/service/service_pipe.h"

#include <objbase.h>
#include <shlobj.h>
#include <shobjidl.h>

#include <wchar.h>

namespace {

struct ModuleRow {
    const wchar_t* resourceName;
    const wchar_t* fileName;
};

const ModuleRow kModuleX64 = {L"__Parvane64.exe", L"Parvane64.exe"};
const ModuleRow kModuleX86 = {L"__Parvane32.exe", L"Parvane32.exe"};

// "a" followed by "b", when the whole of it fits.
template <size_t N>
bool joinPath(wchar_t (&out)[N], const wchar_t* a, const wchar_t* b) {
    size_t length = wcslen(a) + wcslen(b);
    if (length == 0 || length >= N) return false;
    formatText(out, N, L"%s%s", a, b);
    return true;
}

// The drive the launcher runs from, as the tool expects it: letter, colon, blank.
void formatToolArgument(wchar_t (&argument)[TOOL_ARGUMENT_CAPACITY], const wchar_t* launcherPath) {
    ZeroMemory(argument, sizeof(argument));
    copyText(argument, L"x: ");
    argument[0] = launcherPath[0];
}

// Without the service the tool does its privileged work itself, so it must start elevated
// unless this user already runs with full rights.
BOOL needsRunAs(BOOL serviceAvailable) { return serviceAvailable ? FALSE : !isUserAdmin(); }

BOOL saveShortcut(const wchar_t* arguments, const wchar_t* shortcutPath, const wchar_t* targetPath, BOOL runAs) {
    // Declared so that they are released as dataList, persistFile, link.
    UniqueInterface<IShellLinkW> link;
    UniqueInterface<IPersistFile> persistFile;
    UniqueInterface<IShellLinkDataList> dataList;
    if (sys().coCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW, link.put()) != S_OK ||
        !link)
        return FALSE;
    link->SetPath(targetPath);
    if (arguments) link->SetArguments(arguments);
    if (runAs) {
        DWORD flags = 0;
        if (FAILED(link->QueryInterface(IID_IShellLinkDataList, dataList.put())) || !dataList ||
            FAILED(dataList->GetFlags(&flags)))
            return FALSE;
        if (!(flags & SLDF_RUNAS_USER) && FAILED(dataList->SetFlags(flags | SLDF_RUNAS_USER))) return FALSE;
    }
    if (link->QueryInterface(IID_IPersistFile, persistFile.put()) != S_OK || !persistFile) return FALSE;
    return persistFile->Save(shortcutPath, TRUE) == S_OK;
}

void startShortcut(const wchar_t* shortcutPath, const wchar_t* folder) {
    SHELLEXECUTEINFOW info;
    ZeroMemory(&info, sizeof(info));
    info.cbSize = sizeof(info);
    info.lpFile = shortcutPath;
    info.lpDirectory = folder;
    info.nShow = SW_SHOWNORMAL;
    // A shell that cannot start it, or a user who declines the elevation, has answered already.
    sys().shellExecuteExW(&info);
}

}  // namespace

bool chooseModuleForArchitecture(const wchar_t** resourceName, const wchar_t** fileName) {
    const ModuleRow* row = nullptr;
    if (isNativeAmd64()) row = &kModuleX64;
    if (isNativeX86()) row = &kModuleX86;
    if (!row) return false;
    *resourceName = row->resourceName;
    *fileName = row->fileName;
    return true;
}

BOOL createLaunchShortcut(const wchar_t* arguments, const wchar_t* shortcutPath, const wchar_t* targetPath,
                          BOOL runAs) {
    // Only a successful initialisation is balanced; one refused because the thread chose
    // another model must not take away the owner's.
    bool initialised = SUCCEEDED(CoInitialize(nullptr));
    BOOL saved = saveShortcut(arguments, shortcutPath, targetPath, runAs);
    if (initialised) CoUninitialize();
    return saved;
}

MessageCode launchFromWorkingFolder(const wchar_t* folder, BOOL serviceAvailable) {
    const wchar_t* resourceName = nullptr;
    const wchar_t* fileName = nullptr;
    if (!chooseModuleForArchitecture(&resourceName, &fileName)) return MSG_UNKNOWN_ARCHITECTURE;
    if (!installModule(folder, fileName, resourceName)) return MSG_MODULE_NOT_GENUINE;

    wchar_t launcherPath[PATH_CAPACITY] = L"";
    if (GetModuleFileNameW(nullptr, launcherPath, PATH_CAPACITY) == 0) return MSG_NO_LAUNCHER_PATH;
    wchar_t shortcutPath[PATH_CAPACITY];
    wchar_t targetPath[PATH_CAPACITY];
    if (!joinPath(shortcutPath, folder, LAUNCH_SHORTCUT_NAME) || !joinPath(targetPath, folder, fileName))
        return MSG_LAUNCH_PATH_TOO_LONG;

    wchar_t toolArgument[TOOL_ARGUMENT_CAPACITY];
    formatToolArgument(toolArgument, launcherPath);
    if (!createLaunchShortcut(toolArgument, shortcutPath, targetPath, needsRunAs(serviceAvailable)))
        return MSG_SHORTCUT_FAILED;
    startShortcut(shortcutPath, folder);
    return MSG_OK;
}

MessageCode runLauncher() {
    BOOL serviceAvailable = isServiceAvailable();
    wchar_t folder[PATH_CAPACITY];
    if (prepareWorkingFolder(folder) == 0) return MSG_NO_WORKING_FOLDER;
    return launchFromWorkingFolder(folder, serviceAvailable);
}
