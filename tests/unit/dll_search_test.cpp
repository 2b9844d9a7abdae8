// A DLL planted beside the executable must not load once the search is restricted. Each test
// runs in a process of its own, so the restriction does not leak into other tests.
#include "platform/dll_search.h"
#include "platform/win.h"

#include <gtest/gtest.h>

#include <string>

namespace {

std::wstring besideExecutable(const wchar_t* name) {
    wchar_t path[MAX_PATH] = L"";
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring p(path);
    return p.substr(0, p.find_last_of(L'\\') + 1) + name;
}

class PlantedDll : public ::testing::Test {
protected:
    void SetUp() override {
        wchar_t system[MAX_PATH] = L"";
        GetSystemDirectoryW(system, MAX_PATH);
        // Any real DLL serves as the plant; the name is one the system folder does not have.
        ASSERT_TRUE(CopyFileW((std::wstring(system) + L"\\version.dll").c_str(), planted.c_str(), FALSE))
            << GetLastError();
    }
    void TearDown() override { DeleteFileW(planted.c_str()); }
    // One plant per test: the tests may run side by side.
    std::wstring plantName() const {
        std::string test = ::testing::UnitTest::GetInstance()->current_test_info()->name();
        return L"planted_" + std::wstring(test.begin(), test.end()) + L".dll";
    }
    std::wstring planted = besideExecutable(plantName().c_str());
};

TEST_F(PlantedDll, LoadsFromTheProgramFolderByDefault) {
    HMODULE m = LoadLibraryW(plantName().c_str());
    EXPECT_NE(m, nullptr) << "the plant must be loadable, or the next test proves nothing";
    if (m) FreeLibrary(m);
}

TEST_F(PlantedDll, DoesNotLoadAfterTheSearchIsRestricted) {
    restrictDllSearch();
    HMODULE m = LoadLibraryW(plantName().c_str());
    EXPECT_EQ(m, nullptr);
    if (m) FreeLibrary(m);
}

}  // namespace
