// Colours laid over white paper, and the fixed 256-colour palette of every GIF result with the
// reduction of 32-bit pixels to it.
#pragma once

#include <cstdint>

constexpr int kFixedPaletteCount = 256;

// Entry `index` (0 to 255) of the fixed palette as 0xAARRGGBB, alpha 255. Entries 0 to 215 are the
// 6 x 6 x 6 cube of the levels 0, 51, ..., 255 (index 36 red + 6 green + blue, in steps); entries 216
// to 255 are the 40 greys of the ramp round(k x 255 / 45), k = 0 to 45, that the cube lacks, darkest
// first.
std::uint32_t FixedPaletteEntry(int index);

// One row of blue-green-red-alpha pixels (alpha not premultiplied) composed over white into
// blue-green-red: c x a / 255 + 255 - a, rounded to nearest. `bgr` may be `bgra` itself.
void ComposeOverWhite(const std::uint8_t* bgra, int width, std::uint8_t* bgr);

// Reduces one row of `width` blue-green-red-alpha pixels (alpha not premultiplied) to indices of the
// fixed palette: each pixel laid over white by its alpha, then the entry nearest by the sum of squared
// differences of red, green and blue, the lower index on a tie. No dithering: a pixel's index depends
// on that pixel alone, so the result is the same on every platform.
void QuantiseRow(const std::uint8_t* bgra, int width, std::uint8_t* indices);

// The largest palette index among the first `width` pixels of a row of 1-, 4- or 8-bit indices, the
// leftmost pixel in a byte's most significant bits.
unsigned LargestIndex(const std::uint8_t* indices, int width, int bitsPerPixel);
