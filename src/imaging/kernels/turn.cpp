// Quarter turns done by the program itself, for pixel formats the platform's RotateFlip refuses.
#include "imaging/kernels/turn.h"

#include <cstddef>
#include <cstring>

// Source column and row of target pixel (x, y).
static void SourceOf(Turn turn, int x, int y, int width, int height, int& sourceX, int& sourceY)
{
    switch (turn) {
    case Turn::Clockwise:
        sourceX = y;
        sourceY = height - 1 - x;
        break;
    case Turn::CounterClockwise:
        sourceX = width - 1 - y;
        sourceY = x;
        break;
    case Turn::None:
        sourceX = x;
        sourceY = y;
        break;
    }
}

static unsigned ReadPacked(const std::uint8_t* row, int x, int bitsPerPixel)
{
    int bit = x * bitsPerPixel;
    int shift = 8 - bitsPerPixel - (bit & 7);
    return (row[bit >> 3] >> shift) & ((1u << bitsPerPixel) - 1);
}

static void WritePacked(std::uint8_t* row, int x, int bitsPerPixel, unsigned value)
{
    int bit = x * bitsPerPixel;
    int shift = 8 - bitsPerPixel - (bit & 7);
    unsigned mask = ((1u << bitsPerPixel) - 1) << shift;
    row[bit >> 3] = static_cast<std::uint8_t>((row[bit >> 3] & ~mask) | ((value << shift) & mask));
}

// Eight 1-bit pixels of a row from column `first` on, the leftmost in the top bit.
static std::uint8_t EightPixels(const std::uint8_t* row, int first)
{
    int shift = first & 7;
    unsigned bits = static_cast<unsigned>(row[first >> 3]) << 8;
    if (shift != 0) bits |= row[(first >> 3) + 1];  // only then do the eight reach into the next byte
    return static_cast<std::uint8_t>(bits >> (8 - shift));
}

static std::uint8_t Reversed(std::uint8_t bits)
{
    bits = static_cast<std::uint8_t>((bits & 0xF0) >> 4 | (bits & 0x0F) << 4);
    bits = static_cast<std::uint8_t>((bits & 0xCC) >> 2 | (bits & 0x33) << 2);
    return static_cast<std::uint8_t>((bits & 0xAA) >> 1 | (bits & 0x55) << 1);
}

// Transposes an 8 x 8 bit block held one row per byte, row 0 in the top byte, column 0 in the top bit.
static std::uint64_t Transposed(std::uint64_t block)
{
    std::uint64_t t = (block ^ (block >> 7)) & 0x00AA00AA00AA00AAull;
    block ^= t ^ (t << 7);
    t = (block ^ (block >> 14)) & 0x0000CCCC0000CCCCull;
    block ^= t ^ (t << 14);
    t = (block ^ (block >> 28)) & 0x00000000F0F0F0F0ull;
    return block ^ t ^ (t << 28);
}

// One whole 8 x 8 block of a 1-bit quarter turn, target pixels (x0.., y0..) with x0 a multiple of 8:
// each target column of the block is a run of eight source pixels along a row, turned into rows.
static void TurnBitBlock(const std::uint8_t* source, int sourceStride, int width, int height,
                         std::uint8_t* target, int targetStride, Turn turn, int x0, int y0)
{
    std::uint64_t block = 0;
    for (int k = 0; k < 8; ++k) {
        std::uint8_t run;
        if (turn == Turn::Clockwise) {
            run = EightPixels(source + static_cast<std::ptrdiff_t>(height - 1 - x0 - k) * sourceStride, y0);
        } else {
            run = Reversed(EightPixels(source + static_cast<std::ptrdiff_t>(x0 + k) * sourceStride, width - 8 - y0));
        }
        block |= static_cast<std::uint64_t>(run) << (56 - 8 * k);
    }
    block = Transposed(block);
    for (int j = 0; j < 8; ++j) {
        target[static_cast<std::ptrdiff_t>(y0 + j) * targetStride + x0 / 8] = static_cast<std::uint8_t>(block >> (56 - 8 * j));
    }
}

// Target pixel (x, y) from its source pixel, for any depth.
static void TurnPixel(const std::uint8_t* source, int sourceStride, int width, int height, int bitsPerPixel,
                      std::uint8_t* target, int targetStride, Turn turn, int x, int y)
{
    int sourceX = 0, sourceY = 0;
    SourceOf(turn, x, y, width, height, sourceX, sourceY);
    const std::uint8_t* sourceRow = source + static_cast<std::ptrdiff_t>(sourceY) * sourceStride;
    std::uint8_t* targetRow = target + static_cast<std::ptrdiff_t>(y) * targetStride;
    if (bitsPerPixel < 8) {
        WritePacked(targetRow, x, bitsPerPixel, ReadPacked(sourceRow, sourceX, bitsPerPixel));
        return;
    }
    std::size_t bytesPerPixel = static_cast<std::size_t>(bitsPerPixel / 8);
    std::memcpy(targetRow + x * bytesPerPixel, sourceRow + sourceX * bytesPerPixel, bytesPerPixel);
}

void TurnPixels(const std::uint8_t* source, int sourceStride, int width, int height, int bitsPerPixel,
                std::uint8_t* target, int targetStride, Turn turn)
{
    int targetWidth = turn == Turn::None ? width : height;
    int targetHeight = turn == Turn::None ? height : width;
    // Scanned pages are 1-bit: whole 8 x 8 blocks are turned a byte at a time, the ragged edges
    // pixel by pixel.
    bool blocks = bitsPerPixel == 1 && turn != Turn::None;
    int blockWidth = blocks ? targetWidth / 8 * 8 : 0;
    int blockHeight = blocks ? targetHeight / 8 * 8 : 0;
    for (int y0 = 0; y0 < blockHeight; y0 += 8) {
        for (int x0 = 0; x0 < blockWidth; x0 += 8) {
            TurnBitBlock(source, sourceStride, width, height, target, targetStride, turn, x0, y0);
        }
    }
    for (int y = 0; y < targetHeight; ++y) {
        for (int x = y < blockHeight ? blockWidth : 0; x < targetWidth; ++x) {
            TurnPixel(source, sourceStride, width, height, bitsPerPixel, target, targetStride, turn, x, y);
        }
    }
}
