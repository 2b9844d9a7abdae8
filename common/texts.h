// Message texts: the override files on the drive, the string tables, and the titles built
// from them. Built in two forms: the removal tool's (PARVANE_TOOL=1) and the launcher's.
//
// Every builder returns a process-wide buffer that its next call overwrites; texts are fetched
// by one thread at a time.
#pragma once
#include "common/message_code.h"
#include "platform/win.h"

#include <stddef.h>

#ifndef PARVANE_TOOL
#error "PARVANE_TOOL must be defined to 1 (removal tool) or 0 (launcher)"
#endif

enum : size_t {
    TEXT_CAPACITY = 1024,
    PATH_CAPACITY = 260,
    TITLE_CAPACITY = 128,
    VERSION_CAPACITY = 32,
    KEY_CAPACITY = 32,
    // The removal tool's main window shows its title in this many units, terminator included.
    MAIN_WINDOW_TITLE_CAPACITY = 64,
};

// Override texts are read from this section of "<drive>:\extra\<language>.ini".
#define OVERRIDE_SECTION L"Parvane"

struct MessageKey {
    MessageCode id;
    const wchar_t* key;  // padded with blanks to 20 characters; null ends the table
};
extern const MessageKey messageKeyTable[];

const wchar_t* readMessageOverride(MessageCode id);
#if PARVANE_TOOL
void preloadMessageOverrides();
const wchar_t* messageTextAlt(MessageCode id);
#endif
wchar_t* getMessageText(MessageCode id, wchar_t* buffer, size_t capacity);
const wchar_t* messageText(MessageCode id);
const wchar_t* productName();
const wchar_t* versionString();
const wchar_t* versionCaption();
const wchar_t* windowTitle();
#if !PARVANE_TOOL
// The title of the removal tool's main window, built and cut exactly as the tool sets it on
// its window (MAIN_WINDOW_TITLE_CAPACITY), so that the launcher finds a running tool even
// when an override makes it long.
const wchar_t* toolWindowTitle();
#endif

// Pins the string-table language, 0 for the user's own. Set by the language setting.
void setTextLanguage(LANGID language);
