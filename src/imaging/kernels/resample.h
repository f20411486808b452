// Resampling of 8-bit images by independent factors on the two axes with the cubic convolution
// kernel (a = -0.5, Catmull-Rom), widened on an axis that shrinks so that it averages every pixel.
#pragma once

#include <cstddef>
#include <cstdint>

// Keys' cubic convolution kernel with a = -0.5 (Catmull-Rom) at distance t: 1 at 0, 0 at every other
// whole distance and from 2 on; the weights of any fractional position add up to 1.
double Cubic(double t);

// Filter weights in units of 2^-kWeightBits.
constexpr int kWeightBits = 14;

// `count` weights that add up to 1, rounded to units of 2^-kWeightBits with the rounding remainder on
// the largest, so that they add up to exactly 2^kWeightBits.
void QuantiseWeights(const double* exact, int count, std::int16_t* quantised);

// Resamples the whole width x height source onto the whole newWidth x newHeight result.
// Pixels are `channels` bytes, 1 (grey) or 3 (blue, green, red: each filtered on its own); rows are
// `sourceStride` and `resultStride` bytes apart, and the bytes after a row's pixels are not touched.
// On each axis, with f = new length / length, output pixel x samples the source at (x + 0.5) / f - 0.5
// with the kernel stretched by 1 / f when f < 1 (support 2 / f on each side, so a thin stroke is
// averaged, never skipped); samples beyond an edge take the edge pixel; each output pixel's weights
// are normalised to sum 1, and results are rounded to nearest and clamped to 0..255.
// Columns are filtered first, then rows. Weights (units of 2^-14, summing to exactly 2^14, so a
// uniform image stays uniform) and the rows between the passes (units of 1/64 level) are fixed point;
// the result stays within 1 level of the same formula evaluated in double precision.
// Sizes below 1 or other channel counts change nothing.
// Memory beyond the source and the result: one weight table per axis (one 16-bit weight per tap:
// about 4 / f taps per output pixel on an axis that shrinks, 4 on one that grows) and sixteen rows of
// width x channels 16-bit values. Throws std::bad_alloc, the result untouched, without it.
void ResampleBicubic(const std::uint8_t* source, std::ptrdiff_t sourceStride, int width, int height,
                     int channels, std::uint8_t* result, std::ptrdiff_t resultStride, int newWidth, int newHeight);

// Rows of 1-, 4- or 8-bit palette indices (the first pixel in the most significant bits), `stride`
// bytes apart, as one byte per pixel through `levels` (256 entries): plane[y * width + x] = levels[index].
// Other bit counts change nothing.
void IndicesToPlane(const std::uint8_t* indices, std::ptrdiff_t stride, int width, int height, int bitsPerPixel,
                    const std::uint8_t* levels, std::uint8_t* plane);

// What ResampleIndexed writes: grey levels, one byte a pixel, or 1-bit rows of the blue threshold of
// those levels (PackGreyRow).
enum class ResampledRows { Grey, Bits };

// ResampleBicubic of one grey channel read from rows of 1-, 4- or 8-bit palette indices (the first
// pixel in the most significant bits), `stride` bytes apart, as the levels levels[index] (256
// entries), without a whole plane of levels: each source row is turned into levels once, into a ring
// of as many rows as an output row has taps and eight more, when the resampler first needs it. With
// ResampledRows::Bits each result row is packed as it is made: result rows are then 1-bit, and the
// bytes after a row's first (newWidth + 7) / 8 are not touched. The same results as the levels
// resampled, then packed. Sizes below 1 or other bit counts change nothing. Throws std::bad_alloc,
// the result untouched, without memory.
void ResampleIndexed(const std::uint8_t* indices, std::ptrdiff_t stride, int width, int height, int bitsPerPixel,
                     const std::uint8_t* levels, std::uint8_t* result, std::ptrdiff_t resultStride, int newWidth,
                     int newHeight, ResampledRows kind);
