// Questions both programs ask about the machine: Windows version, native architecture,
// administrator rights and the configured language.
#pragma once
#include "platform/win.h"

#include <stddef.h>

BOOL isWindowsVistaOrLater();
BOOL isWindowsXpOrLater();
BOOL isWindowsVista();
BOOL isWindows7();

// The version gate: shows text 507 and returns FALSE below Windows 6.0.
BOOL checkWindowsVersion();

BOOL isNativeX86();
BOOL isNativeAmd64();
BOOL isUserAdmin();

// The executable's path with everything from its last "." replaced by ".ini".
const wchar_t* getProgramIniPath();
void programIniPathFor(const wchar_t* modulePath, wchar_t* out, size_t capacity);

// Reads [Locale] Language= beside the executable and applies it to texts and the thread.
void applyLanguageSetting();
