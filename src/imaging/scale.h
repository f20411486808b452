// The scaling's resampling of a whole source, on its own so that its results and failures can be
// checked directly.
#pragma once

#include "imaging/drawn.h"

#include <cstddef>
#include <cstdint>
#include <functional>

// DrawnImage of the whole source resampled onto width x height pixels by the program's own
// prefiltered cubic resampler (imaging/kernels/resample.h).
BitmapPtr ScaledImage(Gdiplus::Bitmap& source, int width, int height, Gdiplus::REAL dpiX, Gdiplus::REAL dpiY,
                      bool monochromeBmp);
