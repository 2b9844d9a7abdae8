// [Locale] Language= in the INI file beside the executable picks the texts' language.
#include "common/environment.h"
#include "common/texts.h"

#include "support/fixture_drive.h"

#include <gtest/gtest.h>

namespace {

struct LanguageCase {
    const char* name;
    const wchar_t* iniContent;  // null: no INI file at all
    LCID threadLocale;          // 0: the thread keeps its locale
    const wchar_t* okText;      // null: the platform's choice
};

void PrintTo(const LanguageCase& c, std::ostream* os) { *os << c.name; }

const wchar_t kJapaneseOk[] = L"\x51E6\x7406\x306F\x6B63\x5E38\x306B\x7D42\x4E86\x3057\x307E\x3057\x305F\x3002";
const wchar_t kEnglishOk[] = L"Processing finished normally.";

class Language : public ::testing::TestWithParam<LanguageCase> {
protected:
    void TearDown() override { removeProgramIni(); }
};

TEST_P(Language, SetsTheThreadLocaleAndTexts) {
    const LanguageCase& c = GetParam();
    removeProgramIni();
    if (c.iniContent) writeProgramIni(c.iniContent);
    LCID before = GetThreadLocale();
    applyLanguageSetting();
    // Wine records the language-only 0x0011 as 0x0411, so the language is what is compared.
    EXPECT_EQ(PRIMARYLANGID(LANGIDFROMLCID(GetThreadLocale())),
              PRIMARYLANGID(LANGIDFROMLCID(c.threadLocale ? c.threadLocale : before)));
    if (c.okText) {
        EXPECT_STREQ(messageText(501), c.okText);
    }
}

INSTANTIATE_TEST_SUITE_P(Values, Language, ::testing::Values(
    LanguageCase{"jp", L"[Locale]\r\nLanguage=jp\r\n", 0x0011, kJapaneseOk},
    LanguageCase{"JP", L"[Locale]\r\nLanguage=JP\r\n", 0x0011, kJapaneseOk},
    LanguageCase{"EN", L"[Locale]\r\nLanguage=EN\r\n", 0x0409, kEnglishOk},
    LanguageCase{"SC", L"[Locale]\r\nLanguage=SC\r\n", 0x0804, nullptr},
    LanguageCase{"JPN", L"[Locale]\r\nLanguage=JPN\r\n", 0, kEnglishOk},
    LanguageCase{"Japanese", L"[Locale]\r\nLanguage=Japanese\r\n", 0, kEnglishOk},
    LanguageCase{"Empty", L"[Locale]\r\nLanguage=\r\n", 0, kEnglishOk},
    LanguageCase{"OtherSection", L"[Other]\r\nLanguage=JP\r\n", 0, kEnglishOk},
    LanguageCase{"NoFile", nullptr, 0, kEnglishOk}),
    [](const ::testing::TestParamInfo<LanguageCase>& info) { return std::string(info.param.name); });

TEST(LanguageJapanese, TitlesAndLongTextsFollowTheSetting) {
    writeProgramIni(L"[Locale]\r\nLanguage=jp\r\n");
    applyLanguageSetting();
    removeProgramIni();
    EXPECT_STREQ(messageText(531), L"\x65E2\x306B\x8D77\x52D5\x3057\x3066\x3044\x307E\x3059\x3002");  // already started
    EXPECT_STREQ(windowTitle(), L"\x5B89\x5168\x306A\x53D6\x308A\x5916\x3057\x30C4\x30FC\x30EB@Stravio# Ver.5.1.0");
    std::wstring limited = messageText(532);
    EXPECT_EQ(limited.size(), 69u) << "the whole Japanese text 532";
    EXPECT_NE(limited.find(L"Stravio"), std::wstring::npos);
    EXPECT_STREQ(messageText(721), L"\x4F55\x3089\x304B\x306E\x30A8\x30E9\x30FC\x304C\x767A\x751F\x3057\x307E\x3057\x305F\x3002(721)");
}

}  // namespace
