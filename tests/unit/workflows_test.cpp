// Both workflows on the simulated machine: the real thread procedures run against a real hidden
// window that stands in for the main dialog, the person's answers come from a script, and the
// waits run on the virtual clock.
#include "tool/shell/workflows.h"

#include "common/bounded.h"
#include "common/texts.h"
#include "platform/owners.h"
#include "sim/scenarios.h"
#include "sim/shell.h"
#include "support/fake_service.h"
#include "tool/device/eject.h"
#include "tool/service/service_pipe.h"
#include "tool/shell/main_dialog.h"
#include "tool/shell/notifications.h"
#include "tool/shell/tool_state.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

namespace {

// The main dialog as a workflow meets it: WM_CLOSE destroys it, and a restore request is
// counted. It lives on the test's thread, which serves it while the workflow runs.
class DialogStandIn {
public:
    DialogStandIn() {
        WNDCLASSW windowClass;
        ZeroMemory(&windowClass, sizeof(windowClass));
        windowClass.lpfnWndProc = &DialogStandIn::procedure;
        windowClass.hInstance = GetModuleHandleW(nullptr);
        windowClass.lpszClassName = L"ParvaneDialogStandIn";
        RegisterClassW(&windowClass);
        window_ = CreateWindowExW(0, windowClass.lpszClassName, L"", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr,
                                  windowClass.hInstance, this);
        if (!window_) ADD_FAILURE() << "no stand-in window: " << GetLastError();
    }
    ~DialogStandIn() {
        if (IsWindow(window_)) DestroyWindow(window_);
    }
    DialogStandIn(const DialogStandIn&) = delete;
    DialogStandIn& operator=(const DialogStandIn&) = delete;

    HWND window() const { return window_; }
    int closes = 0;
    int restores = 0;
    std::function<void()> onClose;

    // Runs the workflow on its own thread and serves this window until the thread has ended.
    bool run(LPTHREAD_START_ROUTINE workflow) {
        UniqueHandle thread(CreateThread(nullptr, 0, workflow, window_, 0, nullptr));
        if (!thread) return false;
        HANDLE h = thread.get();
        DWORD start = GetTickCount();
        for (;;) {
            DWORD woke = MsgWaitForMultipleObjects(1, &h, FALSE, 100, QS_ALLINPUT);
            pump();
            if (woke == WAIT_OBJECT_0) break;
            if (GetTickCount() - start > 120000) {
                ADD_FAILURE() << "the workflow did not end within two minutes";
                TerminateThread(h, 1);
                return false;
            }
        }
        pump();
        return true;
    }

private:
    static void pump() {
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
    }
    static LRESULT CALLBACK procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
        if (message == WM_NCCREATE)
            SetWindowLongPtrW(window, GWLP_USERDATA,
                              reinterpret_cast<LONG_PTR>(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams));
        DialogStandIn* self = reinterpret_cast<DialogStandIn*>(GetWindowLongPtrW(window, GWLP_USERDATA));
        if (self && message == WM_CLOSE) {
            ++self->closes;
            if (self->onClose) self->onClose();
            DestroyWindow(window);
            return 0;
        }
        if (self && message == WMAPP_RESTORE_DIALOG) {
            ++self->restores;
            return 0;
        }
        return DefWindowProcW(window, message, wParam, lParam);
    }
    HWND window_ = nullptr;
};

// The product's stick as R:, with the volume as the local flush opens it: by the whole drive
// argument, blank included.
SimDrive addStick(SimulatedMachine& machine) {
    SimDrive stick = addUsbStick(machine, L'R', 1);
    machine.addDevice(L"\\\\.\\R: ");
    return stick;
}

int flushes(SimulatedMachine& machine) { return machine.findDevice(L"\\\\.\\R: ")->locks; }

const wchar_t kDisplayName[] = L"SECURE (R:)";
const std::wstring kRemoved = L"'SECURE (R:)' can now be safely removed from the computer.";
const std::wstring kQuestion =
    L"'SECURE (R:)' is currently in use.\nSave any open files on this disc, and then close the files or programs "
    L"using the files before trying again.\nIf you choose to continue, the files will be closed, which might cause "
    L"data to be lost.";
const UINT kQuestionFlags = MB_TOPMOST | MB_ICONWARNING | MB_CANCELTRYCONTINUE;
const UINT kTopmostError = MB_TOPMOST | MB_ICONERROR;

std::wstring caption() {
    wchar_t text[64];
    copyText(text, windowTitle());
    return text;
}

std::wstring someErrors(MessageCode code) { return L"Some errors occurred.(" + std::to_wstring(code) + L")"; }

struct Box {
    HWND owner;
    std::wstring text;
    UINT flags;
};

std::vector<Box> boxesOf(const SimulatedMachine& machine) {
    std::vector<Box> boxes;
    for (const MessageBoxRecord& b : machine.messageBoxes) boxes.push_back({b.owner, b.text, b.flags});
    return boxes;
}

void expectBoxes(const SimulatedMachine& machine, const std::vector<Box>& expected, const char* name) {
    std::vector<Box> boxes = boxesOf(machine);
    ASSERT_EQ(boxes.size(), expected.size()) << name;
    for (size_t i = 0; i < boxes.size(); ++i) {
        EXPECT_EQ(boxes[i].owner, expected[i].owner) << name << ", box " << i;
        EXPECT_EQ(boxes[i].text, expected[i].text) << name << ", box " << i;
        EXPECT_EQ(boxes[i].flags, expected[i].flags) << name << ", box " << i;
        EXPECT_EQ(machine.messageBoxes[i].caption, caption()) << name << ", box " << i;
    }
}

std::vector<DWORD> iconMessages(const SimulatedShell& shell) {
    std::vector<DWORD> messages;
    for (const NotifyIconCall& c : shell.iconCalls()) messages.push_back(c.message);
    return messages;
}

const std::vector<DWORD> kBalloon{NIM_ADD, NIM_MODIFY, NIM_DELETE};

class Workflow : public ::testing::Test {
protected:
    void SetUp() override {
        copyText(driveArgument, L"R: ");
        serviceAvailable = FALSE;
        // Each test starts as a fresh run of the tool, in which no watcher has been made.
        UnregisterClassW(WATCHER_WINDOW_CLASS, GetModuleHandleW(nullptr));
    }
    void TearDown() override {
        driveArgument[0] = 0;
        serviceAvailable = FALSE;
    }
};

// ---- Safely remove ----

TEST_F(Workflow, RemoveReportsTheSuccessInABalloonAndEndsTheTool) {
    SimulatedMachine machine;
    SimDrive stick = addStick(machine);
    SimulatedShell shell(machine);
    shell.displayNames[L"R:\\"] = kDisplayName;
    DialogStandIn dialog;
    ASSERT_TRUE(dialog.run(&removeWorker));
    EXPECT_EQ(dialog.closes, 1);
    EXPECT_EQ(dialog.restores, 0);
    EXPECT_TRUE(machine.messageBoxes.empty());
    EXPECT_EQ(flushes(machine), 1) << "flushed first";
    EXPECT_EQ(machine.pnp.node(stick.usbDevice).ejectRequests, 1);
    std::vector<NotifyIconCall> calls = shell.iconCalls();
    ASSERT_EQ(iconMessages(shell), kBalloon);
    EXPECT_EQ(calls[0].tip, caption());
    EXPECT_EQ(calls[1].infoTitle, caption());
    EXPECT_EQ(calls[1].info, kRemoved);
}

struct NoBalloonCase {
    const char* name;
    bool addFails, modifyFails;
    const wchar_t* displayName;  // null: the shell has none
    std::wstring text;
};

TEST_F(Workflow, RemoveShowsTheSameTextInABoxWhenNoBalloonCanBeShown) {
    const NoBalloonCase cases[] = {
        {"icon refused", true, false, kDisplayName, kRemoved},
        {"balloon refused", false, true, kDisplayName, kRemoved},
        {"no display name: the root path", true, false, nullptr,
         L"'R:\\' can now be safely removed from the computer."},
        // The name is filled in, not read as a format.
        {"display name with a format", true, false, L"%s%n%d (R:)",
         L"'%s%n%d (R:)' can now be safely removed from the computer."},
    };
    for (const NoBalloonCase& c : cases) {
        SimulatedMachine machine;
        addStick(machine);
        SimulatedShell shell(machine);
        if (c.displayName) shell.displayNames[L"R:\\"] = c.displayName;
        shell.addFails = c.addFails;
        shell.modifyFails = c.modifyFails;
        DialogStandIn dialog;
        ASSERT_TRUE(dialog.run(&removeWorker)) << c.name;
        expectBoxes(machine, {{nullptr, c.text, MB_TOPMOST | MB_ICONINFORMATION}}, c.name);
        EXPECT_EQ(dialog.closes, 1) << c.name;
        EXPECT_EQ(dialog.restores, 0) << c.name;
    }
}

struct VetoCase {
    const char* name;
    std::vector<int> answers;
    bool forceDismounts;
    std::vector<Box> boxes;  // after the question
    int ejectRequests;
    bool balloon;
};

// A refusal asks the question; whatever the answer, the refusal ends the tool.
TEST_F(Workflow, RemoveAsksWhenTheEjectIsRefused) {
    const VetoCase cases[] = {
        {"cancel: the tool ends, nothing more is said", {IDCANCEL}, true, {}, 1, false},
        {"try again after the program let go", {IDTRYAGAIN}, true, {}, 2, true},
        {"continue: forced off and reported", {IDCONTINUE}, true, {}, 1, true},
        {"continue: the forced removal fails too", {IDCONTINUE}, false, {{nullptr, L"", kTopmostError}}, 1, false},
        {"the box could not be shown", {0}, true, {}, 1, false},
    };
    for (const VetoCase& c : cases) {
        SimulatedMachine machine;
        SimDrive stick = addStick(machine);
        SimNode& usb = machine.pnp.node(stick.usbDevice);
        usb.ejectResult = CR_REMOVE_VETOED;
        usb.vetoType = PNP_VetoOutstandingOpen;
        machine.findDevice(L"\\\\.\\R:")->dismountSucceeds = c.forceDismounts;
        SimulatedShell shell(machine);
        shell.displayNames[L"R:\\"] = kDisplayName;
        shell.answers.assign(c.answers.begin(), c.answers.end());
        // While the question is up, the program holding the drive lets go.
        shell.onMessageBox = [&](size_t index) {
            if (index == 0) usb.ejectResult = CR_SUCCESS;
        };
        DialogStandIn dialog;
        ASSERT_TRUE(dialog.run(&removeWorker)) << c.name;
        std::vector<Box> expected{{nullptr, kQuestion, kQuestionFlags}};
        for (Box b : c.boxes) {
            b.text = L"Some errors occurred.(710)";
            expected.push_back(b);
        }
        expectBoxes(machine, expected, c.name);
        EXPECT_EQ(usb.ejectRequests, c.ejectRequests) << c.name;
        EXPECT_EQ(flushes(machine), c.ejectRequests) << c.name << ": flushed before each";
        EXPECT_EQ(iconMessages(shell), c.balloon ? kBalloon : std::vector<DWORD>()) << c.name;
        if (c.balloon) {
            EXPECT_EQ(shell.iconCalls()[1].info, kRemoved) << c.name;
        }
        EXPECT_EQ(dialog.closes, 1) << c.name;
        EXPECT_EQ(dialog.restores, 0) << c.name;
    }
}

struct EjectFailureCase {
    const char* name;
    std::function<void(SimulatedMachine&, const SimDrive&)> breakDrive;
    MessageCode code;
    std::vector<int> answers;
    std::vector<Box> between;  // boxes between the first question and the code's text
};

// Nothing to eject was found: the question still comes first, then the code's text in a box of
// the dialog's own, and the dialog comes back, whatever was answered.
TEST_F(Workflow, RemoveReportsAFailedEjectAndBringsTheDialogBack) {
    const EjectFailureCase cases[] = {
        {"713 not a drive letter", [](SimulatedMachine&, const SimDrive&) { copyText(driveArgument, L"1: "); },
         MSG_EJECT_NOT_A_LETTER, {IDCANCEL}, {}},
        {"714 volume does not open",
         [](SimulatedMachine& m, const SimDrive&) { m.findDevice(L"\\\\.\\R:")->opens = false; },
         MSG_EJECT_VOLUME_NOT_OPENED, {IDCONTINUE}, {{nullptr, someErrors(710), kTopmostError}}},
        {"715 no device number",
         [](SimulatedMachine& m, const SimDrive&) { m.findDevice(L"\\\\.\\R:")->deviceNumber = -1; },
         MSG_EJECT_NO_DEVICE_NUMBER, {IDTRYAGAIN, IDCANCEL}, {{nullptr, kQuestion, kQuestionFlags}}},
        {"716 no DOS device", [](SimulatedMachine& m, const SimDrive&) { m.pnp.dosDevices.erase(L"R:"); },
         MSG_EJECT_NO_DOS_DEVICE, {IDCANCEL}, {}},
        {"717 disk gone", [](SimulatedMachine& m, const SimDrive& d) { m.pnp.node(d.disk).present = false; },
         MSG_EJECT_NO_DEVICE_NODE, {IDCANCEL}, {}},
    };
    for (const EjectFailureCase& c : cases) {
        copyText(driveArgument, L"R: ");
        SimulatedMachine machine;
        SimDrive stick = addStick(machine);
        c.breakDrive(machine, stick);
        SimulatedShell shell(machine);
        shell.displayNames[L"R:\\"] = kDisplayName;
        shell.displayNames[L"1:\\"] = kDisplayName;
        shell.answers.assign(c.answers.begin(), c.answers.end());
        DialogStandIn dialog;
        ASSERT_TRUE(dialog.run(&removeWorker)) << c.name;
        std::vector<Box> expected{{nullptr, kQuestion, kQuestionFlags}};
        expected.insert(expected.end(), c.between.begin(), c.between.end());
        expected.push_back({dialog.window(), someErrors(c.code), MB_ICONERROR});
        expectBoxes(machine, expected, c.name);
        EXPECT_EQ(dialog.closes, 0) << c.name;
        EXPECT_EQ(dialog.restores, 1) << c.name;
        EXPECT_TRUE(shell.iconCalls().empty()) << c.name;
    }
}

// ---- Hide the protected area ----

// A temporary folder of the test's own, put in place through TMP while it lives.
class TemporaryFolder {
public:
    TemporaryFolder() {
        wchar_t base[MAX_PATH];
        GetTempPathW(MAX_PATH, base);
        saved_.resize(32768);
        DWORD n = GetEnvironmentVariableW(L"TMP", &saved_[0], static_cast<DWORD>(saved_.size()));
        hadTmp_ = n > 0 && n < saved_.size();
        saved_.resize(hadTmp_ ? n : 0);
        path_ = std::wstring(base) + L"parvane-workflow-" + std::to_wstring(GetCurrentProcessId());
        CreateDirectoryW(path_.c_str(), nullptr);
        SetEnvironmentVariableW(L"TMP", path_.c_str());
    }
    ~TemporaryFolder() {
        DeleteFileW(marker().c_str());
        RemoveDirectoryW(path_.c_str());
        SetEnvironmentVariableW(L"TMP", hadTmp_ ? saved_.c_str() : nullptr);
    }
    std::wstring marker() const { return path_ + L"\\parvane.tmp"; }

private:
    std::wstring path_, saved_;
    bool hadTmp_ = false;
};

bool fileExists(const std::wstring& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

std::string fileBytes(const std::wstring& path) {
    UniqueFile file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    char buffer[64];
    DWORD n = 0;
    if (!file || !ReadFile(file.get(), buffer, sizeof(buffer), &n, nullptr)) return "<unreadable>";
    return std::string(buffer, n);
}

void writeFile(const std::wstring& path, const std::string& bytes) {
    UniqueFile file(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    DWORD n = 0;
    WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &n, nullptr);
}

// Notes, when the pause before the close begins, whether the marker is there.
struct PauseWatch {
    std::wstring marker;
    bool markerAtPause = false;
    DWORD pauseStart = 0;
    int pauses = 0;
};
PauseWatch g_pause;
void(WINAPI* g_simSleep)(DWORD) = nullptr;

void WINAPI watchingSleep(DWORD ms) {
    if (ms == 1000) {
        ++g_pause.pauses;
        g_pause.markerAtPause = fileExists(g_pause.marker);
        g_pause.pauseStart = SimulatedMachine::current().now;
    }
    g_simSleep(ms);
}

void watchThePause(const std::wstring& marker) {
    g_pause = PauseWatch();
    g_pause.marker = marker;
    g_simSleep = g_systemCalls.sleep;
    g_systemCalls.sleep = &watchingSleep;
}

std::vector<DWORD> states(const SimNode& node) {
    std::vector<DWORD> result;
    for (size_t i = 0; i < node.propertyChanges.size(); i += 2) result.push_back(node.propertyChanges[i].StateChange);
    return result;
}

size_t count(const std::vector<DWORD>& values, DWORD value) {
    size_t n = 0;
    for (DWORD v : values) n += v == value ? 1 : 0;
    return n;
}

struct MarkerCase {
    const char* name;
    bool markerThere;
};

TEST_F(Workflow, HideRestartsTheParentWritesTheMarkerAndEndsTheTool) {
    const MarkerCase cases[] = {{"marker made", false}, {"marker already there, left as it is", true}};
    for (const MarkerCase& c : cases) {
        UnregisterClassW(WATCHER_WINDOW_CLASS, GetModuleHandleW(nullptr));
        TemporaryFolder temp;
        if (c.markerThere) writeFile(temp.marker(), "kept");
        SimulatedMachine machine;
        SimDrive stick = addStick(machine);
        machine.pnp.services.push_back(SimService{L"lumagate664"});
        SimulatedShell shell(machine);
        watchThePause(temp.marker());
        DialogStandIn dialog;
        DWORD closedAt = 0;
        dialog.onClose = [&] { closedAt = machine.now; };
        ASSERT_TRUE(dialog.run(&hideWorker)) << c.name;
        EXPECT_TRUE(machine.messageBoxes.empty()) << c.name;
        EXPECT_EQ(dialog.closes, 1) << c.name;
        EXPECT_EQ(dialog.restores, 0) << c.name;
        // The driver is off the disk, and the parent went off and on again.
        EXPECT_FALSE(machine.pnp.hasProperty(stick.disk, SPDRP_UPPERFILTERS)) << c.name;
        EXPECT_TRUE(machine.pnp.services[0].markedForDeletion) << c.name;
        EXPECT_EQ(states(machine.pnp.node(stick.usbDevice)), (std::vector<DWORD>{DICS_DISABLE, DICS_ENABLE})) << c.name;
        EXPECT_TRUE(machine.pnp.node(stick.disk).propertyChanges.empty()) << c.name;
        EXPECT_EQ(flushes(machine), 1) << c.name << ": flushed";
        // The marker was there when the one-second pause began, and the close came after it.
        EXPECT_EQ(g_pause.pauses, 1) << c.name;
        EXPECT_TRUE(g_pause.markerAtPause) << c.name;
        EXPECT_EQ(closedAt, g_pause.pauseStart + 1000) << c.name;
        EXPECT_EQ(machine.sleeps.back(), 1000u) << c.name;
        EXPECT_EQ(fileBytes(temp.marker()), c.markerThere ? "kept" : "") << c.name;
        // The watcher was there for the restart and gave its registration up.
        ASSERT_EQ(shell.registrations().size(), 1u) << c.name;
        EXPECT_TRUE(shell.registrations()[0].deregistered) << c.name;
        EXPECT_GE(count(machine.sleeps, 100), 100u) << c.name << ": no notice came, so its 10 s passed";
    }
}

// The shell's notice that the drive is gone comes while the tool waits for the disk to go.
void WINAPI sleepWhileTheDriveIsRemoved(DWORD ms) {
    SimulatedShell& shell = SimulatedShell::current();
    if (ms == 500 && !shell.registrations().empty() && shell.lockCount() == 0)
        shell.deliver(SHCNE_DRIVEREMOVED, L"R:\\");
    g_simSleep(ms);
}

// With the notice of the drive's removal the hide goes on at once instead of after 10 s.
TEST_F(Workflow, HideGoesOnWhenTheShellReportsTheDriveRemoved) {
    TemporaryFolder temp;
    SimulatedMachine machine;
    addStick(machine);
    SimulatedShell shell(machine);
    g_simSleep = g_systemCalls.sleep;
    g_systemCalls.sleep = &sleepWhileTheDriveIsRemoved;
    DialogStandIn dialog;
    ASSERT_TRUE(dialog.run(&hideWorker));
    EXPECT_EQ(dialog.closes, 1);
    EXPECT_EQ(shell.lockCount(), 1);
    EXPECT_LT(count(machine.sleeps, 100), 100u);
    EXPECT_TRUE(fileExists(temp.marker()));
}

const std::string kHeader("\x01" "Lumagate" "\x1f" "V2" "\x1f" "\x02");
std::string narrow(const std::wstring& text) { return std::string(text.begin(), text.end()); }
std::string request(const std::string& body) { return kHeader + body + "\x03"; }

TEST_F(Workflow, HideThroughTheServiceAsksItInOrder) {
    serviceAvailable = TRUE;
    TemporaryFolder temp;
    SimulatedMachine machine;
    SimDrive stick = addStick(machine);
    // The service restarts the device; the disk goes and comes back on the machine's clock.
    machine.pnp.node(stick.disk).presenceChanges = {{machine.now + 1500, false}, {machine.now + 14000, true}};
    SimulatedShell shell(machine);
    FakeService service(L"[GDN]\r\nfield2=1\r\n");
    DialogStandIn dialog;
    ASSERT_TRUE(dialog.run(&hideWorker));
    service.stop();
    EXPECT_TRUE(machine.messageBoxes.empty());
    EXPECT_EQ(dialog.closes, 1);
    std::vector<std::string> first;
    for (const std::vector<std::string>& connection : service.requestsByConnection())
        if (!connection.empty()) first.push_back(connection[0]);
    const std::string parent = narrow(stick.parentId);
    EXPECT_EQ(first, (std::vector<std::string>{
                         request("GDN\x1fLumgatS\x1fR: \x1f"),
                         request("RD2\x1fLumgatS\x1f" + narrow(stick.diskId) + "\x1flumagate664\x1f"),
                         request("UDV\x1fLumgatS\x1flumagate664\x1f"),
                         request("FLS\x1fLumgatS\x1fR: \x1f"),
                         request("ENA\x1fLumgatS\x1f" + parent + "\x1f" "0\x1f"),
                         request("ENA\x1fLumgatS\x1f" + parent + "\x1f" "1\x1f"),
                     }));
    EXPECT_EQ(machine.pnp.node(stick.usbDevice).installerCalls, 0) << "nothing done locally";
    EXPECT_TRUE(fileExists(temp.marker()));
}

struct TargetCase {
    const char* name;
    bool driverAnswers;
    DWORD version;
    bool diskItself;
};

TEST_F(Workflow, HideRestartsTheDiskItselfOnlyForADriverOfVersion5OrLater) {
    const TargetCase cases[] = {
        {"driver does not answer", false, 0, false},
        {"version 4", true, 4, false},
        {"version 5", true, 5, true},
        {"version 6", true, 6, true},
    };
    for (const TargetCase& c : cases) {
        UnregisterClassW(WATCHER_WINDOW_CLASS, GetModuleHandleW(nullptr));
        TemporaryFolder temp;
        SimulatedMachine machine;
        SimDrive stick = addStick(machine);
        SimDevice* volume = machine.findDevice(L"\\\\.\\R:");
        volume->driverAnswers = c.driverAnswers;
        volume->driverVersion = c.version;
        SimulatedShell shell(machine);
        DialogStandIn dialog;
        ASSERT_TRUE(dialog.run(&hideWorker)) << c.name;
        const std::vector<DWORD> restarted{DICS_DISABLE, DICS_ENABLE};
        EXPECT_EQ(states(machine.pnp.node(stick.disk)), c.diskItself ? restarted : std::vector<DWORD>()) << c.name;
        EXPECT_EQ(states(machine.pnp.node(stick.usbDevice)), c.diskItself ? std::vector<DWORD>() : restarted)
            << c.name;
        EXPECT_TRUE(machine.messageBoxes.empty()) << c.name;
        EXPECT_EQ(dialog.closes, 1) << c.name;
    }
}

// The sim's parent lookup, for a stand-in that refuses it for the disk alone.
CONFIGRET(WINAPI* g_simGetParent)(PDEVINST, DEVINST, ULONG) = nullptr;
DEVINST g_parentless = 0;
CONFIGRET WINAPI parentRefusedForOne(PDEVINST parent, DEVINST node, ULONG flags) {
    return node == g_parentless ? CR_NO_SUCH_DEVNODE : g_simGetParent(parent, node, flags);
}
CONFIGRET WINAPI noChildren(PDEVINST, DEVINST, ULONG) { return CR_NO_SUCH_DEVNODE; }

struct HideFailureCase {
    const char* name;
    std::function<void(SimulatedMachine&, const SimDrive&)> breakMachine;
    MessageCode code;
    std::wstring text;
    bool watcher;             // the failure came while the watcher ran
    std::vector<DWORD> restarts;  // what the parent was asked, each a pair of requests
};

TEST_F(Workflow, HideReportsAFailureAndBringsTheDialogBack) {
    const HideFailureCase cases[] = {
        {"710 disk not identified",
         [](SimulatedMachine& m, const SimDrive&) { m.findDevice(L"\\\\.\\R:")->deviceNumber = -1; },
         710, someErrors(710), false, {}},
        {"802 no tree root", [](SimulatedMachine& m, const SimDrive&) { m.pnp.rootLocates = false; }, 802,
         someErrors(802), false, {}},
        {"803 parent's ID too long",
         [](SimulatedMachine& m, const SimDrive& d) { m.pnp.node(d.usbDevice).instanceId = L"USB\\" + std::wstring(600, L'X'); },
         803, someErrors(803), false, {}},
        {"804 parent's ID unreadable",
         [](SimulatedMachine& m, const SimDrive& d) { m.pnp.node(d.usbDevice).idReadable = false; }, 804,
         someErrors(804), false, {}},
        {"805 no parent",
         [](SimulatedMachine&, const SimDrive& d) {
             g_parentless = static_cast<DEVINST>(d.disk + 1);
             g_simGetParent = g_systemCalls.cmGetParent;
             g_systemCalls.cmGetParent = &parentRefusedForOne;
         },
         805, someErrors(805), false, {}},
        {"806 disk not in the tree", [](SimulatedMachine&, const SimDrive&) { g_systemCalls.cmGetChild = &noChildren; },
         806, someErrors(806), false, {}},
        {"504 disable refused",
         [](SimulatedMachine& m, const SimDrive& d) { m.pnp.node(d.usbDevice).installerOutcomes = {InstallerOutcome::Fails}; },
         504, L"The error occurred by changing the parameter of the device.", true,
         // Five tries, each undone at once.
         {DICS_DISABLE, DICS_ENABLE, DICS_DISABLE, DICS_ENABLE, DICS_DISABLE, DICS_ENABLE, DICS_DISABLE, DICS_ENABLE,
          DICS_DISABLE, DICS_ENABLE}},
        // The disk stays: the parent is enabled again once, so the drive is not left switched off.
        {"513 disk does not go", [](SimulatedMachine& m, const SimDrive&) { m.pnp.removalDelayMs = 45000; }, 513,
         L"The error occurred while confirming the disk removing.", true, {DICS_DISABLE, DICS_ENABLE}},
        {"514 disk does not come back", [](SimulatedMachine& m, const SimDrive&) { m.pnp.subtreeComesBack = false; },
         514, L"The error occurred while confirming the disk installation.", true, {DICS_DISABLE, DICS_ENABLE}},
    };
    for (const HideFailureCase& c : cases) {
        UnregisterClassW(WATCHER_WINDOW_CLASS, GetModuleHandleW(nullptr));
        TemporaryFolder temp;
        SimulatedMachine machine;
        SimDrive stick = addStick(machine);
        SimulatedShell shell(machine);
        c.breakMachine(machine, stick);
        DialogStandIn dialog;
        ASSERT_TRUE(dialog.run(&hideWorker)) << c.name;
        expectBoxes(machine, {{dialog.window(), c.text, MB_ICONERROR}}, c.name);
        EXPECT_EQ(dialog.restores, 1) << c.name;
        EXPECT_EQ(dialog.closes, 0) << c.name;
        EXPECT_FALSE(fileExists(temp.marker())) << c.name;
        EXPECT_EQ(states(machine.pnp.node(stick.usbDevice)), c.restarts) << c.name;
        std::vector<ChangeRegistration> registrations = shell.registrations();
        ASSERT_EQ(registrations.size(), c.watcher ? 1u : 0u) << c.name;
        if (c.watcher) {
            EXPECT_TRUE(registrations[0].deregistered) << c.name;
        }
        // A failure during the restart ends the watcher at once, not after its 10 s.
        if (c.code == 504 || c.code == 513) {
            EXPECT_LT(count(machine.sleeps, 100), 100u) << c.name;
        }
    }
}

TEST_F(Workflow, HideWithTheServiceEnablesOnceAfterTheDiskStayed) {
    serviceAvailable = TRUE;
    TemporaryFolder temp;
    SimulatedMachine machine;
    SimDrive stick = addStick(machine);
    SimulatedShell shell(machine);
    FakeService service(L"[GDN]\r\nfield2=1\r\n");
    DialogStandIn dialog;
    ASSERT_TRUE(dialog.run(&hideWorker));
    service.stop();
    expectBoxes(machine, {{dialog.window(), L"The error occurred while confirming the disk removing.", MB_ICONERROR}},
                "513");
    size_t enables = 0, disables = 0;
    for (const std::vector<std::string>& connection : service.requestsByConnection()) {
        if (connection.empty() || connection[0].compare(14, 3, "ENA") != 0) continue;
        const std::string& ena = connection[0];
        disables += ena.compare(ena.size() - 3, 2, "0\x1f") == 0;
        enables += ena.compare(ena.size() - 3, 2, "1\x1f") == 0;
    }
    EXPECT_EQ(disables, 1u);
    EXPECT_EQ(enables, 1u);
    EXPECT_EQ(dialog.restores, 1);
}

// 502 comes only from the service and has no text of its own: no box, but the dialog comes back,
// so the tool is not left running without a window.
TEST_F(Workflow, HideRefusedByTheServiceBringsTheDialogBackWithoutABox) {
    serviceAvailable = TRUE;
    TemporaryFolder temp;
    SimulatedMachine machine;
    addStick(machine);
    SimulatedShell shell(machine);
    FakeService service(L"[GDN]\r\nfield2=1\r\n[ENA]\r\nstatus=NG\r\nfield2=502\r\n");
    DialogStandIn dialog;
    ASSERT_TRUE(dialog.run(&hideWorker));
    service.stop();
    EXPECT_TRUE(machine.messageBoxes.empty());
    EXPECT_EQ(dialog.restores, 1);
    EXPECT_EQ(dialog.closes, 0);
    EXPECT_FALSE(fileExists(temp.marker()));
    ASSERT_EQ(shell.registrations().size(), 1u);
    EXPECT_TRUE(shell.registrations()[0].deregistered);
}

// The watcher's class outlives the first hide, so the second in the same run has no watcher and
// does not wait for one.
TEST_F(Workflow, ASecondHideInTheSameRunHasNoWatcher) {
    TemporaryFolder temp;
    SimulatedMachine machine;
    SimDrive stick = addStick(machine);
    SimulatedShell shell(machine);
    machine.pnp.node(stick.usbDevice).installerOutcomes = {InstallerOutcome::Fails};
    DialogStandIn dialog;
    ASSERT_TRUE(dialog.run(&hideWorker));
    EXPECT_EQ(dialog.restores, 1);
    machine.pnp.node(stick.usbDevice).installerOutcomes = {InstallerOutcome::Succeeds};
    machine.pnp.node(stick.usbDevice).installerCalls = 0;
    machine.sleeps.clear();
    ASSERT_TRUE(dialog.run(&hideWorker));
    EXPECT_EQ(dialog.closes, 1);
    EXPECT_EQ(shell.registrations().size(), 1u);
    EXPECT_EQ(count(machine.sleeps, 100), 0u);
    EXPECT_EQ(count(machine.sleeps, 200), 0u);
    EXPECT_TRUE(fileExists(temp.marker()));
}

// ---- Faults on the way, end to end: what the person sees, and that nothing is lost ----
// The device that never leaves or never comes back (513, 514) is in the hide failures above.

struct ServiceFaultCase {
    const char* name;
    const wchar_t* scenario;
    MessageCode shown;
    std::vector<std::string> enables;  // the last field of each ENA request, in order
};

// The service's answer is lost or unreadable: the person sees the step's failure, the dialog
// comes back, and a device the service may have disabled before it failed is enabled again, so
// that the drive is not left switched off across replugs.
TEST_F(Workflow, HideWithAServiceThatFailsMidWayLeavesTheDeviceEnabled) {
    const ServiceFaultCase cases[] = {
        // Header, keyword and status, then nothing: the service died while it answered.
        {"dies in the middle of its answer to the disable",
         L"[GDN]\r\nfield2=1\r\n[ENA]\r\nraw=01 4C 75 6D 61 67 61 74 65 1F 56 32 1F 02 45 4E 41 1F 4F 4B\r\n",
         MSG_SERVICE_FAILED, {"0", "1"}},
        // Before anything was changed: the disk is not identified, and nothing is touched.
        {"answers garbage when asked for the disk", L"[GDN]\r\nraw=47 41 52 42 41 47 45 1F 03\r\n", 710, {}},
    };
    for (const ServiceFaultCase& c : cases) {
        UnregisterClassW(WATCHER_WINDOW_CLASS, GetModuleHandleW(nullptr));
        serviceAvailable = TRUE;
        TemporaryFolder temp;
        SimulatedMachine machine;
        SimDrive stick = addStick(machine);
        SimulatedShell shell(machine);
        FakeService service(std::wstring(c.scenario));
        DialogStandIn dialog;
        ASSERT_TRUE(dialog.run(&hideWorker)) << c.name;
        service.stop();
        expectBoxes(machine, {{dialog.window(), someErrors(c.shown), MB_ICONERROR}}, c.name);
        EXPECT_EQ(dialog.restores, 1) << c.name;
        EXPECT_EQ(dialog.closes, 0) << c.name;
        EXPECT_FALSE(fileExists(temp.marker())) << c.name;
        std::vector<std::string> enables;
        for (const std::vector<std::string>& connection : service.requestsByConnection())
            if (!connection.empty() && connection[0].compare(14, 3, "ENA") == 0)
                enables.push_back(connection[0].substr(connection[0].size() - 3, 1));
        EXPECT_EQ(enables, c.enables) << c.name;
        EXPECT_EQ(machine.pnp.node(stick.usbDevice).installerCalls, 0) << c.name << ": nothing done locally";
        EXPECT_TRUE(machine.pnp.node(stick.disk).present) << c.name;
    }
}

// A program keeps a file open on the drive: its handle refuses the flush's lock (the flush opens
// the volume by another path, which here is the same volume) and vetoes the eject. Try again
// dismounts nothing; only Continue does, and only then is the file closed.
TEST_F(Workflow, RemoveDismountsAVolumeWithAnOpenFileOnlyAfterContinue) {
    SimulatedMachine machine;
    SimDrive stick = addStick(machine);
    machine.findDevice(L"\\\\.\\R: ")->lockSucceeds = false;
    SimDevice& volume = *machine.findDevice(L"\\\\.\\R:");
    int file = machine.holdOpen(volume.path);
    ASSERT_GE(file, 0);
    SimulatedShell shell(machine);
    shell.displayNames[L"R:\\"] = kDisplayName;
    shell.answers = {IDTRYAGAIN, IDCONTINUE};
    std::vector<int> dismountsAtQuestion;
    std::vector<bool> openAtQuestion;
    shell.onMessageBox = [&](size_t) {
        dismountsAtQuestion.push_back(volume.dismounts + machine.findDevice(L"\\\\.\\R: ")->dismounts);
        openAtQuestion.push_back(machine.isHeldOpen(file));
    };
    DialogStandIn dialog;
    ASSERT_TRUE(dialog.run(&removeWorker));
    expectBoxes(machine, {{nullptr, kQuestion, kQuestionFlags}, {nullptr, kQuestion, kQuestionFlags}}, "open file");
    EXPECT_EQ(dismountsAtQuestion, (std::vector<int>{0, 0}));
    EXPECT_EQ(openAtQuestion, (std::vector<bool>{true, true}));
    EXPECT_EQ(machine.findDevice(L"\\\\.\\R: ")->dismounts, 0) << "the flush never forces";
    EXPECT_GE(volume.dismounts, 1);
    EXPECT_FALSE(machine.isHeldOpen(file)) << "closed by the dismount the person agreed to";
    EXPECT_EQ(machine.pnp.node(stick.usbDevice).ejectRequests, 2);
    EXPECT_EQ(iconMessages(shell), kBalloon);
    EXPECT_EQ(dialog.closes, 1);
}

// The stick is pulled out after the usage probe, before the removal reaches it: nothing of it
// is there any more. The person is asked, a forced removal finds nothing, the failure is
// said, and the dialog comes back rather than a report that the drive can be removed.
TEST_F(Workflow, RemoveOfADrivePulledAfterTheProbeSaysSoAndBringsTheDialogBack) {
    SimulatedMachine machine;
    SimDrive stick = addStick(machine);
    for (int node : {stick.volume, stick.disk, stick.usbDevice}) machine.pnp.node(node).present = false;
    for (SimDevice& device : machine.devices) device.opens = false;
    machine.pnp.dosDevices.erase(L"R:");
    machine.pnp.driveTypes[L"R:\\"] = DRIVE_NO_ROOT_DIR;
    SimulatedShell shell(machine);
    shell.displayNames[L"R:\\"] = kDisplayName;
    shell.answers = {IDCONTINUE};
    DialogStandIn dialog;
    ASSERT_TRUE(dialog.run(&removeWorker));
    expectBoxes(machine,
                {{nullptr, kQuestion, kQuestionFlags},
                 {nullptr, someErrors(710), kTopmostError},
                 {dialog.window(), someErrors(MSG_EJECT_VOLUME_NOT_OPENED), MB_ICONERROR}},
                "pulled");
    EXPECT_TRUE(shell.iconCalls().empty()) << "no report that the drive can be removed";
    EXPECT_EQ(dialog.restores, 1);
    EXPECT_EQ(dialog.closes, 0);
    EXPECT_EQ(machine.openDeviceHandles, 0);
}

}  // namespace
