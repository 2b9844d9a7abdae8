// Closing the drive's Explorer windows, against real windows on this desktop: top-level fixture
// windows with Explorer's class names, child chains and address texts. The Windows version is
// simulated; window enumeration, the messages and the bounded wait are real.
// The fixture windows show drive K:, which no other test flushes: the flushes that other test
// programs run at the same time close every Explorer window of their drive on this desktop.
#include "tool/usage/explorer_windows.h"

#include "common/bounded.h"
#include "platform/owners.h"
#include "sim/machine.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace {

// How long a fixture thread waits for the test: far beyond the tool's bounded wait, so reaching
// it means the call under test blocked on the hung window.
const DWORD kThreadLimitMilliseconds = 15000;

// What a fixture window answered and received.
struct WindowRecord {
    std::wstring text;        // what WM_GETTEXT answers
    bool answersText = true;  // cleared once a caller that gave up waiting is gone
    int textRequests = 0;
    WPARAM textCapacity = 0;  // of the last WM_GETTEXT
    int closeRequests = 0;
};

LRESULT CALLBACK fixtureProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    WindowRecord* record = reinterpret_cast<WindowRecord*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    if (record && message == WM_GETTEXT) {
        ++record->textRequests;
        record->textCapacity = wParam;
        // A request answered after its sender timed out points into a stack frame that is gone.
        if (!record->answersText) return 0;
        return static_cast<LRESULT>(copyText(reinterpret_cast<wchar_t*>(lParam), wParam, record->text.c_str()));
    }
    if (record && message == WM_CLOSE) {
        ++record->closeRequests;
        return 0;  // stays until its owner destroys it, so every window is destroyed the same way
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

// Explorer's class names as classes of this module, for one test's scope. "Edit" and
// "ComboBox" exist system-wide as well; a module's own class wins for windows made with its
// instance handle.
const wchar_t* const kFixtureClasses[] = {
    L"CabinetWClass", L"ExploreWClass", L"WorkerW", L"ReBarWindow32", L"Address Band Root",
    L"msctls_progress32", L"ComboBoxEx32", L"ComboBox", L"Edit",
};

class FixtureClasses {
public:
    FixtureClasses() {
        for (const wchar_t* name : kFixtureClasses) {
            WNDCLASSEXW windowClass = {};
            windowClass.cbSize = sizeof(windowClass);
            windowClass.lpfnWndProc = fixtureProcedure;
            windowClass.hInstance = GetModuleHandleW(nullptr);
            windowClass.lpszClassName = name;
            if (!RegisterClassExW(&windowClass)) failed_ = name;
        }
    }
    ~FixtureClasses() {
        for (const wchar_t* name : kFixtureClasses) UnregisterClassW(name, GetModuleHandleW(nullptr));
    }
    FixtureClasses(const FixtureClasses&) = delete;
    FixtureClasses& operator=(const FixtureClasses&) = delete;
    const wchar_t* failed() const { return failed_; }

private:
    const wchar_t* failed_ = nullptr;
};

struct WindowTraits {
    typedef HWND Type;
    static Type invalid() { return nullptr; }
    static bool isValid(Type h) { return h != nullptr; }
    static void close(Type h) { DestroyWindow(h); }  // takes the children with it
};
typedef UniqueOwner<WindowTraits> UniqueWindow;

// Paths below the frame, each window the only child of the one before. The "ComboBoxEx32" in
// a path answers WM_GETTEXT with the frame's address.
typedef const wchar_t* const Path[];
Path kPath62 = {L"WorkerW", L"ReBarWindow32", L"ComboBoxEx32", L"ComboBox", L"Edit", nullptr};
Path kPath60 = {L"WorkerW", L"ReBarWindow32", L"Address Band Root", L"msctls_progress32",
                L"ComboBoxEx32", L"ComboBox", L"Edit", nullptr};
Path kNoWorkerW = {L"ReBarWindow32", L"ComboBoxEx32", L"ComboBox", L"Edit", nullptr};
Path kNoReBar = {L"WorkerW", L"ComboBoxEx32", L"ComboBox", L"Edit", nullptr};
Path kNoComboBox = {L"WorkerW", L"ReBarWindow32", L"ComboBoxEx32", L"Edit", nullptr};
Path kNoEdit = {L"WorkerW", L"ReBarWindow32", L"ComboBoxEx32", L"ComboBox", nullptr};
Path kVistaNoProgress = {L"WorkerW", L"ReBarWindow32", L"Address Band Root", L"ComboBoxEx32",
                         L"ComboBox", L"Edit", nullptr};

// One hidden top-level window with its path, on the thread that constructs it.
class FixtureFrame {
public:
    FixtureFrame(const wchar_t* frameClass, const wchar_t* const* path, const wchar_t* address) {
        address_.text = address;
        HINSTANCE instance = GetModuleHandleW(nullptr);
        window_.reset(CreateWindowExW(0, frameClass, nullptr, WS_OVERLAPPEDWINDOW, 0, 0, 400, 300, nullptr,
                                      nullptr, instance, nullptr));
        HWND parent = window_.get();
        if (!parent) return;
        SetWindowLongPtrW(parent, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(&frame_));
        for (; *path; ++path) {
            parent = CreateWindowExW(0, *path, nullptr, WS_CHILD, 0, 0, 10, 10, parent, nullptr, instance, nullptr);
            if (!parent) return;
            if (wcscmp(*path, L"ComboBoxEx32") == 0)
                SetWindowLongPtrW(parent, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(&address_));
        }
        complete_ = true;
    }
    FixtureFrame(const FixtureFrame&) = delete;
    FixtureFrame& operator=(const FixtureFrame&) = delete;

    bool complete() const { return complete_; }
    const WindowRecord& frame() const { return frame_; }
    WindowRecord& address() { return address_; }

private:
    WindowRecord frame_;
    WindowRecord address_;
    bool complete_ = false;
    UniqueWindow window_;  // last, so the windows go before the records they point to
};

// Handles what was posted to this thread's windows: the close is posted, not sent.
void pumpMessages() {
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&message);
}

enum Outcome {
    Closed,
    LeftOpen,
    NotAsked,  // left open, and its address combo box never got WM_GETTEXT
};

struct FrameCase {
    const char* what;
    DWORD major, minor;
    const wchar_t* frameClass;
    const wchar_t* const* path;
    const wchar_t* driveArgument;
    const wchar_t* address;
    Outcome outcome;
};

class ExplorerWindows : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(classes.failed(), nullptr) << "class not registered"; }

    // One frame alone on this thread's side of the desktop, one pass over all windows.
    void expectOutcome(const FrameCase& c) {
        SCOPED_TRACE(c.what);
        machine.majorVersion = c.major;
        machine.minorVersion = c.minor;
        FixtureFrame frame(c.frameClass, c.path, c.address);
        ASSERT_TRUE(frame.complete());
        closeExplorerWindowsOfDrive(c.driveArgument);
        pumpMessages();
        EXPECT_EQ(frame.frame().closeRequests, c.outcome == Closed ? 1 : 0);
        if (c.outcome == NotAsked) {
            EXPECT_EQ(frame.address().textRequests, 0);
        } else {
            // The callback's buffer holds 256 units; a window must not be allowed to write more.
            EXPECT_EQ(frame.address().textCapacity, 256u);
        }
    }

    FixtureClasses classes;
    SimulatedMachine machine;
};

TEST_F(ExplorerWindows, FrameClassAndPathFollowTheWindowsVersion) {
    const FrameCase cases[] = {
        {"6.2 folder window", 6, 2, L"CabinetWClass", kPath62, L"K: ", L"K:\\", Closed},
        {"6.2 tree view window", 6, 2, L"ExploreWClass", kPath62, L"K: ", L"K:\\", Closed},
        {"later versions as 6.2", 10, 0, L"CabinetWClass", kPath62, L"K: ", L"K:\\", Closed},
        {"6.2 skips Vista's path", 6, 2, L"CabinetWClass", kPath60, L"K: ", L"K:\\", NotAsked},
        {"6.0 folder window", 6, 0, L"CabinetWClass", kPath60, L"K: ", L"K:\\", Closed},
        {"6.0 skips 6.2's path", 6, 0, L"CabinetWClass", kPath62, L"K: ", L"K:\\", NotAsked},
        {"6.0 skips the tree view", 6, 0, L"ExploreWClass", kPath60, L"K: ", L"K:\\", NotAsked},
        {"6.0 path without progress bar", 6, 0, L"CabinetWClass", kVistaNoProgress, L"K: ", L"K:\\", NotAsked},
        {"6.1 with 6.2's path", 6, 1, L"CabinetWClass", kPath62, L"K: ", L"K:\\", NotAsked},
        {"6.1 with Vista's path", 6, 1, L"CabinetWClass", kPath60, L"K: ", L"K:\\", NotAsked},
        {"6.1 tree view", 6, 1, L"ExploreWClass", kPath62, L"K: ", L"K:\\", NotAsked},
        {"other class, 6.2", 6, 2, L"WorkerW", kPath62, L"K: ", L"K:\\", NotAsked},
        {"other class, 6.0", 6, 0, L"ReBarWindow32", kPath60, L"K: ", L"K:\\", NotAsked},
    };
    for (const FrameCase& c : cases) expectOutcome(c);
}

TEST_F(ExplorerWindows, MissingStepsAndChildrenAreSkipped) {
    const FrameCase cases[] = {
        {"no WorkerW", 6, 2, L"CabinetWClass", kNoWorkerW, L"K: ", L"K:\\", NotAsked},
        {"no ReBarWindow32", 6, 2, L"CabinetWClass", kNoReBar, L"K: ", L"K:\\", NotAsked},
        {"Edit without ComboBox", 6, 2, L"CabinetWClass", kNoComboBox, L"K: ", L"K:\\", LeftOpen},
        {"ComboBox without Edit", 6, 2, L"CabinetWClass", kNoEdit, L"K: ", L"K:\\", LeftOpen},
    };
    for (const FrameCase& c : cases) expectOutcome(c);
}

// 253 characters before "K:" fill the 256-unit text buffer exactly; one more cuts the colon off.
const std::wstring kDriveAtBufferEnd = std::wstring(253, L'x') + L"K:";
const std::wstring kDriveBeyondBuffer = std::wstring(254, L'x') + L"K:";

TEST_F(ExplorerWindows, AddressMatchIsCaseSensitiveSubstringOfDriveAndColon) {
    const FrameCase cases[] = {
        {"drive root", 6, 2, L"CabinetWClass", kPath62, L"K: ", L"K:\\", Closed},
        {"folder on the drive", 6, 2, L"CabinetWClass", kPath62, L"K: ", L"K:\\Photos\\2023", Closed},
        {"argument without blank", 6, 2, L"CabinetWClass", kPath62, L"K:", L"K:\\Photos", Closed},
        {"other drive", 6, 2, L"CabinetWClass", kPath62, L"K: ", L"C:\\Users\\Public", LeftOpen},
        {"K: inside another drive's path", 6, 2, L"CabinetWClass", kPath62, L"K: ", L"C:\\x\\K:y", Closed},
        {"display name with the drive", 6, 2, L"CabinetWClass", kPath62, L"K: ", L"USB DRIVE (K:)", Closed},
        {"letter without colon", 6, 2, L"CabinetWClass", kPath62, L"K: ", L"C:\\K\\F", LeftOpen},
        {"lower-case argument", 6, 2, L"CabinetWClass", kPath62, L"k: ", L"K:\\", LeftOpen},
        {"lower-case address", 6, 2, L"CabinetWClass", kPath62, L"K: ", L"k:\\", LeftOpen},
        {"both lower-case", 6, 2, L"CabinetWClass", kPath62, L"k: ", L"k:\\", Closed},
        {"empty address", 6, 2, L"CabinetWClass", kPath62, L"K: ", L"", LeftOpen},
        {"drive at the buffer's end", 6, 2, L"CabinetWClass", kPath62, L"K: ", kDriveAtBufferEnd.c_str(), Closed},
        {"drive beyond the buffer", 6, 2, L"CabinetWClass", kPath62, L"K: ", kDriveBeyondBuffer.c_str(), LeftOpen},
        {"6.0 drive root", 6, 0, L"CabinetWClass", kPath60, L"K: ", L"K:\\", Closed},
        {"6.0 other drive", 6, 0, L"CabinetWClass", kPath60, L"K: ", L"D:\\", LeftOpen},
    };
    for (const FrameCase& c : cases) expectOutcome(c);
}

struct PassFrame {
    const wchar_t* frameClass;
    const wchar_t* address;
    bool closes;
};

TEST_F(ExplorerWindows, OnePassClosesEveryWindowOfTheDriveAndNoOther) {
    const PassFrame frames[] = {
        {L"CabinetWClass", L"K:\\", true},
        {L"ExploreWClass", L"K:\\Music", true},
        {L"CabinetWClass", L"C:\\Users", false},
        {L"CabinetWClass", L"K:\\Photos\\2023", true},
        {L"WorkerW", L"K:\\", false},
        {L"CabinetWClass", L"D:\\", false},
        {L"CabinetWClass", L"C:\\x\\K:y", true},
    };
    std::vector<std::unique_ptr<FixtureFrame>> made;
    for (const PassFrame& f : frames) {
        made.emplace_back(new FixtureFrame(f.frameClass, kPath62, f.address));
        ASSERT_TRUE(made.back()->complete());
    }
    closeExplorerWindowsOfDrive(L"K: ");
    for (size_t i = 0; i < made.size(); ++i)
        EXPECT_EQ(made[i]->frame().closeRequests, 0) << "the close is posted, not sent: " << i;
    pumpMessages();
    for (size_t i = 0; i < made.size(); ++i)
        EXPECT_EQ(made[i]->frame().closeRequests, frames[i].closes ? 1 : 0) << "frame " << i;
}

// A frame on a thread of its own. A pumping thread answers as Explorer's own thread does; a
// hung one blocks on an event until the test lets it go, and only then looks at its queue.
class FrameOnOtherThread {
public:
    FrameOnOtherThread(bool pumps, const wchar_t* address)
        : pumps_(pumps), address_(address), ready_(CreateEventW(nullptr, TRUE, FALSE, nullptr)),
          release_(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {
        thread_.reset(CreateThread(nullptr, 0, run, this, 0, nullptr));
        if (thread_) WaitForSingleObject(ready_.get(), kThreadLimitMilliseconds);
    }
    ~FrameOnOtherThread() { finish(); }
    FrameOnOtherThread(const FrameOnOtherThread&) = delete;
    FrameOnOtherThread& operator=(const FrameOnOtherThread&) = delete;

    bool started() const { return created_; }
    // Lets the thread go and waits until it has read its queue and destroyed its windows.
    // FALSE when the thread had to give up waiting for the test: the call under test blocked.
    bool finish() {
        if (!thread_) return false;
        SetEvent(release_.get());
        bool ended = WaitForSingleObject(thread_.get(), kThreadLimitMilliseconds) == WAIT_OBJECT_0;
        thread_.reset();
        return ended && releasedByTest_;
    }
    // Read after finish().
    int closeRequests() const { return closeRequests_; }
    int textRequests() const { return textRequests_; }

private:
    static DWORD WINAPI run(void* parameter) {
        static_cast<FrameOnOtherThread*>(parameter)->serve();
        return 0;
    }
    void serve() {
        FixtureFrame frame(L"CabinetWClass", kPath62, address_.c_str());
        created_ = frame.complete();
        SetEvent(ready_.get());
        DWORD waited;
        if (pumps_) {
            HANDLE release = release_.get();
            while ((waited = MsgWaitForMultipleObjects(1, &release, FALSE, kThreadLimitMilliseconds,
                                                       QS_ALLINPUT)) == WAIT_OBJECT_0 + 1)
                pumpMessages();
        } else {
            waited = WaitForSingleObject(release_.get(), kThreadLimitMilliseconds);
        }
        releasedByTest_ = waited == WAIT_OBJECT_0;
        frame.address().answersText = false;
        pumpMessages();
        closeRequests_ = frame.frame().closeRequests;
        textRequests_ = frame.address().textRequests;
    }

    bool pumps_;
    std::wstring address_;
    UniqueHandle ready_, release_, thread_;
    bool created_ = false;
    bool releasedByTest_ = false;
    int closeRequests_ = 0, textRequests_ = 0;
};

TEST_F(ExplorerWindows, HungWindowIsSkippedAndTheOthersStillClose) {
    FixtureFrame before(L"CabinetWClass", kPath62, L"K:\\before");
    FrameOnOtherThread hung(false, L"K:\\hung");
    FrameOnOtherThread answering(true, L"K:\\answering");
    FixtureFrame after(L"ExploreWClass", kPath62, L"K:\\after");
    ASSERT_TRUE(before.complete() && after.complete());
    ASSERT_TRUE(hung.started() && answering.started());

    closeExplorerWindowsOfDrive(L"K: ");
    pumpMessages();
    EXPECT_TRUE(hung.finish()) << "the call waited on the hung window until it gave up";
    EXPECT_TRUE(answering.finish());

    EXPECT_EQ(before.frame().closeRequests, 1);
    EXPECT_EQ(after.frame().closeRequests, 1);
    EXPECT_EQ(answering.closeRequests(), 1) << "a window of another thread that answers is closed";
    EXPECT_EQ(answering.textRequests(), 1);
    EXPECT_EQ(hung.closeRequests(), 0) << "the hung window was given up on";
}

}  // namespace
