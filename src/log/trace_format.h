// printf-style formatting with the Windows C runtime's conventions, identical on every
// build: "l" is 32 bits, "%ws", "%S" and "%ls" take wide strings, "%p" prints 16 upper-case
// hex digits. Wide text is narrowed one character per byte (characters above 0xFF become
// '?'), as the default C locale does. Nothing is allocated.
#pragma once

#include <cstdarg>
#include <cstddef>
#include <string>
#include <string_view>

namespace tavo {

// Formats into out (capacity bytes, at least 1) and always NUL-terminates. Output that does
// not fit is cut. Returns the number of characters stored, without the terminator.
std::size_t FormatTrace(char* out, std::size_t capacity, const char* format, va_list args);

// Wide text for a narrow "%s": one byte per character, as the log narrows wide text.
std::string NarrowText(std::wstring_view text);

}  // namespace tavo
