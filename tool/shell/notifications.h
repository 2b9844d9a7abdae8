// Two hidden windows that serve the workflows: the result window, whose notification-area
// balloon reports a finished removal, and the removal watcher, which waits on a thread of its
// own for the shell to report the drive as removed.
#pragma once
#include "platform/win.h"

#define RESULT_WINDOW_CLASS L"DavEvadez_ResultOK"
#define WATCHER_WINDOW_CLASS L"_STRAVIO_WaitVolumeRemove_WINDOW_CLASS_"
#define WATCHER_WINDOW_TEXT L"_STRAVIO_WaitVolumeRemove_WINDOW_"

enum : UINT {
    WMAPP_DRIVE_NOTICE = WM_APP + 1,
    WMAPP_NOTIFYCALLBACK = WM_APP + 100,
};

enum : UINT {
    RESULT_ICON_ID = 0,
    RESULT_ICON_RESOURCE = 102,
    // The balloon ends the wait when the shell says it has gone. Should that never come (the
    // notification area restarted, or the balloon was held back and dropped), the tool still
    // ends after this long instead of lingering without a window.
    RESULT_LIMIT_TIMER = 1,
    RESULT_LIMIT_MS = 60000,
};

enum : DWORD {
    WATCHER_START_LIMIT_MS = 3000,
    WATCHER_STEP_MS = 100,
    WATCHER_SETTLE_MS = 200,
};

// Shows text in a balloon titled title and returns when the balloon is gone (TRUE), or at once
// with FALSE when the icon or the balloon cannot be shown; the caller then shows the text in a
// message box. Runs a message loop on the calling thread.
BOOL showResultNotification(const wchar_t* title, const wchar_t* text);

// Starts the watcher for driveLetter; TRUE when its window exists within 3 s.
BOOL startRemovalWatcher(wchar_t driveLetter);
// Ends the watcher: waits until it has ended by itself or, once timeoutMs have passed, tells it
// to end. TRUE when a running watcher has ended; FALSE at once when there was none.
BOOL waitRemovalWatcher(DWORD timeoutMs);
