// The system-call seam. Every call that reaches hardware, drivers or device configuration,
// blocks on a person, or that a test must steer goes through this one table. Shipped
// programs use it as filled here with the real functions; only test code ever changes it.
#pragma once
#include "platform/win.h"

struct SystemCalls {
    // Version and platform. getNativeSystemInfo is looked up at run time: it is absent before
    // XP, and a missing entry counts as an unknown architecture.
    BOOL(WINAPI* getVersionExW)(OSVERSIONINFOW* info);
    FARPROC(WINAPI* getProcAddress)(HMODULE module, LPCSTR name);
    BOOL(WINAPI* isUserAnAdmin)(void);

    // Disks and volumes opened by their "\\.\" device paths, and their handles.
    HANDLE(WINAPI* createFileW)(LPCWSTR path, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security,
                                DWORD disposition, DWORD flags, HANDLE templateFile);
    BOOL(WINAPI* deviceIoControl)(HANDLE device, DWORD code, LPVOID in, DWORD inSize, LPVOID out, DWORD outSize,
                                  LPDWORD returned, LPOVERLAPPED overlapped);
    BOOL(WINAPI* setFilePointerEx)(HANDLE file, LARGE_INTEGER distance, PLARGE_INTEGER newPosition, DWORD method);
    BOOL(WINAPI* readFile)(HANDLE file, LPVOID buffer, DWORD size, LPDWORD read, LPOVERLAPPED overlapped);
    BOOL(WINAPI* flushFileBuffers)(HANDLE file);
    BOOL(WINAPI* closeHandle)(HANDLE handle);
    void(WINAPI* shChangeNotify)(LONG event, UINT flags, LPCVOID item1, LPCVOID item2);

    // The process list: the usage scan walks it. Steered by tests for lists they cannot make.
    BOOL(WINAPI* enumProcesses)(DWORD* ids, DWORD size, DWORD* returned);

    // Time: the waits and retry pauses run on this clock.
    DWORD(WINAPI* getTickCount)(void);
    void(WINAPI* sleep)(DWORD milliseconds);

    // What a person sees or answers.
    int(WINAPI* messageBoxW)(HWND owner, LPCWSTR text, LPCWSTR caption, UINT type);
    HINSTANCE(WINAPI* shellExecuteW)(HWND owner, LPCWSTR verb, LPCWSTR file, LPCWSTR parameters,
                                     LPCWSTR directory, INT show);
    BOOL(WINAPI* shellExecuteExW)(SHELLEXECUTEINFOW* info);
};

// The table in force. Read it through sys(); it starts filled with the real functions.
extern SystemCalls g_systemCalls;
inline const SystemCalls& sys() { return g_systemCalls; }

// The table as shipped, for a test that wants to start from the real functions.
const SystemCalls& realSystemCalls();
