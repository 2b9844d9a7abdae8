// Installing a removal-tool build: the packed resource written out, decoded in place and
// accepted by its maker's name. The test program carries packed fixture programs in the places
// of the two builds, damaged streams, and the fixture programs as they are.
#include "launcher/module_install.h"

#include "platform/owners.h"
#include "sim/machine.h"
#include "support/launcher_files.h"
#include "support/launcher_seam.h"

#include <shlobj.h>
#include <string.h>

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

namespace {

std::set<std::wstring> decodingTempFiles() {
    std::set<std::wstring> names;
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW((tempFolder() + L"UAS*.tmp").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return names;
    do names.insert(found.cFileName);
    while (FindNextFileW(search, &found));
    FindClose(search);
    return names;
}

class ModuleInstall : public ::testing::Test {
protected:
    void SetUp() override {
        CreateDirectoryW(folder.c_str(), nullptr);
        DeleteFileW(module.c_str());
        tempBefore = decodingTempFiles();
    }
    void TearDown() override {
        // Every path of the decoding deletes the temporary file it created.
        EXPECT_EQ(decodingTempFiles(), tempBefore);
        DeleteFileW(module.c_str());
    }

    SimulatedMachine machine;
    LauncherSeam seam;
    std::wstring folder = tempFolder() + L"launcher-install";
    std::wstring module = folder + L"\\Parvane64.exe";
    std::string genuine64 = fixtureBytes(L"MAKER_GENUINE64");
    std::set<std::wstring> tempBefore;
};

TEST_F(ModuleInstall, GenuineStreamBecomesTheByteIdenticalModule) {
    ASSERT_FALSE(genuine64.empty());
    EXPECT_TRUE(installModule(folder.c_str(), L"Parvane64.exe", L"__Parvane64.exe"));
    EXPECT_TRUE(readFileBytes(module) == genuine64);
    EXPECT_TRUE(machine.sleeps.empty());
    ASSERT_EQ(machine.shellNotifications.size(), 1u);
    EXPECT_EQ(machine.shellNotifications[0].event, SHCNE_CREATE);
    EXPECT_EQ(machine.shellNotifications[0].path, module);
}

TEST_F(ModuleInstall, SeparatorIsAddedOnlyWhenMissing) {
    EXPECT_TRUE(installModule((folder + L"\\").c_str(), L"Parvane64.exe", L"__Parvane64.exe"));
    ASSERT_EQ(machine.shellNotifications.size(), 1u);
    EXPECT_EQ(machine.shellNotifications[0].path, module);
}

// A stream that cannot be installed leaves no file behind, after three attempts with a pause
// after each.
TEST_F(ModuleInstall, UnusableStreamsLeaveNoModule) {
    const wchar_t* resources[] = {L"__Truncated.exe", L"__Corrupt.exe", L"__Empty.exe", L"__Missing.exe"};
    for (const wchar_t* resource : resources) {
        SCOPED_TRACE(::testing::Message() << resource);
        machine.sleeps.clear();
        ASSERT_TRUE(writeFileBytes(module, genuine64));
        BOOL installed = installModule(folder.c_str(), L"Parvane64.exe", resource);
        bool resourceFound = std::wstring(resource) != L"__Empty.exe" && std::wstring(resource) != L"__Missing.exe";
        if (resourceFound) {
            EXPECT_FALSE(installed);
            EXPECT_FALSE(fileExists(module));
        } else {
            // Nothing was written: the file present decides, as it stands.
            EXPECT_TRUE(installed);
        }
        EXPECT_EQ(machine.sleeps, (std::vector<DWORD>{100, 100, 100}));
        EXPECT_TRUE(machine.shellNotifications.empty());
    }
}

TEST_F(ModuleInstall, WholeStreamOfAnotherMakerIsRefused) {
    EXPECT_FALSE(installModule(folder.c_str(), L"Parvane64.exe", L"__Foreign.exe"));
    EXPECT_TRUE(readFileBytes(module) == fixtureBytes(L"MAKER_CASE")) << "it was installed, then refused";
    EXPECT_TRUE(machine.sleeps.empty());
}

struct WriteFaultCase {
    const char* name;
    std::set<int> failingWrites;  // 1: the module's block; 2: the decoder's output
    BOOL attemptSucceeds;
    std::vector<DWORD> pauses;
};

// One attempt (extractModule) under failing writes. Every retry of the block starts from an
// empty file, so a half-written block never ends up in front of the whole one.
TEST_F(ModuleInstall, WriteFaultsInOneAttempt) {
    const WriteFaultCase cases[] = {
        {"block fails once", {1}, TRUE, {100}},
        {"block fails three times", {1, 2, 3}, FALSE, {100, 100, 100}},
        {"decoded output fails", {2}, FALSE, {}},
    };
    for (const WriteFaultCase& c : cases) {
        SCOPED_TRACE(c.name);
        seam.writes = 0;
        seam.failingWrites = c.failingWrites;
        machine.sleeps.clear();
        EXPECT_EQ(extractModule(L"__Parvane64.exe", module.c_str()), c.attemptSucceeds);
        EXPECT_EQ(machine.sleeps, c.pauses);
        if (c.attemptSucceeds) {
            EXPECT_TRUE(readFileBytes(module) == genuine64);
        } else {
            EXPECT_FALSE(fileExists(module));
        }
    }
}

TEST_F(ModuleInstall, FailedAttemptIsFollowedByAWholeInstall) {
    seam.failingWrites = {2};
    EXPECT_TRUE(installModule(folder.c_str(), L"Parvane64.exe", L"__Parvane64.exe"));
    EXPECT_TRUE(readFileBytes(module) == genuine64);
    EXPECT_EQ(machine.sleeps, (std::vector<DWORD>{100}));
}

// A module in use (as a running program's image: readable, not writable, not deletable) is
// kept, and its maker's name alone decides.
TEST_F(ModuleInstall, LockedOldModuleIsUsedOnlyWhenGenuine) {
    const struct {
        const wchar_t* fixture;
        BOOL accepted;
    } cases[] = {{L"MAKER_GENUINE32", TRUE}, {L"MAKER_CASE", FALSE}};
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::Message() << c.fixture);
        std::string old = fixtureBytes(c.fixture);
        ASSERT_TRUE(writeFileBytes(module, old));
        {
            UniqueFile lock(CreateFileW(module.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
            ASSERT_TRUE(lock.valid());
            EXPECT_EQ(installModule(folder.c_str(), L"Parvane64.exe", L"__Parvane64.exe"), c.accepted);
        }
        EXPECT_TRUE(readFileBytes(module) == old);
        EXPECT_TRUE(machine.shellNotifications.empty());
        DeleteFileW(module.c_str());
    }
}

TEST_F(ModuleInstall, ModulePathThatDoesNotFitIsNeverAttempted) {
    // The folder and the name take exactly the 262 units of the path with its terminator in
    // the first case, one more in the second.
    std::wstring name = L"Parvane64.exe";
    std::wstring fits = L"C:\\" + std::wstring(261 - 3 - 1 - name.size(), L'f');
    std::wstring tooLong = fits + L"g";
    EXPECT_FALSE(installModule(fits.c_str(), name.c_str(), L"__Missing.exe"));
    EXPECT_EQ(machine.sleeps.size(), 3u) << "a path that fits is attempted";
    machine.sleeps.clear();
    EXPECT_FALSE(installModule(tooLong.c_str(), name.c_str(), L"__Parvane64.exe"));
    EXPECT_TRUE(machine.sleeps.empty());
    EXPECT_EQ(seam.writes, 0);
}

struct DecodeCase {
    const char* name;
    std::string bytes;
};

TEST_F(ModuleInstall, MalformedStreamsDoNotDecode) {
    const std::string size8("\x00\x10\x00\x00\x00\x00\x00\x00", 8);
    const DecodeCase cases[] = {
        {"header of 12 bytes", std::string("\x5D\x00\x00\x00\x01", 5) + std::string(7, '\0')},
        {"properties above 224", std::string("\xE1\x00\x00\x00\x01", 5) + size8 + std::string(64, '\0')},
        {"data ends before the stated size", std::string("\x5D\x00\x00\x00\x01", 5) + size8 + std::string(5, '\0')},
        {"empty file", std::string()},
    };
    for (const DecodeCase& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_TRUE(writeFileBytes(module, c.bytes));
        EXPECT_FALSE(decodeFileInPlace(module.c_str()));
        EXPECT_TRUE(fileExists(module));
        EXPECT_TRUE(readFileBytes(module) == c.bytes) << "a failed decoding leaves the file to its caller";
    }
}

std::string packedModule(const wchar_t* name) {
    HMODULE self = GetModuleHandleW(nullptr);
    HRSRC found = FindResourceW(self, name, MODULE_RESOURCE_TYPE);
    if (!found) return std::string();
    const char* data = static_cast<const char*>(LockResource(LoadResource(self, found)));
    return data ? std::string(data, SizeofResource(self, found)) : std::string();
}

// The header alone sets how much memory the decoder takes; a stream that asks for far more than
// a stored module's 16 MiB dictionary is refused before any of it is allocated.
TEST_F(ModuleInstall, DictionaryBeyondTheDecodersLimitIsRefused) {
    const std::string packed = packedModule(L"__Parvane64.exe");
    ASSERT_GT(packed.size(), 13u);
    const struct {
        DWORD dictionary;
        bool decodes;
    } cases[] = {{1u << 24, true}, {1u << 25, true}, {1u << 27, false}, {0xFFFFFFFFu, false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.dictionary);
        std::string stream = packed;
        memcpy(&stream[1], &c.dictionary, sizeof(c.dictionary));
        ASSERT_TRUE(writeFileBytes(module, stream));
        EXPECT_EQ(decodeFileInPlace(module.c_str()), c.decodes);
        EXPECT_TRUE(readFileBytes(module) == (c.decodes ? genuine64 : stream));
    }
}

TEST_F(ModuleInstall, MissingFileDoesNotDecode) {
    EXPECT_FALSE(decodeFileInPlace(module.c_str()));
    EXPECT_FALSE(fileExists(module));
}

struct MakerCase {
    const wchar_t* fixture;
    BOOL genuine;
};

TEST(MakerCheck, CompanyNameMustBeExactUnderOneTranslation) {
    const MakerCase cases[] = {
        {L"MAKER_GENUINE64", TRUE},  // exact, under 0x0409 / 0x04B0
        {L"MAKER_CASE", FALSE},      // "Torva Works Inc."
        {L"MAKER_SECOND", TRUE},     // the first translation differs, the second is exact
        {L"MAKER_NONE", FALSE},      // no version block
    };
    std::wstring path = tempFolder() + L"launcher-maker.exe";
    for (const MakerCase& c : cases) {
        SCOPED_TRACE(::testing::Message() << c.fixture);
        ASSERT_TRUE(writeFileBytes(path, fixtureBytes(c.fixture)));
        EXPECT_EQ(hasMakerCompanyName(path.c_str()), c.genuine);
    }
    DeleteFileW(path.c_str());
    EXPECT_FALSE(hasMakerCompanyName(path.c_str())) << "no file";
}

}  // namespace
