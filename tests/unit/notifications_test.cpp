// The result window and the removal watcher: real hidden windows and threads under Wine, with
// the notification area and the shell's drive notices simulated.
#include "tool/shell/notifications.h"

#include "platform/owners.h"
#include "sim/shell.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

namespace {

// A function run on a thread of its own, so that a loop that never ends fails the test instead
// of hanging it.
class Worker {
public:
    explicit Worker(std::function<void()> work) : work_(std::move(work)) {
        thread_.reset(CreateThread(nullptr, 0, &Worker::run, this, 0, nullptr));
        if (!thread_) ADD_FAILURE() << "no thread: " << GetLastError();
    }
    ~Worker() {
        if (thread_ && !ended(30000)) {
            ADD_FAILURE() << "the worker never ended";
            TerminateThread(thread_.get(), 1);
        }
    }
    bool ended(DWORD limitMs) { return !thread_ || WaitForSingleObject(thread_.get(), limitMs) == WAIT_OBJECT_0; }

private:
    static DWORD WINAPI run(LPVOID self) {
        static_cast<Worker*>(self)->work_();
        return 0;
    }
    std::function<void()> work_;
    UniqueHandle thread_;
};

// Waits, bounded, for the calls the shell has seen to reach count.
std::vector<NotifyIconCall> waitForIconCalls(const SimulatedShell& shell, size_t count) {
    DWORD start = GetTickCount();
    std::vector<NotifyIconCall> calls = shell.iconCalls();
    while (calls.size() < count && GetTickCount() - start < 10000) {
        Sleep(5);
        calls = shell.iconCalls();
    }
    return calls;
}

std::vector<DWORD> messagesOf(const std::vector<NotifyIconCall>& calls) {
    std::vector<DWORD> messages;
    for (const NotifyIconCall& c : calls) messages.push_back(c.message);
    return messages;
}

const std::vector<DWORD> kShownAndDeleted{NIM_ADD, NIM_MODIFY, NIM_DELETE};

TEST(ResultNotification, AddsTheIconShowsTheBalloonAndDeletesTheIconWhenItHasGone) {
    SimulatedMachine machine;
    SimulatedShell shell(machine);
    const std::wstring title(100, L'T');
    const std::wstring text(400, L'x');
    BOOL shown = FALSE;
    {
        Worker worker([&] { shown = showResultNotification(title.c_str(), text.c_str()); });
        ASSERT_TRUE(worker.ended(10000));
    }
    EXPECT_TRUE(shown);
    std::vector<NotifyIconCall> calls = shell.iconCalls();
    ASSERT_EQ(messagesOf(calls), kShownAndDeleted);
    for (const NotifyIconCall& c : calls) {
        EXPECT_EQ(c.size, static_cast<DWORD>(NOTIFYICONDATAW_V2_SIZE));
        EXPECT_EQ(c.id, 0u);
        EXPECT_EQ(c.window, calls[0].window);
    }
    EXPECT_EQ(calls[0].flags, static_cast<UINT>(NIF_MESSAGE | NIF_ICON | NIF_TIP));
    EXPECT_EQ(calls[0].callbackMessage, 0x8064u);
    EXPECT_EQ(calls[0].tip, title.substr(0, 127));
    EXPECT_EQ(calls[1].flags, static_cast<UINT>(NIF_INFO));
    EXPECT_EQ(calls[1].infoTitle, title.substr(0, 63));
    EXPECT_EQ(calls[1].info, text.substr(0, 255));
    EXPECT_EQ(calls[1].infoFlags, static_cast<DWORD>(NIIF_INFO));
    EXPECT_FALSE(IsWindow(calls[0].window));
}

struct CallbackCase {
    const char* name;
    UINT message;  // sent to the result window
    LPARAM lParam;
    bool closes;
};

TEST(ResultNotification, IconEventsThatEndTheWait) {
    const CallbackCase cases[] = {
        {"mouse moves over the icon", WMAPP_NOTIFYCALLBACK, WM_MOUSEMOVE, true},
        {"left button down", WMAPP_NOTIFYCALLBACK, WM_LBUTTONDOWN, true},
        {"right button down", WMAPP_NOTIFYCALLBACK, WM_RBUTTONDOWN, true},
        {"balloon hidden", WMAPP_NOTIFYCALLBACK, NIN_BALLOONHIDE, true},
        {"balloon timed out", WMAPP_NOTIFYCALLBACK, NIN_BALLOONTIMEOUT, true},
        {"balloon clicked", WMAPP_NOTIFYCALLBACK, NIN_BALLOONUSERCLICK, true},
        {"left button up", WMAPP_NOTIFYCALLBACK, WM_LBUTTONUP, false},
        {"left double click", WMAPP_NOTIFYCALLBACK, WM_LBUTTONDBLCLK, false},
        {"right button up", WMAPP_NOTIFYCALLBACK, WM_RBUTTONUP, false},
        {"balloon shown", WMAPP_NOTIFYCALLBACK, NIN_BALLOONSHOW, false},
        {"the time limit", WM_TIMER, 0, true},
    };
    for (const CallbackCase& c : cases) {
        SimulatedMachine machine;
        SimulatedShell shell(machine);
        shell.balloonEnds = 0;
        Worker worker([] { showResultNotification(L"Title", L"Text"); });
        std::vector<NotifyIconCall> calls = waitForIconCalls(shell, 2);
        ASSERT_EQ(calls.size(), 2u) << c.name;
        HWND window = calls[0].window;
        WPARAM wParam = c.message == WM_TIMER ? RESULT_LIMIT_TIMER : RESULT_ICON_ID;
        DWORD_PTR result = 0;
        ASSERT_TRUE(SendMessageTimeoutW(window, c.message, wParam, c.lParam, SMTO_NORMAL, 10000, &result)) << c.name;
        if (c.closes) {
            EXPECT_TRUE(worker.ended(10000)) << c.name;
            EXPECT_EQ(messagesOf(shell.iconCalls()), kShownAndDeleted) << c.name;
        } else {
            EXPECT_FALSE(worker.ended(300)) << c.name;
            EXPECT_EQ(shell.iconCalls().size(), 2u) << c.name;
            PostMessageW(window, WMAPP_NOTIFYCALLBACK, RESULT_ICON_ID, NIN_BALLOONTIMEOUT);
            EXPECT_TRUE(worker.ended(10000)) << c.name;
        }
    }
}

struct FailureCase {
    const char* name;
    bool addFails, modifyFails;
    std::vector<DWORD> calls;
};

// A window whose icon or balloon fails leaves no quit message behind, which would end the
// caller's fallback box at once; and the next window, judged by itself, ends its own loop.
TEST(ResultNotification, AFailedWindowLeavesNoQuitMessageAndDoesNotSilenceTheNext) {
    const FailureCase cases[] = {
        {"icon refused", true, false, {NIM_ADD}},
        // The icon is taken away again rather than left in the notification area.
        {"balloon refused", false, true, {NIM_ADD, NIM_MODIFY, NIM_DELETE}},
    };
    for (const FailureCase& c : cases) {
        SimulatedMachine machine;
        SimulatedShell shell(machine);
        shell.addFails = c.addFails;
        shell.modifyFails = c.modifyFails;
        BOOL first = TRUE, second = FALSE;
        bool quitLeft = true;
        {
            Worker worker([&] {
                first = showResultNotification(L"Title", L"Text");
                MSG message;
                quitLeft = PeekMessageW(&message, nullptr, WM_QUIT, WM_QUIT, PM_NOREMOVE) != 0;
                {
                    std::lock_guard<std::mutex> held(shell.lock);
                    shell.addFails = shell.modifyFails = false;
                }
                second = showResultNotification(L"Title", L"Text");
            });
            EXPECT_TRUE(worker.ended(10000)) << c.name << ": the second window ended its loop";
        }
        EXPECT_FALSE(first) << c.name;
        EXPECT_FALSE(quitLeft) << c.name;
        EXPECT_TRUE(second) << c.name;
        std::vector<DWORD> expected = c.calls;
        expected.insert(expected.end(), kShownAndDeleted.begin(), kShownAndDeleted.end());
        EXPECT_EQ(messagesOf(shell.iconCalls()), expected) << c.name;
    }
}

// Every watcher test starts from a process in which no watcher ran: the class outlives its
// watcher on purpose.
class RemovalWatcher : public ::testing::Test {
protected:
    void SetUp() override { UnregisterClassW(WATCHER_WINDOW_CLASS, GetModuleHandleW(nullptr)); }
};

TEST_F(RemovalWatcher, RegistersForDriveRemovalsOnTheComputerFolder) {
    SimulatedMachine machine;
    SimulatedShell shell(machine);
    ASSERT_TRUE(startRemovalWatcher(L'R'));
    std::vector<ChangeRegistration> registrations = shell.registrations();
    ASSERT_EQ(registrations.size(), 1u);
    const ChangeRegistration& r = registrations[0];
    EXPECT_EQ(r.sources, SHCNRF_ShellLevel | SHCNRF_NewDelivery);
    EXPECT_EQ(r.events, static_cast<LONG>(SHCNE_DRIVEREMOVED));
    EXPECT_EQ(r.message, 0x8001u);
    EXPECT_EQ(r.entries, 1);
    EXPECT_FALSE(r.recursive);
    EXPECT_TRUE(r.itemGiven);
    wchar_t className[64] = L"", text[64] = L"";
    GetClassNameW(r.window, className, 64);
    GetWindowTextW(r.window, text, 64);
    EXPECT_STREQ(className, L"_STRAVIO_WaitVolumeRemove_WINDOW_CLASS_");
    EXPECT_STREQ(text, L"_STRAVIO_WaitVolumeRemove_WINDOW_");
    EXPECT_FALSE(IsWindowVisible(r.window));
    EXPECT_TRUE(waitRemovalWatcher(0));
    EXPECT_TRUE(shell.registrations()[0].deregistered);
    EXPECT_FALSE(IsWindow(r.window));
}

TEST_F(RemovalWatcher, IgnoresOtherDrivesUntilItsTimeLimitEndsIt) {
    SimulatedMachine machine;
    SimulatedShell shell(machine);
    ASSERT_TRUE(startRemovalWatcher(L'R'));
    shell.deliver(SHCNE_DRIVEREMOVED, L"F:\\");
    shell.deliver(SHCNE_DRIVEREMOVED, L"");
    shell.deliver(SHCNE_DRIVEREMOVED, L"\\\\server\\R");
    EXPECT_FALSE(shell.waitUntilDeregistered(300)) << "ended by a notice for another drive";
    DWORD start = machine.now;
    EXPECT_TRUE(waitRemovalWatcher(10000));
    EXPECT_GT(machine.now - start, 10000u) << "ended only by the limit";
    EXPECT_TRUE(shell.registrations()[0].deregistered);
    EXPECT_EQ(shell.lockCount(), 3);
    EXPECT_EQ(machine.sleeps.back(), 200u);
}

TEST_F(RemovalWatcher, EndsByItselfWhenItsDriveIsRemoved) {
    const wchar_t* paths[] = {L"R:\\", L"r:\\"};
    for (const wchar_t* path : paths) {
        UnregisterClassW(WATCHER_WINDOW_CLASS, GetModuleHandleW(nullptr));
        SimulatedMachine machine;
        SimulatedShell shell(machine);
        ASSERT_TRUE(startRemovalWatcher(L'R'));
        HWND window = shell.registrations()[0].window;
        shell.deliver(SHCNE_DRIVEREMOVED, path);
        EXPECT_TRUE(shell.waitUntilDeregistered(10000));
        // Its window goes as its thread ends; from then on the wait has nothing left to wait for.
        for (DWORD start = GetTickCount(); IsWindow(window) && GetTickCount() - start < 10000;) Sleep(5);
        DWORD start = machine.now;
        EXPECT_TRUE(waitRemovalWatcher(10000));
        EXPECT_LT(machine.now - start, 10000u);
    }
}

TEST_F(RemovalWatcher, WithoutARegistrationItWaitsForItsLimit) {
    SimulatedMachine machine;
    SimulatedShell shell(machine);
    shell.registrationFails = true;
    ASSERT_TRUE(startRemovalWatcher(L'R'));
    DWORD start = machine.now;
    EXPECT_TRUE(waitRemovalWatcher(2000));
    EXPECT_GT(machine.now - start, 2000u);
}

// The class is left registered, so a second watcher in one run has no window, and its wait
// returns at once.
TEST_F(RemovalWatcher, ASecondWatcherInTheSameRunHasNone) {
    SimulatedMachine machine;
    SimulatedShell shell(machine);
    ASSERT_TRUE(startRemovalWatcher(L'R'));
    EXPECT_TRUE(waitRemovalWatcher(0));
    machine.sleeps.clear();
    EXPECT_FALSE(startRemovalWatcher(L'R'));
    EXPECT_FALSE(waitRemovalWatcher(10000));
    EXPECT_TRUE(machine.sleeps.empty());
    EXPECT_EQ(shell.registrations().size(), 1u);
}

TEST_F(RemovalWatcher, WithoutAStartTheWaitReturnsAtOnce) {
    SimulatedMachine machine;
    EXPECT_FALSE(waitRemovalWatcher(10000));
    EXPECT_TRUE(machine.sleeps.empty());
}

}  // namespace
