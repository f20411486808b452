// 1-bit BMP files written byte by byte, for the tests and benchmarks: input that does not come from
// the encoder under test. No Windows header.
#pragma once

#include <algorithm>
#include <cstddef>
#include <vector>

// Bytes of one 1-bit BMP row: the width's bits rounded up to a multiple of 32.
inline std::size_t BmpRowBytes(int width)
{
    return static_cast<std::size_t>(width + 31) / 32 * 4;
}

// A 1-bit BMP of width x height with bottom-up rows at ppmX x ppmY pixels per metre; black(x, y), with
// y counted from the top, tells the black pixels. The palette is white then black, or black then white
// with blackFirst. Every bit after a row's last pixel is set, so it shows wherever it leaks.
template <class Black>
std::vector<unsigned char> MonoBmpBytes(int width, int height, Black black, int ppmX = 23622, int ppmY = 23622,
                                        bool blackFirst = false)
{
    std::size_t rowLength = BmpRowBytes(width);
    std::vector<unsigned char> file(62 + rowLength * static_cast<std::size_t>(height), 0xFF);
    auto put32 = [&](std::size_t at, unsigned value) {
        for (int i = 0; i < 4; ++i) file[at + i] = static_cast<unsigned char>(value >> (8 * i));
    };
    std::fill(file.begin(), file.begin() + 62, 0);
    file[0] = 'B';
    file[1] = 'M';
    put32(2, static_cast<unsigned>(file.size()));
    put32(10, 62);
    put32(14, 40);
    put32(18, static_cast<unsigned>(width));
    put32(22, static_cast<unsigned>(height));
    file[26] = 1;
    file[28] = 1;
    put32(38, static_cast<unsigned>(ppmX));
    put32(42, static_cast<unsigned>(ppmY));
    put32(46, 2);
    put32(blackFirst ? 58 : 54, 0xFFFFFF);
    for (int y = 0; y < height; ++y) {
        unsigned char* row = &file[62 + static_cast<std::size_t>(height - 1 - y) * rowLength];
        for (int x = 0; x < width; ++x) {
            if (black(x, y) == blackFirst) row[x / 8] &= static_cast<unsigned char>(~(0x80 >> (x % 8)));
        }
    }
    return file;
}
