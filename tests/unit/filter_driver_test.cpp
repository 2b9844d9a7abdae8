// Taking the product's filter driver off a simulated stick: the filter list as stored bytes,
// the marker value, the pass over absent devices, the driver service, and the whole clean-up
// that never stops the hide.
#include "tool/device/filter_driver.h"

#include "common/product_contract.h"
#include "sim/scenarios.h"
#include "tool/shell/tool_state.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

// A REG_MULTI_SZ as stored: the entries with their terminators, and the final empty string.
std::string multiSz(const std::vector<std::wstring>& entries) {
    std::wstring units;
    for (const std::wstring& e : entries) units += e + L'\0';
    units += L'\0';
    return std::string(reinterpret_cast<const char*>(units.data()), units.size() * sizeof(wchar_t));
}

// Raw stored bytes of a text, without any terminator.
std::string rawUnits(const std::wstring& units) {
    return std::string(reinterpret_cast<const char*>(units.data()), units.size() * sizeof(wchar_t));
}

const std::string kAbsent("<absent>");

std::string storedBytes(SimulatedMachine& machine, int node, DWORD property) {
    const auto& properties = machine.pnp.node(node).properties;
    auto found = properties.find(property);
    return found == properties.end() ? kAbsent : found->second.bytes;
}

bool hasMarker(SimulatedMachine& machine, int node) {
    return machine.pnp.node(node).hardwareKeyValues.count(DRIVER_MARKER_VALUE) != 0;
}

struct ListCase {
    const char* name;
    DWORD type;
    std::string before;  // kAbsent: no upper filter list
    std::string after;
    MessageCode expected;
    int writes, deletions;  // asked of the setup interface
};

TEST(RemoveFilterDriver, TakesEveryEntryOfTheDriverOutOfTheUpperList) {
    const std::string oddSize = multiSz({L"lumagate664"}) + '\0';
    const ListCase cases[] = {
        {"only entry: the property goes", REG_MULTI_SZ, multiSz({L"lumagate664"}), kAbsent, MSG_OK, 0, 1},
        {"another entry stays", REG_MULTI_SZ, multiSz({L"EhStorClass", L"lumagate664"}), multiSz({L"EhStorClass"}), MSG_OK, 1, 0},
        {"order of the others kept", REG_MULTI_SZ, multiSz({L"a", L"lumagate664", L"b"}), multiSz({L"a", L"b"}), MSG_OK, 1, 0},
        {"upper case removed", REG_MULTI_SZ, multiSz({L"LUMAGATE664", L"x"}), multiSz({L"x"}), MSG_OK, 1, 0},
        {"duplicates all removed", REG_MULTI_SZ, multiSz({L"lumagate664", L"x", L"LumaGate664", L"lumagate664"}),
         multiSz({L"x"}), MSG_OK, 1, 0},
        // Written back although nothing changed.
        {"like names stay", REG_MULTI_SZ, multiSz({L"lumagate6640", L"lumagate66", L"lumagate632"}),
         multiSz({L"lumagate6640", L"lumagate66", L"lumagate632"}), MSG_OK, 1, 0},
        {"empty list: the property goes", REG_MULTI_SZ, multiSz({}), kAbsent, MSG_OK, 0, 1},
        {"no list", REG_MULTI_SZ, kAbsent, kAbsent, MSG_OK, 0, 0},
        {"not a multi-string: no list", REG_SZ, rawUnits(std::wstring(L"lumagate664\0", 12)),
         rawUnits(std::wstring(L"lumagate664\0", 12)), MSG_OK, 0, 0},
        {"empty value: no list", REG_MULTI_SZ, std::string(), std::string(), MSG_OK, 0, 0},
        // Stored without its terminators, a list still holds the entries it shows.
        {"final empty string missing", REG_MULTI_SZ, rawUnits(std::wstring(L"lumagate664\0", 12)), kAbsent, MSG_OK, 0, 1},
        {"no terminator at all", REG_MULTI_SZ, rawUnits(L"lumagate664"), kAbsent, MSG_OK, 0, 1},
        {"last entry unterminated", REG_MULTI_SZ, rawUnits(std::wstring(L"x\0lumagate664", 13)), multiSz({L"x"}), MSG_OK, 1, 0},
        {"other entry unterminated, written back whole", REG_MULTI_SZ, rawUnits(std::wstring(L"lumagate664\0EhStorClass", 23)),
         multiSz({L"EhStorClass"}), MSG_OK, 1, 0},
        {"entries after the empty string are no part of it", REG_MULTI_SZ,
         rawUnits(std::wstring(L"a\0\0lumagate664\0\0", 16)), multiSz({L"a"}), MSG_OK, 1, 0},
        // What cannot be a list of UTF-16 strings is not touched.
        {"odd byte count", REG_MULTI_SZ, oddSize, oddSize, MSG_FILTER_NOT_REMOVED, 0, 0},
    };
    for (const ListCase& c : cases) {
        SimulatedMachine machine;
        SimDrive stick = addUsbStick(machine, L'E', 1);
        auto& properties = machine.pnp.node(stick.disk).properties;
        properties.erase(SPDRP_UPPERFILTERS);
        if (c.before != kAbsent) properties[SPDRP_UPPERFILTERS] = SimProperty{c.type, c.before};
        machine.pnp.setMultiString(stick.disk, SPDRP_LOWERFILTERS, {L"lumagate664"});

        EXPECT_EQ(removeFilterDriver(stick.diskId.c_str(), L"lumagate664", TRUE), c.expected) << c.name;
        EXPECT_EQ(storedBytes(machine, stick.disk, SPDRP_UPPERFILTERS), c.after) << c.name;
        EXPECT_EQ(hasMarker(machine, stick.disk), c.expected != MSG_OK) << c.name;
        EXPECT_EQ(machine.pnp.multiString(stick.disk, SPDRP_LOWERFILTERS), std::vector<std::wstring>{L"lumagate664"})
            << c.name;
        EXPECT_EQ(machine.pnp.node(stick.disk).propertyWrites, c.writes) << c.name;
        EXPECT_EQ(machine.pnp.node(stick.disk).propertyDeletions, c.deletions) << c.name;
    }
}

// A refused write leaves the list and the marker value as they were, and is a failure.
TEST(RemoveFilterDriver, ARefusedWriteIsAFailure) {
    const std::vector<std::wstring> lists[] = {{L"lumagate664"}, {L"EhStorClass", L"lumagate664"}, {L"EhStorClass"}};
    for (const std::vector<std::wstring>& list : lists) {
        SimulatedMachine machine;
        SimDrive stick = addUsbStick(machine, L'E', 1);
        machine.pnp.setMultiString(stick.disk, SPDRP_UPPERFILTERS, list);
        machine.pnp.node(stick.disk).propertyWritesRefused = true;
        EXPECT_EQ(removeFilterDriver(stick.diskId.c_str(), L"lumagate664", TRUE), MSG_FILTER_NOT_REMOVED);
        EXPECT_EQ(machine.pnp.multiString(stick.disk, SPDRP_UPPERFILTERS), list);
        EXPECT_TRUE(hasMarker(machine, stick.disk));
        const SimNode& disk = machine.pnp.node(stick.disk);
        EXPECT_EQ(disk.propertyWrites + disk.propertyDeletions, 1);
    }
}

TEST(RemoveFilterDriver, TheLowerListWhenAskedFor) {
    SimulatedMachine machine;
    SimDrive stick = addUsbStick(machine, L'E', 1);
    machine.pnp.setMultiString(stick.disk, SPDRP_LOWERFILTERS, {L"lumagate664", L"partmgr"});
    EXPECT_EQ(removeFilterDriver(stick.diskId.c_str(), L"lumagate664", FALSE), MSG_OK);
    EXPECT_EQ(machine.pnp.multiString(stick.disk, SPDRP_LOWERFILTERS), std::vector<std::wstring>{L"partmgr"});
    EXPECT_EQ(machine.pnp.multiString(stick.disk, SPDRP_UPPERFILTERS), std::vector<std::wstring>{L"lumagate664"});
}

struct MarkerCase {
    const char* name;
    bool markerStored;
    bool keyOpens;
    MessageCode expected;
};

TEST(RemoveFilterDriver, SucceedsOnlyWhenTheMarkerValueWasDeleted) {
    const MarkerCase cases[] = {
        {"marker deleted", true, true, MSG_OK},
        // The list is cleaned all the same.
        {"marker missing", false, true, MSG_FILTER_NOT_REMOVED},
        {"hardware key does not open", true, false, MSG_FILTER_NOT_REMOVED},
    };
    for (const MarkerCase& c : cases) {
        SimulatedMachine machine;
        SimDrive stick = addUsbStick(machine, L'E', 1);
        SimNode& disk = machine.pnp.node(stick.disk);
        if (!c.markerStored) disk.hardwareKeyValues.erase(DRIVER_MARKER_VALUE);
        disk.hardwareKeyValues[L"FriendlyName"] = L"kept";
        disk.hardwareKeyOpens = c.keyOpens;
        EXPECT_EQ(removeFilterDriver(stick.diskId.c_str(), L"lumagate664", TRUE), c.expected) << c.name;
        EXPECT_FALSE(machine.pnp.hasProperty(stick.disk, SPDRP_UPPERFILTERS)) << c.name;
        EXPECT_EQ(hasMarker(machine, stick.disk), c.markerStored && !c.keyOpens) << c.name;
        EXPECT_EQ(disk.hardwareKeyValues.count(L"FriendlyName"), 1u) << c.name;
    }
}

struct PassCase {
    const char* name;
    bool diskPresent;
    bool otherCase;
    bool markerStored;
    MessageCode expected;
    int setsOpened;
    bool cleaned;
};

TEST(RemoveFilterDriver, LooksAmongAbsentDevicesOnlyWhenNoPresentOneMatched) {
    const PassCase cases[] = {
        {"present disk", true, false, true, MSG_OK, 1, true},
        {"present disk without marker: no second pass", true, false, false, MSG_FILTER_NOT_REMOVED, 1, true},
        {"disk no longer present", false, false, true, MSG_OK, 2, true},
        {"absent disk without marker", false, false, false, MSG_FILTER_NOT_REMOVED, 2, true},
        {"ID in other letter case", true, true, true, MSG_FILTER_NOT_REMOVED, 2, false},
    };
    for (const PassCase& c : cases) {
        SimulatedMachine machine;
        SimDrive stick = addUsbStick(machine, L'E', 1);
        machine.pnp.node(stick.disk).present = c.diskPresent;
        if (!c.markerStored) machine.pnp.node(stick.disk).hardwareKeyValues.clear();
        std::wstring id = stick.diskId;
        if (c.otherCase) id.replace(id.find(L"STRAVIO"), 7, L"stravio");
        EXPECT_EQ(removeFilterDriver(id.c_str(), L"lumagate664", TRUE), c.expected) << c.name;
        EXPECT_EQ(machine.pnp.setsOpened, c.setsOpened) << c.name;
        EXPECT_EQ(machine.pnp.hasProperty(stick.disk, SPDRP_UPPERFILTERS), !c.cleaned) << c.name;
    }
}

TEST(RemoveFilterDriver, AnUnknownDeviceChangesNothing) {
    SimulatedMachine machine;
    SimDrive stick = addUsbStick(machine, L'E', 1);
    EXPECT_EQ(removeFilterDriver(L"USBSTOR\\DISK&VEN_NONE\\0", L"lumagate664", TRUE), MSG_FILTER_NOT_REMOVED);
    EXPECT_EQ(machine.pnp.multiString(stick.disk, SPDRP_UPPERFILTERS), std::vector<std::wstring>{L"lumagate664"});
    EXPECT_TRUE(hasMarker(machine, stick.disk));
    EXPECT_EQ(machine.pnp.setsOpened, 2);
}

struct ServiceCase {
    const char* name;
    bool scmOpens;
    const wchar_t* installed;  // nullptr: no such service
    bool deletable;
    bool alreadyMarked;
    MessageCode expected;
    bool markedAfter;
};

TEST(DeleteDriverServiceLocal, MarksTheServiceForDeletion) {
    const ServiceCase cases[] = {
        {"deleted", true, L"lumagate664", true, false, MSG_OK, true},
        {"service manager refuses", false, L"lumagate664", true, false, MSG_SERVICE_MANAGER_UNAVAILABLE, false},
        {"no service", true, nullptr, true, false, MSG_SERVICE_NOT_DELETED, false},
        {"another driver's service only", true, L"lumagate632", true, false, MSG_SERVICE_NOT_DELETED, false},
        {"not deletable", true, L"lumagate664", false, false, MSG_SERVICE_NOT_DELETED, false},
        {"already marked", true, L"lumagate664", true, true, MSG_SERVICE_NOT_DELETED, true},
    };
    for (const ServiceCase& c : cases) {
        SimulatedMachine machine;
        machine.pnp.scmOpens = c.scmOpens;
        if (c.installed) machine.pnp.services.push_back(SimService{c.installed, c.deletable, c.alreadyMarked});
        EXPECT_EQ(deleteDriverServiceLocal(L"lumagate664"), c.expected) << c.name;
        if (c.installed) {
            EXPECT_EQ(machine.pnp.services[0].markedForDeletion, c.markedAfter) << c.name;
        }
    }
}

struct ArchitectureCase {
    WORD architecture;
    const wchar_t* removed;
    const wchar_t* kept;
};

TEST(RemoveProductDriver, TakesTheDriverOfTheNativeArchitecture) {
    const ArchitectureCase cases[] = {
        {PROCESSOR_ARCHITECTURE_INTEL, L"lumagate632", L"lumagate664"},
        {PROCESSOR_ARCHITECTURE_AMD64, L"lumagate664", L"lumagate632"},
    };
    for (const ArchitectureCase& c : cases) {
        serviceAvailable = FALSE;
        SimulatedMachine machine;
        machine.nativeArchitecture = c.architecture;
        SimDrive stick = addUsbStick(machine, L'E', 1);
        machine.pnp.setMultiString(stick.disk, SPDRP_UPPERFILTERS, {L"lumagate632", L"lumagate664"});
        machine.pnp.services = {SimService{L"lumagate632"}, SimService{L"lumagate664"}};
        EXPECT_STREQ(productDriverName(), c.removed);
        EXPECT_EQ(removeProductDriver(stick.diskId.c_str()), MSG_OK);
        EXPECT_EQ(machine.pnp.multiString(stick.disk, SPDRP_UPPERFILTERS), std::vector<std::wstring>{c.kept});
        EXPECT_FALSE(hasMarker(machine, stick.disk));
        for (const SimService& s : machine.pnp.services) EXPECT_EQ(s.markedForDeletion, s.name == c.removed) << s.name.c_str();
    }
}

struct HideCase {
    const char* name;
    bool deviceKnown;
    bool markerStored;
    bool listMalformed;
    bool scmOpens;
    bool serviceInstalled;
    bool listCleaned;
    bool serviceMarked;
};

TEST(RemoveProductDriver, NoFailureStopsTheHide) {
    const HideCase cases[] = {
        {"everything works", true, true, false, true, true, true, true},
        {"device unknown: the service still goes", false, true, false, true, true, false, true},
        {"marker missing", true, false, false, true, true, true, true},
        {"malformed list", true, true, true, true, true, false, true},
        {"service manager refuses: the list still goes", true, true, false, false, true, true, false},
        {"no service", true, true, false, true, false, true, false},
        {"everything fails", false, false, true, false, false, false, false},
    };
    for (const HideCase& c : cases) {
        serviceAvailable = FALSE;
        SimulatedMachine machine;
        SimDrive stick = addUsbStick(machine, L'E', 1);
        SimNode& disk = machine.pnp.node(stick.disk);
        if (!c.markerStored) disk.hardwareKeyValues.clear();
        if (c.listMalformed) disk.properties[SPDRP_UPPERFILTERS].bytes += '\0';
        machine.pnp.scmOpens = c.scmOpens;
        if (c.serviceInstalled) machine.pnp.services.push_back(SimService{L"lumagate664"});
        std::wstring id = c.deviceKnown ? stick.diskId : L"USBSTOR\\DISK&VEN_NONE\\0";
        EXPECT_EQ(removeProductDriver(id.c_str()), MSG_OK) << c.name;
        EXPECT_EQ(machine.pnp.hasProperty(stick.disk, SPDRP_UPPERFILTERS), !c.listCleaned) << c.name;
        if (c.serviceInstalled) {
            EXPECT_EQ(machine.pnp.services[0].markedForDeletion, c.serviceMarked) << c.name;
        }
    }
}

}  // namespace
