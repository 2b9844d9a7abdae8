// The launcher's form of the texts. The launcher finds its override files on the drive it was
// started from, so this test program runs itself from a copy on E: (see run_from_drive.cpp).
#include "common/texts.h"

#include "support/fixture_drive.h"

#include <gtest/gtest.h>

namespace {

class LauncherTexts : public ::testing::Test {
protected:
    void SetUp() override { clearFixtureDrive(); }
    void TearDown() override { clearFixtureDrive(); }
};

TEST_F(LauncherTexts, StringTableTitlesWithoutTheHash) {
    EXPECT_STREQ(messageText(501), L"Processing finished normally.");
    EXPECT_STREQ(productName(), L"Stravio");
    EXPECT_STREQ(versionCaption(), L"Stravio Ver.5.1.0");
    EXPECT_STREQ(windowTitle(), L"Safely Remove Tool@Stravio Ver.5.1.0");
    EXPECT_STREQ(toolWindowTitle(), L"Safely Remove Tool@Stravio# Ver.5.1.0");
}

TEST_F(LauncherTexts, NoToolOnlyTexts) {
    EXPECT_STREQ(messageText(102), L"Some errors occurred.(102)");
    size_t count = 0;
    for (const MessageKey* k = messageKeyTable; k->key; ++k) ++count;
    EXPECT_EQ(count, 23u);
}

TEST_F(LauncherTexts, EveryLookupReadsTheFile) {
    writeOverrideFile(L"English.ini", L"[Parvane]\r\nokMessage=First\r\n");
    EXPECT_STREQ(messageText(501), L"First");
    writeOverrideFile(L"English.ini", L"[Parvane]\r\nokMessage=Second\\nline\r\n");
    EXPECT_STREQ(messageText(501), L"Second\r\nline");
}

TEST_F(LauncherTexts, AnyIdCanBeOverridden) {
    writeOverrideFile(L"default.ini", L"[Parvane]\r\n721=Wrong architecture\r\n99=low\r\n");
    EXPECT_STREQ(messageText(721), L"Wrong architecture");
    EXPECT_STREQ(messageText(99), L"low");
}

TEST_F(LauncherTexts, ToolTitleIsCutAsTheToolCutsIt) {
    // The tool's product name holds 127 units: its "#" no longer fits, and the title on the
    // tool's window holds 63 units. The launcher's search title must come out the same.
    writeOverrideFile(L"English.ini", L"[Parvane]\r\n521=" + std::wstring(127, L'P') + L"\r\n533=Tool\r\n");
    std::wstring expected = L"Tool@" + std::wstring(58, L'P');
    EXPECT_EQ(std::wstring(toolWindowTitle()), expected);
    writeOverrideFile(L"English.ini", L"[Parvane]\r\n521=Acme\r\n");
    EXPECT_STREQ(toolWindowTitle(), L"Safely Remove Tool@Acme# Ver.5.1.0");
}

}  // namespace
