// The simulated Plug and Play side of the machine: the device tree with its instance IDs,
// interfaces, removal relations and registry properties; device sets; the class installer;
// presence that follows a disable or enable on the virtual clock; ejection with vetoes; the
// service control manager. It keeps Windows' documented contracts (size queries that fail with
// ERROR_INSUFFICIENT_BUFFER, CR_* results, cbSize checks) and refuses what Windows refuses: the
// eject of a node that is not removable or whose devices have open handles, and the class
// installer for a 32-bit process on 64-bit Windows (ERROR_IN_WOW64). It counts every set, key,
// service handle and property write it sees, so that a leak or a missing write fails the test.
#pragma once
#include "platform/win.h"

#include <map>
#include <string>
#include <vector>

struct SimInterface {
    GUID interfaceClass;
    std::wstring devicePath;
};

// A registry property as stored: its type and raw bytes.
struct SimProperty {
    DWORD type = REG_SZ;
    std::string bytes;
};

enum class InstallerOutcome { Succeeds, Fails, NeedsRestart, NeedsReboot };

struct SimNode {
    std::wstring instanceId;
    int parent = -1;  // index of the parent node; -1 for the root
    bool present = true;
    // A disabled device stays in the tree and in the present set of all classes (that is how it
    // is enabled again), but its interfaces are not active: the interface lists leave it out.
    bool disabled = false;
    bool idReadable = true;
    std::vector<SimInterface> interfaces;
    std::vector<std::wstring> removalRelations;
    std::map<DWORD, SimProperty> properties;  // SPDRP_* -> value
    // Every SetupDiSetDeviceRegistryPropertyW, with data or deleting; a refused one changes nothing.
    int propertyWrites = 0, propertyDeletions = 0;
    bool propertyWritesRefused = false;  // refused with ERROR_ACCESS_DENIED, as for a user
    std::map<std::wstring, std::wstring> hardwareKeyValues;
    bool hardwareKeyOpens = true;
    // The class installer's answers, one per call in order; the last one repeats.
    std::vector<InstallerOutcome> installerOutcomes{InstallerOutcome::Succeeds};
    // Whether its bus reports it removable (a USB device on an external port) or not (a
    // controller, an internal disk). Only a removable node can be ejected.
    bool removable = false;
    // The eject request's answer once Windows itself has nothing against it.
    CONFIGRET ejectResult = CR_SUCCESS;
    PNP_VETO_TYPE vetoType = PNP_VetoTypeUnknown;
    std::wstring vetoName;
    // What was done to it.
    int installerCalls = 0;
    int ejectRequests = 0;
    std::vector<SP_PROPCHANGE_PARAMS> propertyChanges;  // every SetupDiSetClassInstallParamsW
    // Changes scheduled on the virtual clock: (tick, present) and (tick, disabled).
    std::vector<std::pair<DWORD, bool>> presenceChanges;
    std::vector<std::pair<DWORD, bool>> disabledChanges;
};

struct SimService {
    std::wstring name;
    bool deletable = true;
    bool markedForDeletion = false;
};

class SimPnp {
public:
    SimPnp();
    // The root node exists from the start, as index 0.
    int addNode(const std::wstring& instanceId, int parent);
    int find(const std::wstring& instanceId) const;  // case-insensitive; -1 when none
    SimNode& node(int index) { return nodes[static_cast<size_t>(index)]; }
    void setString(int index, DWORD property, const std::wstring& value);
    // A REG_MULTI_SZ written out as Windows stores it: each entry terminated, then one more.
    void setMultiString(int index, DWORD property, const std::vector<std::wstring>& entries);
    // A value stored exactly as given, terminators or not, as Windows lets a program store it.
    void setRawProperty(int index, DWORD property, DWORD type, const std::wstring& units);
    std::vector<std::wstring> multiString(int index, DWORD property) const;  // entries as stored
    bool hasProperty(int index, DWORD property) const;

    std::vector<SimNode> nodes;
    std::map<std::wstring, std::wstring> dosDevices;  // "E:" -> "\\Device\\HarddiskVolume5"
    std::map<std::wstring, UINT> driveTypes;          // "E:\\" -> DRIVE_REMOVABLE
    std::vector<SimService> services;
    bool rootLocates = true;
    bool scmOpens = true;
    // How long a disabled device and the devices below it take to vanish, and an enabled one
    // to come back.
    DWORD removalDelayMs = 1500;
    DWORD arrivalDelayMs = 2500;
    bool subtreeComesBack = true;

    // Handle accounting.
    int openSets = 0, setsOpened = 0;
    int openKeys = 0, openServiceHandles = 0;
    int idListQueries = 0;
    std::vector<DEVINST> ejectRequests;  // every CM_Request_Device_EjectW, in order

    // Applies the presence changes that are due at tick `now`.
    void advance(DWORD now);
};

// Installs the simulated Plug and Play functions into the seam table.
void installSimulatedPnp(struct SystemCalls& table);
