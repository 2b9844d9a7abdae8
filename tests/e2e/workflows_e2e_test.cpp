// Both commands of the shipped removal tool under Wine, pressed as a person presses them, with
// the answers Wine's device layer gives: the removal meets a refusal and asks, the hide of a
// letter that names no drive fails and brings the dialog back.
#include "e2e/staged_tool.h"
#include "e2e/tool_process.h"
#include "support/fake_service.h"

#include <gtest/gtest.h>

#include <string>

namespace {

const DWORD kTimeoutMs = 20000;
const wchar_t kToolTitle[] = L"Safely Remove Tool@Stravio# Ver.5.1.0";
const int kRemoveButton = 1001;
const int kHideButton = 1002;

std::wstring textOf(HWND window) {
    wchar_t text[256] = L"";
    SendMessageW(window, WM_GETTEXT, 256, reinterpret_cast<LPARAM>(text));
    return text;
}

// The name Explorer gives the drive, as the tool asks the shell for it.
std::wstring displayNameOf(const wchar_t* root) {
    SHFILEINFOW info;
    ZeroMemory(&info, sizeof(info));
    if (!SHGetFileInfoW(root, 0, &info, sizeof(info), SHGFI_DISPLAYNAME) || !info.szDisplayName[0]) return root;
    return info.szDisplayName;
}

std::wstring removeQuestion(const std::wstring& displayName) {
    return L"'" + displayName +
           L"' is currently in use.\nSave any open files on this disc, and then close the files or programs "
           L"using the files before trying again.\nIf you choose to continue, the files will be closed, which "
           L"might cause data to be lost.";
}

// A drive letter that Wine maps to nothing.
wchar_t unmappedLetter() {
    DWORD drives = GetLogicalDrives();
    for (wchar_t letter = L'Y'; letter >= L'F'; --letter)
        if (!(drives & (1u << (letter - L'A')))) return letter;
    return 0;
}

// The dialog once the usage probe has found the drive free.
HWND usableDialog(ToolProcess& process) {
    HWND dialog = process.waitForMainDialog(kTimeoutMs);
    for (int i = 0; dialog && i < 100 && !IsWindowEnabled(GetDlgItem(dialog, kRemoveButton)); ++i) Sleep(50);
    return dialog;
}

bool commandsEnabled(HWND dialog) {
    return IsWindowEnabled(GetDlgItem(dialog, kRemoveButton)) && IsWindowEnabled(GetDlgItem(dialog, kHideButton));
}

typedef StagedToolTest WorkflowsE2e;

// Wine ejects nothing: its device layer has no device node for the drive's disk, and the eject
// ends with 717. The question is asked on every pass all the same; after Cancel the code's text
// is shown by the dialog's box, and the dialog comes back.
TEST_F(WorkflowsE2e, SafelyRemoveAsksTryAgainAsksAgainAndCancelShowsTheCodeAndBringsTheDialogBack) {
    ToolProcess process;
    ASSERT_TRUE(process.start(tool, L"E: "));
    HWND dialog = usableDialog(process);
    ASSERT_NE(dialog, nullptr);
    ASSERT_TRUE(commandsEnabled(dialog));
    const std::wstring question = removeQuestion(displayNameOf(L"E:\\"));

    ToolProcess::pressButton(dialog, kRemoveButton);
    HWND box = process.waitForBox(kTimeoutMs);
    ASSERT_NE(box, nullptr) << "no question after Safely remove";
    EXPECT_FALSE(IsWindowVisible(dialog)) << "the dialog is hidden while the removal runs";
    ShownBox shown = ToolProcess::readBox(box);
    EXPECT_EQ(shown.caption, kToolTitle);
    EXPECT_EQ(shown.text, question);
    EXPECT_EQ(GetWindow(box, GW_OWNER), nullptr) << "the question stands alone, above every window";
    for (int id : {IDCANCEL, IDTRYAGAIN, IDCONTINUE}) EXPECT_NE(GetDlgItem(box, id), nullptr) << "button " << id;

    ToolProcess::pressButton(box, IDTRYAGAIN);
    ASSERT_TRUE(ToolProcess::waitUntilGone(box, kTimeoutMs));
    HWND again = process.waitForBox(kTimeoutMs);
    ASSERT_NE(again, nullptr) << "Try Again flushes and ejects again, and asks again";
    EXPECT_EQ(ToolProcess::readBox(again).text, question);

    ToolProcess::pressButton(again, IDCANCEL);
    ASSERT_TRUE(ToolProcess::waitUntilGone(again, kTimeoutMs));
    HWND error = process.waitForBox(kTimeoutMs);
    ASSERT_NE(error, nullptr) << "a failed eject is reported after Cancel, whatever was answered";
    shown = ToolProcess::readBox(error);
    EXPECT_EQ(shown.caption, kToolTitle);
    EXPECT_EQ(shown.text, L"Some errors occurred.(717)");
    EXPECT_EQ(GetWindow(error, GW_OWNER), dialog) << "the error belongs to the dialog";

    ToolProcess::answerBox(error);
    EXPECT_EQ(process.waitForMainDialog(kTimeoutMs), dialog) << "the dialog comes back";
    EXPECT_TRUE(commandsEnabled(dialog)) << "both commands usable again";
    ToolProcess::pressEscape(dialog);
    EXPECT_EQ(process.waitForExit(kTimeoutMs), 0u);
}

// With the service's disk number the tool starts for a letter Windows does not know; the hide
// cannot find its disk and says so in a box owned by the hidden dialog.
TEST_F(WorkflowsE2e, HideOfAnUnmappedLetterShows710OwnedByTheDialogAndTheDialogComesBack) {
    const wchar_t letter = unmappedLetter();
    ASSERT_NE(letter, 0) << "every letter is mapped";
    const std::wstring argument = std::wstring(1, letter) + L": ";
    FakeService service(L"[GDN]\r\nfield2=0\r\n[GPS]\r\ndword=0\r\n");
    ToolProcess process;
    ASSERT_TRUE(process.start(tool, argument));
    HWND dialog = usableDialog(process);
    ASSERT_NE(dialog, nullptr) << "no dialog for " << letter << ":";
    ASSERT_TRUE(commandsEnabled(dialog));

    ToolProcess::pressButton(dialog, kHideButton);
    HWND box = process.waitForBox(kTimeoutMs);
    ASSERT_NE(box, nullptr) << "no error box after Hide";
    ShownBox shown = ToolProcess::readBox(box);
    EXPECT_EQ(shown.caption, kToolTitle);
    EXPECT_NE(shown.text.find(L"(710)"), std::wstring::npos) << std::string(shown.text.begin(), shown.text.end());
    EXPECT_EQ(GetWindow(box, GW_OWNER), dialog) << "the error belongs to the dialog";
    EXPECT_FALSE(IsWindowVisible(dialog)) << "the dialog waits hidden behind its box";

    ToolProcess::answerBox(box);
    EXPECT_EQ(process.waitForMainDialog(kTimeoutMs), dialog) << "the dialog comes back";
    EXPECT_TRUE(commandsEnabled(dialog)) << "both commands usable again";
    EXPECT_EQ(textOf(dialog), kToolTitle);
    ToolProcess::pressEscape(dialog);
    EXPECT_EQ(process.waitForExit(kTimeoutMs), 0u);
}

}  // namespace
