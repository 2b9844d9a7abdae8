// What the launcher asks of the seam, recorded on top of the simulated machine: shell-link
// objects that note the flags and paths they were saved with (Wine does not save the run-as
// flag into the file), the start request in full, the administrator queries, and file writes
// that fail on purpose.
#pragma once
#include "platform/system_calls.h"

#include <set>
#include <string>
#include <vector>

struct SavedShortcut {
    std::wstring path;
    std::wstring target;
    std::wstring arguments;
    DWORD flags;  // the data-list flags the object was last given, as saved
};

struct StartRequest {
    DWORD size;
    ULONG mask;
    HWND owner;
    bool verbNull;
    std::wstring file;
    bool parametersNull;
    std::wstring directory;
    int show;
    DWORD tick;  // GetTickCount when it was made
};

class LauncherSeam {
public:
    // Install after the simulated machine; the table is back as it was afterwards.
    LauncherSeam();
    ~LauncherSeam();
    LauncherSeam(const LauncherSeam&) = delete;
    LauncherSeam& operator=(const LauncherSeam&) = delete;

    int adminQueries = 0;
    std::vector<SavedShortcut> savedShortcuts;
    std::vector<StartRequest> startRequests;
    // File writes counted from 1; a write whose number is listed writes half of its bytes and
    // then fails, as on a full disk.
    std::set<int> failingWrites;
    int writes = 0;
    // What the shell answers a start request (a user may decline the elevation), and what the
    // started tool would do: set the launcher's event.
    BOOL startSucceeds = TRUE;
    bool startSetsLauncherEvent = false;

    static LauncherSeam& current();
    // The table as it was before this one was installed.
    const SystemCalls& below() const { return saved_; }

private:
    SystemCalls saved_;
};
