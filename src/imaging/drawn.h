// Drawing a new image from a source's pixels with a kernel (the scaling's resampling, the deskew's
// turn): what the operations that make a whole new picture share.
#pragma once

#include "imaging/bitmaps.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

// True when every palette entry composed over white is a grey; `levels` then holds each index's grey.
// The entries' own alpha counts: the palette flags are not reliable (Wine marks every palette).
bool GreyLevels(const std::vector<Gdiplus::ARGB>& palette, std::uint8_t levels[256]);

// A kernel that draws a whole new image from the source's pixels: rows of `channels` bytes (1 grey,
// 3 blue-green-red) from `pixels`, `stride` apart, into rows of the same kind `targetStride` apart.
using DrawPixels = std::function<void(const std::uint8_t* pixels, std::ptrdiff_t stride, int channels,
                                      std::uint8_t* target, std::ptrdiff_t targetStride)>;

// The width x height image `draw` makes of the whole source: a 24-bit image carrying the resolution
// pair, or with `monochromeBmp` the 1-bit image that the blue threshold makes of it. Transparent parts
// are composed over white first. Sources with a palette of greys (scanned 1-bit and greyscale pages)
// are drawn from as one channel. Null when an image cannot be made or locked or memory runs out
// (std::bad_alloc from `draw` included). Does not take ownership of the source, and no lock on it
// outlasts the call.
BitmapPtr DrawnImage(Gdiplus::Bitmap& source, int width, int height, Gdiplus::REAL dpiX, Gdiplus::REAL dpiY,
                     bool monochromeBmp, const DrawPixels& draw);

