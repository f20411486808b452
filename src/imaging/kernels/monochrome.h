// Packing 24-bit pixels into 1-bit rows by the blue threshold, the BMP header patch applied after the
// encoder, and the check of a written 1-bit BMP from its bytes.
#pragma once

#include <cstddef>
#include <cstdint>

// Blue 128 or more is white (bit 0), below is black (bit 1); green and red are not looked at.
constexpr std::uint8_t kWhiteThreshold = 128;

// Packs one row of `width` pixels into `row`, most significant bit first. Pixels are
// `bytesPerPixel` bytes, 3 (blue, green, red) or 4 (blue, green, red and a byte not read).
// The bits after the last pixel are written white (0). `row` holds at least (width + 7) / 8 bytes.
void PackMonochromeRow(const std::uint8_t* pixels, int width, int bytesPerPixel, std::uint8_t* row);

// Packs one row of `width` grey levels into `row`, most significant bit first: below 128 black (1),
// as the blue threshold judges a grey. The bits after the last pixel are written white.
void PackGreyRow(const std::uint8_t* grey, int width, std::uint8_t* row);

// Packs one row of `width` 1-, 4- or 8-bit palette indices (the first pixel in the most significant
// bits) into `row` as white (0) and black (1) bits: black where black[index] is 1 (256 entries, 0 or
// 1), which the caller sets from the blue threshold of each palette colour. Reads only the bytes that
// hold the row's indices; the bits after the last pixel are written white. Other bit counts change
// nothing.
void PackIndexedRow(const std::uint8_t* indices, int width, int bitsPerPixel, const std::uint8_t* black,
                    std::uint8_t* row);

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
