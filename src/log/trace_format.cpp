#include "log/trace_format.h"

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <cwchar>

namespace tavo {
namespace {

class Sink {
public:
    Sink(char* out, std::size_t capacity) : out_(out), room_(capacity - 1) {}
    void Put(char c) {
        if (len_ < room_) out_[len_++] = c;
    }
    void Put(const char* s, std::size_t n) {
        for (std::size_t i = 0; i < n; ++i) Put(s[i]);
    }
    void Pad(char c, int n) {
        for (int i = 0; i < n; ++i) Put(c);
    }
    std::size_t Finish() {
        out_[len_] = '\0';
        return len_;
    }

private:
    char* out_;
    std::size_t room_;
    std::size_t len_ = 0;
};

struct Conversion {
    char flags[6] = {};
    int width = -1;
    int precision = -1;
    bool left = false;
    enum Length { kDefault, kChar, kShort, k64, kSize, kWide, kDouble } length = kDefault;
    char conv = 0;
};

char Narrow(wchar_t c) { return static_cast<std::uint32_t>(c) > 0xFF ? '?' : static_cast<char>(c); }

template <typename Ch>
void PutString(Sink& sink, const Conversion& cv, const Ch* s) {
    if (s == nullptr) {
        static const char kNull[] = "(null)";
        PutString(sink, cv, kNull);
        return;
    }
    std::size_t n = 0;
    while (s[n] != 0 && (cv.precision < 0 || n < static_cast<std::size_t>(cv.precision))) ++n;
    int pad = cv.width > static_cast<int>(n) ? cv.width - static_cast<int>(n) : 0;
    if (!cv.left) sink.Pad(' ', pad);
    for (std::size_t i = 0; i < n; ++i) {
        if constexpr (sizeof(Ch) == 1)
            sink.Put(s[i]);
        else
            sink.Put(Narrow(s[i]));
    }
    if (cv.left) sink.Pad(' ', pad);
}

// Formats one numeric conversion through the C library with a normalised conversion.
template <typename T>
void PutNumber(Sink& sink, const Conversion& cv, const char* lengthMod, char conv, T value) {
    char fmt[32];
    char* f = fmt;
    *f++ = '%';
    for (const char* p = cv.flags; *p; ++p) *f++ = *p;
    *f++ = '*';
    *f++ = '.';
    *f++ = '*';
    for (const char* p = lengthMod; *p; ++p) *f++ = *p;
    *f++ = conv;
    *f = '\0';
    char buf[128];
    int n = std::snprintf(buf, sizeof buf, fmt, cv.width < 0 ? 0 : (cv.width > 100 ? 100 : cv.width),
                          cv.precision > 100 ? 100 : cv.precision, value);
    if (n > 0) sink.Put(buf, static_cast<std::size_t>(n) < sizeof buf ? static_cast<std::size_t>(n) : sizeof buf - 1);
}

}  // namespace

std::string NarrowText(std::wstring_view text) {
    std::string out;
    out.reserve(text.size());
    for (wchar_t c : text) out.push_back(Narrow(c));
    return out;
}

std::size_t FormatTrace(char* out, std::size_t capacity, const char* format, va_list args) {
    Sink sink(out, capacity);
    va_list ap;
    va_copy(ap, args);
    for (const char* p = format; p && *p; ++p) {
        if (*p != '%') {
            sink.Put(*p);
            continue;
        }
        const char* start = p++;
        if (*p == '%') {
            sink.Put('%');
            continue;
        }
        Conversion cv;
        std::size_t nf = 0;
        while (*p && std::strchr("-+ #0", *p)) {
            if (*p == '-') cv.left = true;
            if (nf < sizeof cv.flags - 1) cv.flags[nf++] = *p;
            ++p;
        }
        if (*p == '*') {
            cv.width = va_arg(ap, int);
            if (cv.width < 0) {
                cv.left = true;
                cv.width = -cv.width;
                if (nf < sizeof cv.flags - 1) cv.flags[nf++] = '-';
            }
            ++p;
        } else if (*p >= '0' && *p <= '9') {
            cv.width = 0;
            while (*p >= '0' && *p <= '9') cv.width = cv.width * 10 + (*p++ - '0');
        }
        if (*p == '.') {
            ++p;
            cv.precision = 0;
            if (*p == '*') {
                cv.precision = va_arg(ap, int);
                ++p;
            } else {
                while (*p >= '0' && *p <= '9') cv.precision = cv.precision * 10 + (*p++ - '0');
            }
        }
        if (std::strncmp(p, "I64", 3) == 0) {
            cv.length = Conversion::k64;
            p += 3;
        } else if (std::strncmp(p, "I32", 3) == 0) {
            p += 3;
        } else if (*p == 'h') {
            cv.length = (p[1] == 'h') ? Conversion::kChar : Conversion::kShort;
            p += (p[1] == 'h') ? 2 : 1;
        } else if (*p == 'l') {
            if (p[1] == 'l') {
                cv.length = Conversion::k64;
                p += 2;
            } else {
                cv.length = Conversion::kWide;  // 32-bit for integers, wide for strings
                ++p;
            }
        } else if (*p == 'w') {
            cv.length = Conversion::kWide;
            ++p;
        } else if (*p == 'I' || *p == 'z' || *p == 'j' || *p == 't') {
            cv.length = Conversion::kSize;
            ++p;
        } else if (*p == 'L') {
            cv.length = Conversion::kDouble;
            ++p;
        }
        cv.conv = *p;
        switch (cv.conv) {
            case 'd':
            case 'i':
                if (cv.length == Conversion::k64 || cv.length == Conversion::kSize)
                    PutNumber(sink, cv, "ll", 'd', static_cast<long long>(va_arg(ap, long long)));
                else {
                    int v = va_arg(ap, int);
                    if (cv.length == Conversion::kShort) v = static_cast<short>(v);
                    if (cv.length == Conversion::kChar) v = static_cast<signed char>(v);
                    PutNumber(sink, cv, "", 'd', v);
                }
                break;
            case 'u':
            case 'x':
            case 'X':
            case 'o':
                if (cv.length == Conversion::k64 || cv.length == Conversion::kSize)
                    PutNumber(sink, cv, "ll", cv.conv, static_cast<unsigned long long>(va_arg(ap, unsigned long long)));
                else {
                    unsigned v = va_arg(ap, unsigned);
                    if (cv.length == Conversion::kShort) v = static_cast<unsigned short>(v);
                    if (cv.length == Conversion::kChar) v = static_cast<unsigned char>(v);
                    PutNumber(sink, cv, "", cv.conv, v);
                }
                break;
            case 'p': {
                Conversion ps;
                ps.precision = 16;
                PutNumber(sink, ps, "ll", 'X',
                          static_cast<unsigned long long>(reinterpret_cast<std::uintptr_t>(va_arg(ap, void*))));
                break;
            }
            case 'c':
            case 'C': {
                int v = va_arg(ap, int);
                char c = (cv.conv == 'C' || cv.length == Conversion::kWide) ? Narrow(static_cast<wchar_t>(v))
                                                                           : static_cast<char>(v);
                int pad = cv.width > 1 ? cv.width - 1 : 0;
                if (!cv.left) sink.Pad(' ', pad);
                sink.Put(c);
                if (cv.left) sink.Pad(' ', pad);
                break;
            }
            case 's':
                if (cv.length == Conversion::kWide)
                    PutString(sink, cv, va_arg(ap, const wchar_t*));
                else
                    PutString(sink, cv, va_arg(ap, const char*));
                break;
            case 'S':
                PutString(sink, cv, va_arg(ap, const wchar_t*));
                break;
            case 'e':
            case 'E':
            case 'f':
            case 'F':
            case 'g':
            case 'G':
            case 'a':
            case 'A':
                if (cv.length == Conversion::kDouble)
                    PutNumber(sink, cv, "L", cv.conv, va_arg(ap, long double));
                else
                    PutNumber(sink, cv, "", cv.conv, va_arg(ap, double));
                break;
            case 'n':
                // Writing through a caller's pointer from a log line is never wanted.
                (void)va_arg(ap, void*);
                break;
            default:
                // Unknown conversion: keep the text as written, consume nothing.
                for (const char* q = start; q <= p && *q; ++q) sink.Put(*q);
                if (*p == '\0') --p;
                break;
        }
    }
    va_end(ap);
    return sink.Finish();
}

}  // namespace tavo
