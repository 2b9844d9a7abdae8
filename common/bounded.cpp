#include "common/bounded.h"

#include <string.h>
#include <wchar.h>

namespace {

// Writes characters into a fixed buffer, dropping what does not fit but counting nothing
// beyond it; the terminator always has room.
template <typename Ch>
class BoundedWriter {
public:
    BoundedWriter(Ch* dst, size_t capacity) : dst_(dst), capacity_(capacity), length_(0) {
        if (capacity_ > 0) dst_[0] = 0;
    }
    void put(Ch c) {
        if (length_ + 1 < capacity_) {
            dst_[length_++] = c;
            dst_[length_] = 0;
        }
    }
    template <typename Src>
    void putString(const Src* s, size_t precisionLimit = static_cast<size_t>(-1)) {
        if (!s) return;
        for (size_t i = 0; s[i] && i < precisionLimit; ++i) put(narrowOrWide(s[i]));
    }
    size_t length() const { return length_; }

private:
    // Wide to narrow keeps ASCII and turns anything else into '?'; callers that must refuse
    // such text check it before formatting.
    static Ch narrowOrWide(wchar_t c) {
        if (sizeof(Ch) == 1 && static_cast<unsigned>(c) > 0x7F) return static_cast<Ch>('?');
        return static_cast<Ch>(c);
    }
    static Ch narrowOrWide(char c) { return static_cast<Ch>(static_cast<unsigned char>(c)); }

    Ch* dst_;
    size_t capacity_;
    size_t length_;
};

template <typename Ch>
void putNumber(BoundedWriter<Ch>& out, unsigned long long magnitude, bool negative, unsigned base,
               bool upper, unsigned width, bool zeroPad) {
    char digits[24];
    size_t n = 0;
    const char* set = upper ? "0123456789ABCDEF" : "0123456789abcdef";
    do {
        digits[n++] = set[magnitude % base];
        magnitude /= base;
    } while (magnitude && n < sizeof(digits));
    size_t total = n + (negative ? 1 : 0);
    if (negative && zeroPad) out.put('-');
    for (size_t i = total; i < width; ++i) out.put(zeroPad ? '0' : ' ');
    if (negative && !zeroPad) out.put('-');
    while (n) out.put(static_cast<Ch>(digits[--n]));
}

template <typename Ch>
size_t formatAny(Ch* dst, size_t capacity, const Ch* format, va_list args) {
    BoundedWriter<Ch> out(dst, capacity);
    if (!format) return 0;
    for (const Ch* p = format; *p; ++p) {
        if (*p != '%') { out.put(*p); continue; }
        const Ch* start = p++;
        bool zeroPad = false;
        unsigned width = 0;
        if (*p == '0') { zeroPad = true; ++p; }
        while (*p >= '0' && *p <= '9') width = width * 10 + static_cast<unsigned>(*p++ - '0');
        bool longArg = false;
        if (*p == 'l') { longArg = true; ++p; }
        switch (*p) {
        case '%': out.put('%'); break;
        case 'c': out.put(static_cast<Ch>(va_arg(args, int))); break;
        case 's':
            // %s is the program's own character width; %ls is always wide.
            if (sizeof(Ch) != 1 || longArg) out.putString(va_arg(args, const wchar_t*));
            else out.putString(va_arg(args, const char*));
            break;
        case 'S':
            if (sizeof(Ch) == 1) out.putString(va_arg(args, const wchar_t*));
            else out.putString(va_arg(args, const char*));
            break;
        case 'd': {
            long long v = longArg ? va_arg(args, long) : va_arg(args, int);
            unsigned long long m = v < 0 ? 0ULL - static_cast<unsigned long long>(v) : static_cast<unsigned long long>(v);
            putNumber(out, m, v < 0, 10, false, width, zeroPad);
            break;
        }
        case 'u': case 'x': case 'X': {
            unsigned long long v = longArg ? va_arg(args, unsigned long) : va_arg(args, unsigned);
            putNumber(out, v, false, *p == 'u' ? 10 : 16, *p == 'X', width, zeroPad);
            break;
        }
        default:
            // Not a conversion this formatter knows: print it as it stands.
            for (const Ch* q = start; q <= p && *q; ++q) out.put(*q);
            if (!*p) return out.length();
            break;
        }
    }
    return out.length();
}

}  // namespace

size_t copyText(wchar_t* dst, size_t capacity, const wchar_t* src) {
    BoundedWriter<wchar_t> out(dst, capacity);
    out.putString(src);
    return out.length();
}

size_t copyText(char* dst, size_t capacity, const char* src) {
    BoundedWriter<char> out(dst, capacity);
    out.putString(src);
    return out.length();
}

size_t appendText(wchar_t* dst, size_t capacity, const wchar_t* src) {
    if (capacity == 0) return 0;
    size_t used = wcsnlen(dst, capacity - 1);
    dst[used] = 0;
    return used + copyText(dst + used, capacity - used, src);
}

size_t formatTextV(wchar_t* dst, size_t capacity, const wchar_t* format, va_list args) {
    return formatAny<wchar_t>(dst, capacity, format, args);
}

size_t formatText(wchar_t* dst, size_t capacity, const wchar_t* format, ...) {
    va_list args;
    va_start(args, format);
    size_t n = formatTextV(dst, capacity, format, args);
    va_end(args);
    return n;
}

size_t formatNarrowV(char* dst, size_t capacity, const char* format, va_list args) {
    return formatAny<char>(dst, capacity, format, args);
}

size_t formatNarrow(char* dst, size_t capacity, const char* format, ...) {
    va_list args;
    va_start(args, format);
    size_t n = formatNarrowV(dst, capacity, format, args);
    va_end(args);
    return n;
}

size_t substituteText(wchar_t* dst, size_t capacity, const wchar_t* text,
                      const wchar_t* const* args, size_t argCount) {
    BoundedWriter<wchar_t> out(dst, capacity);
    if (!text) return 0;
    size_t next = 0;
    for (const wchar_t* p = text; *p; ++p) {
        if (p[0] == L'%' && p[1] == L's' && next < argCount) {
            out.putString(args[next++]);
            ++p;
        } else {
            out.put(*p);
        }
    }
    return out.length();
}

void expandLineBreaks(wchar_t* text) {
    for (wchar_t* p = text; p[0]; ++p) {
        if (p[0] == L'\\' && p[1] == L'n') {
            p[0] = L'\r';
            p[1] = L'\n';
            ++p;
        }
    }
}

bool equalsIgnoringAsciiCase(const wchar_t* a, const wchar_t* b) {
    for (; foldAscii(*a) == foldAscii(*b); ++a, ++b)
        if (*a == 0) return true;
    return false;
}

bool equalsIgnoringAsciiCase(const wchar_t* a, const wchar_t* b, size_t count) {
    for (size_t i = 0; i < count; ++i) {
        if (foldAscii(a[i]) != foldAscii(b[i])) return false;
        if (a[i] == 0) return true;
    }
    return true;
}
