// The shipped tool's resources as Windows reads them from the built file: the version block
// the launcher checks, the manifest, and the icons.
#include "e2e/tool_process.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

std::wstring versionValue(const std::vector<BYTE>& block, const wchar_t* name) {
    std::wstring query = std::wstring(L"\\StringFileInfo\\040904B0\\") + name;
    wchar_t* value = nullptr;
    UINT length = 0;
    if (!VerQueryValueW(block.data(), query.c_str(), reinterpret_cast<void**>(&value), &length) || !value) return L"";
    return value;
}

TEST(ToolResources, VersionBlock) {
    std::wstring tool = builtToolPath();
    DWORD size = GetFileVersionInfoSizeW(tool.c_str(), nullptr);
    ASSERT_GT(size, 0u);
    std::vector<BYTE> block(size);
    ASSERT_TRUE(GetFileVersionInfoW(tool.c_str(), 0, size, block.data()));
    EXPECT_EQ(versionValue(block, L"CompanyName"), L"TORVA WORKS INC.");
    EXPECT_EQ(versionValue(block, L"FileVersion"), L"5.1.0.26");
    EXPECT_EQ(versionValue(block, L"ProductVersion"), L"5.1.0.26");
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    ASSERT_TRUE(VerQueryValueW(block.data(), L"\\", reinterpret_cast<void**>(&fixed), &length));
    EXPECT_EQ(fixed->dwFileVersionMS, 0x00050001u);
    EXPECT_EQ(fixed->dwFileVersionLS, 0x0000001Au);
    EXPECT_EQ(fixed->dwProductVersionMS, 0x00050001u);
    EXPECT_EQ(fixed->dwProductVersionLS, 0x0000001Au);
    DWORD* translation = nullptr;
    ASSERT_TRUE(VerQueryValueW(block.data(), L"\\VarFileInfo\\Translation", reinterpret_cast<void**>(&translation), &length));
    ASSERT_EQ(length, 4u);
    EXPECT_EQ(*translation, 0x04B00409u);
}

class LoadedTool : public ::testing::Test {
protected:
    void SetUp() override {
        module = LoadLibraryExW(builtToolPath().c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
        ASSERT_NE(module, nullptr) << GetLastError();
    }
    void TearDown() override {
        if (module) FreeLibrary(module);
    }
    std::string resource(LPCWSTR type, LPCWSTR name) {
        HRSRC found = FindResourceW(module, name, type);
        if (!found) return std::string();
        const char* data = static_cast<const char*>(LockResource(LoadResource(module, found)));
        return data ? std::string(data, SizeofResource(module, found)) : std::string();
    }
    HMODULE module = nullptr;
};

TEST_F(LoadedTool, ManifestAsksForCommonControls6AndNoSupportedOs) {
    std::string manifest = resource(RT_MANIFEST, MAKEINTRESOURCEW(1));
    ASSERT_FALSE(manifest.empty());
    EXPECT_NE(manifest.find("Microsoft.Windows.Common-Controls"), std::string::npos);
    EXPECT_NE(manifest.find("version=\"6.0.0.0\""), std::string::npos);
    EXPECT_NE(manifest.find("level=\"asInvoker\""), std::string::npos);
    EXPECT_NE(manifest.find("<dpiAware"), std::string::npos);
    // Without these entries Windows 8.1 and later report 6.2, which the version checks expect.
    EXPECT_EQ(manifest.find("supportedOS"), std::string::npos);
}

// The sizes of an icon group, as its directory lists them (0 stands for 256).
std::vector<int> iconSizes(const std::string& group) {
    std::vector<int> sizes;
    if (group.size() < 6) return sizes;
    int count = static_cast<unsigned char>(group[4]) | static_cast<unsigned char>(group[5]) << 8;
    for (int i = 0; i < count && 6 + 14 * (i + 1) <= static_cast<int>(group.size()); ++i) {
        int width = static_cast<unsigned char>(group[6 + 14 * i]);
        sizes.push_back(width == 0 ? 256 : width);
    }
    return sizes;
}

TEST_F(LoadedTool, IconsFrom16To256) {
    EXPECT_EQ(iconSizes(resource(RT_GROUP_ICON, MAKEINTRESOURCEW(102))), (std::vector<int>{16, 24, 32, 48, 64, 128, 256}));
    EXPECT_EQ(iconSizes(resource(RT_GROUP_ICON, MAKEINTRESOURCEW(103))), (std::vector<int>{16}));
    HICON small = static_cast<HICON>(LoadImageW(module, MAKEINTRESOURCEW(103), IMAGE_ICON, 16, 16, 0));
    EXPECT_NE(small, nullptr);
    if (small) DestroyIcon(small);
}

}  // namespace
