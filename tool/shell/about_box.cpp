#include "tool/shell/about_box.h"

#include "common/bounded.h"
#include "common/message_code.h"
#include "common/texts.h"
#include "platform/system_calls.h"
#include "tool/shell/dialog_templates.h"
#include "tool/shell/main_dialog.h"
#include "tool/shell/resource_ids.h"
#include "tool/shell/tool_state.h"

#include <new>

HANDLE volatile urlOpenThread = nullptr;

namespace {

enum : MessageCode {
    MSG_HOMEPAGE_ADDRESS = 535,
    MSG_ABOUT_TITLE = 544,
    MSG_HOMEPAGE_LABEL = 545,
    MSG_OK_BUTTON = 547,
    MSG_USAGE_LABEL = 550,
    MSG_USAGE_ADDRESS = 551,
};

// The address handed to the opening thread, which frees it.
struct AddressCopy {
    wchar_t address[TEXT_CAPACITY];
};

bool startsWith(const wchar_t* text, const wchar_t* prefix) {
    size_t length = wcslen(prefix);
    return wcslen(text) >= length && equalsIgnoringAsciiCase(text, prefix, length);
}

bool isWebAddress(const wchar_t* address) {
    return startsWith(address, L"http://") || startsWith(address, L"https://");
}

DWORD WINAPI openAddressThread(LPVOID parameter) {
    AddressCopy* copy = static_cast<AddressCopy*>(parameter);
    sys().shellExecuteW(nullptr, L"open", copy->address, nullptr, nullptr, SW_SHOW);
    delete copy;
    HANDLE self = InterlockedExchangePointer(const_cast<HANDLE*>(&urlOpenThread), nullptr);
    if (self) CloseHandle(self);
    return 0;
}

void setAddressButton(HWND dialog, int button, MessageCode label, MessageCode address) {
    wchar_t text[ADDRESS_BUTTON_TEXT_CAPACITY];
    formatText(text, ADDRESS_BUTTON_TEXT_CAPACITY, L"%s:%s", messageText(label), messageTextAlt(address));
    SetDlgItemTextW(dialog, button, text);
}

BOOL onInitDialog(HWND dialog) {
    enableDialogTheme(dialog);
    SetDlgItemTextW(dialog, IDC_ABOUT_TITLE, windowTitle());
    SetWindowTextW(dialog, messageText(MSG_ABOUT_TITLE));
    setAddressButton(dialog, IDC_HOMEPAGE, MSG_HOMEPAGE_LABEL, MSG_HOMEPAGE_ADDRESS);
    setAddressButton(dialog, IDC_USAGE, MSG_USAGE_LABEL, MSG_USAGE_ADDRESS);
    SetDlgItemTextW(dialog, IDOK, messageText(MSG_OK_BUTTON));
    centerWindow(dialog);
    return TRUE;
}

}  // namespace

BOOL startAddressThread(int addressTextId) {
    if (urlOpenThread) return FALSE;
    const wchar_t* address = messageTextAlt(addressTextId);
    if (!isWebAddress(address)) return FALSE;
    AddressCopy* copy = new (std::nothrow) AddressCopy;
    if (!copy) return FALSE;
    copyText(copy->address, address);
    // Stored before it runs, so that a thread that ends at once clears its own handle.
    HANDLE thread = sys().createThread(nullptr, 0, &openAddressThread, copy, CREATE_SUSPENDED, nullptr);
    if (!thread) {
        delete copy;
        return FALSE;
    }
    urlOpenThread = thread;
    ResumeThread(thread);
    return TRUE;
}

INT_PTR CALLBACK aboutDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
    switch (message) {
    case WM_INITDIALOG:
        return onInitDialog(dialog);
    case WM_COMMAND:
        switch (LOWORD(wParam)) {
        case IDOK:
        case IDCANCEL:
            EndDialog(dialog, LOWORD(wParam));
            return TRUE;
        case IDC_HOMEPAGE:
            startAddressThread(MSG_HOMEPAGE_ADDRESS);
            return TRUE;
        case IDC_USAGE:
            startAddressThread(MSG_USAGE_ADDRESS);
            return TRUE;
        default:
            return FALSE;
        }
    default:
        return FALSE;
    }
}

void showAboutBox(HWND owner) {
    dialogBoxFromTemplate(toolInstance, IDD_ABOUT_BOX, owner, &aboutDialogProc, 0);
}
