#include "log/trace_format.h"

#include <string.h>  // strnlen

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstring>

namespace tavo {
namespace {

char Narrow(wchar_t c) { return static_cast<std::uint32_t>(c) > 0xFF ? '?' : static_cast<char>(c); }

// Keeps what fits and drops the rest. Once it is full the formatter stops: nothing after
// that point can change the output, so no argument is read or converted in vain.
class Sink {
public:
    Sink(char* out, std::size_t capacity) : begin_(out), pos_(out), end_(out + capacity - 1) {}
    bool Full() const { return pos_ == end_; }
    void Put(char c) {
        if (pos_ != end_) *pos_++ = c;
    }
    // Pieces of a conversion: short, often empty, not worth a library call.
    void Put(const char* s, std::size_t n) {
        for (n = std::min(n, Room()); n != 0; --n) *pos_++ = *s++;
    }
    void Pad(char c, std::size_t n) {
        for (n = std::min(n, Room()); n != 0; --n) *pos_++ = c;
    }
    // Literal text of the format up to its next conversion or its end, as far as it fits;
    // returns where it stopped.
    const char* PutLiteral(const char* p) {
        const std::size_t n = std::strcspn(p, "%");
        const std::size_t kept = std::min(n, Room());
        std::memcpy(pos_, p, kept);
        pos_ += kept;
        return p + n;
    }
    // A string up to its terminator or limit characters, as far as it fits; returns the
    // characters taken.
    std::size_t PutText(const char* s, std::size_t limit) {
        const std::size_t n = strnlen(s, std::min(limit, Room()));
        std::memcpy(pos_, s, n);
        pos_ += n;
        return n;
    }
    std::size_t PutText(const wchar_t* s, std::size_t limit) {
        const std::size_t max = std::min(limit, Room());
        std::size_t n = 0;
        for (; n < max && s[n] != 0; ++n) pos_[n] = Narrow(s[n]);
        pos_ += n;
        return n;
    }
    std::size_t Finish() {
        *pos_ = '\0';
        return static_cast<std::size_t>(pos_ - begin_);
    }

private:
    std::size_t Room() const { return static_cast<std::size_t>(end_ - pos_); }

    char* begin_;
    char* pos_;
    char* end_;
};

struct Conversion {
    bool left = false, plus = false, space = false, alt = false, zero = false;
    int width = -1;      // -1: none given
    int precision = -1;  // -1: none given (a negative "*" precision counts as none)
    enum Length { kDefault, kChar, kShort, k64, kSize, kWide, kDouble } length = kDefault;
    char conv = 0;
};

bool TakeFlag(Conversion& cv, char c) {
    switch (c) {
        case '-': cv.left = true; return true;
        case '+': cv.plus = true; return true;
        case ' ': cv.space = true; return true;
        case '#': cv.alt = true; return true;
        case '0': cv.zero = true; return true;
        default: return false;
    }
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// Decimal digits at p, saturating rather than overflowing; 0 when there are none.
int TakeNumber(const char*& p) {
    int n = 0;
    for (; IsDigit(*p); ++p) n = n > (INT_MAX - 9) / 10 ? INT_MAX : n * 10 + (*p - '0');
    return n;
}

std::size_t Length(const char* s, std::size_t max) { return strnlen(s, max); }
std::size_t Length(const wchar_t* s, std::size_t max) {
    std::size_t n = 0;
    while (n < max && s[n] != 0) ++n;
    return n;
}

// Reads only as much of the string as can reach the output: what fits and, for a
// right-aligned field, what decides its padding.
template <typename Ch>
void PutString(Sink& sink, const Conversion& cv, const Ch* s) {
    if (s == nullptr) {
        PutString(sink, cv, "(null)");
        return;
    }
    const std::size_t limit = cv.precision < 0 ? SIZE_MAX : static_cast<std::size_t>(cv.precision);
    const std::size_t width = cv.width > 0 ? static_cast<std::size_t>(cv.width) : 0;
    if (!cv.left && width > 0) {
        const std::size_t n = Length(s, std::min(limit, width));
        if (n < width) sink.Pad(' ', width - n);
    }
    const std::size_t n = sink.PutText(s, limit);
    if (cv.left && n < width) sink.Pad(' ', width - n);
}

// One integer conversion as the C library prints it (sign, "#", zero padding, precision),
// with width and precision capped at 100.
template <typename U>
void PutInteger(Sink& sink, const Conversion& cv, U magnitude, bool negative, bool isSigned) {
    const bool zeroValue = magnitude == 0;
    char digits[24];  // a 64-bit value in octal: 22 digits
    char* const end = digits + sizeof digits;
    char* d = end;
    if (cv.conv == 'x' || cv.conv == 'X') {
        const char* set = cv.conv == 'x' ? "0123456789abcdef" : "0123456789ABCDEF";
        for (; magnitude != 0; magnitude >>= 4) *--d = set[magnitude & 15];
    } else if (cv.conv == 'o') {
        for (; magnitude != 0; magnitude >>= 3) *--d = static_cast<char>('0' + (magnitude & 7));
    } else {
        for (; magnitude != 0; magnitude /= 10) *--d = static_cast<char>('0' + magnitude % 10);
    }
    const std::size_t ndigits = static_cast<std::size_t>(end - d);
    const int precision = std::min(cv.precision, 100);
    std::size_t zeros = precision < 0 ? (ndigits == 0 ? 1 : 0)
                                      : (static_cast<std::size_t>(precision) > ndigits ? static_cast<std::size_t>(precision) - ndigits : 0);
    if (cv.alt && cv.conv == 'o' && zeros == 0) zeros = 1;

    char prefix[2];
    std::size_t nprefix = 0;
    if (negative)
        prefix[nprefix++] = '-';
    else if (isSigned && cv.plus)
        prefix[nprefix++] = '+';
    else if (isSigned && cv.space)
        prefix[nprefix++] = ' ';
    if (cv.alt && (cv.conv == 'x' || cv.conv == 'X') && !zeroValue) {
        prefix[nprefix++] = '0';
        prefix[nprefix++] = cv.conv;
    }

    const std::size_t width = static_cast<std::size_t>(std::clamp(cv.width, 0, 100));
    const std::size_t length = nprefix + zeros + ndigits;
    std::size_t pad = width > length ? width - length : 0;
    if (cv.zero && !cv.left && precision < 0) {
        zeros += pad;
        pad = 0;
    }
    if (!cv.left) sink.Pad(' ', pad);
    sink.Put(prefix, nprefix);
    sink.Pad('0', zeros);
    sink.Put(d, ndigits);
    if (cv.left) sink.Pad(' ', pad);
}

void PutSigned(Sink& sink, const Conversion& cv, long long v) {
    const unsigned long long magnitude = v < 0 ? 0ull - static_cast<unsigned long long>(v)
                                               : static_cast<unsigned long long>(v);
    PutInteger(sink, cv, magnitude, v < 0, true);
}
void PutSigned(Sink& sink, const Conversion& cv, int v) {
    const unsigned magnitude = v < 0 ? 0u - static_cast<unsigned>(v) : static_cast<unsigned>(v);
    PutInteger(sink, cv, magnitude, v < 0, true);
}

// Floating point, never logged by the service, through the C library with the same caps.
template <typename T>
void PutFloat(Sink& sink, const Conversion& cv, const char* lengthMod, T value) {
    char fmt[16];
    char* f = fmt;
    *f++ = '%';
    if (cv.left) *f++ = '-';
    if (cv.plus) *f++ = '+';
    if (cv.space) *f++ = ' ';
    if (cv.alt) *f++ = '#';
    if (cv.zero) *f++ = '0';
    *f++ = '*';
    *f++ = '.';
    *f++ = '*';
    for (const char* p = lengthMod; *p; ++p) *f++ = *p;
    *f++ = cv.conv;
    *f = '\0';
    char buf[128];
    int n = std::snprintf(buf, sizeof buf, fmt, std::clamp(cv.width, 0, 100), std::min(cv.precision, 100), value);
    if (n > 0) sink.Put(buf, std::min(static_cast<std::size_t>(n), sizeof buf - 1));
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
    if (format == nullptr) return sink.Finish();
    va_list ap;
    va_copy(ap, args);
    const char* p = format;
    while (!sink.Full()) {
        p = sink.PutLiteral(p);
        if (*p != '%') break;
        const char* start = p++;
        if (*p == '%') {
            sink.Put('%');
            ++p;
            continue;
        }
        Conversion cv;
        while (TakeFlag(cv, *p)) ++p;
        if (*p == '*') {
            int width = va_arg(ap, int);
            if (width < 0) {
                cv.left = true;
                width = width == INT_MIN ? 0 : -width;  // no positive counterpart: no padding
            }
            cv.width = width;
            ++p;
        } else if (IsDigit(*p)) {
            cv.width = TakeNumber(p);
        }
        if (*p == '.') {
            ++p;
            if (*p == '*') {
                const int precision = va_arg(ap, int);
                cv.precision = precision < 0 ? -1 : precision;
                ++p;
            } else {
                cv.precision = TakeNumber(p);
            }
        }
        if (p[0] == 'I' && p[1] == '6' && p[2] == '4') {
            cv.length = Conversion::k64;
            p += 3;
        } else if (p[0] == 'I' && p[1] == '3' && p[2] == '2') {
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
        const bool wide64 = cv.length == Conversion::k64 || cv.length == Conversion::kSize;
        switch (cv.conv) {
            case 'd':
            case 'i':
                if (wide64) {
                    PutSigned(sink, cv, va_arg(ap, long long));
                } else {
                    int v = va_arg(ap, int);
                    if (cv.length == Conversion::kShort) v = static_cast<short>(v);
                    if (cv.length == Conversion::kChar) v = static_cast<signed char>(v);
                    PutSigned(sink, cv, v);
                }
                break;
            case 'u':
            case 'x':
            case 'X':
            case 'o':
                if (wide64) {
                    PutInteger(sink, cv, va_arg(ap, unsigned long long), false, false);
                } else {
                    unsigned v = va_arg(ap, unsigned);
                    if (cv.length == Conversion::kShort) v = static_cast<unsigned short>(v);
                    if (cv.length == Conversion::kChar) v = static_cast<unsigned char>(v);
                    PutInteger(sink, cv, v, false, false);
                }
                break;
            case 'p': {
                Conversion ps;
                ps.precision = 16;
                ps.conv = 'X';
                PutInteger(sink, ps, static_cast<unsigned long long>(reinterpret_cast<std::uintptr_t>(va_arg(ap, void*))),
                           false, false);
                break;
            }
            case 'c':
            case 'C': {
                int v = va_arg(ap, int);
                char c = (cv.conv == 'C' || cv.length == Conversion::kWide) ? Narrow(static_cast<wchar_t>(v))
                                                                           : static_cast<char>(v);
                std::size_t pad = cv.width > 1 ? static_cast<std::size_t>(cv.width) - 1 : 0;
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
                    PutFloat(sink, cv, "L", va_arg(ap, long double));
                else
                    PutFloat(sink, cv, "", va_arg(ap, double));
                break;
            case 'n':
                // Writing through a caller's pointer from a log line is never wanted.
                (void)va_arg(ap, void*);
                break;
            default:
                // Unknown conversion: keep the text as written, consume nothing.
                sink.Put(start, static_cast<std::size_t>(p - start) + (*p != '\0' ? 1 : 0));
                if (*p == '\0') --p;
                break;
        }
        ++p;
    }
    va_end(ap);
    return sink.Finish();
}

}  // namespace tavo
