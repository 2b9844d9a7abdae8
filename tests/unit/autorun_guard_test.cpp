// The autorun.inf guard against files on the fixture drive E:.
#include "tool/shell/autorun_guard.h"

#include "support/fixture_drive.h"

#include <gtest/gtest.h>

namespace {

const wchar_t kAutorun[] = L"E:\\autorun.inf";

struct GuardCase {
    const char* name;
    const wchar_t* content;  // null: no autorun.inf
    BOOL intact;
};

TEST(AutorunGuard, ComparesBothEntriesWhole) {
    const GuardCase cases[] = {
        {"no file", nullptr, TRUE},
        {"as written", L"[autorun]\r\nopen=Parvane.exe open\r\nshell\\usbClose\\command=Parvane.exe\r\n", TRUE},
        {"capitals", L"[AutoRun]\r\nopen=PARVANE.EXE OPEN\r\nshell\\usbClose\\command=parvane.EXE\r\n", TRUE},
        {"verb missing", L"[autorun]\r\nopen=Parvane.exe open\r\n", TRUE},
        {"both empty", L"[autorun]\r\nopen=\r\nshell\\usbClose\\command=\r\n", TRUE},
        {"other section only", L"[other]\r\nopen=evil.exe\r\n", TRUE},
        {"open names another program", L"[autorun]\r\nopen=evil.exe\r\n", FALSE},
        {"open with more words", L"[autorun]\r\nopen=Parvane.exe open now\r\n", FALSE},
        {"verb with a folder before it", L"[autorun]\r\nopen=Parvane.exe open\r\nshell\\usbClose\\command=E:\\Parvane.exe\r\n", FALSE},
        {"verb names another file", L"[autorun]\r\nshell\\usbClose\\command=Parvane2.exe\r\n", FALSE},
    };
    for (const GuardCase& c : cases) {
        DeleteFileW(kAutorun);
        if (c.content) {
            ASSERT_TRUE(writeUnicodeFile(kAutorun, c.content));
        }
        EXPECT_EQ(isAutorunIntact(L"E: "), c.intact) << c.name;
        EXPECT_EQ(isAutorunIntact(L"e: "), c.intact) << c.name << " (lower-case drive)";
    }
    DeleteFileW(kAutorun);
}

}  // namespace
