#include "tool/shell/main_dialog.h"

#include "common/bounded.h"
#include "common/texts.h"
#include "platform/system_calls.h"
#include "tool/service/service_commands.h"
#include "tool/shell/about_box.h"
#include "tool/shell/dialog_templates.h"
#include "tool/shell/resource_ids.h"
#include "tool/shell/tool_state.h"
#include "tool/shell/workflows.h"

#include <commctrl.h>

namespace {

enum : MessageCode {
    MSG_BUTTON_HIDE = 101,
    MSG_BUTTON_REMOVE = 102,
    MSG_SELECT_ACTION = 103,
    MSG_DRIVE_IN_USE = 104,
    MSG_MENU_HELP = 105,
    MSG_MENU_VERSION = 106,
    MSG_TIMER_FAILED = 926,
    MSG_REMOVE_THREAD_FAILED = 927,
    MSG_HIDE_THREAD_FAILED = 928,
};

// The dialog's outer size at start: it may grow wider, never narrower, taller or shorter.
int g_initialWidth = 0;
int g_initialHeight = 0;

void showErrorWithoutOwner(MessageCode code) {
    wchar_t caption[TITLE_CAPACITY];
    copyText(caption, windowTitle());
    sys().messageBoxW(nullptr, messageTextAlt(code), caption, MB_ICONERROR);
}

void setStatusText(HWND dialog, const wchar_t* text) {
    SendDlgItemMessageW(dialog, IDC_STATUS_BAR, SB_SETTEXTW, SB_SIMPLEID, reinterpret_cast<LPARAM>(text));
}

void setIcons(HWND dialog) {
    HANDLE big = LoadImageW(toolInstance, MAKEINTRESOURCEW(IDI_APPLICATION_ICON), IMAGE_ICON, 0, 0,
                            LR_DEFAULTSIZE | LR_SHARED);
    HANDLE small = LoadImageW(toolInstance, MAKEINTRESOURCEW(IDI_SMALL_ICON), IMAGE_ICON,
                              GetSystemMetrics(SM_CXSMICON), GetSystemMetrics(SM_CYSMICON), LR_SHARED);
    SendMessageW(dialog, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(big));
    SendMessageW(dialog, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(small));
}

void setMenuText(HMENU menu, UINT item, BOOL byPosition, const wchar_t* text) {
    MENUITEMINFOW info;
    ZeroMemory(&info, sizeof(info));
    info.cbSize = sizeof(info);
    info.fMask = MIIM_STRING;
    info.dwTypeData = const_cast<wchar_t*>(text);
    SetMenuItemInfoW(menu, item, byPosition, &info);
}

void setTexts(HWND dialog) {
    wchar_t title[MAIN_WINDOW_TITLE_CAPACITY];
    formatText(title, MAIN_WINDOW_TITLE_CAPACITY, L"%s", windowTitle());
    SetWindowTextW(dialog, title);
    SetDlgItemTextW(dialog, IDC_HIDE, messageText(MSG_BUTTON_HIDE));
    SetDlgItemTextW(dialog, IDC_REMOVE, messageText(MSG_BUTTON_REMOVE));
    HMENU menu = GetMenu(dialog);
    if (!menu) return;
    setMenuText(menu, 0, TRUE, messageText(MSG_MENU_HELP));
    HMENU help = GetSubMenu(menu, 0);
    if (help) setMenuText(help, IDM_VERSION_INFO, FALSE, messageText(MSG_MENU_VERSION));
    DrawMenuBar(dialog);
}

void createStatusBar(HWND dialog) {
    INITCOMMONCONTROLSEX controls = {sizeof(controls), ICC_BAR_CLASSES};
    InitCommonControlsEx(&controls);
    HWND status = CreateWindowExW(0, STATUSCLASSNAMEW, L"", WS_CHILD | WS_VISIBLE | SBARS_SIZEGRIP | CCS_BOTTOM, 0, 0,
                                  0, 0, dialog, reinterpret_cast<HMENU>(static_cast<INT_PTR>(IDC_STATUS_BAR)),
                                  toolInstance, nullptr);
    if (status) SendMessageW(status, SB_SIMPLE, TRUE, 0);
}

void measureInitialSize(HWND dialog) {
    RECT outer;
    GetWindowRect(dialog, &outer);
    g_initialWidth = outer.right - outer.left;
    g_initialHeight = outer.bottom - outer.top;
}

BOOL onInitDialog(HWND dialog) {
    setIcons(dialog);
    enableDialogTheme(dialog);
    setTexts(dialog);
    createStatusBar(dialog);
    centerWindow(dialog);
    forceForegroundWindow(dialog);
    measureInitialSize(dialog);
    runUsageProbe(dialog);
    if (!SetTimer(dialog, USAGE_TIMER_ID, USAGE_TIMER_PERIOD_MS, nullptr)) showErrorWithoutOwner(MSG_TIMER_FAILED);
    return TRUE;
}

// Both buttons keep their left edge and stretch so that their right margin equals it.
void onSize(HWND dialog, WPARAM type, LPARAM size) {
    if (type == SIZE_MINIMIZED || type == SIZE_MAXHIDE) return;
    const int clientWidth = LOWORD(size);
    const int buttons[] = {IDC_HIDE, IDC_REMOVE};
    for (int id : buttons) {
        HWND button = GetDlgItem(dialog, id);
        if (!button) continue;
        RECT r;
        GetWindowRect(button, &r);
        MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&r), 2);
        int width = clientWidth - 2 * r.left;
        SetWindowPos(button, nullptr, 0, 0, width > 0 ? width : 0, r.bottom - r.top,
                     SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    }
    SendDlgItemMessageW(dialog, IDC_STATUS_BAR, WM_SIZE, type, size);
}

void onGetMinMaxInfo(LPARAM info) {
    if (g_initialWidth == 0) return;  // asked during creation, before the size is known
    MINMAXINFO* limits = reinterpret_cast<MINMAXINFO*>(info);
    limits->ptMinTrackSize.x = g_initialWidth;
    limits->ptMinTrackSize.y = g_initialHeight;
    limits->ptMaxTrackSize.y = g_initialHeight;
}

// The dialog as a workflow leaves it after an error: shown, probing, both commands usable.
void restoreDialog(HWND dialog) {
    ShowWindow(dialog, SW_SHOW);
    SetTimer(dialog, USAGE_TIMER_ID, USAGE_TIMER_PERIOD_MS, nullptr);
    setCommandButtonsEnabled(dialog, TRUE);
}

void startWorkflow(HWND dialog, LPTHREAD_START_ROUTINE worker, MessageCode startFailure) {
    KillTimer(dialog, USAGE_TIMER_ID);
    setCommandButtonsEnabled(dialog, FALSE);
    ShowWindow(dialog, SW_HIDE);
    joinWorkerThread();
    HANDLE thread = sys().createThread(nullptr, 0, worker, dialog, 0, nullptr);
    if (thread) {
        workerThread = thread;
        return;
    }
    showErrorWithoutOwner(startFailure);
    // The tool holds the single-instance mutex: it must not go on without a window.
    restoreDialog(dialog);
}

void onCommand(HWND dialog, WORD command) {
    switch (command) {
    case IDC_REMOVE:
        startWorkflow(dialog, &removeWorker, MSG_REMOVE_THREAD_FAILED);
        break;
    case IDC_HIDE:
        startWorkflow(dialog, &hideWorker, MSG_HIDE_THREAD_FAILED);
        break;
    case IDM_VERSION_INFO:
        showAboutBox(dialog);
        break;
    case IDCANCEL:
        DestroyWindow(dialog);
        break;
    default:
        break;
    }
}

}  // namespace

INT_PTR CALLBACK mainDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_INITDIALOG:
        return onInitDialog(dialog);
    case WM_TIMER:
        runUsageProbe(dialog);
        return TRUE;
    case WM_COMMAND:
        onCommand(dialog, LOWORD(wParam));
        return FALSE;
    case WM_SIZE:
        onSize(dialog, wParam, lParam);
        return FALSE;
    case WM_GETMINMAXINFO:
        onGetMinMaxInfo(lParam);
        return FALSE;
    case WM_DESTROY:
        PostQuitMessage(0);
        return FALSE;
    case WMAPP_RESTORE_DIALOG:
        restoreDialog(dialog);
        return TRUE;
    default:
        return FALSE;
    }
}

void setCommandButtonsEnabled(HWND dialog, BOOL enable) {
    EnableWindow(GetDlgItem(dialog, IDC_REMOVE), enable);
    EnableWindow(GetDlgItem(dialog, IDC_HIDE), enable);
}

void runUsageProbe(HWND dialog) {
    // The next period starts only once this probe has finished.
    KillTimer(dialog, USAGE_TIMER_ID);
    wchar_t name[PROCESS_NAME_CAPACITY] = L"";
    if (findProcessOnDrive(driveArgument, name)) {
        wchar_t status[STATUS_TEXT_CAPACITY];
        const wchar_t* parts[] = {name, driveArgument};
        substituteText(status, STATUS_TEXT_CAPACITY, messageText(MSG_DRIVE_IN_USE), parts, 2);
        setStatusText(dialog, status);
        setCommandButtonsEnabled(dialog, FALSE);
    } else {
        setStatusText(dialog, messageText(MSG_SELECT_ACTION));
        setCommandButtonsEnabled(dialog, TRUE);
    }
    SetTimer(dialog, USAGE_TIMER_ID, USAGE_TIMER_PERIOD_MS, nullptr);
}

void centerWindow(HWND window) {
    HWND parent = GetParent(window);
    RECT outer, own, desktop;
    GetWindowRect(parent ? parent : GetDesktopWindow(), &outer);
    GetWindowRect(window, &own);
    GetWindowRect(GetDesktopWindow(), &desktop);
    const int width = own.right - own.left;
    const int height = own.bottom - own.top;
    OffsetRect(&own, outer.left + ((outer.right - outer.left) - width) / 2 - own.left,
               outer.top + ((outer.bottom - outer.top) - height) / 2 - own.top);
    // Back onto the desktop; on a window larger than it, the left and top edges win.
    if (own.right > desktop.right) OffsetRect(&own, desktop.right - own.right, 0);
    if (own.bottom > desktop.bottom) OffsetRect(&own, 0, desktop.bottom - own.bottom);
    if (own.left < desktop.left) OffsetRect(&own, desktop.left - own.left, 0);
    if (own.top < desktop.top) OffsetRect(&own, 0, desktop.top - own.top);
    SetWindowPos(window, nullptr, own.left, own.top, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
}

// Windows lets only the thread that has the user's input take the foreground: for a moment
// this window's thread shares the input of the thread that has it.
void forceForegroundWindow(HWND window) {
    DWORD windowThread = GetWindowThreadProcessId(window, nullptr);
    HWND foreground = GetForegroundWindow();
    DWORD foregroundThread = foreground ? GetWindowThreadProcessId(foreground, nullptr) : 0;
    bool attached = foregroundThread && foregroundThread != windowThread &&
                    AttachThreadInput(windowThread, foregroundThread, TRUE);
    SetForegroundWindow(window);
    if (attached) AttachThreadInput(windowThread, foregroundThread, FALSE);
    SetForegroundWindow(window);
    SetWindowPos(window, HWND_TOP, 0, 0, 0, 0, SWP_NOSIZE | SWP_NOMOVE);
}

void joinWorkerThread() {
    HANDLE thread = workerThread;
    if (thread == nullptr || thread == INVALID_HANDLE_VALUE) return;
    while (MsgWaitForMultipleObjects(1, &thread, FALSE, INFINITE, QS_SENDMESSAGE) == WAIT_OBJECT_0 + 1) {
        MSG sent;
        PeekMessageW(&sent, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
    }
    CloseHandle(thread);
    workerThread = INVALID_HANDLE_VALUE;
}
