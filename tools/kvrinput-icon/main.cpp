// Draws the input agent's 48x48 icon (a touchpad with its two buttons and a touch point)
// and writes it as a one-image .ico. The checked-in src/agent/win32/kvrinput.ico is this
// program's output; --check compares the two, so the picture cannot drift from its source.
//   kvrinput-icon OUT.ico | kvrinput-icon --check ICO
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

constexpr int kSize = 48;
constexpr int kSamples = 4;  // per axis: 16 samples per pixel smooth the edges

struct Rgba {
    double r, g, b, a;
};

// Signed distance to a rounded rectangle given by its corners, in pixels.
double RoundedBox(double x, double y, double x0, double y0, double x1, double y1, double radius) {
    const double cx = (x0 + x1) / 2, cy = (y0 + y1) / 2;
    const double qx = std::abs(x - cx) - ((x1 - x0) / 2 - radius);
    const double qy = std::abs(y - cy) - ((y1 - y0) / 2 - radius);
    const double ox = std::max(qx, 0.0), oy = std::max(qy, 0.0);
    return std::sqrt(ox * ox + oy * oy) + std::min(std::max(qx, qy), 0.0) - radius;
}

// The colour at one sample point; later layers cover earlier ones.
Rgba Sample(double x, double y) {
    const Rgba clear{0, 0, 0, 0}, frame{0.20, 0.24, 0.30, 1}, surface{0.86, 0.89, 0.93, 1},
        buttons{0.74, 0.78, 0.84, 1}, touch{0.16, 0.50, 0.85, 1};
    const double outer = RoundedBox(x, y, 3, 5, 45, 43, 7);
    if (outer > 0) return clear;
    if (RoundedBox(x, y, 5, 7, 43, 41, 5) > 0) return frame;
    if (y >= 31 && y < 33) return frame;                      // the buttons' top edge
    if (y >= 33 && x >= 23 && x < 25) return frame;           // between the buttons
    if (y >= 33) return buttons;
    const double dx = x - 29, dy = y - 17;
    if (dx * dx + dy * dy <= 4.5 * 4.5) return touch;         // a finger on the pad
    return surface;
}

std::vector<std::uint8_t> DrawIco() {
    std::vector<std::uint8_t> out;
    auto u8 = [&](unsigned v) { out.push_back(static_cast<std::uint8_t>(v)); };
    auto u16 = [&](unsigned v) { u8(v & 0xff); u8(v >> 8); };
    auto u32 = [&](unsigned v) { u16(v & 0xffff); u16(v >> 16); };

    constexpr unsigned kMaskStride = ((kSize + 31) / 32) * 4;
    constexpr unsigned kImageBytes = 40 + kSize * kSize * 4 + kMaskStride * kSize;
    // ICONDIR and its one entry.
    u16(0); u16(1); u16(1);
    u8(kSize); u8(kSize); u8(0); u8(0); u16(1); u16(32); u32(kImageBytes); u32(6 + 16);
    // BITMAPINFOHEADER: the height counts the colour rows and the mask rows.
    u32(40); u32(kSize); u32(kSize * 2); u16(1); u16(32); u32(0);
    u32(kSize * kSize * 4 + kMaskStride * kSize); u32(0); u32(0); u32(0); u32(0);

    std::vector<std::uint8_t> alpha(kSize * kSize);
    for (int row = kSize - 1; row >= 0; --row) {  // bottom-up
        for (int col = 0; col < kSize; ++col) {
            Rgba sum{0, 0, 0, 0};
            for (int sy = 0; sy < kSamples; ++sy) {
                for (int sx = 0; sx < kSamples; ++sx) {
                    const Rgba c = Sample(col + (sx + 0.5) / kSamples, row + (sy + 0.5) / kSamples);
                    sum.r += c.r * c.a; sum.g += c.g * c.a; sum.b += c.b * c.a; sum.a += c.a;
                }
            }
            const double a = sum.a / (kSamples * kSamples);
            // Straight (not premultiplied) alpha, as icons store it.
            auto channel = [&](double premultiplied) {
                return sum.a > 0 ? static_cast<unsigned>(std::lround(premultiplied / sum.a * 255)) : 0u;
            };
            const unsigned a8 = static_cast<unsigned>(std::lround(a * 255));
            u8(channel(sum.b)); u8(channel(sum.g)); u8(channel(sum.r)); u8(a8);
            alpha[row * kSize + col] = static_cast<std::uint8_t>(a8);
        }
    }
    // The AND mask, for renderers without alpha: set where fully transparent.
    for (int row = kSize - 1; row >= 0; --row) {
        std::vector<std::uint8_t> bits(kMaskStride, 0);
        for (int col = 0; col < kSize; ++col) {
            if (alpha[row * kSize + col] == 0) bits[col / 8] |= static_cast<std::uint8_t>(0x80 >> (col % 8));
        }
        out.insert(out.end(), bits.begin(), bits.end());
    }
    return out;
}

}  // namespace

int main(int argc, char** argv) {
    const std::vector<std::uint8_t> ico = DrawIco();
    if (argc == 3 && std::string(argv[1]) == "--check") {
        std::ifstream in(argv[2], std::ios::binary);
        const std::vector<std::uint8_t> stored((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        if (stored == ico) return 0;
        std::fprintf(stderr, "%s differs from the drawing (%zu bytes stored, %zu drawn): regenerate it\n", argv[2],
                     stored.size(), ico.size());
        return 1;
    }
    if (argc != 2) {
        std::fprintf(stderr, "usage: kvrinput-icon OUT.ico | kvrinput-icon --check ICO\n");
        return 2;
    }
    std::ofstream(argv[1], std::ios::binary).write(reinterpret_cast<const char*>(ico.data()),
                                                   static_cast<std::streamsize>(ico.size()));
    return 0;
}
