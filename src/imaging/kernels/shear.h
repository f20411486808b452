// Turning a page about its centre by a small angle, keeping its size, by three shears: rows moved
// across, then columns moved down, then rows across again (tan(a/2), sin(a), tan(a/2)).
#pragma once

#include <cstddef>
#include <cstdint>

// Turns a width x height page of 1-bit rows (most significant bit first, 1 black) by `degrees`
// about its centre, clockwise as seen for a positive angle (rows running down), into `target` of the
// same size; strides are byte distances between rows (either sign). The shears move whole pixels:
// with a the angle and round(v) = floor(v + 0.5), row r moves across by round(-tan(a/2) x (r -
// (height - 1) / 2)) in the first and the last, column c down by round(sin(a) x (c - (width - 1) / 2))
// in the second. Each is one-to-one, so every target pixel is exactly one source pixel or, where
// none falls, white (0): no pixel is made or blurred, and the black pixels lost are those turned off
// the page. Each target row is written whole ((width + 7) / 8 bytes, the bits after its last pixel
// white). The three shears are done in one pass: each target row gathers runs of source bits, 56
// at a time. Memory: one copy of the source with padded rows.
void TurnBitsByShears(const std::uint8_t* source, std::ptrdiff_t sourceStride, int width, int height,
                      double degrees, std::uint8_t* target, std::ptrdiff_t targetStride);

// Turns a width x height image of `channels` bytes per pixel (1 grey, 3 blue-green-red, each
// filtered on its own) by `degrees` as TurnBitsByShears does, but each shear moves by the exact
// fraction of a pixel, sampled with the cubic kernel (imaging/kernels/resample.h, weights in units of
// 2^-14, rounded to nearest and clamped to 0..255 after each shear). The source's edges are clamped
// (taps beyond them take the edge pixel), so a uniform picture stays uniform up to where the turned
// page ends; target pixels whose centre, turned back exactly, lies outside the source are white.
// Memory: a ring of the rows of the image after the first shear (its width grown by the shears), as
// many as the taps of one target row reach (about width x tan a + 4), each made as the second shear
// first needs it; a row after the second. Throws std::bad_alloc, the target untouched, without it.
// Other channel counts change nothing.
void TurnPixelsByShears(const std::uint8_t* source, std::ptrdiff_t sourceStride, int width, int height,
                        int channels, double degrees, std::uint8_t* target, std::ptrdiff_t targetStride);
