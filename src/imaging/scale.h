// The resampling step of the scaling, on its own so that its failures can be checked directly.
#pragma once

#include "imaging/pipeline.h"

// The whole source drawn, resampled with high-quality bicubic interpolation, onto a new white 24-bit
// image of width x height pixels carrying the resolution pair. Transparent parts of the source come
// out white. Null when the image cannot be made or the drawing fails. Does not take ownership of the
// source; the drawing context is gone when this returns, so the caller may release the source at once.
BitmapPtr DrawScaled(Gdiplus::Bitmap& source, int width, int height, Gdiplus::REAL dpiX, Gdiplus::REAL dpiY);
