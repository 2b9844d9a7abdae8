#include "tool/shell/tool_state.h"

wchar_t driveArgument[DRIVE_ARGUMENT_CAPACITY];
BOOL serviceAvailable = FALSE;
HINSTANCE toolInstance = nullptr;
HANDLE workerThread = nullptr;
