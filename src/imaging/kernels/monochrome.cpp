// The 1-bit packing of every BMP result, the header patch applied after the encoder and the check
// of the written file.
#include "imaging/kernels/monochrome.h"

#include "imaging/kernels/bytes.h"

#include <array>
#include <cstring>

// The kernels are built for x86-64, where SSE2 is always there.
#include <emmintrin.h>

void PackMonochromeRow(const std::uint8_t* pixels, int width, int bytesPerPixel, std::uint8_t* row)
{
    std::size_t step = static_cast<std::size_t>(bytesPerPixel);
    int x = 0;
    for (; x + 8 <= width; x += 8) {
        const std::uint8_t* blue = pixels + step * static_cast<std::size_t>(x);
        unsigned bits = 0;
        for (std::size_t i = 0; i < 8; ++i) bits = bits << 1 | (blue[step * i] < kWhiteThreshold);
        row[x >> 3] = static_cast<std::uint8_t>(bits);
    }
    if (x == width) return;
    unsigned bits = 0;
    for (int i = 0; i < 8; ++i) {
        bool black = x + i < width && pixels[step * static_cast<std::size_t>(x + i)] < kWhiteThreshold;
        bits = bits << 1 | black;
    }
    row[x >> 3] = static_cast<std::uint8_t>(bits);
}

// Each byte with its bits in the opposite order.
static constexpr std::array<std::uint8_t, 256> MakeReversed()
{
    std::array<std::uint8_t, 256> reversed{};
    for (unsigned byte = 0; byte < 256; ++byte) {
        for (int i = 0; i < 8; ++i) reversed[byte] |= static_cast<std::uint8_t>(((byte >> i) & 1) << (7 - i));
    }
    return reversed;
}
static constexpr std::array<std::uint8_t, 256> kReversed = MakeReversed();

// Packs the row's bytes sixteen at a time, black (1) where a byte is below `limit` (1 to 255), and
// returns the pixels so packed: all but the last width % 16.
static int PackSixteensBelow(const std::uint8_t* values, int width, int limit, std::uint8_t* row)
{
    // Unsigned order compared as signed: both sides moved by 128.
    const __m128i bias = _mm_set1_epi8(-128), bound = _mm_set1_epi8(static_cast<char>(limit - 128));
    int x = 0;
    for (; x + 16 <= width; x += 16) {
        __m128i value = _mm_xor_si128(_mm_loadu_si128(reinterpret_cast<const __m128i*>(values + x)), bias);
        unsigned blacks = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmplt_epi8(value, bound)));
        row[x >> 3] = kReversed[blacks & 0xFF];
        row[(x >> 3) + 1] = kReversed[blacks >> 8];
    }
    return x;
}

void PackGreyRow(const std::uint8_t* grey, int width, std::uint8_t* row)
{
    for (int x = PackSixteensBelow(grey, width, kWhiteThreshold, row); x < width; x += 8) {
        unsigned bits = 0;
        for (int i = 0; i < 8; ++i) bits = bits << 1 | (x + i < width && grey[x + i] < kWhiteThreshold);
        row[x >> 3] = static_cast<std::uint8_t>(bits);
    }
}

// When the black entries are exactly those below some index, packs the row's 8-bit indices sixteen
// at a time by comparing them with it, and returns the bytes of `row` so written; otherwise 0.
static std::size_t PackBelowIndex(const std::uint8_t* indices, int width, const std::uint8_t* black, std::uint8_t* row)
{
    int below = 0;
    while (below < 256 && black[below]) ++below;
    for (int i = below; i < 256; ++i) {
        if (black[i]) return 0;
    }
    if (below == 0 || below == 256) return 0;
    return static_cast<std::size_t>(PackSixteensBelow(indices, width, below, row) / 8);
}

void PackIndexedRow(const std::uint8_t* indices, int width, int bitsPerPixel, const std::uint8_t* black,
                    std::uint8_t* row)
{
    if (bitsPerPixel != 1 && bitsPerPixel != 4 && bitsPerPixel != 8) return;
    std::size_t whole = static_cast<std::size_t>(width / 8);
    unsigned last = width % 8 == 0 ? 0 : 0xFF00u >> (width % 8);
    if (bitsPerPixel == 1) {
        // The row's own bits, inverted or kept or cleared or set, as the two entries say.
        for (std::size_t i = 0; i < whole + (last != 0); ++i) {
            unsigned ones = black[1] ? indices[i] : 0, zeros = black[0] ? ~indices[i] & 0xFFu : 0;
            row[i] = static_cast<std::uint8_t>((ones | zeros) & (i < whole ? 0xFFu : last));
        }
        return;
    }
    // A palette of greys in order (a scanner's grey page) is black below one index: sixteen at a time.
    std::size_t done = bitsPerPixel == 8 ? PackBelowIndex(indices, width, black, row) : 0;
    // Each index byte's pixels judged at once: a byte of 4-bit indices gives two bits, one of 8-bit
    // indices one; `bitsPerPixel` index bytes make one byte of the row.
    int pixelsPerByte = 8 / bitsPerPixel;
    std::uint8_t judged[256];
    unsigned mask = (1u << bitsPerPixel) - 1;
    for (unsigned byte = 0; byte < 256 && bitsPerPixel != 8; ++byte) {
        unsigned bits = 0;
        for (int i = pixelsPerByte - 1; i >= 0; --i) bits = bits << 1 | black[(byte >> (i * bitsPerPixel)) & mask];
        judged[byte] = static_cast<std::uint8_t>(bits);
    }
    const std::uint8_t* table = bitsPerPixel == 8 ? black : judged;
    for (std::size_t out = done; out < whole; ++out) {
        const std::uint8_t* from = indices + out * bitsPerPixel;
        unsigned bits = 0;
        for (int k = 0; k < bitsPerPixel; ++k) bits = bits << pixelsPerByte | table[from[k]];
        row[out] = static_cast<std::uint8_t>(bits);
    }
    if (width % 8 == 0) return;
    unsigned bits = 0;
    for (int x = static_cast<int>(whole) * 8; x < static_cast<int>(whole) * 8 + 8; ++x) {
        int bit = x * bitsPerPixel;
        bits = bits << 1 | (x < width && black[(indices[bit >> 3] >> (8 - bitsPerPixel - (bit & 7))) & mask]);
    }
    row[whole] = static_cast<std::uint8_t>(bits);
}

std::uint32_t BmpRowLength(std::uint32_t width)
{
    return ((width + 31) >> 5) << 2;
}

static void Write32(std::uint8_t* at, std::uint32_t value)
{
    for (int i = 0; i < 4; ++i) {
        at[i] = static_cast<std::uint8_t>(value >> (8 * i));
    }
}

bool PatchMonochromeHeader(std::uint8_t header[54], std::uint32_t fileLength)
{
    if (header[0] != 'B' || header[1] != 'M' || ReadLe16(header + 28) != 1) {
        return false;
    }
    // Some encoders leave the colour table out of bfSize; readers that trust it would cut the rows.
    Write32(header + 2, fileLength);
    // Other programs read these files with the size two bytes above the pixel rows; keep it so.
    std::uint32_t height = ReadLe32(header + 22);
    Write32(header + 34, BmpRowLength(ReadLe32(header + 18)) * height + 2);
    Write32(header + 46, 0);
    Write32(header + 50, 0);
    return true;
}

bool IsMonochromeBmp(const std::uint8_t head[kMonochromeBmpHeaderSize], std::uint64_t fileLength,
                     std::uint32_t width, std::uint32_t height)
{
    std::uint64_t rows = static_cast<std::uint64_t>(BmpRowLength(width)) * height;
    // Blue, green, red of each entry; encoders differ in the fourth byte, which readers ignore.
    const std::uint8_t white[3] = {0xFF, 0xFF, 0xFF}, black[3] = {0, 0, 0};
    return head[0] == 'B' && head[1] == 'M' && ReadLe32(head + 2) == fileLength &&
           ReadLe32(head + 10) == kMonochromeBmpHeaderSize && ReadLe32(head + 14) == 40 &&
           ReadLe32(head + 18) == width && ReadLe32(head + 22) == height && ReadLe16(head + 26) == 1 &&
           ReadLe16(head + 28) == 1 && ReadLe32(head + 30) == 0 &&
           ReadLe32(head + 34) == static_cast<std::uint32_t>(rows + 2) && ReadLe32(head + 46) == 0 &&
           ReadLe32(head + 50) == 0 && std::memcmp(head + 54, white, 3) == 0 &&
           std::memcmp(head + 58, black, 3) == 0 && fileLength == kMonochromeBmpHeaderSize + rows;
}
