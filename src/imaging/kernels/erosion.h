// Erosion of the black areas of a one-byte-per-pixel plane by repeated 8-neighbour passes.
// Planes of pure black and white take a bit-packed shortcut whose cost does not depend on the passes
// and which reads the plane once, checking its values as it packs them.
#pragma once

#include <cstddef>
#include <cstdint>

// Runs `passes` erosion passes over the plane in place. A pass turns white (255) every pixel off the
// outer frame that is exactly 0 and has, before the pass, at least one of its eight neighbours exactly
// 255. Any other value is never changed and never whitens a neighbour. Pixel (x, y) is
// buffer[y * stride + x] with stride >= width; the first and last rows and columns and the bytes of a
// row beyond `width` keep their values. passes <= 0, width < 3 or height < 3 change nothing.
// Scratch memory: a bit for each pixel of 5 x passes + 6 rows, cut to twice the image, and two rows
// of bytes. Throws std::bad_alloc, with the buffer as it was, when it cannot be had.
void ErodeImageBinary(std::uint8_t* buffer, int width, int height, int stride, int passes);

// Stores each byte of a plane (width bytes a row, rows back to back) in all three bytes of its
// blue-green-red pixel, rows `bgrStride` bytes apart; bytes past a row's pixels stay.
void PlaneToBgr(const std::uint8_t* plane, int width, int height, std::uint8_t* bgr, std::ptrdiff_t bgrStride);

// Fills the erosion plane (width bytes a row, rows back to back) from 1-bit rows (bit 1 black, most
// significant bit first, `bitsStride` bytes apart): black pixels become 0 in the plane, white ones 255.
void BitsToPlane(const std::uint8_t* bits, std::ptrdiff_t bitsStride, int width, int height, std::uint8_t* plane);

// Packs the plane back into 1-bit rows: below 128 black (1), else white (0), as the threshold would
// judge it; the bits after each row's last pixel are written white.
void PlaneToBits(const std::uint8_t* plane, int width, int height, std::uint8_t* bits, std::ptrdiff_t bitsStride);
