// The page the clean-up benchmarks share: an A4 letter at 600 DPI with dust and black scanner edges,
// its text turned by a given angle, the dust and the edges square to the scanner. No Windows header.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <numbers>
#include <random>
#include <vector>

// 1-bit rows `stride` bytes apart: lines of "letters" 40 rows high every 90 rows inside 2.5 cm
// margins (a stem, a bar, now and then a dot of 25 pixels above), turned clockwise by `degrees`
// about the centre; 2,000 specks of 1 to 30 pixels scattered over the page; a ragged band down the
// left edge, one along the bottom, a dark top-right corner.
inline std::vector<std::uint8_t> DustyLetter(int width, int height, int stride, double degrees)
{
    std::vector<std::uint8_t> text(static_cast<std::size_t>(stride) * height, 0), bits(text.size(), 0);
    auto set = [&](std::vector<std::uint8_t>& plane, int x, int y) {
        plane[static_cast<std::size_t>(y) * stride + x / 8] |= static_cast<std::uint8_t>(0x80 >> x % 8);
    };
    std::mt19937 random(7);
    for (int line = 590; line + 60 < height - 590; line += 90) {
        for (int x = 590; x + 40 < width - 590; x += 28 + static_cast<int>(random() % 20)) {
            for (int y = line + 10; y < line + 50; ++y)
                for (int dx = 0; dx < 4; ++dx) set(text, x + dx, y);
            int bar = line + 10 + static_cast<int>(random() % 30);
            for (int y = bar; y < bar + 4; ++y)
                for (int dx = 0; dx < 18; ++dx) set(text, x + dx, y);
            if (random() % 5 == 0)
                for (int y = line; y < line + 5; ++y)
                    for (int dx = 0; dx < 5; ++dx) set(text, x + dx, y);
        }
    }
    double c = std::cos(degrees * std::numbers::pi / 180), s = std::sin(degrees * std::numbers::pi / 180);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            int u = static_cast<int>(std::floor(width / 2.0 + c * (x - width / 2.0) + s * (y - height / 2.0)));
            int v = static_cast<int>(std::floor(height / 2.0 - s * (x - width / 2.0) + c * (y - height / 2.0)));
            if (u >= 0 && v >= 0 && u < width && v < height &&
                (text[static_cast<std::size_t>(v) * stride + u / 8] >> (7 - u % 8) & 1)) {
                set(bits, x, y);
            }
        }
    }
    for (int speck = 0; speck < 2000; ++speck) {
        int x = static_cast<int>(random() % (width - 8)), y = static_cast<int>(random() % (height - 8));
        for (int i = 1 + static_cast<int>(random() % 30); i > 0; --i) {  // a walk: one group
            set(bits, x, y);
            x = std::clamp(x + static_cast<int>(random() % 3) - 1, 0, width - 1);
            y = std::clamp(y + static_cast<int>(random() % 3) - 1, 0, height - 1);
        }
    }
    int depth = 150;
    for (int y = 0; y < height; ++y) {
        depth = std::max(40, std::min(300, depth + static_cast<int>(random() % 13) - 6));
        for (int x = 0; x < depth; ++x) set(bits, x, y);
        if (y > height - depth / 2)
            for (int x = 600; x < width; ++x) set(bits, x, y);
        if (y < 250)
            for (int x = width - 250 + y; x < width; ++x) set(bits, x, y);
    }
    return bits;
}
