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

void TurnPixels(const std::uint8_t* source, int sourceStride, int width, int height, int bitsPerPixel,
                std::uint8_t* target, int targetStride, Turn turn)
{
    int targetWidth = turn == Turn::None ? width : height;
    int targetHeight = turn == Turn::None ? height : width;
    std::size_t bytesPerPixel = static_cast<std::size_t>(bitsPerPixel / 8);
    for (int y = 0; y < targetHeight; ++y) {
        std::uint8_t* targetRow = target + static_cast<std::ptrdiff_t>(y) * targetStride;
        for (int x = 0; x < targetWidth; ++x) {
            int sourceX = 0, sourceY = 0;
            SourceOf(turn, x, y, width, height, sourceX, sourceY);
            const std::uint8_t* sourceRow = source + static_cast<std::ptrdiff_t>(sourceY) * sourceStride;
            if (bitsPerPixel < 8) {
                WritePacked(targetRow, x, bitsPerPixel, ReadPacked(sourceRow, sourceX, bitsPerPixel));
            } else {
                std::memcpy(targetRow + x * bytesPerPixel, sourceRow + sourceX * bytesPerPixel, bytesPerPixel);
            }
        }
    }
}
