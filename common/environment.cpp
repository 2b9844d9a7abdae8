#include "common/environment.h"

#include "common/bounded.h"
#include "common/texts.h"
#include "platform/system_calls.h"

#include <wchar.h>

namespace {

wchar_t g_programIniPath[PATH_CAPACITY];

OSVERSIONINFOW reportedVersion() {
    OSVERSIONINFOW info;
    ZeroMemory(&info, sizeof(info));
    info.dwOSVersionInfoSize = sizeof(info);
    sys().getVersionExW(&info);
    return info;
}

// 0xFFFF when the native architecture cannot be told.
WORD nativeArchitecture() {
    typedef void(WINAPI * GetNativeSystemInfoFn)(SYSTEM_INFO*);
    HMODULE kernel = GetModuleHandleW(L"kernel32");
    FARPROC entry = kernel ? sys().getProcAddress(kernel, "GetNativeSystemInfo") : nullptr;
    if (!entry) return 0xFFFF;
    SYSTEM_INFO info;
    ZeroMemory(&info, sizeof(info));
    reinterpret_cast<GetNativeSystemInfoFn>(reinterpret_cast<void*>(entry))(&info);
    return info.wProcessorArchitecture;
}

struct LanguageChoice {
    const wchar_t* value;
    LCID threadLocale;
    LANGID texts;
};

// Japanese is set as the language-only identifier; the string tables carry Japan's 0x0411.
const LanguageChoice kLanguages[] = {
    {L"EN", 0x0409, 0x0409},
    {L"SC", 0x0804, 0x0804},
    {L"JP", 0x0011, 0x0411},
};

}  // namespace

BOOL isWindowsVistaOrLater() { return reportedVersion().dwMajorVersion >= 6; }

BOOL isWindowsXpOrLater() {
    OSVERSIONINFOW v = reportedVersion();
    return v.dwMajorVersion > 5 || (v.dwMajorVersion == 5 && v.dwMinorVersion >= 1);
}

BOOL isWindowsVista() {
    OSVERSIONINFOW v = reportedVersion();
    return v.dwMajorVersion == 6 && v.dwMinorVersion == 0;
}

BOOL isWindows7() {
    OSVERSIONINFOW v = reportedVersion();
    return v.dwMajorVersion == 6 && v.dwMinorVersion == 1;
}

BOOL checkWindowsVersion() {
    if (isWindowsVistaOrLater()) return TRUE;
    const wchar_t* caption = versionCaption();
    sys().messageBoxW(nullptr, messageText(MSG_WINDOWS_VERSION), caption, MB_ICONERROR);
    return FALSE;
}

BOOL isNativeX86() { return nativeArchitecture() == PROCESSOR_ARCHITECTURE_INTEL; }
BOOL isNativeAmd64() { return nativeArchitecture() == PROCESSOR_ARCHITECTURE_AMD64; }
BOOL isUserAdmin() { return sys().isUserAnAdmin(); }

void programIniPathFor(const wchar_t* modulePath, wchar_t* out, size_t capacity) {
    copyText(out, capacity, modulePath);
    wchar_t* dot = wcsrchr(out, L'.');
    if (dot) *dot = 0;
    appendText(out, capacity, L".ini");
}

const wchar_t* getProgramIniPath() {
    wchar_t modulePath[PATH_CAPACITY] = L"";
    GetModuleFileNameW(nullptr, modulePath, PATH_CAPACITY);
    modulePath[PATH_CAPACITY - 1] = 0;
    programIniPathFor(modulePath, g_programIniPath, PATH_CAPACITY);
    return g_programIniPath;
}

void applyLanguageSetting() {
    wchar_t value[64] = L"";
    GetPrivateProfileStringW(L"Locale", L"Language", L"", value, 64, getProgramIniPath());
    for (const LanguageChoice& choice : kLanguages) {
        if (_wcsicmp(value, choice.value) == 0) {
            SetThreadLocale(choice.threadLocale);
            setTextLanguage(choice.texts);
            return;
        }
    }
}
