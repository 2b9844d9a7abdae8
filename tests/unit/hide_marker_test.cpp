// Where the hide marker goes: only into an absolute temporary folder with room for its name.
#include "tool/shell/hide_marker.h"

#include "platform/owners.h"

#include <gtest/gtest.h>

#include <string>

namespace {

struct PathCase {
    const char* name;
    std::wstring folder;
    std::wstring expected;  // empty: no marker
};

TEST(HideMarkerPath, OnlyAnAbsoluteFolderWithRoomForTheName) {
    const std::wstring fits(260 - 1 - 11 - 4, L'a');  // "C:\" + folder + "\" + name fills 259 units
    const PathCase cases[] = {
        {"folder with its backslash", L"C:\\Temp\\", L"C:\\Temp\\parvane.tmp"},
        {"folder without it", L"C:\\Temp", L"C:\\Temp\\parvane.tmp"},
        {"lower-case drive", L"d:\\t\\", L"d:\\t\\parvane.tmp"},
        {"network folder", L"\\\\server\\share\\tmp\\", L"\\\\server\\share\\tmp\\parvane.tmp"},
        {"exactly fits", L"C:\\" + fits + L"\\", L"C:\\" + fits + L"\\parvane.tmp"},
        {"one unit too long", L"C:\\" + fits + L"a\\", L""},
        {"too long for the backslash", L"C:\\" + std::wstring(256, L'a'), L""},
        {"empty", L"", L""},
        {"relative", L"Temp\\", L""},
        {"rooted on the current drive", L"\\Temp\\", L""},
        {"relative to a drive's current folder", L"C:Temp\\", L""},
        {"not a drive letter", L"1:\\Temp\\", L""},
    };
    for (const PathCase& c : cases) {
        wchar_t out[260];
        wmemset(out, L'#', 260);
        EXPECT_EQ(buildHideMarkerPath(c.folder.c_str(), out, 260), !c.expected.empty()) << c.name;
        EXPECT_EQ(std::wstring(out), c.expected) << c.name;
    }
}

// The temporary folder comes from TMP, as GetTempPathW reads it.
class TmpVariable {
public:
    explicit TmpVariable(const std::wstring& value) {
        saved_.resize(32768);
        DWORD n = GetEnvironmentVariableW(L"TMP", &saved_[0], static_cast<DWORD>(saved_.size()));
        had_ = n > 0 && n < saved_.size();
        saved_.resize(had_ ? n : 0);
        SetEnvironmentVariableW(L"TMP", value.c_str());
    }
    ~TmpVariable() { SetEnvironmentVariableW(L"TMP", had_ ? saved_.c_str() : nullptr); }

private:
    std::wstring saved_;
    bool had_ = false;
};

TEST(HideMarkerPath, FollowsTheTemporaryFolder) {
    {
        TmpVariable tmp(L"C:\\windows\\temp");
        const wchar_t* path = getHideMarkerPath();
        ASSERT_NE(path, nullptr);
        EXPECT_STREQ(path, L"C:\\windows\\temp\\parvane.tmp");
    }
    {
        // The folder fits, the name does not.
        TmpVariable tmp(L"C:\\" + std::wstring(250, L'a'));
        EXPECT_EQ(getHideMarkerPath(), nullptr);
    }
    {
        TmpVariable tmp(L"C:\\" + std::wstring(400, L'a'));
        EXPECT_EQ(getHideMarkerPath(), nullptr);
    }
}

TEST(HideMarker, IsCreatedEmptyAndAnExistingOneIsLeftAsItIs) {
    wchar_t base[MAX_PATH];
    GetTempPathW(MAX_PATH, base);
    std::wstring folder = std::wstring(base) + L"parvane-marker-" + std::to_wstring(GetCurrentProcessId());
    CreateDirectoryW(folder.c_str(), nullptr);
    std::wstring marker = folder + L"\\parvane.tmp";
    {
        TmpVariable tmp(folder);
        writeHideMarker();
        WIN32_FILE_ATTRIBUTE_DATA data;
        ASSERT_TRUE(GetFileAttributesExW(marker.c_str(), GetFileExInfoStandard, &data));
        EXPECT_EQ(data.nFileSizeLow, 0u);
        {
            UniqueFile file(CreateFileW(marker.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr));
            DWORD n = 0;
            ASSERT_TRUE(WriteFile(file.get(), "kept", 4, &n, nullptr));
        }
        writeHideMarker();
        ASSERT_TRUE(GetFileAttributesExW(marker.c_str(), GetFileExInfoStandard, &data));
        EXPECT_EQ(data.nFileSizeLow, 4u);
    }
    DeleteFileW(marker.c_str());
    RemoveDirectoryW(folder.c_str());
}

}  // namespace
