// The About box: the product line, the maker's notice and two buttons that open the maker's
// homepage and usage page in the user's browser.
#pragma once
#include "platform/win.h"

#include <stddef.h>

enum : size_t { ADDRESS_BUTTON_TEXT_CAPACITY = 256 };

// The thread that opens an address, 0 while none runs. Set by the main thread before the
// thread can run, cleared by the thread as it ends; a click while it is set is ignored.
extern HANDLE volatile urlOpenThread;

// Modal over the owner (the main dialog).
void showAboutBox(HWND owner);
INT_PTR CALLBACK aboutDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

// Opens the address of a message text in the browser on a thread of its own, unless one
// already runs. The text is read here, on the calling thread: the text buffers are not for
// two threads at once. Only http:// and https:// addresses are opened; the texts can come
// from a file on the drive, and the tool often runs elevated. FALSE when nothing was started.
BOOL startAddressThread(int addressTextId);
