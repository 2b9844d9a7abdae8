#include "common/texts.h"

#include "common/bounded.h"
#include "platform/owners.h"
#if PARVANE_TOOL
#include "tool/shell/tool_state.h"
#endif

namespace {

const wchar_t kVersion[] = L"Ver.5.1.0";
const MessageCode kCacheFirstId = 100;
const MessageCode kCacheLastId = 599;

wchar_t g_overrideIniPath[PATH_CAPACITY];
bool g_overridePathKnown = false;
wchar_t g_override[TEXT_CAPACITY];
wchar_t g_message[TEXT_CAPACITY];
wchar_t g_productName[TITLE_CAPACITY];
wchar_t g_version[VERSION_CAPACITY];
wchar_t g_versionCaption[TITLE_CAPACITY];
wchar_t g_windowTitle[TITLE_CAPACITY];
LANGID g_textLanguage = 0;

#if PARVANE_TOOL
wchar_t g_messageAlt[TEXT_CAPACITY];
wchar_t g_cache[kCacheLastId - kCacheFirstId + 1][TEXT_CAPACITY];
#else
wchar_t g_toolWindowTitle[TITLE_CAPACITY];
#endif

#if PARVANE_TOOL
bool isCached(MessageCode id) { return id >= kCacheFirstId && id <= kCacheLastId; }
#endif

// The drive the override files lie on: the tool's own drive argument, or the drive the
// launcher was started from. 0 when it cannot be told.
wchar_t overrideDriveLetter() {
#if PARVANE_TOOL
    return driveArgument[0];
#else
    wchar_t modulePath[PATH_CAPACITY];
    if (GetModuleFileNameW(nullptr, modulePath, PATH_CAPACITY) == 0) return 0;
    return modulePath[0];
#endif
}

bool fileExists(const wchar_t* path) {
    return GetFileAttributesW(path) != INVALID_FILE_ATTRIBUTES;
}

bool ensureOverridePath() {
    if (g_overridePathKnown) return true;
    wchar_t drive = overrideDriveLetter();
    if (drive == 0) return false;
    wchar_t language[128] = L"";
    GetLocaleInfoW(LOCALE_USER_DEFAULT, LOCALE_SENGLANGUAGE, language, 128);
    formatText(g_overrideIniPath, PATH_CAPACITY, L"%c:\\extra\\%s.ini", drive, language);
#if PARVANE_TOOL
    ScopedErrorMode quiet(SEM_FAILCRITICALERRORS);
#endif
    if (!fileExists(g_overrideIniPath))
        formatText(g_overrideIniPath, PATH_CAPACITY, L"%c:\\extra\\default.ini", drive);
    g_overridePathKnown = true;
    return true;
}

const wchar_t* keyFor(MessageCode id, wchar_t (&decimal)[KEY_CAPACITY]) {
    for (const MessageKey* k = messageKeyTable; k->key; ++k)
        if (k->id == id) return k->key;
    formatText(decimal, KEY_CAPACITY, L"%d", id);
    return decimal;
}

// A string of this program's table in the pinned language. The resource loader on Vista and
// later chooses by the thread's UI language, not by its locale, and a later thread would not
// inherit either, so the chosen language is looked up explicitly.
int loadPinnedString(UINT id, wchar_t* buffer, size_t capacity) {
    HMODULE self = GetModuleHandleW(nullptr);
    HRSRC block = FindResourceExW(self, RT_STRING,
                                  MAKEINTRESOURCEW((id >> 4) + 1), g_textLanguage);
    if (!block) return 0;
    HGLOBAL loaded = LoadResource(self, block);
    const WORD* p = loaded ? static_cast<const WORD*>(LockResource(loaded)) : nullptr;
    if (!p) return 0;
    // A block holds 16 strings, each its length followed by its units.
    size_t units = SizeofResource(self, block) / sizeof(WORD);
    size_t at = 0;
    for (UINT index = 0; index < (id & 15u); ++index) {
        if (at >= units) return 0;
        at += 1 + static_cast<size_t>(p[at]);
    }
    if (at >= units || p[at] == 0 || p[at] > units - at - 1) return 0;
    size_t length = p[at] < capacity ? p[at] : capacity - 1;
    for (size_t i = 0; i < length; ++i) buffer[i] = static_cast<wchar_t>(p[at + 1 + i]);
    buffer[length] = 0;
    return static_cast<int>(length);
}

// LoadStringW takes only the ids a string table can hold.
int loadOwnString(MessageCode id, wchar_t* buffer, size_t capacity) {
    if (id < 1 || id > 65535 || capacity == 0) return 0;
    if (g_textLanguage != 0) {
        int n = loadPinnedString(static_cast<UINT>(id), buffer, capacity);
        if (n > 0) return n;
    }
    int cap = capacity > 0x7FFFFFFF ? 0x7FFFFFFF : static_cast<int>(capacity);
    return LoadStringW(GetModuleHandleW(nullptr), static_cast<UINT>(id), buffer, cap);
}

void buildWindowTitle(wchar_t (&title)[TITLE_CAPACITY], bool toolForm) {
    wchar_t name[TITLE_CAPACITY];
    getMessageText(MSG_PRODUCT_NAME, name, TITLE_CAPACITY);
    if (toolForm) appendText(name, L"#");
    formatText(title, TITLE_CAPACITY, L"%s@%s %s", messageText(MSG_TOOL_NAME), name, versionString());
}

}  // namespace

const MessageKey messageKeyTable[] = {
#include "common/message_keys.inc"
    {0, nullptr},
};

const wchar_t* readMessageOverride(MessageCode id) {
    g_override[0] = 0;
    if (!ensureOverridePath()) return g_override;
    wchar_t decimal[KEY_CAPACITY];
    const wchar_t* key = keyFor(id, decimal);
#if PARVANE_TOOL
    if (!isCached(id)) return g_override;
    const wchar_t* slot = g_cache[id - kCacheFirstId];
    if (slot[0]) {
        copyText(g_override, slot);
        return g_override;
    }
    // The drive may be gone by now: a read must not raise the system's critical-error box.
    ScopedErrorMode quiet(SEM_FAILCRITICALERRORS);
#endif
    GetPrivateProfileStringW(OVERRIDE_SECTION, key, L"", g_override, TEXT_CAPACITY, g_overrideIniPath);
    expandLineBreaks(g_override);
    return g_override;
}

#if PARVANE_TOOL
void preloadMessageOverrides() {
    static const MessageCode kPreloaded[] = {
        101, 102, 103, 104, 105, 106, 107, 108,
        501, 502, 503, 504, 505, 506, 507, 508, 509,
        513, 514, 515, 516, 517, 518,
        520, 521, 528,
        530, 531, 532, 533,
        535, 537,
        542, 543, 544, 545, 546, 547, 548, 549,
    };
    ZeroMemory(g_cache, sizeof(g_cache));
    for (MessageCode id : kPreloaded) copyText(g_cache[id - kCacheFirstId], readMessageOverride(id));
}

const wchar_t* messageTextAlt(MessageCode id) { return getMessageText(id, g_messageAlt, TEXT_CAPACITY); }
#endif

wchar_t* getMessageText(MessageCode id, wchar_t* buffer, size_t capacity) {
    if (!buffer || capacity == 0) return buffer;
    if (copyText(buffer, capacity, readMessageOverride(id)) > 0) return buffer;
    if (loadOwnString(id, buffer, capacity) > 0) return buffer;
    wchar_t fallback[TEXT_CAPACITY];
    copyText(fallback, readMessageOverride(MSG_ERROR_ANY));
    if (!fallback[0] && loadOwnString(MSG_ERROR_ANY, fallback, TEXT_CAPACITY) <= 0) fallback[0] = 0;
    formatText(buffer, capacity, L"%s(%d)", fallback, id);
    return buffer;
}

const wchar_t* messageText(MessageCode id) { return getMessageText(id, g_message, TEXT_CAPACITY); }

const wchar_t* productName() {
    getMessageText(MSG_PRODUCT_NAME, g_productName, TITLE_CAPACITY);
#if PARVANE_TOOL
    appendText(g_productName, L"#");
#endif
    return g_productName;
}

const wchar_t* versionString() {
    copyText(g_version, kVersion);
    return g_version;
}

const wchar_t* versionCaption() {
    formatText(g_versionCaption, TITLE_CAPACITY, L"%s %s", productName(), versionString());
    return g_versionCaption;
}

const wchar_t* windowTitle() {
    buildWindowTitle(g_windowTitle, PARVANE_TOOL != 0);
    return g_windowTitle;
}

#if !PARVANE_TOOL
const wchar_t* toolWindowTitle() {
    buildWindowTitle(g_toolWindowTitle, true);
    g_toolWindowTitle[MAIN_WINDOW_TITLE_CAPACITY - 1] = 0;
    return g_toolWindowTitle;
}
#endif

void setTextLanguage(LANGID language) { g_textLanguage = language; }
