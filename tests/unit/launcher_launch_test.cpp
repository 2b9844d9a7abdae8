// The launch sequence: which build for which architecture, the shortcut and its run-as flag,
// the start request, and the path limits. Runs from E:, so the tool argument is "E: ".
#include "launcher/launch.h"

#include "common/product_contract.h"
#include "launcher/module_install.h"
#include "platform/owners.h"
#include "sim/machine.h"
#include "support/launcher_files.h"
#include "support/launcher_seam.h"

#include <objbase.h>
#include <shlobj.h>
#include <shobjidl.h>

#include <gtest/gtest.h>

#include <string>

namespace {

// Removes a folder and the files in it, and the folders above it up to (not including) root.
void removeTree(const std::wstring& folder) {
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW((folder + L"*").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            std::wstring name = found.cFileName;
            if (name == L"." || name == L"..") continue;
            if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) removeTree(folder + name + L"\\");
            else DeleteFileW((folder + name).c_str());
        } while (FindNextFileW(search, &found));
        FindClose(search);
    }
    RemoveDirectoryW(folder.c_str());
}

class Launch : public ::testing::Test {
protected:
    void SetUp() override {
        removeTree(folder);
        CreateDirectoryW(folder.c_str(), nullptr);
    }
    void TearDown() override { removeTree(folder); }

    SimulatedMachine machine;
    LauncherSeam seam;
    std::wstring folder = tempFolder() + L"launcher-launch\\";
    std::wstring shortcut = folder + L"Lumagate.lnk";
};

struct ArchitectureCase {
    WORD reported;
    bool hasLookup;
    MessageCode code;
    const wchar_t* moduleFile;  // null: nothing installed
    const wchar_t* fixture;
};

TEST_F(Launch, ArchitectureTable) {
    const ArchitectureCase cases[] = {
        {PROCESSOR_ARCHITECTURE_INTEL, true, 501, L"Parvane32.exe", L"MAKER_GENUINE32"},
        {PROCESSOR_ARCHITECTURE_AMD64, true, 501, L"Parvane64.exe", L"MAKER_GENUINE64"},
        {PROCESSOR_ARCHITECTURE_IA64, true, 721, nullptr, nullptr},
        {PROCESSOR_ARCHITECTURE_AMD64, false, 721, nullptr, nullptr},  // no GetNativeSystemInfo
    };
    for (const ArchitectureCase& c : cases) {
        SCOPED_TRACE(::testing::Message() << "architecture " << c.reported << (c.hasLookup ? "" : " unknown"));
        removeTree(folder);
        CreateDirectoryW(folder.c_str(), nullptr);
        seam.savedShortcuts.clear();
        machine.nativeArchitecture = c.reported;
        machine.hasGetNativeSystemInfo = c.hasLookup;
        EXPECT_EQ(launchFromWorkingFolder(folder.c_str(), TRUE), c.code);
        if (!c.moduleFile) {
            EXPECT_FALSE(fileExists(folder + L"Parvane32.exe"));
            EXPECT_FALSE(fileExists(folder + L"Parvane64.exe"));
            EXPECT_FALSE(fileExists(shortcut));
            continue;
        }
        EXPECT_TRUE(readFileBytes(folder + c.moduleFile) == fixtureBytes(c.fixture));
        ASSERT_EQ(seam.savedShortcuts.size(), 1u);
        EXPECT_EQ(seam.savedShortcuts[0].path, shortcut);
        EXPECT_EQ(seam.savedShortcuts[0].target, folder + c.moduleFile);
    }
}

struct RunAsCase {
    BOOL service;
    BOOL admin;
    bool runAs;
    int adminQueries;
};

// The shortcut is elevated exactly when the tool would otherwise refuse to work.
TEST_F(Launch, RunAsDecisionAndTheShortcutWritten) {
    const RunAsCase cases[] = {
        {TRUE, TRUE, false, 0},
        {TRUE, FALSE, false, 0},
        {FALSE, TRUE, false, 1},
        {FALSE, FALSE, true, 1},
        {TRUE, FALSE, false, 0},  // the existing shortcut loses its flag again
    };
    for (const RunAsCase& c : cases) {
        SCOPED_TRACE(::testing::Message() << "service " << c.service << ", admin " << c.admin);
        seam.adminQueries = 0;
        seam.savedShortcuts.clear();
        machine.userIsAdmin = c.admin;
        ASSERT_EQ(launchFromWorkingFolder(folder.c_str(), c.service), 501);
        EXPECT_EQ(seam.adminQueries, c.adminQueries);
        ASSERT_EQ(seam.savedShortcuts.size(), 1u);
        EXPECT_EQ((seam.savedShortcuts[0].flags & SLDF_RUNAS_USER) != 0, c.runAs);
        ShortcutOnDisk onDisk = readShortcut(shortcut);
        ASSERT_TRUE(onDisk.loaded);
        EXPECT_EQ(onDisk.target, folder + L"Parvane64.exe");
        EXPECT_EQ(onDisk.arguments, L"E: ");
    }
}

TEST_F(Launch, StartRequestOpensTheShortcutInTheWorkingFolder) {
    ASSERT_EQ(launchFromWorkingFolder(folder.c_str(), TRUE), 501);
    ASSERT_EQ(seam.startRequests.size(), 1u);
    const StartRequest& r = seam.startRequests[0];
    EXPECT_EQ(r.size, sizeof(SHELLEXECUTEINFOW));
    EXPECT_EQ(r.mask, 0u);
    EXPECT_EQ(r.owner, nullptr);
    EXPECT_TRUE(r.verbNull);
    EXPECT_EQ(r.file, shortcut);
    EXPECT_TRUE(r.parametersNull);
    EXPECT_EQ(r.directory, folder);
    EXPECT_EQ(r.show, SW_SHOWNORMAL);
}

TEST_F(Launch, StartTheShellRefusesStillCountsAsStarted) {
    seam.startSucceeds = FALSE;
    EXPECT_EQ(launchFromWorkingFolder(folder.c_str(), FALSE), 501);
    EXPECT_EQ(seam.startRequests.size(), 1u);
    EXPECT_TRUE(machine.messageBoxes.empty());
}

TEST_F(Launch, ModuleThatFailsTheMakerCheckIsNotStarted) {
    // A module in use that is not ours stays where it is, and nothing starts it.
    std::wstring module = folder + L"Parvane64.exe";
    std::string foreign = fixtureBytes(L"MAKER_CASE");
    {
        UniqueFile file(CreateFileW(module.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
        DWORD written = 0;
        ASSERT_TRUE(WriteFile(file.get(), foreign.data(), static_cast<DWORD>(foreign.size()), &written, nullptr));
    }
    UniqueFile lock(CreateFileW(module.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    EXPECT_EQ(launchFromWorkingFolder(folder.c_str(), TRUE), 719);
    EXPECT_TRUE(seam.savedShortcuts.empty());
    EXPECT_TRUE(seam.startRequests.empty());
}

TEST_F(Launch, ShortcutThatCannotBeSavedGives732) {
    ASSERT_TRUE(CreateDirectoryW(shortcut.c_str(), nullptr));
    EXPECT_EQ(launchFromWorkingFolder(folder.c_str(), TRUE), 732);
    EXPECT_TRUE(seam.startRequests.empty());
    RemoveDirectoryW(shortcut.c_str());
}

struct ShortcutCase {
    const wchar_t* arguments;
    BOOL runAs;
};

TEST_F(Launch, CreateLaunchShortcutWritesOnlyTargetArgumentsAndFlag) {
    const ShortcutCase cases[] = {{L"G: ", TRUE}, {nullptr, FALSE}};
    for (const ShortcutCase& c : cases) {
        SCOPED_TRACE(::testing::Message() << "run-as " << c.runAs);
        seam.savedShortcuts.clear();
        std::wstring target = folder + L"Parvane64.exe";
        ASSERT_TRUE(createLaunchShortcut(c.arguments, shortcut.c_str(), target.c_str(), c.runAs));
        ASSERT_EQ(seam.savedShortcuts.size(), 1u);
        EXPECT_EQ(seam.savedShortcuts[0].flags & SLDF_RUNAS_USER, c.runAs ? static_cast<DWORD>(SLDF_RUNAS_USER) : 0u);
        ShortcutOnDisk onDisk = readShortcut(shortcut);
        EXPECT_EQ(onDisk.target, target);
        EXPECT_EQ(onDisk.arguments, c.arguments ? c.arguments : L"");
    }
}

// A working folder of exactly `length` units, ending with a backslash, made for real.
std::wstring folderOfLength(const std::wstring& base, size_t length) {
    std::wstring path = base;
    CreateDirectoryW(path.c_str(), nullptr);
    while (path.size() < length) {
        size_t left = length - path.size();
        // Components of at most 200 units, and never a last one too short to name.
        size_t component = left <= 201 ? left - 1 : (left - 201 >= 3 ? 200 : left - 4);
        path += std::wstring(component, L'w') + L"\\";
        CreateDirectoryW(path.c_str(), nullptr);
    }
    return path;
}

struct PathCase {
    size_t folderLength;
    MessageCode code;
    bool moduleWritten;
};

// The target path (folder and "Parvane64.exe") and the shortcut path must fit 260 units, the
// module path 262.
TEST_F(Launch, PathLimits) {
    const PathCase cases[] = {
        {246, 501, true},
        {247, 720, true},
        {248, 720, true},
        {249, 719, false},
    };
    for (const PathCase& c : cases) {
        SCOPED_TRACE(::testing::Message() << "folder of " << c.folderLength << " units");
        std::wstring longFolder = folderOfLength(folder, c.folderLength);
        ASSERT_EQ(longFolder.size(), c.folderLength);
        ASSERT_TRUE(fileExists(longFolder)) << "this file system does not take a folder that long";
        seam.startRequests.clear();
        EXPECT_EQ(launchFromWorkingFolder(longFolder.c_str(), TRUE), c.code);
        EXPECT_EQ(fileExists(longFolder + L"Parvane64.exe"), c.moduleWritten);
        EXPECT_EQ(seam.startRequests.size(), c.code == 501 ? 1u : 0u);
        removeTree(folder);
        CreateDirectoryW(folder.c_str(), nullptr);
    }
}

struct ProbeCase {
    bool serviceRuns;
    int adminQueries;
    DWORD runAsFlag;
};

// The whole sequence with the real probe, for a user without administrator rights: a service
// that answers makes the admin question moot. The service is its pipe (an instance waiting for
// a client) and its extents section.
TEST(LaunchSequence, ProbeAnswerDecidesTheElevation) {
    const ProbeCase cases[] = {{true, 0, 0}, {false, 1, SLDF_RUNAS_USER}};
    for (const ProbeCase& c : cases) {
        SCOPED_TRACE(::testing::Message() << "service runs: " << c.serviceRuns);
        UniqueFile pipe;
        UniqueHandle section;
        if (c.serviceRuns) {
            pipe.reset(CreateNamedPipeW(SERVICE_PIPE_NAME, PIPE_ACCESS_DUPLEX, PIPE_TYPE_BYTE | PIPE_WAIT, 1, 4096, 4096,
                                        0, nullptr));
            section.reset(CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 4096,
                                             SERVICE_SECTION_EXTENTS));
            ASSERT_TRUE(pipe.valid() && section.valid());
        }
        SimulatedMachine machine;
        LauncherSeam seam;
        machine.userIsAdmin = FALSE;
        EXPECT_EQ(runLauncher(), 501);
        EXPECT_EQ(seam.adminQueries, c.adminQueries);
        ASSERT_EQ(seam.savedShortcuts.size(), 1u);
        EXPECT_EQ(seam.savedShortcuts[0].flags & SLDF_RUNAS_USER, c.runAsFlag);
        EXPECT_EQ(seam.savedShortcuts[0].arguments, L"E: ");
    }
}

}  // namespace
