// The 1-bit packing of every BMP result, the header patch applied after the encoder and the check
// of the written file.
#include "imaging/kernels/monochrome.h"

#include "imaging/kernels/bytes.h"

#include <cstring>

void PackMonochromeRow(const std::uint8_t* bgr, int width, std::uint8_t* row)
{
    std::memset(row, 0, static_cast<std::size_t>(width + 7) / 8);
    for (int x = 0; x < width; ++x) {
        if (bgr[3 * static_cast<std::size_t>(x)] < kWhiteThreshold) {
            row[x >> 3] |= static_cast<std::uint8_t>(0x80u >> (x & 7));
        }
    }
}

void MapIndexedRow(const std::uint8_t* indices, int width, bool zeroIsBlack, bool oneIsBlack, std::uint8_t* row)
{
    std::size_t bytes = static_cast<std::size_t>(width + 7) / 8;
    for (std::size_t i = 0; i < bytes; ++i) {
        std::uint8_t ones = oneIsBlack ? indices[i] : 0;
        std::uint8_t zeros = zeroIsBlack ? static_cast<std::uint8_t>(~indices[i]) : 0;
        row[i] = ones | zeros;
    }
    if (width % 8 != 0) {
        row[bytes - 1] &= static_cast<std::uint8_t>(0xFF00u >> (width % 8));
    }
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
