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
