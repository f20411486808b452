// Little- and big-endian integers read from byte buffers, whatever the host's own order.
#pragma once

#include <cstdint>

inline std::uint16_t ReadLe16(const std::uint8_t* at)
{
    return static_cast<std::uint16_t>(at[0] | (at[1] << 8));
}

inline std::uint32_t ReadLe32(const std::uint8_t* at)
{
    return at[0] | (at[1] << 8) | (at[2] << 16) | (static_cast<std::uint32_t>(at[3]) << 24);
}

inline std::uint16_t ReadBe16(const std::uint8_t* at)
{
    return static_cast<std::uint16_t>((at[0] << 8) | at[1]);
}

inline std::uint32_t ReadBe32(const std::uint8_t* at)
{
    return (static_cast<std::uint32_t>(at[0]) << 24) | (at[1] << 16) | (at[2] << 8) | at[3];
}

// Pixels x to x + 63 of a packed 1-bit row (most significant bit first) as one word, pixel x in
// the top bit; 0 past `width`. Reads no byte past the row's (width + 7) / 8.
inline std::uint64_t RowBits64(const std::uint8_t* row, int x, int width)
{
    int bytes = (width - x + 7) / 8 < 8 ? (width - x + 7) / 8 : 8;
    std::uint64_t word = 0;
    for (int i = 0; i < bytes; ++i) word = word << 8 | row[x / 8 + i];
    word <<= 8 * (8 - bytes);
    if (width - x < 64) word &= ~(~std::uint64_t{0} >> (width - x));
    return word;
}
