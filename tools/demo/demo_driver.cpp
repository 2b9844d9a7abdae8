// Drives the removal tool through its start-up as a person meets it, and says in plain words
// what it did. Lines "SHOT <name>" ask the calling script for a screenshot of the desktop; the
// script answers by creating E:\.demo-shot-done, and only then is the box answered.
#include "e2e/folder_window.h"
#include "e2e/tool_process.h"
#include "platform/owners.h"
#include "support/fake_service.h"
#include "support/fixture_drive.h"
#include "support/header_writer.h"
#include "tool/service/protected_header.h"
#include "tool/shell/hide_marker.h"

#include <commctrl.h>
#include <shlobj.h>
#include <stdio.h>
#include <stdlib.h>

#include <string>

namespace {

const wchar_t kShotDone[] = L"E:\\.demo-shot-done";

void say(const char* text) {
    printf("%s\n", text);
    fflush(stdout);
}

void sayWide(const char* label, const std::wstring& text) {
    char narrow[2048];
    std::wstring indented;
    for (wchar_t c : text) indented += c == L'\n' ? std::wstring(L"\n    ") : std::wstring(1, c);
    if (!WideCharToMultiByte(CP_UTF8, 0, indented.c_str(), -1, narrow, sizeof(narrow), nullptr, nullptr)) narrow[0] = 0;
    printf("%s%s\n", label, narrow);
    fflush(stdout);
}

void askForScreenshot(const char* name) {
    DeleteFileW(kShotDone);
    printf("SHOT %s\n", name);
    fflush(stdout);
    for (int i = 0; i < 200 && GetFileAttributesW(kShotDone) == INVALID_FILE_ATTRIBUTES; ++i) Sleep(50);
    DeleteFileW(kShotDone);
}

// Runs the tool once; reports its box, if any, and its exit code.
DWORD runOnce(const std::wstring& exe, const std::wstring& args, const char* shotName) {
    ToolProcess process;
    if (!process.start(exe, args)) {
        say("  the tool could not be started");
        return 1;
    }
    HWND box = process.waitForBox(shotName ? 20000 : 1500);
    if (box) {
        ShownBox shown = ToolProcess::readBox(box);
        sayWide("  it showed a message box titled: ", shown.caption);
        sayWide("  saying: ", shown.text);
        if (shotName) askForScreenshot(shotName);
        ToolProcess::answerBox(box);
        say("  the box was answered with OK");
    }
    // After its start-up the tool stays in its main dialog; a person closes it with Esc.
    HWND dialog = process.waitForMainDialog(box ? 20000 : 5000);
    if (dialog) {
        say("  its main dialog appeared, and was closed with Esc");
        ToolProcess::pressEscape(dialog);
    }
    DWORD code = process.waitForExit(20000);
    printf("  the tool ended with exit code %lu\n", static_cast<unsigned long>(code));
    fflush(stdout);
    return code;
}

// The keywords the service received, one connection after the other: "END; GDN END; ...".
std::string requestKeywords(const FakeService& service) {
    std::string all;
    for (const std::vector<std::string>& connection : service.requestsByConnection()) {
        if (!all.empty()) all += "; ";
        for (size_t i = 0; i < connection.size(); ++i)
            all += (i ? " " : "") + (connection[i].size() >= 17 ? connection[i].substr(14, 3) : std::string("?"));
    }
    return all;
}

void runWithService() {
    say("6. The product service is running. The drive's protected-area header asks for the autorun.inf");
    say("   check, and someone has changed the drive's autorun.inf.");
    TempFile header(encryptHeader(plainHeader(0x4A8B7C6F, 0, 1), HEADER_CIPHER_UNIT));
    FakeService service(L"[GDN]\r\nfield2=1\r\n[GPS]\r\ndword=0\r\n[SRD]\r\nsector_file=" + header.path() + L"\r\n");
    writeUnicodeFile(L"E:\\autorun.inf", L"[autorun]\r\nopen=Parvane.exe open\r\nshell\\usbClose\\command=other.exe\r\n");
    std::wstring tool = stageTool(L"demo", PARVANE_TOOL_FILE);
    runOnce(tool, L"E: ", "autorun-warning");
    DeleteFileW(L"E:\\autorun.inf");
    service.stop();
    printf("  the tool asked the service: %s\n", requestKeywords(service).c_str());
    say("  (one connection each: END alone is the availability probe; then the disk number, the partition");
    say("  style and the header sector, each closed by END)");

    say("7. The service does not know the drive's disk.");
    FakeService unknownDisk(L"[GDN]\r\nstatus=NG\r\nfield2=548\r\n");
    runOnce(tool, L"E: ", nullptr);
    say("  exit code 548 means: the disk was not found; nothing is shown");
}

// The launcher on the stick: Parvane.exe in the root of E:, as autorun.inf starts it.
void runLauncherFromStick(const std::wstring& built, const char* which) {
    printf("0. Parvane.exe (%s) is in the root of the USB stick E:, and the user starts it.\n", which);
    fflush(stdout);
    const wchar_t stick[] = L"E:\\Parvane.exe";
    if (!CopyFileW(built.c_str(), stick, FALSE)) {
        say("  the launcher could not be put on the stick");
        return;
    }
    ToolProcess launcher;
    if (!launcher.start(stick, L"")) {
        say("  the launcher could not be started");
        return;
    }
    UniqueHandle event;
    for (int i = 0; i < 2000 && !event; ++i) {
        event.reset(OpenEventW(SYNCHRONIZE, FALSE, L"__Parvane_Event"));
        if (!event) Sleep(5);
    }
    bool released = event && WaitForSingleObject(event.get(), 20000) == WAIT_OBJECT_0;
    DWORD code = launcher.waitForExit(20000);
    wchar_t folder[MAX_PATH] = L"";
    SHGetFolderPathW(nullptr, CSIDL_LOCAL_APPDATA, nullptr, 0, folder);
    sayWide("  it unpacked the tool build for this machine into ", std::wstring(folder) + L"\\TORVA\\Parvane\\");
    say("  checked its maker, wrote the shortcut Lumagate.lnk with the argument \"E: \" and opened it;");
    say(released ? "  the tool started, took its mutex and released the launcher, which then ended"
                 : "  the tool did NOT release the launcher within its second");
    printf("  the launcher ended with exit code %lu\n", static_cast<unsigned long>(code));
    // Once the tool has a main window, it is shown here and then closed for the steps below.
    HWND tool = nullptr;
    for (int i = 0; i < 50 && !tool; ++i) {
        UniqueHandle running(OpenMutexW(SYNCHRONIZE, FALSE, L"_Parvane_Mutex"));
        if (!running) break;
        tool = FindWindowW(nullptr, L"Safely Remove Tool@Stravio# Ver.5.1.0");
        if (!tool) Sleep(100);
    }
    if (tool) {
        askForScreenshot("launcher-started-tool");
        PostMessageW(tool, WM_CLOSE, 0, 0);
    }
    for (int i = 0; i < 100; ++i) {
        UniqueHandle running(OpenMutexW(SYNCHRONIZE, FALSE, L"_Parvane_Mutex"));
        if (!running) break;
        Sleep(100);
    }

    say("   The drive is opened from Explorer: autorun.inf runs \"Parvane.exe open\".");
    std::set<DWORD> before = folderWindowProcesses();
    ToolProcess open;
    if (open.start(stick, L"open")) {
        open.waitForExit(20000);
        Sleep(1500);
        askForScreenshot("launcher-open");
        say("  it opened the drive's root folder and started nothing else");
        endNewFolderWindows(before);
    }
    DeleteFileW(stick);
}

// ---- The main job: the dialog, "Safely remove" and "Hide the protected area" ----

const int kRemoveButton = 1001;
const int kHideButton = 1002;
const int kStatusBar = 1003;

std::wstring windowText(HWND window) {
    wchar_t text[512] = L"";
    SendMessageW(window, WM_GETTEXT, 512, reinterpret_cast<LPARAM>(text));
    return text;
}

bool commandsEnabled(HWND dialog) {
    return IsWindowEnabled(GetDlgItem(dialog, kRemoveButton)) && IsWindowEnabled(GetDlgItem(dialog, kHideButton));
}

// Waits until both commands are enabled (or both disabled); false after the limit.
bool waitForCommands(HWND dialog, bool enabled, DWORD limitMs) {
    for (DWORD waited = 0; waited < limitMs; waited += 100) {
        const bool noneEnabled =
            !IsWindowEnabled(GetDlgItem(dialog, kRemoveButton)) && !IsWindowEnabled(GetDlgItem(dialog, kHideButton));
        if (enabled ? commandsEnabled(dialog) : noneEnabled) return true;
        Sleep(100);
    }
    return false;
}

// The status bar keeps its simple-mode text apart from its parts, and WM_GETTEXT reads a part:
// the text is asked for into memory of the tool's own process and read back from there.
std::wstring statusBarText(HWND bar) {
    enum : SIZE_T { kUnits = 1024 };
    DWORD processId = 0;
    GetWindowThreadProcessId(bar, &processId);
    UniqueHandle process(OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE, FALSE, processId));
    if (!process) return L"(unreadable)";
    void* remote = VirtualAllocEx(process.get(), nullptr, kUnits * sizeof(wchar_t), MEM_COMMIT | MEM_RESERVE,
                                  PAGE_READWRITE);
    if (!remote) return L"(unreadable)";
    wchar_t text[kUnits] = L"";
    DWORD_PTR length = 0;
    if (SendMessageTimeoutW(bar, SB_GETTEXTLENGTHW, 0, 0, SMTO_ABORTIFHUNG, 2000, &length) &&
        LOWORD(length) < kUnits &&
        SendMessageTimeoutW(bar, SB_GETTEXTW, 0, reinterpret_cast<LPARAM>(remote), SMTO_ABORTIFHUNG, 2000, &length))
        ReadProcessMemory(process.get(), remote, text, (kUnits - 1) * sizeof(wchar_t), nullptr);
    VirtualFreeEx(process.get(), remote, 0, MEM_RELEASE);
    text[kUnits - 1] = 0;
    return text;
}

void tellDialog(HWND dialog) {
    sayWide("  the dialog's status bar says: ", statusBarText(GetDlgItem(dialog, kStatusBar)));
    say(commandsEnabled(dialog) ? "  both buttons are enabled"
        : IsWindowEnabled(GetDlgItem(dialog, kRemoveButton)) ? "  one button is disabled"
                                                              : "  both buttons are disabled");
}

// A program that uses the drive as a person's would: Notepad, with its current folder on E:.
// Its window stays hidden so that it does not cover the tool's.
class ProgramOnDrive {
public:
    ProgramOnDrive() {
        wchar_t system[MAX_PATH] = L"";
        GetSystemDirectoryW(system, MAX_PATH);
        std::wstring program = std::wstring(system) + L"\\notepad.exe";
        std::wstring commandLine = L"\"" + program + L"\"";
        STARTUPINFOW si;
        ZeroMemory(&si, sizeof(si));
        si.cb = sizeof(si);
        si.dwFlags = STARTF_USESHOWWINDOW;
        si.wShowWindow = SW_HIDE;
        if (CreateProcessW(program.c_str(), &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, L"E:\\", &si, &pi_))
            WaitForInputIdle(pi_.hProcess, 10000);
    }
    ~ProgramOnDrive() { end(); }
    ProgramOnDrive(const ProgramOnDrive&) = delete;
    ProgramOnDrive& operator=(const ProgramOnDrive&) = delete;
    bool running() const { return pi_.hProcess != nullptr; }
    void end() {
        if (!pi_.hProcess) return;
        TerminateProcess(pi_.hProcess, 0);
        WaitForSingleObject(pi_.hProcess, 10000);
        CloseHandle(pi_.hProcess);
        CloseHandle(pi_.hThread);
        ZeroMemory(&pi_, sizeof(pi_));
    }

private:
    PROCESS_INFORMATION pi_{};
};

// Starts the program for drive E: and waits for its main dialog; says so when either fails.
HWND startToDialog(ToolProcess& process, const std::wstring& program) {
    if (!process.start(program, L"E: ")) {
        say("  the program could not be started");
        return nullptr;
    }
    HWND dialog = process.waitForMainDialog(20000);
    if (!dialog) say("  NO main dialog appeared");
    return dialog;
}

void runRealDialog(const std::wstring& tool) {
    say("8. The main job with the real tool under Wine. Notepad is open with its current folder on E:,");
    say("   and the tool starts for drive E:.");
    ProgramOnDrive notepad;
    if (!notepad.running()) say("  (Notepad could not be started)");
    ToolProcess process;
    HWND dialog = startToDialog(process, tool);
    if (!dialog) return;
    sayWide("  the main dialog appeared, titled: ", windowText(dialog));
    waitForCommands(dialog, false, 5000);
    tellDialog(dialog);
    askForScreenshot("in-use");

    say("   Notepad is closed. A second later the tool looks again.");
    notepad.end();
    waitForCommands(dialog, true, 5000);
    tellDialog(dialog);
    askForScreenshot("main-dialog");

    say("   The person presses \"Safely remove\".");
    ToolProcess::pressButton(dialog, kRemoveButton);
    HWND box = process.waitForBox(20000);
    if (!box) {
        say("  NO question was asked");
        process.waitForExit(1000);
        return;
    }
    ShownBox shown = ToolProcess::readBox(box);
    say("  the tool hid its dialog, flushed the drive and looked for the drive's device to eject. Wine's");
    say("  device layer has none (code 717), and the tool asks, as it does whenever the eject fails:");
    sayWide("  ", shown.text);
    askForScreenshot("question");
    ToolProcess::pressButton(box, IDTRYAGAIN);
    ToolProcess::waitUntilGone(box, 10000);
    say("  the person chose Try Again: the tool flushed and tried the eject again,");
    box = process.waitForBox(20000);
    if (box) {
        say("  failed again and asked again. The person chose Cancel.");
        ToolProcess::pressButton(box, IDCANCEL);
        ToolProcess::waitUntilGone(box, 10000);
    }
    box = process.waitForBox(20000);
    if (box) {
        sayWide("  the tool reported the failure in a box over its dialog: ", ToolProcess::readBox(box).text);
        askForScreenshot("eject-failed");
        ToolProcess::answerBox(box);
    }
    if (process.waitForMainDialog(20000) == dialog) {
        say("  after OK the dialog came back:");
        waitForCommands(dialog, true, 5000);
        tellDialog(dialog);
        say("   The person closes it with Esc.");
        ToolProcess::pressEscape(dialog);
    }
    DWORD code = process.waitForExit(20000);
    printf("  the tool ended with exit code %lu\n", static_cast<unsigned long>(code));
    fflush(stdout);
}

// The hidden window that owns the notification-area icon while the result is shown.
HWND resultWindowOf(DWORD processId, DWORD limitMs) {
    for (DWORD waited = 0; waited < limitMs; waited += 100) {
        HWND window = nullptr;
        while ((window = FindWindowExW(nullptr, window, L"DavEvadez_ResultOK", nullptr)) != nullptr) {
            DWORD owner = 0;
            GetWindowThreadProcessId(window, &owner);
            if (owner == processId) return window;
        }
        Sleep(100);
    }
    return nullptr;
}

// The window is made before the balloon is shown: the file may take a moment to come.
std::wstring readBalloonFile(const std::wstring& path) {
    std::wstring text;
    for (int i = 0; i < 50 && GetFileAttributesW(path.c_str()) == INVALID_FILE_ATTRIBUTES; ++i) Sleep(100);
    Sleep(100);
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return text;
    wchar_t buffer[1024] = L"";
    DWORD got = 0;
    if (ReadFile(file, buffer, sizeof(buffer) - sizeof(wchar_t), &got, nullptr)) text.assign(buffer, got / sizeof(wchar_t));
    CloseHandle(file);
    return text;
}

std::wstring simulatedToolPath() {
    wchar_t path[MAX_PATH] = L"";
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring p(path);
    return p.substr(0, p.find_last_of(L'\\') + 1) + L"ParvaneSimulated" + (sizeof(void*) == 8 ? L"64" : L"32") + L".exe";
}

void runSimulatedRemoval(const std::wstring& simulated) {
    say("9. Wine cannot eject a USB stick. A demonstration build of the same tool, linked with a simulated");
    say("   machine that has the product's USB stick as E:, shows what a person sees when the eject succeeds.");
    say("   That build is never shipped; its title says that the machine is simulated.");
    std::wstring balloonFile = simulated.substr(0, simulated.find_last_of(L'\\') + 1) + L"balloon.txt";
    DeleteFileW(balloonFile.c_str());
    ToolProcess process;
    HWND dialog = startToDialog(process, simulated);
    if (!dialog) return;
    sayWide("  the main dialog appeared, titled: ", windowText(dialog));
    waitForCommands(dialog, true, 5000);
    askForScreenshot("simulated-dialog");
    say("   The person presses \"Safely remove\".");
    ToolProcess::pressButton(dialog, kRemoveButton);
    HWND result = resultWindowOf(process.processId(), 20000);
    if (result) {
        say("  the tool flushed the drive, the eject succeeded, and the tool put its icon in the notification");
        say("  area with a balloon (Wine shows the icon in its system tray, but no balloon). \"Success\" above");
        say("  is what the tool writes to its standard output after an eject. The balloon says:");
        std::wstring balloon = readBalloonFile(balloonFile);
        size_t split = balloon.find(L'\n');
        sayWide("    title: ", balloon.substr(0, split));
        if (split != std::wstring::npos) sayWide("    text:  ", balloon.substr(split + 1));
        askForScreenshot("balloon");
        say("   The person moves the mouse over the icon: the balloon ends.");
        PostMessageW(result, WM_APP + 100, 0, WM_MOUSEMOVE);
    } else {
        say("  NO notification icon was shown");
        HWND box = process.waitForBox(1000);
        if (box) ToolProcess::answerBox(box);
    }
    DWORD code = process.waitForExit(20000);
    printf("  the tool ended with exit code %lu\n", static_cast<unsigned long>(code));
    fflush(stdout);
}

void runSimulatedHide(const std::wstring& simulated) {
    say("10. \"Hide the protected area\" on the simulated machine.");
    const wchar_t* marker = getHideMarkerPath();
    if (marker) DeleteFileW(marker);
    ToolProcess process;
    HWND dialog = startToDialog(process, simulated);
    if (!dialog) return;
    waitForCommands(dialog, true, 5000);
    say("   The person presses \"Hide the protected area\".");
    ToolProcess::pressButton(dialog, kHideButton);
    HWND box = process.waitForBox(3000);
    if (box) {
        sayWide("  it showed a message box saying: ", ToolProcess::readBox(box).text);
        ToolProcess::answerBox(box);
    }
    DWORD code = process.waitForExit(30000);
    printf("  the tool ended with exit code %lu\n", static_cast<unsigned long>(code));
    if (marker && GetFileAttributesW(marker) != INVALID_FILE_ATTRIBUTES) {
        sayWide("  and left the marker ", marker);
        if (code == 0) {
            say("  so it took the product's filter driver off the simulated disk, restarted the stick's USB");
            say("  device and saw the disk go and come back (the simulated machine's clock runs fast)");
        }
    } else {
        say("  and wrote NO marker");
    }
    fflush(stdout);
}

void runMainJob(const std::wstring& tool) {
    runRealDialog(tool);
    std::wstring simulated = simulatedToolPath();
    if (GetFileAttributesW(simulated.c_str()) == INVALID_FILE_ATTRIBUTES) {
        say("the demonstration build of the tool is missing");
        return;
    }
    runSimulatedRemoval(simulated);
    runSimulatedHide(simulated);
}

}  // namespace

int main() {
    const wchar_t* launcher = _wgetenv(L"PARVANE_DEMO_LAUNCHER");
    const wchar_t* launcherKind = _wgetenv(L"PARVANE_DEMO_LAUNCHER_KIND");
    if (launcher && launcher[0]) {
        char which[128] = "";
        WideCharToMultiByte(CP_UTF8, 0, launcherKind ? launcherKind : L"", -1, which, sizeof(which), nullptr, nullptr);
        runLauncherFromStick(launcher, which);
    }

    std::wstring tool = stageTool(L"demo", PARVANE_TOOL_FILE);
    if (tool.empty()) {
        say("cannot find the built removal tool");
        return 1;
    }

    say("1. The launcher starts the tool for drive E: and waits for its signal.");
    {
        UniqueHandle event(CreateEventW(nullptr, TRUE, FALSE, L"__Parvane_Event"));
        runOnce(tool, L"E: ", nullptr);
        say(WaitForSingleObject(event.get(), 0) == WAIT_OBJECT_0
                ? "  the tool took its single-instance mutex and released the waiting launcher;"
                  " with no product service but administrator rights it went on"
                : "  the waiting launcher was NOT released");
    }

    say("2. A second tool starts while one is running.");
    {
        UniqueHandle running(CreateMutexW(nullptr, TRUE, L"_Parvane_Mutex"));
        runOnce(tool, L"E: ", "second-instance");
    }

    say("3. The tool is started on Windows XP (reported version 5.2).");
    {
        std::wstring xp = stageTool(L"demo-xp", L"ParvaneXP.exe");
        setWineVersionFor(L"ParvaneXP.exe", L"winxp64");
        runOnce(xp, L"E: ", "windows-xp");
        setWineVersionFor(L"ParvaneXP.exe", nullptr);
    }

    say("4. The tool's INI file asks for Japanese, and a second tool starts.");
    {
        std::wstring ini = tool.substr(0, tool.rfind(L'.')) + L".ini";
        WritePrivateProfileStringW(L"Locale", L"Language", L"jp", ini.c_str());
        UniqueHandle running(CreateMutexW(nullptr, TRUE, L"_Parvane_Mutex"));
        runOnce(tool, L"E: ", "japanese");
        DeleteFileW(ini.c_str());
    }

    say("5. The tool is started without a drive argument.");
    runOnce(tool, L"", nullptr);
    say("  nothing was shown, as intended");

    runWithService();
    runMainJob(tool);
    return 0;
}
