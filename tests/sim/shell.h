// The shell side of the simulated machine: the drive's display name, the notification-area
// icon with its balloon, the drive-removed notices, and a person who answers message boxes
// from a script. Created after a SimulatedMachine and gone before it; the workflows call these
// from their own threads, so everything a test reads while they run is behind a lock.
#pragma once
#include "sim/machine.h"

#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

struct NotifyIconCall {
    DWORD message;  // NIM_ADD, NIM_MODIFY, NIM_DELETE
    DWORD size;     // cbSize
    HWND window;
    UINT id;
    UINT flags;
    UINT callbackMessage;
    std::wstring tip, infoTitle, info;
    DWORD infoFlags;
};

struct ChangeRegistration {
    HWND window;
    int sources;
    LONG events;
    UINT message;
    int entries;
    BOOL recursive;
    bool itemGiven;
    ULONG id;
    bool deregistered;
};

class SimulatedShell {
public:
    explicit SimulatedShell(SimulatedMachine& machine);
    ~SimulatedShell();
    SimulatedShell(const SimulatedShell&) = delete;
    SimulatedShell& operator=(const SimulatedShell&) = delete;

    // Display names by root path ("R:\\"); a root without one makes SHGetFileInfoW fail.
    std::map<std::wstring, std::wstring> displayNames;

    // The person's answers, in order; once they run out, the machine's messageBoxAnswer.
    // onMessageBox runs before each answer with the box's index (what the person does meanwhile).
    std::deque<int> answers;
    std::function<void(size_t index)> onMessageBox;

    // The notification area. After a balloon is shown, balloonEnds (a NIN_* or mouse message;
    // 0 for none) is posted to the icon's window as the system would.
    bool addFails = false;
    bool modifyFails = false;
    UINT balloonEnds = NIN_BALLOONTIMEOUT;
    std::vector<NotifyIconCall> iconCalls() const;

    // Drive notices.
    bool registrationFails = false;
    std::vector<ChangeRegistration> registrations() const;
    int lockCount() const;
    int unlockCount() const;
    // Delivers a notice to every live registration for that event, as the shell's new delivery
    // does, and returns once each watcher has handled it (bounded).
    void deliver(LONG event, const std::wstring& path);
    // Waits, bounded in real time, until every registration has been given up.
    bool waitUntilDeregistered(DWORD limitMs) const;

    static SimulatedShell& current();

    // Used by the seam functions.
    mutable std::mutex lock;
    SimulatedMachine& machine;
    std::vector<NotifyIconCall> iconCalls_;
    std::vector<ChangeRegistration> registrations_;
    struct Notice {
        LONG event;
        std::wstring path;
    };
    std::deque<Notice> notices;  // kept for the life of the shell: their addresses are the item lists
    int locks = 0, unlocks = 0;

private:
    SystemCalls saved_;
};
