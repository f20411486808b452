// The 1-bit packing of every BMP result and the header patch applied after the encoder.
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

bool PatchMonochromeHeader(std::uint8_t header[54])
{
    int bitCount = header[28] | (header[29] << 8);
    if (header[0] != 'B' || header[1] != 'M' || bitCount != 1) {
        return false;
    }
    // Other programs read these files with the size two bytes above the pixel rows; keep it so.
    std::uint32_t height = ReadLe32(header + 22);
    Write32(header + 34, BmpRowLength(ReadLe32(header + 18)) * height + 2);
    Write32(header + 46, 0);
    Write32(header + 50, 0);
    return true;
}
