// The resampling step of the scaling, on its own so that its results and failures can be checked directly.
#pragma once

#include "imaging/pipeline.h"

// The whole source resampled onto width x height pixels by the program's own prefiltered cubic
// resampler (imaging/kernels/resample.h): a 24-bit image carrying the resolution pair, or with
// `monochromeBmp` the 1-bit image that the blue threshold makes of it. Transparent parts are composed
// over white first. Sources with a palette of greys (scanned 1-bit and greyscale pages) are resampled
// as one channel. Null when an image cannot be made or locked or memory runs out. Does not take
// ownership of the source, and no lock on it outlasts the call.
BitmapPtr ScaledImage(Gdiplus::Bitmap& source, int width, int height, Gdiplus::REAL dpiX, Gdiplus::REAL dpiY,
                      bool monochromeBmp);
