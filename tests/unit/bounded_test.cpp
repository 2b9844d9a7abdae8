#include "common/bounded.h"

#include <gtest/gtest.h>

#include <string>

namespace {

std::wstring format(size_t capacity, const wchar_t* fmt, ...) {
    wchar_t buffer[65];
    for (wchar_t& c : buffer) c = L'#';
    va_list args;
    va_start(args, fmt);
    size_t n = formatTextV(buffer, capacity, fmt, args);
    va_end(args);
    EXPECT_EQ(n, wcslen(buffer));
    EXPECT_EQ(buffer[capacity], L'#') << "wrote past the capacity";
    return buffer;
}

TEST(BoundedFormat, ConversionsAndCuts) {
    EXPECT_EQ(format(64, L"%s@%s %s", L"Safely Remove Tool", L"Stravio#", L"Ver.5.1.0"),
              L"Safely Remove Tool@Stravio# Ver.5.1.0");
    EXPECT_EQ(format(64, L"%c:\\extra\\%s.ini", L'E', L"English"), L"E:\\extra\\English.ini");
    EXPECT_EQ(format(64, L"%s(%d)", L"Some errors occurred.", 721), L"Some errors occurred.(721)");
    EXPECT_EQ(format(64, L"(%d)(%d)(%ld)", -2147483647 - 1, 0, -5L), L"(-2147483648)(0)(-5)");
    EXPECT_EQ(format(64, L"Result=0x%2X|%02X|%x|%u", 5u, 0xABu, 0xBEEFu, 4000000000u), L"Result=0x 5|AB|beef|4000000000");
    EXPECT_EQ(format(64, L"100%% %q"), L"100% %q");
    EXPECT_EQ(format(64, L"%s", static_cast<const wchar_t*>(nullptr)), L"");
    // Cut to the capacity, always terminated.
    EXPECT_EQ(format(8, L"%s@%s", L"Safely", L"Remove"), L"Safely@");
    EXPECT_EQ(format(4, L"%d", 123456), L"123");
    EXPECT_EQ(format(1, L"%s", L"abc"), L"");
}

TEST(BoundedFormat, NarrowTakesWideArgumentsAsAscii) {
    char buffer[32];
    EXPECT_EQ(formatNarrow(buffer, sizeof(buffer), "%sEND\x1f%S\x1f%d", "H", L"LumgatS", -7), 15u);
    EXPECT_STREQ(buffer, "HEND\x1fLumgatS\x1f-7");
    EXPECT_EQ(formatNarrow(buffer, 6, "%S", L"abcdefgh"), 5u);
    EXPECT_STREQ(buffer, "abcde");
}

TEST(BoundedCopy, CopyAndAppendCut) {
    wchar_t small[6];
    EXPECT_EQ(copyText(small, L"Stravio"), 5u);
    EXPECT_STREQ(small, L"Strav");
    copyText(small, L"abc");
    EXPECT_EQ(appendText(small, L"#"), 4u);
    EXPECT_STREQ(small, L"abc#");
    EXPECT_EQ(appendText(small, L"xyz"), 5u);
    EXPECT_STREQ(small, L"abc#x");
    EXPECT_EQ(appendText(small, L"#"), 5u) << "a full buffer stays as it is";
    EXPECT_STREQ(small, L"abc#x");
}

struct SubstitutionCase {
    const wchar_t* text;
    std::wstring expected;
};

TEST(SubstituteText, FillsOnlyPlainPlaceholders) {
    const wchar_t* args[] = {L"notepad.exe", L"E: "};
    const SubstitutionCase cases[] = {
        {L"%s is accessing %s drive.", L"notepad.exe is accessing E:  drive."},
        {L"'%s' is in use", L"'notepad.exe' is in use"},
        // A text from an override file is never a format: these print as they stand.
        {L"%d %n %x %%s %s", L"%d %n %x %notepad.exe E: "},
        {L"%s %s %s", L"notepad.exe E:  %s"},
        {L"ends with %", L"ends with %"},
    };
    for (const SubstitutionCase& c : cases) {
        wchar_t out[64];
        substituteText(out, 64, c.text, args, 2);
        EXPECT_EQ(std::wstring(out), c.expected) << c.text;
    }
    wchar_t tiny[10];
    EXPECT_EQ(substituteText(tiny, 10, L"%s!", args, 1), 9u);
    EXPECT_STREQ(tiny, L"notepad.e");
}

struct FoldCase {
    const wchar_t* a;
    const wchar_t* b;
    bool equal;
};

TEST(EqualsIgnoringAsciiCase, FoldsAToZOnly) {
    const FoldCase cases[] = {
        {L"USBSTOR\\Disk&Ven_X", L"usbstor\\disk&ven_x", true},
        {L"Parvane.exe open", L"PARVANE.EXE OPEN", true},
        {L"", L"", true},
        {L"abc", L"abcd", false},
        {L"abcd", L"abc", false},
        {L"\x00C4", L"\x00E4", false},  // not A-Z: left alone
        {L"[", L"{", false},             // 0x5B and 0x7B differ by the case bit but are no letters
    };
    for (const FoldCase& c : cases) EXPECT_EQ(equalsIgnoringAsciiCase(c.a, c.b), c.equal) << c.a;
    EXPECT_TRUE(equalsIgnoringAsciiCase(L"e:\\x", L"E: ", 2));
    EXPECT_FALSE(equalsIgnoringAsciiCase(L"e", L"E:", 2));
}

}  // namespace
