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
    WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, narrow, sizeof(narrow), nullptr, nullptr);
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
    return 0;
}
