#include "tool/shell/notifications.h"

#include "common/bounded.h"
#include "common/texts.h"
#include "platform/owners.h"
#include "platform/system_calls.h"

#include <atomic>

namespace {

// What the result window shows, filled before the window exists and read by its procedure.
wchar_t g_resultTitle[TEXT_CAPACITY];
wchar_t g_resultText[TEXT_CAPACITY];
// Cleared when a creation fails: that window's WM_DESTROY must not post the quit message, or
// the caller's fallback box, next on this thread, would end at once.
BOOL resultWindowUsable = TRUE;

// The watcher. The letter is written before its thread starts; the window by the thread
// before it signals its start, read by the workflow thread (possibly after the start wait has
// given up, hence atomic); the thread handle and the registration each by one thread only.
wchar_t g_watchedLetter = 0;
std::atomic<HWND> g_watcherWindow(nullptr);
HANDLE g_watcherThread = nullptr;
ULONG g_changeRegistration = 0;

HINSTANCE moduleInstance() { return GetModuleHandleW(nullptr); }

NOTIFYICONDATAW iconRecord(HWND window, UINT flags) {
    NOTIFYICONDATAW data;
    ZeroMemory(&data, sizeof(data));
    // The second layout is the oldest that carries a balloon; every Windows this runs on takes it.
    data.cbSize = NOTIFYICONDATAW_V2_SIZE;
    data.hWnd = window;
    data.uID = RESULT_ICON_ID;
    data.uFlags = flags;
    return data;
}

BOOL addResultIcon(HWND window) {
    NOTIFYICONDATAW data = iconRecord(window, NIF_MESSAGE | NIF_ICON | NIF_TIP);
    data.uCallbackMessage = WMAPP_NOTIFYCALLBACK;
    data.hIcon = LoadIconW(moduleInstance(), MAKEINTRESOURCEW(RESULT_ICON_RESOURCE));
    copyText(data.szTip, g_resultTitle);
    return sys().shellNotifyIconW(NIM_ADD, &data);
}

BOOL showResultBalloon(HWND window) {
    NOTIFYICONDATAW data = iconRecord(window, NIF_INFO);
    copyText(data.szInfoTitle, g_resultTitle);
    copyText(data.szInfo, g_resultText);
    data.dwInfoFlags = NIIF_INFO;
    return sys().shellNotifyIconW(NIM_MODIFY, &data);
}

void deleteResultIcon(HWND window) {
    NOTIFYICONDATAW data = iconRecord(window, 0);
    sys().shellNotifyIconW(NIM_DELETE, &data);
}

LRESULT createResultWindow(HWND window) {
    if (!addResultIcon(window)) return -1;
    if (!showResultBalloon(window)) {
        // An icon without its balloon would stay in the notification area with nothing to end it.
        deleteResultIcon(window);
        return -1;
    }
    SetTimer(window, RESULT_LIMIT_TIMER, RESULT_LIMIT_MS, nullptr);
    return 0;
}

// Which icon events end the wait. Mouse movement over the icon counts: a person who reaches for
// the icon has seen the balloon.
bool endsResultWait(UINT iconEvent) {
    switch (iconEvent) {
    case WM_MOUSEMOVE:
    case WM_LBUTTONDOWN:
    case WM_RBUTTONDOWN:
    case NIN_BALLOONHIDE:
    case NIN_BALLOONTIMEOUT:
    case NIN_BALLOONUSERCLICK:
        return true;
    default:
        return false;
    }
}

LRESULT CALLBACK resultWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_CREATE: {
        LRESULT created = createResultWindow(window);
        if (created != 0) resultWindowUsable = FALSE;
        return created;
    }
    case WMAPP_NOTIFYCALLBACK:
        if (endsResultWait(LOWORD(lParam))) PostMessageW(window, WM_CLOSE, 0, 0);
        return 0;
    case WM_TIMER:
        if (wParam == RESULT_LIMIT_TIMER) PostMessageW(window, WM_CLOSE, 0, 0);
        return 0;
    case WM_CLOSE:
        KillTimer(window, RESULT_LIMIT_TIMER);
        deleteResultIcon(window);
        DestroyWindow(window);
        return 0;
    case WM_DESTROY:
        if (resultWindowUsable) PostQuitMessage(0);
        return 0;
    default:
        return DefWindowProcW(window, message, wParam, lParam);
    }
}

void registerResultClass() {
    WNDCLASSW windowClass;
    ZeroMemory(&windowClass, sizeof(windowClass));
    windowClass.lpfnWndProc = &resultWindowProc;
    windowClass.hInstance = moduleInstance();
    windowClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    windowClass.hbrBackground = static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH));
    windowClass.lpszClassName = RESULT_WINDOW_CLASS;
    // A class left from an earlier call is simply used again.
    RegisterClassW(&windowClass);
}

void runMessageLoop() {
    MSG message;
    for (;;) {
        BOOL got = GetMessageW(&message, nullptr, 0, 0);
        if (got == 0 || got == -1) return;
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
}

// The shell's notice, as delivered: the watcher ends when it names the watched drive.
void handleDriveNotice(HWND window, WPARAM wParam, LPARAM lParam) {
    PIDLIST_ABSOLUTE* items = nullptr;
    LONG event = 0;
    HANDLE lock = sys().shChangeNotificationLock(reinterpret_cast<HANDLE>(wParam), static_cast<DWORD>(lParam),
                                                 &items, &event);
    if (!lock) return;
    if (event == SHCNE_DRIVEREMOVED && items && items[0]) {
        wchar_t path[MAX_PATH] = L"";
        if (sys().shGetPathFromIdListW(items[0], path) && path[0] && foldAscii(path[0]) == foldAscii(g_watchedLetter))
            PostMessageW(window, WM_DESTROY, 0, 0);
    }
    sys().shChangeNotificationUnlock(lock);
}

void registerForDriveNotices(HWND window) {
    PIDLIST_ABSOLUTE computer = nullptr;
    if (FAILED(SHGetSpecialFolderLocation(nullptr, CSIDL_DRIVES, &computer)) || !computer) return;
    SHChangeNotifyEntry entry;
    entry.pidl = computer;
    entry.fRecursive = FALSE;
    g_changeRegistration = sys().shChangeNotifyRegister(window, SHCNRF_ShellLevel | SHCNRF_NewDelivery,
                                                        SHCNE_DRIVEREMOVED, WMAPP_DRIVE_NOTICE, 1, &entry);
    // The registration keeps its own copy of the item list.
    ILFree(computer);
}

LRESULT CALLBACK watcherWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_CREATE:
        // Without the registration the watcher still exists; its time limit then ends it.
        registerForDriveNotices(window);
        return 0;
    case WMAPP_DRIVE_NOTICE:
        handleDriveNotice(window, wParam, lParam);
        return 0;
    case WM_DESTROY:
        if (g_changeRegistration) {
            sys().shChangeNotifyDeregister(g_changeRegistration);
            g_changeRegistration = 0;
        }
        PostQuitMessage(0);
        return 0;
    default:
        return DefWindowProcW(window, message, wParam, lParam);
    }
}

// The class stays registered for the life of the process, so a later watcher in the same run
// finds it taken and has no window.
HWND createWatcherWindow() {
    WNDCLASSW windowClass;
    ZeroMemory(&windowClass, sizeof(windowClass));
    windowClass.style = CS_HREDRAW | CS_VREDRAW;
    windowClass.lpfnWndProc = &watcherWindowProc;
    windowClass.hInstance = moduleInstance();
    windowClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    windowClass.hbrBackground = static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH));
    windowClass.lpszClassName = WATCHER_WINDOW_CLASS;
    if (!RegisterClassW(&windowClass)) return nullptr;
    return CreateWindowExW(0, WATCHER_WINDOW_CLASS, WATCHER_WINDOW_TEXT, WS_OVERLAPPEDWINDOW, CW_USEDEFAULT,
                           CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, nullptr, nullptr, moduleInstance(), nullptr);
}

// The thread gets its own handle of the start-up event, so that signalling it stays safe even
// when the starter has stopped waiting and closed its handle.
DWORD WINAPI watcherThread(LPVOID startedEvent) {
    UniqueHandle started(static_cast<HANDLE>(startedEvent));
    HWND window = createWatcherWindow();
    g_watcherWindow = window;
    SetEvent(started.get());
    started.reset();
    // Without a window there is nothing to wait for and nothing that could end the wait.
    if (!window) return 0;
    runMessageLoop();
    DestroyWindow(window);
    return 0;
}

bool threadEnded(HANDLE thread) { return WaitForSingleObject(thread, 0) != WAIT_TIMEOUT; }

}  // namespace

BOOL showResultNotification(const wchar_t* title, const wchar_t* text) {
    copyText(g_resultTitle, title);
    copyText(g_resultText, text);
    registerResultClass();
    // Each window is judged by itself: an earlier failure does not silence a later window.
    resultWindowUsable = TRUE;
    HWND window = CreateWindowExW(0, RESULT_WINDOW_CLASS, RESULT_WINDOW_CLASS, WS_OVERLAPPEDWINDOW, CW_USEDEFAULT,
                                  CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, nullptr, nullptr, moduleInstance(),
                                  nullptr);
    if (!window) return FALSE;
    runMessageLoop();
    return TRUE;
}

BOOL startRemovalWatcher(wchar_t driveLetter) {
    g_watchedLetter = driveLetter;
    g_watcherWindow = nullptr;
    UniqueHandle started(CreateEventW(nullptr, FALSE, FALSE, nullptr));
    if (!started) return FALSE;
    HANDLE threadCopy = nullptr;
    if (!DuplicateHandle(GetCurrentProcess(), started.get(), GetCurrentProcess(), &threadCopy, 0, FALSE,
                         DUPLICATE_SAME_ACCESS))
        return FALSE;
    HANDLE thread = CreateThread(nullptr, 0, &watcherThread, threadCopy, 0, nullptr);
    if (!thread) {
        CloseHandle(threadCopy);
        return FALSE;
    }
    g_watcherThread = thread;
    // A real wait: the watcher is a thread of this process that starts within moments.
    BOOL signalled = WaitForSingleObject(started.get(), WATCHER_START_LIMIT_MS) == WAIT_OBJECT_0;
    return signalled && g_watcherWindow.load() != nullptr;
}

BOOL waitRemovalWatcher(DWORD timeoutMs) {
    UniqueHandle thread(g_watcherThread);
    g_watcherThread = nullptr;
    HWND window = g_watcherWindow.exchange(nullptr);
    if (!window || !thread) return FALSE;
    // The pauses run on the seam's clock, so the 10 s limit can be tested without waiting it out.
    DWORD start = sys().getTickCount();
    while (!threadEnded(thread.get())) {
        sys().sleep(WATCHER_STEP_MS);
        if (threadEnded(thread.get())) break;
        if (sys().getTickCount() - start > timeoutMs) PostMessageW(window, WM_DESTROY, 0, 0);
    }
    sys().sleep(WATCHER_SETTLE_MS);
    return TRUE;
}
