// The simulated machine behind the system-call seam. A test creates one on its stack; while
// it lives, every call through the seam reaches it, and the real table is back afterwards.
#pragma once
#include "platform/system_calls.h"

#include <string>
#include <vector>

struct MessageBoxRecord {
    HWND owner;
    std::wstring text;
    std::wstring caption;
    UINT flags;
};

struct ShellLaunchRecord {
    std::wstring verb;
    std::wstring file;
    std::wstring parameters;
};

class SimulatedMachine {
public:
    SimulatedMachine();
    ~SimulatedMachine();
    SimulatedMachine(const SimulatedMachine&) = delete;
    SimulatedMachine& operator=(const SimulatedMachine&) = delete;

    // What the machine reports.
    DWORD majorVersion = 6;
    DWORD minorVersion = 2;
    bool hasGetNativeSystemInfo = true;
    WORD nativeArchitecture = PROCESSOR_ARCHITECTURE_AMD64;
    BOOL userIsAdmin = TRUE;

    // The virtual clock: Sleep advances it; nothing waits for real.
    DWORD now = 1000;
    std::vector<DWORD> sleeps;

    // What a person was shown, and how they answer.
    std::vector<MessageBoxRecord> messageBoxes;
    int messageBoxAnswer = IDOK;
    std::vector<ShellLaunchRecord> shellLaunches;

    static SimulatedMachine& current();

private:
    SystemCalls saved_;
};
