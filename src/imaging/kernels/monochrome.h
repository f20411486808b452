// Packing 24-bit pixels into 1-bit rows by the blue threshold, the BMP header patch applied after the
// encoder, and the check of a written 1-bit BMP from its bytes.
#pragma once

#include <cstddef>
#include <cstdint>

// Blue 128 or more is white (bit 0), below is black (bit 1); green and red are not looked at.
constexpr std::uint8_t kWhiteThreshold = 128;

// Packs one row of `width` blue-green-red pixels into `row`, most significant bit first.
// The bits after the last pixel are written white (0). `row` holds at least (width + 7) / 8 bytes.
void PackMonochromeRow(const std::uint8_t* bgr, int width, std::uint8_t* row);

// Rewrites one row of `width` 1-bit palette indices as white (0) and black (1) bits, given which of
// the two palette entries is black: the same bits the blue threshold gives on the palette colours.
// The bits after the last pixel are written white. Both rows hold (width + 7) / 8 bytes.
void MapIndexedRow(const std::uint8_t* indices, int width, bool zeroIsBlack, bool oneIsBlack, std::uint8_t* row);

// Bytes of one 1-bit BMP row: the width's bits rounded up to a multiple of 32.
std::uint32_t BmpRowLength(std::uint32_t width);

// Bytes of the file header, information header and two-entry colour table of a 1-bit BMP.
constexpr std::size_t kMonochromeBmpHeaderSize = 62;

// Patches a BMP file's first 54 bytes in place when they describe a 1-bit image:
// bfSize = fileLength, biSizeImage = row length x biHeight + 2, biClrUsed = 0, biClrImportant = 0.
// Returns false, changing nothing, for anything else ("BM" missing, other bit counts).
bool PatchMonochromeHeader(std::uint8_t header[54], std::uint32_t fileLength);

// True when `head` (the file's first 62 bytes) and `fileLength` are exactly a patched 1-bit BMP of
// width x height, rows bottom-up: "BM", bfSize = fileLength, bfOffBits 62, a 40-byte information
// header, one plane, 1 bit, no compression, biSizeImage as patched, biClrUsed and biClrImportant 0,
// the colour table white then black (the entries' fourth bytes not looked at), and the file as long
// as the header and the rows together.
bool IsMonochromeBmp(const std::uint8_t head[kMonochromeBmpHeaderSize], std::uint64_t fileLength,
                     std::uint32_t width, std::uint32_t height);
