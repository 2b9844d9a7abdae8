// The two things the removal tool is for, each a thread procedure started by a command of the
// main dialog with the dialog's handle. A workflow either closes the dialog (the tool ends) or
// shows its error and posts WMAPP_RESTORE_DIALOG to bring the dialog back.
#pragma once
#include "platform/win.h"

DWORD WINAPI removeWorker(LPVOID dialog);
DWORD WINAPI hideWorker(LPVOID dialog);
