#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>

#include "log/trace_format.h"

namespace tavo {
namespace {

std::string Fmt(std::size_t capacity, const char* format, ...) {
    std::string buf(capacity + 8, '#');
    va_list args;
    va_start(args, format);
    std::size_t n = FormatTrace(buf.data(), capacity, format, args);
    va_end(args);
    // Nothing may be written past the capacity.
    for (std::size_t i = capacity; i < buf.size(); ++i) EXPECT_EQ(buf[i], '#') << "overrun at " << i;
    EXPECT_EQ(std::strlen(buf.c_str()), n);
    return std::string(buf.c_str(), n);
}

TEST(TraceFormat, IntegerConversionsFollowTheWindowsRuntime) {
    std::uint32_t error = 0x427;
    EXPECT_EQ(Fmt(256, "w/err 0x%08lx", error), "w/err 0x00000427");
    EXPECT_EQ(Fmt(256, "%lu|%d|%u", std::uint32_t{4294967295u}, -5, 7u), "4294967295|-5|7");
    EXPECT_EQ(Fmt(256, "0x%.8X", 0xABCu), "0x00000ABC");
    EXPECT_EQ(Fmt(256, "%.02X %x", 0x5u, 255u), "05 ff");
    EXPECT_EQ(Fmt(256, "[%5d|%-5d|%05d]", 42, 42, 42), "[   42|42   |00042]");
    EXPECT_EQ(Fmt(256, "%I64u %llx", std::uint64_t{1} << 40, std::uint64_t{0xFFFFFFFFFull}), "1099511627776 fffffffff");
    EXPECT_EQ(Fmt(256, "%hd %hhu", 70000, 258), "4464 2");
    EXPECT_EQ(Fmt(256, "100%% %c", 'x'), "100% x");
    EXPECT_EQ(Fmt(256, "%*d|%.*s", 4, 7, 2, "abcdef"), "   7|ab");
    EXPECT_EQ(Fmt(256, "%d|%lld|%I64u", INT32_MIN, INT64_MIN, UINT64_MAX),
              "-2147483648|-9223372036854775808|18446744073709551615");
    EXPECT_EQ(Fmt(256, "[%.0d|%.0x|%5.0u|%.3d|%-6.3d|%08.3d|%06d]", 0, 0u, 0u, -7, 7, 7, -7),
              "[||     |-007|007   |     007|-00007]");
    EXPECT_EQ(Fmt(256, "%+d|% d|%+d|%#x|%#X|%#x|%#o|%#.0o|%#08x", 5, 5, -5, 255u, 255u, 0u, 8u, 0u, 255u),
              "+5| 5|-5|0xff|0XFF|0|010|0|0x0000ff");
    EXPECT_EQ(Fmt(256, "[%*d|%-*d]", -4, 7, 3, 7), "[7   |7  ]");
}

TEST(TraceFormat, WideAndNarrowStrings) {
    EXPECT_EQ(Fmt(256, "Device Name : %ws", L"\\\\?\\HID#VID_1234"), "Device Name : \\\\?\\HID#VID_1234");
    EXPECT_EQ(Fmt(256, "%S and %ls and %s", L"wide", L"long", "narrow"), "wide and long and narrow");
    // Characters that the C locale cannot narrow become '?'.
    EXPECT_EQ(Fmt(256, "%ws", L"a\u00e9\u4e16b"), "a\xe9?b");
    EXPECT_EQ(Fmt(256, "%s|%ws", static_cast<const char*>(nullptr), static_cast<const wchar_t*>(nullptr)),
              "(null)|(null)");
    EXPECT_EQ(Fmt(256, "[%-6ws][%6s]", L"ab", "cd"), "[ab    ][    cd]");
}

TEST(TraceFormat, PointerPrintsSixteenUpperCaseDigits) {
    EXPECT_EQ(Fmt(256, "%p", reinterpret_cast<void*>(std::uintptr_t{0x12FF00})), "000000000012FF00");
}

TEST(TraceFormat, OutputIsCutToCapacityAndTerminated) {
    EXPECT_EQ(Fmt(8, "%s", "abcdefghijklmnop"), "abcdefg");
    EXPECT_EQ(Fmt(8, "%ws", L"abcdefghijklmnop"), "abcdefg");
    EXPECT_EQ(Fmt(5, "%08lx", std::uint32_t{0x1234}), "0000");
    EXPECT_EQ(Fmt(1, "anything"), "");
    // Cut inside a conversion's padding, sign, prefix or digits, and in the text after it.
    EXPECT_EQ(Fmt(5, "0x%.8X", 0xABCu), "0x00");
    EXPECT_EQ(Fmt(4, "%#x", 0xABCu), "0xa");
    EXPECT_EQ(Fmt(3, "%-6d|", -12345), "-1");
    EXPECT_EQ(Fmt(6, "[%8s]", "ab"), "[    ");
    EXPECT_EQ(Fmt(7, "[%-4ws]", L"ab"), "[ab  ]");
    EXPECT_EQ(Fmt(8, "%.3s%s", "abcdef", "ghijk"), "abcghij");
}

TEST(TraceFormat, UnsafeOrUnknownConversionsConsumeNothingHarmful) {
    int target = 17;
    EXPECT_EQ(Fmt(256, "a%nb", &target), "ab");
    EXPECT_EQ(target, 17);
    EXPECT_EQ(Fmt(256, "%y then %d", 3), "%y then 3");
    EXPECT_EQ(Fmt(256, "trailing %"), "trailing %");
}

}  // namespace
}  // namespace tavo
