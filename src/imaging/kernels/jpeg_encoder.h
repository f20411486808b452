// The forward half of a JPEG encoder, for results that are not a turn of the source's coefficients:
// colour conversion, downsampling, DCT and quantisation into a JpegImage for the writer.
#pragma once

#include "imaging/kernels/jpeg_coefficients.h"

#include <cstddef>
#include <cstdint>

// The quality 1 to 100 whose tables, by the common encoders' scaling of the standard's example tables
// (factor 5000 / quality below 50, 200 - 2 x quality from 50 on), come closest to `luma`, a luminance
// quantisation table in natural order: the scale is the mean ratio of its entries to the example's.
int EstimateJpegQuality(const std::array<std::uint16_t, 64>& luma);

// A `widthPx` x `heightPx` colour image without coefficients: Y, Cb and Cr (ids 1 to 3, full
// resolution), Y with the example luminance table scaled to `quality`, Cb and Cr with the chrominance one.
JpegImage JpegLayoutFor(int widthPx, int heightPx, int quality);

// True when EncodeBgr can fill `image`: one component (grey) or three (Y, Cb, Cr), each sampling
// factor dividing the largest, and each component's table defined.
bool EncodesFromPixels(const JpegImage& image);

// Fills the blocks of every component of `image` (size, components and tables set; EncodesFromPixels)
// from its widthPx x heightPx blue-green-red pixels, rows `stride` bytes apart. A component's sample is
// the mean of the pixels its sampling covers, converted as JFIF converts (grey: the luma); the padding
// repeats the last row and column. Each block's DCT is divided by the component's table and rounded.
void EncodeBgr(const std::uint8_t* bgr, std::ptrdiff_t stride, JpegImage& image);
