#include "tool/shell/workflows.h"

#include "tool/shell/main_dialog.h"

// Placeholders until the workflows are built: both give the dialog back at once.
DWORD WINAPI removeWorker(LPVOID dialog) {
    PostMessageW(static_cast<HWND>(dialog), WMAPP_RESTORE_DIALOG, 0, 0);
    return 0;
}

DWORD WINAPI hideWorker(LPVOID dialog) {
    PostMessageW(static_cast<HWND>(dialog), WMAPP_RESTORE_DIALOG, 0, 0);
    return 0;
}
