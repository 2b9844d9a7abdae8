#include "common/environment.h"

#include "sim/machine.h"

#include <gtest/gtest.h>

namespace {

struct VersionCase {
    DWORD major, minor;
    BOOL vistaOrLater, xpOrLater, vista, seven;
};

TEST(VersionPredicates, FollowTheReportedVersion) {
    const VersionCase cases[] = {
        {5, 0, FALSE, FALSE, FALSE, FALSE},
        {5, 1, FALSE, TRUE, FALSE, FALSE},
        {5, 2, FALSE, TRUE, FALSE, FALSE},
        {6, 0, TRUE, TRUE, TRUE, FALSE},
        {6, 1, TRUE, TRUE, FALSE, TRUE},
        {6, 2, TRUE, TRUE, FALSE, FALSE},  // what 8.1, 10 and 11 report without a manifest entry
        {10, 0, TRUE, TRUE, FALSE, FALSE},
    };
    SimulatedMachine machine;
    for (const VersionCase& c : cases) {
        machine.majorVersion = c.major;
        machine.minorVersion = c.minor;
        EXPECT_EQ(isWindowsVistaOrLater(), c.vistaOrLater) << c.major << "." << c.minor;
        EXPECT_EQ(isWindowsXpOrLater(), c.xpOrLater) << c.major << "." << c.minor;
        EXPECT_EQ(isWindowsVista(), c.vista) << c.major << "." << c.minor;
        EXPECT_EQ(isWindows7(), c.seven) << c.major << "." << c.minor;
    }
}

TEST(VersionGate, PassesSilentlyFromVistaOn) {
    SimulatedMachine machine;
    machine.majorVersion = 6;
    machine.minorVersion = 0;
    EXPECT_TRUE(checkWindowsVersion());
    EXPECT_TRUE(machine.messageBoxes.empty());
}

TEST(VersionGate, RefusesOlderWindowsWithText507) {
    SimulatedMachine machine;
    machine.majorVersion = 5;
    machine.minorVersion = 1;
    EXPECT_FALSE(checkWindowsVersion());
    ASSERT_EQ(machine.messageBoxes.size(), 1u);
    const MessageBoxRecord& box = machine.messageBoxes[0];
    EXPECT_EQ(box.owner, nullptr);
    EXPECT_EQ(box.text, L"The version of Windows doesn't correspond.");
    EXPECT_EQ(box.caption, L"Stravio# Ver.5.1.0");
    EXPECT_EQ(box.flags, static_cast<UINT>(MB_ICONERROR));
}

struct ArchitectureCase {
    bool lookupSucceeds;
    WORD architecture;
    BOOL x86, amd64;
};

TEST(NativeArchitecture, OnlyIntelAndAmd64AreKnown) {
    const ArchitectureCase cases[] = {
        {true, PROCESSOR_ARCHITECTURE_INTEL, TRUE, FALSE},
        {true, PROCESSOR_ARCHITECTURE_AMD64, FALSE, TRUE},
        {true, PROCESSOR_ARCHITECTURE_IA64, FALSE, FALSE},
        {false, PROCESSOR_ARCHITECTURE_INTEL, FALSE, FALSE},  // no GetNativeSystemInfo at all
    };
    SimulatedMachine machine;
    for (const ArchitectureCase& c : cases) {
        machine.hasGetNativeSystemInfo = c.lookupSucceeds;
        machine.nativeArchitecture = c.architecture;
        EXPECT_EQ(isNativeX86(), c.x86) << c.architecture << " lookup " << c.lookupSucceeds;
        EXPECT_EQ(isNativeAmd64(), c.amd64) << c.architecture << " lookup " << c.lookupSucceeds;
    }
}

TEST(NativeArchitecture, RealLookupReportsThisMachine) {
    // Under Wine on a 64-bit host both builds see x64, as a 32-bit program on 64-bit Windows does.
    EXPECT_TRUE(isNativeAmd64());
    EXPECT_FALSE(isNativeX86());
}

TEST(Administrator, AnswerComesThroughTheSeam) {
    SimulatedMachine machine;
    machine.userIsAdmin = FALSE;
    EXPECT_FALSE(isUserAdmin());
    machine.userIsAdmin = TRUE;
    EXPECT_TRUE(isUserAdmin());
}

TEST(Seam, RestoresTheRealTableAfterwards) {
    {
        SimulatedMachine machine;
        EXPECT_NE(sys().messageBoxW, realSystemCalls().messageBoxW);
    }
    EXPECT_EQ(sys().messageBoxW, realSystemCalls().messageBoxW);
    EXPECT_EQ(sys().getTickCount, realSystemCalls().getTickCount);
    EXPECT_EQ(sys().isUserAnAdmin, realSystemCalls().isUserAnAdmin);
}

struct IniPathCase {
    const wchar_t* modulePath;
    const wchar_t* expected;
};

TEST(ProgramIniPath, CutAtTheLastDot) {
    const IniPathCase cases[] = {
        {L"C:\\Users\\u\\AppData\\Local\\Temp\\Parvane\\Parvane64.exe", L"C:\\Users\\u\\AppData\\Local\\Temp\\Parvane\\Parvane64.ini"},
        {L"E:\\Parvane.exe", L"E:\\Parvane.ini"},
        {L"C:\\old.files\\Parvane", L"C:\\old.ini"},  // no extension: the folder's dot
        {L"C:\\tools\\Parvane", L"C:\\tools\\Parvane.ini"},
        {L"C:\\a.b\\c.d.exe", L"C:\\a.b\\c.d.ini"},
    };
    for (const IniPathCase& c : cases) {
        wchar_t out[260];
        programIniPathFor(c.modulePath, out, 260);
        EXPECT_STREQ(out, c.expected);
    }
}

TEST(ProgramIniPath, NeverOverrunsItsBuffer) {
    std::wstring longPath(300, L'x');
    wchar_t out[261];
    out[260] = L'#';
    programIniPathFor(longPath.c_str(), out, 260);
    EXPECT_EQ(wcslen(out), 259u);
    EXPECT_EQ(out[260], L'#');
}

TEST(ProgramIniPath, BesideThisExecutable) {
    std::wstring path = getProgramIniPath();
    EXPECT_EQ(path.substr(path.size() - 15), L"\\unit_tests.ini") << path;
}

}  // namespace
