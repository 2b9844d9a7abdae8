#include "sim/shell.h"

#include <gtest/gtest.h>

#include <stdlib.h>

namespace {

SimulatedShell* g_shell = nullptr;

// Change handles and lock handles are tagged values that no real handle takes.
const ULONG_PTR kChangeBase = 0x7D000000;
const ULONG_PTR kLockBase = 0x7D800000;
const ULONG kFirstRegistration = 17;

std::wstring orEmpty(const wchar_t* s) { return s ? std::wstring(s) : std::wstring(); }

DWORD_PTR WINAPI simShGetFileInfoW(LPCWSTR path, DWORD, SHFILEINFOW* info, UINT infoSize, UINT flags) {
    SimulatedShell& shell = SimulatedShell::current();
    std::lock_guard<std::mutex> held(shell.lock);
    if (!path || !info || infoSize < sizeof(SHFILEINFOW) || flags != SHGFI_DISPLAYNAME) return 0;
    auto name = shell.displayNames.find(path);
    if (name == shell.displayNames.end()) return 0;
    lstrcpynW(info->szDisplayName, name->second.c_str(), MAX_PATH);
    return 1;
}

NotifyIconCall recordOf(DWORD message, const NOTIFYICONDATAW* data) {
    NotifyIconCall call;
    call.message = message;
    call.size = data->cbSize;
    call.window = data->hWnd;
    call.id = data->uID;
    call.flags = data->uFlags;
    call.callbackMessage = data->uFlags & NIF_MESSAGE ? data->uCallbackMessage : 0;
    // The fields as the system reads them: up to their terminator, never past their size.
    call.tip = data->uFlags & NIF_TIP ? std::wstring(data->szTip, wcsnlen(data->szTip, 128)) : L"";
    call.infoTitle = data->uFlags & NIF_INFO ? std::wstring(data->szInfoTitle, wcsnlen(data->szInfoTitle, 64)) : L"";
    call.info = data->uFlags & NIF_INFO ? std::wstring(data->szInfo, wcsnlen(data->szInfo, 256)) : L"";
    call.infoFlags = data->uFlags & NIF_INFO ? data->dwInfoFlags : 0;
    return call;
}

BOOL WINAPI simShellNotifyIconW(DWORD message, PNOTIFYICONDATAW data) {
    SimulatedShell& shell = SimulatedShell::current();
    if (!data || data->cbSize < NOTIFYICONDATAW_V2_SIZE) return FALSE;
    UINT ends = 0;
    HWND window = data->hWnd;
    UINT callback = 0;
    {
        std::lock_guard<std::mutex> held(shell.lock);
        shell.iconCalls_.push_back(recordOf(message, data));
        if (message == NIM_ADD && shell.addFails) return FALSE;
        if (message == NIM_MODIFY && shell.modifyFails) return FALSE;
        if (message == NIM_MODIFY && (data->uFlags & NIF_INFO)) {
            ends = shell.balloonEnds;
            for (const NotifyIconCall& c : shell.iconCalls_)
                if (c.message == NIM_ADD && c.window == window) callback = c.callbackMessage;
        }
    }
    if (ends && callback) PostMessageW(window, callback, data->uID, ends);
    return TRUE;
}

ULONG WINAPI simShChangeNotifyRegister(HWND window, int sources, LONG events, UINT message, int count,
                                       const SHChangeNotifyEntry* entries) {
    SimulatedShell& shell = SimulatedShell::current();
    std::lock_guard<std::mutex> held(shell.lock);
    if (shell.registrationFails) return 0;
    ChangeRegistration r;
    r.window = window;
    r.sources = sources;
    r.events = events;
    r.message = message;
    r.entries = count;
    r.recursive = count > 0 && entries ? entries[0].fRecursive : FALSE;
    r.itemGiven = count > 0 && entries && entries[0].pidl;
    r.id = kFirstRegistration + static_cast<ULONG>(shell.registrations_.size());
    r.deregistered = false;
    shell.registrations_.push_back(r);
    return r.id;
}

BOOL WINAPI simShChangeNotifyDeregister(ULONG id) {
    SimulatedShell& shell = SimulatedShell::current();
    std::lock_guard<std::mutex> held(shell.lock);
    for (ChangeRegistration& r : shell.registrations_) {
        if (r.id == id && !r.deregistered) {
            r.deregistered = true;
            return TRUE;
        }
    }
    ADD_FAILURE() << "deregistered " << id << ", which is not registered";
    return FALSE;
}

// The item list of a notice is the notice's own address: only this shell reads it back.
struct NoticeItems {
    PIDLIST_ABSOLUTE items[2];
};
std::deque<NoticeItems> g_noticeItems;

HANDLE WINAPI simShChangeNotificationLock(HANDLE change, DWORD processId, PIDLIST_ABSOLUTE** items, LONG* event) {
    SimulatedShell& shell = SimulatedShell::current();
    std::lock_guard<std::mutex> held(shell.lock);
    ULONG_PTR v = reinterpret_cast<ULONG_PTR>(change);
    size_t index = (v - kChangeBase) / 4;
    if (v < kChangeBase || index >= shell.notices.size() || processId != GetCurrentProcessId()) return nullptr;
    ++shell.locks;
    if (items) *items = g_noticeItems[index].items;
    if (event) *event = shell.notices[index].event;
    return reinterpret_cast<HANDLE>(kLockBase + 4 * index);
}

BOOL WINAPI simShChangeNotificationUnlock(HANDLE lock) {
    SimulatedShell& shell = SimulatedShell::current();
    std::lock_guard<std::mutex> held(shell.lock);
    if (reinterpret_cast<ULONG_PTR>(lock) < kLockBase) return FALSE;
    ++shell.unlocks;
    return TRUE;
}

BOOL WINAPI simShGetPathFromIdListW(PCIDLIST_ABSOLUTE item, LPWSTR path) {
    SimulatedShell& shell = SimulatedShell::current();
    std::lock_guard<std::mutex> held(shell.lock);
    for (size_t i = 0; i < shell.notices.size(); ++i) {
        if (item == reinterpret_cast<PCIDLIST_ABSOLUTE>(&shell.notices[i])) {
            lstrcpynW(path, shell.notices[i].path.c_str(), MAX_PATH);
            return TRUE;
        }
    }
    path[0] = 0;
    return FALSE;
}

int WINAPI simMessageBoxW(HWND owner, LPCWSTR text, LPCWSTR caption, UINT type) {
    SimulatedShell& shell = SimulatedShell::current();
    size_t index = 0;
    {
        std::lock_guard<std::mutex> held(shell.lock);
        shell.machine.messageBoxes.push_back({owner, orEmpty(text), orEmpty(caption), type});
        index = shell.machine.messageBoxes.size() - 1;
    }
    if (shell.onMessageBox) shell.onMessageBox(index);
    std::lock_guard<std::mutex> held(shell.lock);
    if (shell.answers.empty()) return shell.machine.messageBoxAnswer;
    int answer = shell.answers.front();
    shell.answers.pop_front();
    return answer;
}

}  // namespace

SimulatedShell::SimulatedShell(SimulatedMachine& m) : machine(m), saved_(g_systemCalls) {
    if (g_shell) abort();  // one simulated shell at a time
    g_shell = this;
    g_noticeItems.clear();
    g_systemCalls.shGetFileInfoW = &simShGetFileInfoW;
    g_systemCalls.shellNotifyIconW = &simShellNotifyIconW;
    g_systemCalls.shChangeNotifyRegister = &simShChangeNotifyRegister;
    g_systemCalls.shChangeNotifyDeregister = &simShChangeNotifyDeregister;
    g_systemCalls.shChangeNotificationLock = &simShChangeNotificationLock;
    g_systemCalls.shChangeNotificationUnlock = &simShChangeNotificationUnlock;
    g_systemCalls.shGetPathFromIdListW = &simShGetPathFromIdListW;
    g_systemCalls.messageBoxW = &simMessageBoxW;
}

SimulatedShell::~SimulatedShell() {
    EXPECT_EQ(locks, unlocks) << "shell notices left locked";
    g_systemCalls = saved_;
    g_shell = nullptr;
}

SimulatedShell& SimulatedShell::current() {
    if (!g_shell) abort();
    return *g_shell;
}

std::vector<NotifyIconCall> SimulatedShell::iconCalls() const {
    std::lock_guard<std::mutex> held(lock);
    return iconCalls_;
}

std::vector<ChangeRegistration> SimulatedShell::registrations() const {
    std::lock_guard<std::mutex> held(lock);
    return registrations_;
}

int SimulatedShell::lockCount() const {
    std::lock_guard<std::mutex> held(lock);
    return locks;
}

int SimulatedShell::unlockCount() const {
    std::lock_guard<std::mutex> held(lock);
    return unlocks;
}

void SimulatedShell::deliver(LONG event, const std::wstring& path) {
    std::vector<ChangeRegistration> live;
    WPARAM change = 0;
    {
        std::lock_guard<std::mutex> held(lock);
        notices.push_back({event, path});
        g_noticeItems.push_back({{reinterpret_cast<PIDLIST_ABSOLUTE>(&notices.back()), nullptr}});
        change = kChangeBase + 4 * (notices.size() - 1);
        for (const ChangeRegistration& r : registrations_)
            if (!r.deregistered && (r.events & event)) live.push_back(r);
    }
    // Sent, not posted, so the test knows the watcher has looked at it; never held by the lock,
    // since the watcher locks the notice from its own thread.
    for (const ChangeRegistration& r : live) {
        DWORD_PTR result = 0;
        if (!SendMessageTimeoutW(r.window, r.message, change, GetCurrentProcessId(), SMTO_NORMAL, 10000, &result))
            ADD_FAILURE() << "the watcher did not take the notice";
    }
}

bool SimulatedShell::waitUntilDeregistered(DWORD limitMs) const {
    DWORD start = GetTickCount();
    for (;;) {
        bool all = true;
        for (const ChangeRegistration& r : registrations()) all = all && r.deregistered;
        if (all) return true;
        if (GetTickCount() - start > limitMs) return false;
        Sleep(5);
    }
}
