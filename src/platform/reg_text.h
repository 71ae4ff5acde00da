// Windows ".reg" text (the registry editor's export format), parsed into the operations it
// asks for. Portable: standard types only, so it builds natively and with MinGW beside
// <windows.h>, and it knows nothing of the simulator.
//
// What is read, line by line ('\r' and '\n' both end a line; a line ending in '\' goes on
// on the next one, as long hex lists do):
//   Windows Registry Editor Version 5.00   (or REGEDIT4; optional, first non-blank line only)
//   ; a comment
//   [ROOT\path]            creates the key        [-ROOT\path]   deletes it with its subtree
//   "name"="text"          REG_SZ (\\ and \" are the only escapes)
//   @=...                  the key's default value, in any of the forms here
//   "name"=dword:1f        REG_DWORD, 1 to 8 hex digits
//   "name"=hex:01,02       REG_BINARY        "name"=hex(N):..  type N (hex), e.g. hex(7) multi-sz
//   "name"=-               deletes the value
// ROOT is HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER, HKEY_CLASSES_ROOT or HKEY_USERS, or the
// short forms HKLM, HKCU, HKCR, HKU. Anything else is refused with the file, the line and
// what was expected there; nothing is returned for a text with any error in it.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace tavo {

struct RegOperation {
    enum class Kind { CreateKey, DeleteKey, SetValue, DeleteValue };
    Kind kind = Kind::CreateKey;
    std::wstring key;   // the full path as written, root first ("HKEY_LOCAL_MACHINE\\System\\...")
    std::wstring name;  // the value's name; empty for the default value (@)
    // SetValue: the registry type (1 REG_SZ, 3 REG_BINARY, 4 REG_DWORD, or hex(N)'s N).
    std::uint32_t type = 0;
    bool quoted = false;             // written as "text" (REG_SZ): the value is text, not data
    std::wstring text;               // and the text, unescaped
    std::vector<std::uint8_t> data;  // dword (4 bytes, little-endian) and hex forms: the bytes
    int line = 0;                    // where it was written (the first line of a continued one)
    friend bool operator==(const RegOperation&, const RegOperation&) = default;
};

// what(): "FILE:LINE: expected ..., got ..."
class RegTextError : public std::runtime_error {
public:
    RegTextError(std::string file, int line, const std::string& message);
    const std::string& file() const { return file_; }
    int line() const { return line_; }

private:
    std::string file_;
    int line_;
};

// fileName names the text in messages.
std::vector<RegOperation> ParseRegText(std::wstring_view text, std::string_view fileName);

// A file's bytes as text: UTF-16LE with its byte-order mark (what the registry editor
// writes), or UTF-8 with or without one. Throws RegTextError (line 0) for bytes that are
// neither.
std::wstring DecodeRegFile(std::string_view bytes, std::string_view fileName);

// UTF-8 as text; a sequence that is not UTF-8 becomes U+FFFD.
std::wstring WideFromUtf8(std::string_view utf8);

// The root of a full key path as the registry names it ("HKEY_LOCAL_MACHINE" for "HKLM\\x");
// empty when the path starts with no root the parser accepts.
std::wstring RegRootName(std::wstring_view keyPath);

}  // namespace tavo
