// Bounded, always-terminating string building. Every text and title of both programs is
// built here, so no caller can write past a fixed buffer: a result that does not fit is cut.
#pragma once
#include <stddef.h>
#include <stdarg.h>

// Copies or appends src; returns the resulting length. capacity counts the terminator.
size_t copyText(wchar_t* dst, size_t capacity, const wchar_t* src);
size_t appendText(wchar_t* dst, size_t capacity, const wchar_t* src);
size_t copyText(char* dst, size_t capacity, const char* src);

// printf-like formatting into a fixed buffer. Understands %s (wide string; %ls too), %c, %d,
// %ld, %u, %x, %X, %% with an optional '0' flag and width. Formats are always the program's
// own literals, never texts read from a file.
// The narrow form also takes %S: a wide string written narrow.
size_t formatText(wchar_t* dst, size_t capacity, const wchar_t* format, ...);
size_t formatTextV(wchar_t* dst, size_t capacity, const wchar_t* format, va_list args);
size_t formatNarrow(char* dst, size_t capacity, const char* format, ...);
size_t formatNarrowV(char* dst, size_t capacity, const char* format, va_list args);

// Fills the "%s" placeholders of a message text with args, in order. Nothing else in the
// text is interpreted, because texts can come from a user-editable file: a stray %d or %n
// prints as it stands. Placeholders beyond argCount are left as "%s".
size_t substituteText(wchar_t* dst, size_t capacity, const wchar_t* text,
                      const wchar_t* const* args, size_t argCount);

// Turns each "\n" (a backslash and an n) of a text read from a file into a line break, in
// place: both are two units, so the text keeps its length.
void expandLineBreaks(wchar_t* text);

// Folds A-Z only: instance IDs, drive letters and file names here are compared that way, never
// by the user's locale.
inline wchar_t foldAscii(wchar_t c) { return c >= L'A' && c <= L'Z' ? static_cast<wchar_t>(c + (L'a' - L'A')) : c; }
bool equalsIgnoringAsciiCase(const wchar_t* a, const wchar_t* b);
// The same over at most `count` units.
bool equalsIgnoringAsciiCase(const wchar_t* a, const wchar_t* b, size_t count);

template <size_t N> size_t copyText(wchar_t (&dst)[N], const wchar_t* src) { return copyText(dst, N, src); }
template <size_t N> size_t appendText(wchar_t (&dst)[N], const wchar_t* src) { return appendText(dst, N, src); }
