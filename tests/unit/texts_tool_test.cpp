// The removal tool's texts: overrides on the drive E:, the string table and the fallback.
// Each test runs in a process of its own, so the once-per-run state starts fresh.
#include "common/texts.h"

#include "support/fixture_drive.h"
#include "tool/shell/tool_state.h"

#include <gtest/gtest.h>

#include <string>

namespace {

class ToolTexts : public ::testing::Test {
protected:
    void SetUp() override {
        clearFixtureDrive();
        wcscpy(driveArgument, L"E: ");
    }
    void TearDown() override { clearFixtureDrive(); }
};

TEST_F(ToolTexts, StringTableWithoutOverrides) {
    preloadMessageOverrides();
    EXPECT_STREQ(messageText(501), L"Processing finished normally.");
    EXPECT_STREQ(messageText(509), L"It is not installed in this disk. ");
    EXPECT_STREQ(messageText(107),
                 L"'%s' is currently in use.\nSave any open files on this disc, and then close the files or "
                 L"programs using the files before trying again.\nIf you choose to continue, the files will be "
                 L"closed, which might cause data to be lost.");
    EXPECT_STREQ(productName(), L"Stravio#");
    EXPECT_STREQ(versionString(), L"Ver.5.1.0");
    EXPECT_STREQ(versionCaption(), L"Stravio# Ver.5.1.0");
    EXPECT_STREQ(windowTitle(), L"Safely Remove Tool@Stravio# Ver.5.1.0");
}

TEST_F(ToolTexts, LanguageFileOverridesWithLineBreaks) {
    // The file is named after the user's language in English; Wine's default user is English.
    writeOverrideFile(L"English.ini", L"[Parvane]\r\nokMessage=Done.\\nBye.\r\nremove=&Go\r\n");
    writeOverrideFile(L"default.ini", L"[Parvane]\r\nokMessage=From default\r\nerrorAny=Default any\r\n");
    preloadMessageOverrides();
    EXPECT_STREQ(messageText(501), L"Done.\r\nBye.");
    EXPECT_STREQ(messageText(102), L"&Go");
    EXPECT_STREQ(messageText(506), L"Some errors occurred.") << "default.ini is not read beside English.ini";
}

TEST_F(ToolTexts, DefaultFileWhenNoLanguageFile) {
    writeOverrideFile(L"default.ini", L"[Parvane]\r\nokMessage=From default\r\nerrorUsing=%s uses %s\r\n");
    preloadMessageOverrides();
    EXPECT_STREQ(messageText(501), L"From default");
    // 104 and 537 share one key.
    EXPECT_STREQ(messageText(104), L"%s uses %s");
    EXPECT_STREQ(messageTextAlt(537), L"%s uses %s");
}

TEST_F(ToolTexts, OtherSectionsAndPaddedKeysInTheFile) {
    writeOverrideFile(L"English.ini",
                      L"[Other]\r\nokMessage=wrong section\r\n[Parvane]\r\n  cancelMessage   = Stopped \r\n");
    preloadMessageOverrides();
    EXPECT_STREQ(messageText(501), L"Processing finished normally.");
    EXPECT_STREQ(messageText(502), L"Stopped");
}

TEST_F(ToolTexts, ProductOverrideRenamesEveryTitle) {
    writeOverrideFile(L"English.ini", L"[Parvane]\r\n521=Acme\r\n533=Remover\r\n");
    preloadMessageOverrides();
    EXPECT_STREQ(productName(), L"Acme#");
    EXPECT_STREQ(versionCaption(), L"Acme# Ver.5.1.0");
    EXPECT_STREQ(windowTitle(), L"Remover@Acme# Ver.5.1.0");
}

TEST_F(ToolTexts, IdsOutsideTheCacheRangeHaveNoOverride) {
    writeOverrideFile(L"English.ini", L"[Parvane]\r\n99=low\r\n600=high\r\n721=code\r\n-5=negative\r\n550=Usage!\r\n");
    preloadMessageOverrides();
    EXPECT_STREQ(messageText(550), L"Usage!");
    EXPECT_STREQ(readMessageOverride(99), L"");
    EXPECT_STREQ(readMessageOverride(600), L"");
    EXPECT_STREQ(messageText(721), L"Some errors occurred.(721)");
    EXPECT_STREQ(messageText(-5), L"Some errors occurred.(-5)");
}

TEST_F(ToolTexts, PreloadedTextsAreFixedForTheRun) {
    writeOverrideFile(L"English.ini", L"[Parvane]\r\nokMessage=First\r\n");
    preloadMessageOverrides();
    writeOverrideFile(L"English.ini", L"[Parvane]\r\nokMessage=Second\r\ncancelMessage=Late\r\n550=Late usage\r\n");
    EXPECT_STREQ(messageText(501), L"First");
    // An empty slot, and an id that is never preloaded, are read again at each lookup.
    EXPECT_STREQ(messageText(502), L"Late");
    EXPECT_STREQ(messageText(550), L"Late usage");
}

TEST_F(ToolTexts, OverridePathIsWorkedOutOnce) {
    preloadMessageOverrides();  // no file yet: default.ini is the path for the rest of the run
    writeOverrideFile(L"English.ini", L"[Parvane]\r\n550=from English\r\n");
    writeOverrideFile(L"default.ini", L"[Parvane]\r\n550=from default\r\n");
    EXPECT_STREQ(messageText(550), L"from default");
}

struct FallbackCase {
    MessageCode code;
    const wchar_t* expected;
};

TEST_F(ToolTexts, CodesWithoutTextUseTheFallback) {
    const FallbackCase cases[] = {
        {721, L"Some errors occurred.(721)"},
        {786, L"Some errors occurred.(786)"},
        {0, L"Some errors occurred.(0)"},
        {-1, L"Some errors occurred.(-1)"},
        {70000, L"Some errors occurred.(70000)"},  // no string table can hold it
        {2147483647, L"Some errors occurred.(2147483647)"},
    };
    preloadMessageOverrides();
    for (const FallbackCase& c : cases) EXPECT_STREQ(messageText(c.code), c.expected) << c.code;
}

TEST_F(ToolTexts, OverrideTextIsNeverAFormat) {
    writeOverrideFile(L"English.ini", L"[Parvane]\r\nerrorAny=Bad %d %n %s %x\r\n");
    preloadMessageOverrides();
    EXPECT_STREQ(messageText(721), L"Bad %d %n %s %x(721)");
}

TEST_F(ToolTexts, LongOverridesAreCutNotOverrun) {
    std::wstring longName(300, L'N');
    writeOverrideFile(L"English.ini", L"[Parvane]\r\n521=" + longName + L"\r\n533=" + std::wstring(2000, L'T') + L"\r\n");
    preloadMessageOverrides();
    EXPECT_EQ(std::wstring(productName()), std::wstring(127, L'N')) << "no room left for the #";
    EXPECT_EQ(std::wstring(windowTitle()), std::wstring(127, L'T'));
    EXPECT_EQ(wcslen(messageText(533)), 1023u);
}

TEST_F(ToolTexts, TwoMessageBuffers) {
    preloadMessageOverrides();
    const wchar_t* primary = messageText(501);
    const wchar_t* alternate = messageTextAlt(502);
    EXPECT_STREQ(primary, L"Processing finished normally.");
    EXPECT_STREQ(alternate, L"Processing canceled.");
}

TEST_F(ToolTexts, KeyTableHasTheToolsEntries) {
    size_t count = 0;
    for (const MessageKey* k = messageKeyTable; k->key; ++k) {
        EXPECT_EQ(wcslen(k->key), 20u) << k->id;
        ++count;
    }
    EXPECT_EQ(count, 31u);
    EXPECT_STREQ(messageKeyTable[0].key, L"hide                ");
    EXPECT_STREQ(messageKeyTable[8].key, L"okMessage           ");
}

// The length of one string in this program's table for one language; -1 when it is absent.
int stringLength(MessageCode id, LANGID language) {
    HRSRC block = FindResourceExW(nullptr, RT_STRING, MAKEINTRESOURCEW((id >> 4) + 1), language);
    const WORD* p = block ? static_cast<const WORD*>(LockResource(LoadResource(nullptr, block))) : nullptr;
    if (!p) return -1;
    size_t units = SizeofResource(nullptr, block) / sizeof(WORD), at = 0;
    for (int index = 0; index < (id & 15) && at < units; ++index) at += 1 + p[at];
    return at < units && p[at] > 0 ? p[at] : -1;
}

TEST_F(ToolTexts, BothTablesHoldEveryId) {
    const MessageCode ids[] = {101, 102, 103, 104, 105, 106, 107, 108, 501, 502, 503, 504, 505, 506, 507, 508, 509,
                               513, 514, 515, 516, 517, 518, 520, 521, 528, 530, 531, 532, 533, 535, 537,
                               542, 543, 544, 545, 546, 547, 548, 549, 550, 551};
    for (MessageCode id : ids) {
        EXPECT_GT(stringLength(id, 0x0409), 0) << id << " in English";
        EXPECT_GT(stringLength(id, 0x0411), 0) << id << " in Japanese";
    }
    // Texts every reader of the table would notice first.
    setTextLanguage(0x0411);
    EXPECT_STREQ(messageText(509), L"\x3053\x306E\x30C7\x30A3\x30B9\x30AF\x306B\x306F\x3001\x30A4\x30F3\x30B9\x30C8"
                                   L"\x30FC\x30EB\x3055\x308C\x3066\x3044\x307E\x305B\x3093\x3002");
    EXPECT_STREQ(messageText(535), L"https://www.torvaworks.example/ja/");
    setTextLanguage(0x0409);
    EXPECT_STREQ(messageText(535), L"https://www.torvaworks.example/en/");
    EXPECT_STREQ(messageText(551), L"https://www.torvaworks.example/en/usage.html");
}

}  // namespace
