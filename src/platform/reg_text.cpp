#include "platform/reg_text.h"

#include <array>

namespace tavo {

namespace {

constexpr std::uint32_t kRegSz = 1;
constexpr std::uint32_t kRegBinary = 3;
constexpr std::uint32_t kRegDword = 4;

// Text for a message: UTF-8, control characters shown as '?', long texts cut.
std::string Quote(std::wstring_view text) {
    std::string out = "\"";
    std::size_t n = 0;
    for (wchar_t c : text) {
        if (++n > 60) {
            out += "...";
            break;
        }
        const auto u = static_cast<std::uint32_t>(c);
        if (u < 0x20 || u == 0x7F) {
            out += '?';
        } else if (u < 0x80) {
            out += static_cast<char>(u);
        } else if (u < 0x800) {
            out += static_cast<char>(0xC0 | (u >> 6));
            out += static_cast<char>(0x80 | (u & 0x3F));
        } else if (u < 0x10000) {
            out += static_cast<char>(0xE0 | (u >> 12));
            out += static_cast<char>(0x80 | ((u >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (u & 0x3F));
        } else {
            out += '?';
        }
    }
    return out + "\"";
}

std::wstring_view Trim(std::wstring_view s) {
    while (!s.empty() && (s.front() == L' ' || s.front() == L'\t')) s.remove_prefix(1);
    while (!s.empty() && (s.back() == L' ' || s.back() == L'\t')) s.remove_suffix(1);
    return s;
}

int HexDigit(wchar_t c) {
    if (c >= L'0' && c <= L'9') return c - L'0';
    if (c >= L'a' && c <= L'f') return c - L'a' + 10;
    if (c >= L'A' && c <= L'F') return c - L'A' + 10;
    return -1;
}

struct RootName {
    std::wstring_view name;
    std::wstring_view canonical;
};
constexpr std::array<RootName, 8> kRoots{{{L"HKEY_LOCAL_MACHINE", L"HKEY_LOCAL_MACHINE"},
                                          {L"HKLM", L"HKEY_LOCAL_MACHINE"},
                                          {L"HKEY_CURRENT_USER", L"HKEY_CURRENT_USER"},
                                          {L"HKCU", L"HKEY_CURRENT_USER"},
                                          {L"HKEY_CLASSES_ROOT", L"HKEY_CLASSES_ROOT"},
                                          {L"HKCR", L"HKEY_CLASSES_ROOT"},
                                          {L"HKEY_USERS", L"HKEY_USERS"},
                                          {L"HKU", L"HKEY_USERS"}}};

bool SameAscii(std::wstring_view a, std::wstring_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        wchar_t x = a[i], y = b[i];
        if (x >= L'a' && x <= L'z') x = static_cast<wchar_t>(x - 32);
        if (y >= L'a' && y <= L'z') y = static_cast<wchar_t>(y - 32);
        if (x != y) return false;
    }
    return true;
}

// One logical line being read: the text and where it starts.
class LineParser {
public:
    LineParser(std::string_view file, int line) : file_(file), line_(line) {}

    [[noreturn]] void Fail(const std::string& expected, std::wstring_view got) const {
        throw RegTextError(std::string(file_), line_, "expected " + expected + ", got " +
                                                          (got.empty() ? std::string("the end of the line") : Quote(got)));
    }

    // A key section: "[PATH]" or "[-PATH]".
    RegOperation Section(std::wstring_view l) const {
        const std::size_t close = l.find(L']');
        if (close == std::wstring_view::npos) Fail("']' closing the key name", l);
        if (!Trim(l.substr(close + 1)).empty()) Fail("nothing after the key's ']'", Trim(l.substr(close + 1)));
        std::wstring_view path = l.substr(1, close - 1);
        RegOperation op;
        op.line = line_;
        op.kind = RegOperation::Kind::CreateKey;
        if (!path.empty() && path.front() == L'-') {
            op.kind = RegOperation::Kind::DeleteKey;
            path.remove_prefix(1);
        }
        if (RegRootName(path).empty())
            Fail("a key path starting with HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER, HKEY_CLASSES_ROOT or HKEY_USERS "
                 "(or HKLM, HKCU, HKCR, HKU)",
                 path);
        op.key = std::wstring(path);
        return op;
    }

    // A value line under the key: "name"=DATA or @=DATA.
    RegOperation Value(std::wstring_view l, const std::wstring& key) const {
        RegOperation op;
        op.line = line_;
        op.key = key;
        std::wstring_view rest = l;
        if (rest.front() == L'@') {
            rest.remove_prefix(1);
        } else if (rest.front() == L'"') {
            op.name = Quoted(rest, "the value's name");
        } else {
            Fail("a key section [ROOT\\path], a value \"name\"=... or @=..., or a comment ';'", l);
        }
        rest = Trim(rest);
        if (rest.empty() || rest.front() != L'=') Fail("'=' after the value's name", rest);
        rest = Trim(rest.substr(1));
        if (rest == L"-") {
            op.kind = RegOperation::Kind::DeleteValue;
            return op;
        }
        op.kind = RegOperation::Kind::SetValue;
        if (!rest.empty() && rest.front() == L'"') {
            op.type = kRegSz;
            op.quoted = true;
            op.text = Quoted(rest, "the string");
            if (!Trim(rest).empty()) Fail("the end of the line after the closing '\"'", Trim(rest));
        } else if (rest.starts_with(L"dword:")) {
            op.type = kRegDword;
            const std::uint32_t v = HexNumber(rest.substr(6), "dword:XXXXXXXX (1 to 8 hex digits)", rest);
            for (int i = 0; i < 4; ++i) op.data.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
        } else if (rest.starts_with(L"hex(")) {
            const std::size_t close = rest.find(L"):");
            if (close == std::wstring_view::npos) Fail("hex(TYPE):bytes, TYPE in hex", rest);
            op.type = HexNumber(rest.substr(4, close - 4), "hex(TYPE):bytes, TYPE 1 to 8 hex digits", rest);
            op.data = HexBytes(rest.substr(close + 2));
        } else if (rest.starts_with(L"hex:")) {
            op.type = kRegBinary;
            op.data = HexBytes(rest.substr(4));
        } else {
            Fail("a value: \"text\", dword:XXXXXXXX, hex:bytes, hex(TYPE):bytes or - to delete", rest);
        }
        return op;
    }

private:
    // Reads a quoted text at s[0] == '"' and moves s past it.
    std::wstring Quoted(std::wstring_view& s, const char* what) const {
        std::wstring out;
        std::size_t i = 1;
        for (; i < s.size() && s[i] != L'"'; ++i) {
            if (s[i] == L'\\') {
                if (i + 1 >= s.size() || (s[i + 1] != L'\\' && s[i + 1] != L'"'))
                    Fail(std::string("\\\\ or \\\" after a backslash in ") + what, s.substr(i));
                ++i;
            }
            out += s[i];
        }
        if (i >= s.size()) Fail(std::string("a closing '\"' after ") + what, s);
        s.remove_prefix(i + 1);
        return out;
    }

    std::uint32_t HexNumber(std::wstring_view digits, const char* expected, std::wstring_view whole) const {
        digits = Trim(digits);
        if (digits.empty() || digits.size() > 8) Fail(expected, whole);
        std::uint32_t v = 0;
        for (wchar_t c : digits) {
            const int d = HexDigit(c);
            if (d < 0) Fail(expected, whole);
            v = (v << 4) | static_cast<std::uint32_t>(d);
        }
        return v;
    }

    // "01,02,ff": bytes of two hex digits (or one) separated by commas; empty: no bytes.
    std::vector<std::uint8_t> HexBytes(std::wstring_view list) const {
        std::vector<std::uint8_t> bytes;
        list = Trim(list);
        if (list.empty()) return bytes;
        std::size_t start = 0;
        while (true) {
            const std::size_t comma = list.find(L',', start);
            const std::wstring_view item =
                Trim(list.substr(start, comma == std::wstring_view::npos ? std::wstring_view::npos : comma - start));
            if (item.empty() || item.size() > 2 || HexDigit(item[0]) < 0 || (item.size() == 2 && HexDigit(item[1]) < 0))
                Fail("bytes as two hex digits separated by commas (01,02,ff)", item.empty() ? list.substr(start) : item);
            bytes.push_back(static_cast<std::uint8_t>(item.size() == 1 ? HexDigit(item[0])
                                                                       : HexDigit(item[0]) * 16 + HexDigit(item[1])));
            if (comma == std::wstring_view::npos) break;
            start = comma + 1;
        }
        return bytes;
    }

    std::string_view file_;
    int line_;
};

}  // namespace

namespace {
std::string Located(const std::string& file, int line, const std::string& message) {
    std::string out = file;
    if (line > 0) out.append(1, ':').append(std::to_string(line));
    return out.append(": ").append(message);
}
}  // namespace

RegTextError::RegTextError(std::string file, int line, const std::string& message)
    : std::runtime_error(Located(file, line, message)),
      file_(std::move(file)),
      line_(line) {}

std::wstring RegRootName(std::wstring_view keyPath) {
    const std::wstring_view head = keyPath.substr(0, keyPath.find(L'\\'));
    for (const auto& r : kRoots)
        if (SameAscii(head, r.name)) return std::wstring(r.canonical);
    return {};
}

std::vector<RegOperation> ParseRegText(std::wstring_view text, std::string_view fileName) {
    std::vector<RegOperation> ops;
    std::wstring key;  // the section values go to; empty: none (before the first, after a deletion)
    bool sawContent = false;
    std::wstring logical;
    int logicalLine = 0;
    int lineNumber = 0;
    std::size_t pos = 0;
    if (text.starts_with(L"\xFEFF")) pos = 1;
    while (pos < text.size()) {
        // The next physical line; "\r\n", "\n" and "\r" each end one.
        std::size_t end = text.find_first_of(L"\r\n", pos);
        if (end == std::wstring_view::npos) end = text.size();
        std::wstring_view physical = pos < text.size() ? text.substr(pos, end - pos) : std::wstring_view{};
        pos = end;
        if (pos < text.size() && text[pos] == L'\r') ++pos;
        if (pos < text.size() && text[pos] == L'\n') ++pos;
        ++lineNumber;
        const bool lastLine = pos >= text.size();

        std::wstring_view piece = Trim(physical);
        if (logical.empty()) logicalLine = lineNumber;
        // A value line ending in '\' goes on on the next line (long hex lists).
        const bool startsValue = logical.empty() ? (!piece.empty() && piece.front() != L';' && piece.front() != L'[')
                                                 : true;
        if (startsValue && !piece.empty() && piece.back() == L'\\' && !lastLine) {
            logical += piece.substr(0, piece.size() - 1);
            continue;
        }
        logical += piece;
        const std::wstring whole = std::move(logical);
        logical.clear();
        const std::wstring_view l = Trim(whole);
        if (l.empty() || l.front() == L';') continue;
        const LineParser parser(fileName, logicalLine);
        if (!sawContent && (l == L"Windows Registry Editor Version 5.00" || l == L"REGEDIT4")) {
            sawContent = true;
            continue;
        }
        sawContent = true;
        if (l.front() == L'[') {
            RegOperation op = parser.Section(l);
            key = op.kind == RegOperation::Kind::CreateKey ? op.key : std::wstring();
            ops.push_back(std::move(op));
            continue;
        }
        if (key.empty()) {
            if (l.front() == L'"' || l.front() == L'@')
                parser.Fail(ops.empty() ? "a key section [ROOT\\path] before the first value"
                                        : "a key section [ROOT\\path] before values (a deleted key takes none)",
                            l);
            parser.Fail("a key section [ROOT\\path] or a comment ';'", l);
        }
        ops.push_back(parser.Value(l, key));
    }
    return ops;
}

namespace {

// Decodes UTF-8 into out; false with the offset of the first character that is not UTF-8.
bool DecodeUtf8(std::string_view bytes, std::wstring* out, std::size_t* bad) {
    std::size_t i = 0;
    while (i < bytes.size()) {
        const auto b = static_cast<unsigned char>(bytes[i]);
        std::uint32_t cp;
        std::size_t more;
        if (b < 0x80) {
            cp = b, more = 0;
        } else if ((b & 0xE0) == 0xC0) {
            cp = b & 0x1F, more = 1;
        } else if ((b & 0xF0) == 0xE0) {
            cp = b & 0x0F, more = 2;
        } else if ((b & 0xF8) == 0xF0) {
            cp = b & 0x07, more = 3;
        } else {
            *bad = i;
            return false;
        }
        for (std::size_t k = 1; k <= more; ++k) {
            if (i + k >= bytes.size() || (static_cast<unsigned char>(bytes[i + k]) & 0xC0) != 0x80) {
                *bad = i;
                return false;
            }
            cp = (cp << 6) | (static_cast<unsigned char>(bytes[i + k]) & 0x3F);
        }
        i += more + 1;
        if (sizeof(wchar_t) == 2 && cp >= 0x10000) {
            cp -= 0x10000;
            *out += static_cast<wchar_t>(0xD800 + (cp >> 10));
            *out += static_cast<wchar_t>(0xDC00 + (cp & 0x3FF));
        } else {
            *out += static_cast<wchar_t>(cp);
        }
    }
    return true;
}

}  // namespace

std::wstring WideFromUtf8(std::string_view utf8) {
    std::wstring out;
    std::size_t bad = 0;
    while (!DecodeUtf8(utf8, &out, &bad)) {
        out += L'\xFFFD';
        utf8.remove_prefix(bad + 1);
    }
    return out;
}

std::wstring DecodeRegFile(std::string_view bytes, std::string_view fileName) {
    auto fail = [&](std::size_t at, const char* what) {
        static const char kHex[] = "0123456789ABCDEF";
        const auto b = at < bytes.size() ? static_cast<unsigned char>(bytes[at]) : 0;
        throw RegTextError(std::string(fileName), 0,
                           std::string("expected ") + what + ", got byte 0x" + kHex[b >> 4] + kHex[b & 15] +
                               " at offset " + std::to_string(at));
    };
    std::wstring out;
    if (bytes.size() >= 2 && static_cast<unsigned char>(bytes[0]) == 0xFF && static_cast<unsigned char>(bytes[1]) == 0xFE) {
        if (bytes.size() % 2) fail(bytes.size() - 1, "UTF-16LE text (an even number of bytes)");
        for (std::size_t i = 2; i + 1 < bytes.size(); i += 2)
            out += static_cast<wchar_t>(static_cast<unsigned char>(bytes[i]) |
                                        (static_cast<unsigned char>(bytes[i + 1]) << 8));
        return out;
    }
    const std::size_t skip = bytes.starts_with("\xEF\xBB\xBF") ? 3 : 0;
    std::size_t bad = 0;
    if (!DecodeUtf8(bytes.substr(skip), &out, &bad))
        fail(skip + bad, "UTF-8 text, or UTF-16LE text with its byte-order mark");
    return out;
}

}  // namespace tavo
