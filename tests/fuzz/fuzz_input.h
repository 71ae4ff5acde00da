// Reads a fuzzer's bytes as the choices of one scenario. Every read succeeds: past the
// end it gives zeros (and empty texts), so any prefix of an input is itself an input and
// a minimised case still runs the same scenario up to where it was cut.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

namespace tavo::fuzz {

class FuzzInput {
public:
    FuzzInput(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}

    bool empty() const { return pos_ >= size_; }
    std::size_t remaining() const { return size_ - std::min(pos_, size_); }

    // Little-endian. Each read is a statement of its own: the operands of one expression are
    // evaluated in no fixed order, and an input must mean the same to every compiler.
    std::uint8_t U8() { return pos_ < size_ ? data_[pos_++] : 0; }
    std::uint16_t U16() {
        const std::uint16_t low = U8();
        return static_cast<std::uint16_t>(low | U8() << 8);
    }
    std::uint32_t U32() {
        const std::uint32_t low = U16();
        return low | static_cast<std::uint32_t>(U16()) << 16;
    }
    std::uint64_t U64() {
        const std::uint64_t low = U32();
        return low | static_cast<std::uint64_t>(U32()) << 32;
    }
    bool Bit() { return (U8() & 1) != 0; }
    // One of n (n > 0).
    std::size_t Pick(std::size_t n) { return n <= 256 ? U8() % n : U16() % n; }
    template <typename T, std::size_t N>
    const T& PickFrom(const T (&options)[N]) {
        return options[Pick(N)];
    }

    // A number that is one of the edges that break code (zero, one, minus one, the type's
    // limits and their neighbours, the byte and word boundaries) three times in four, and
    // any value otherwise.
    std::int32_t Int32() {
        static constexpr std::int32_t kEdges[] = {0,      1,      -1,     2,      -2,     3,
                                                  4,      5,      7,      99,     100,    101,
                                                  1000,   0x7F,   0x80,   0xFF,   0x100,  0x7FFF,
                                                  0x8000, 0xFFFF, 0x10000, std::numeric_limits<std::int32_t>::max(),
                                                  std::numeric_limits<std::int32_t>::min(),
                                                  std::numeric_limits<std::int32_t>::max() - 1,
                                                  std::numeric_limits<std::int32_t>::min() + 1};
        const std::uint8_t selector = U8();
        if (selector < 192) return kEdges[selector % std::size(kEdges)];
        return static_cast<std::int32_t>(U32());
    }
    std::int64_t Int64() {
        static constexpr std::int64_t kEdges[] = {0,
                                                  1,
                                                  -1,
                                                  2,
                                                  999,
                                                  1000,
                                                  1001,
                                                  std::numeric_limits<std::int32_t>::max(),
                                                  std::numeric_limits<std::int32_t>::min(),
                                                  std::int64_t{std::numeric_limits<std::uint32_t>::max()},
                                                  std::int64_t{std::numeric_limits<std::uint32_t>::max()} + 1,
                                                  std::numeric_limits<std::int64_t>::max(),
                                                  std::numeric_limits<std::int64_t>::min(),
                                                  std::numeric_limits<std::int64_t>::max() - 1,
                                                  std::numeric_limits<std::int64_t>::min() + 1};
        const std::uint8_t selector = U8();
        if (selector < 192) return kEdges[selector % std::size(kEdges)];
        return static_cast<std::int64_t>(U64());
    }

    // n bytes; past the end of the input the rest repeats 'A', so a long value is long
    // without the input having to be, and is never terminated by accident.
    std::vector<std::uint8_t> Bytes(std::size_t n) {
        std::vector<std::uint8_t> out(n, 'A');
        const std::size_t take = std::min(n, remaining());
        if (take) std::memcpy(out.data(), data_ + pos_, take);
        pos_ += take;
        return out;
    }
    // A size for a value or a text: small ones most often, then the edges of the buffers
    // the service reads through, then anything up to max.
    std::size_t Size(std::size_t max) {
        static constexpr std::size_t kEdges[] = {0,   1,   2,   3,   4,    5,    7,    8,    9,    16,  17,
                                                 127, 128, 129, 254, 255,  256,  257,  259,  260,  261, 510,
                                                 511, 512, 513, 519, 520,  521,  1023, 1024, 1025, 2047, 2048,
                                                 2049, 4095, 4096, 4097, 8192, 65535, 65536};
        const std::uint8_t selector = U8();
        std::size_t n;
        if (selector < 128)
            n = selector % 33;
        else if (selector < 224)
            n = kEdges[selector % std::size(kEdges)];
        else
            n = U32();
        return std::min(n, max);
    }
    // Text as Windows holds it: UTF-16 code units, any of them, of a chosen length.
    std::wstring Text(std::size_t maxChars) {
        const std::size_t n = Size(maxChars);
        std::wstring out;
        out.reserve(n);
        for (std::size_t i = 0; i < n; ++i) out.push_back(empty() ? L'A' : static_cast<wchar_t>(U16()));
        return out;
    }
    // Printable text from the bytes, one byte a character: quicker for the fuzzer to shape
    // into names and keywords than UTF-16.
    std::wstring Ascii(std::size_t maxChars) {
        const std::size_t n = Size(maxChars);
        std::wstring out;
        out.reserve(n);
        for (std::size_t i = 0; i < n; ++i) out.push_back(empty() ? L'A' : static_cast<wchar_t>(U8()));
        return out;
    }

private:
    const std::uint8_t* data_;
    std::size_t size_;
    std::size_t pos_ = 0;
};

}  // namespace tavo::fuzz
