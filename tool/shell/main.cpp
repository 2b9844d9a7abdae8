#include "platform/win.h"
#include "tool/shell/startup.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR commandLine, int) {
    restrictDllSearch();
    leaveCurrentFolder();
    return runRemovalTool(instance, commandLine);
}
