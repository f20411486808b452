// The corner table of the margins and the bit copies that move 1-bit pixels to any column.
#include "imaging/kernels/margins.h"

#include <cstddef>
#include <cstring>

// One axis of the page, `length` pixels long: a margin above 0 pads the corner's edge (the far one
// when `farEdge`), one of 0 or below moves that edge in by its magnitude, at most `length` (so
// INT_MIN cannot overflow). `start` and `end` are the kept span, `padStart` and `padEnd` the padding.
static void LayOutAxis(int marginPx, int length, bool farEdge, int& start, int& end, int& padStart, int& padEnd)
{
    end = length;
    long long crop = -static_cast<long long>(marginPx);
    int cropped = crop < length ? static_cast<int>(crop) : length;
    if (marginPx > 0) {
        (farEdge ? padEnd : padStart) = marginPx;
    } else if (farEdge) {
        end = length - cropped;
    } else {
        start = cropped;
    }
}

MarginLayout LayOutMargins(int width, int height, int horizontalPx, int verticalPx, Corner corner)
{
    MarginLayout layout;
    LayOutAxis(horizontalPx, width, corner == TopRight || corner == BottomRight, layout.left, layout.right,
               layout.padLeft, layout.padRight);
    LayOutAxis(verticalPx, height, corner == BottomLeft || corner == BottomRight, layout.top, layout.bottom,
               layout.padTop, layout.padBottom);
    return layout;
}

bool KeepsPixels(const MarginLayout& layout)
{
    return layout.right > layout.left && layout.bottom > layout.top;
}

bool Crops(const MarginLayout& layout, int width, int height)
{
    return layout.left > 0 || layout.top > 0 || layout.right < width || layout.bottom < height;
}

bool Pads(const MarginLayout& layout)
{
    return layout.padLeft > 0 || layout.padTop > 0 || layout.padRight > 0 || layout.padBottom > 0;
}

// Bits [from, from + count) of a byte, counted from the most significant bit.
static std::uint8_t BitMask(int from, int count)
{
    return static_cast<std::uint8_t>((0xFFu >> from) & ~(0xFFu >> (from + count)));
}

static void WriteMasked(std::uint8_t* at, std::uint8_t bits, std::uint8_t mask)
{
    *at = static_cast<std::uint8_t>((*at & ~mask) | (bits & mask));
}

// Same bit phase in source and target: whole bytes, with the partial first and last byte masked.
static void CopyAligned(const std::uint8_t* source, std::uint8_t* target, int phase, int count)
{
    int head = phase + count < 8 ? count : 8 - phase;
    if (phase != 0) {
        WriteMasked(target, *source, BitMask(phase, head));
        ++source;
        ++target;
        count -= head;
    }
    std::size_t whole = static_cast<std::size_t>(count) / 8;
    std::memcpy(target, source, whole);
    if (count % 8 != 0) {
        WriteMasked(target + whole, source[whole], BitMask(0, count % 8));
    }
}

// Different bit phases: each target byte is put together from two neighbouring source bytes.
// Target byte i takes the 8 source bits that begin `offset` (-7..7, not 0) bits after bit 8i.
static void CopyShifted(const std::uint8_t* source, int sourceBytes, int offset, std::uint8_t* target,
                        int targetPhase, int count)
{
    int back = offset < 0 ? 1 : 0;  // bits further left begin in the byte before
    int shift = offset + 8 * back;
    int targetBytes = (targetPhase + count + 7) / 8;
    int lastBits = (targetPhase + count - 1) % 8 + 1;
    for (int i = 0; i < targetBytes; ++i) {
        int at = i - back;
        // Bytes beyond the copied pixels are not read: their bits would be masked off anyway.
        unsigned high = at >= 0 ? source[at] : 0u;
        unsigned low = at + 1 < sourceBytes ? source[at + 1] : 0u;
        auto assembled = static_cast<std::uint8_t>(((high << 8 | low) << shift) >> 8);
        int from = i == 0 ? targetPhase : 0;
        int to = i == targetBytes - 1 ? lastBits : 8;
        WriteMasked(target + i, assembled, BitMask(from, to - from));
    }
}

void CopyBitRow(const std::uint8_t* source, int sourceX, std::uint8_t* target, int targetX, int count)
{
    if (count <= 0) {
        return;
    }
    const std::uint8_t* from = source + sourceX / 8;
    std::uint8_t* to = target + targetX / 8;
    int sourcePhase = sourceX % 8;
    int targetPhase = targetX % 8;
    if (sourcePhase == targetPhase) {
        CopyAligned(from, to, targetPhase, count);
        return;
    }
    int sourceBytes = (sourcePhase + count + 7) / 8;
    CopyShifted(from, sourceBytes, sourcePhase - targetPhase, to, targetPhase, count);
}

void CopyBitBlock(const std::uint8_t* source, int sourceStride, int sourceX, std::uint8_t* target,
                  int targetStride, int targetX, int count, int rows)
{
    for (int j = 0; j < rows; ++j) {
        CopyBitRow(source + static_cast<std::ptrdiff_t>(j) * sourceStride, sourceX,
                   target + static_cast<std::ptrdiff_t>(j) * targetStride, targetX, count);
    }
}
