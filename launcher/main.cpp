#include "launcher/entry.h"
#include "platform/dll_search.h"
#include "platform/win.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    // First thing: the launcher runs from a drive whose folder anyone can write to.
    restrictDllSearch();
    return runLauncherEntry(GetCommandLineW());
}
