// The removal tool's main dialog: its procedure, and the window helpers the workflows and the
// About box share with it.
#pragma once
#include "platform/win.h"

// A workflow that ended with an error asks the dialog's own thread to bring the dialog back:
// show it, restart the usage timer and enable both commands. Timers belong to the thread that
// owns the window, and an EnableWindow sent across threads could wait on a main thread that is
// itself joining the workflow, so the workflow posts this instead of touching the dialog.
enum : UINT { WMAPP_RESTORE_DIALOG = WM_APP + 10 };

INT_PTR CALLBACK mainDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
void setCommandButtonsEnabled(HWND dialog, BOOL enable);
void runUsageProbe(HWND dialog);
void centerWindow(HWND window);
void forceForegroundWindow(HWND window);

// The usage timer: the dialog's only timer, restarted after each probe has finished.
enum : UINT_PTR { USAGE_TIMER_ID = 1 };
enum : UINT { USAGE_TIMER_PERIOD_MS = 1000 };

// The status bar's text length, terminator included.
enum : size_t { STATUS_TEXT_CAPACITY = 512 };

// Waits for the last workflow thread, if one was started and not yet joined, closes it and
// marks it as joined. Messages sent to this thread's windows meanwhile are served, so a
// workflow that still sends to the dialog cannot hold the wait.
void joinWorkerThread();
