// What deskew and clean share: the skew of a page's black-and-white picture, the page turned back,
// and the turn as the reports show it.
#pragma once

#include "imaging/pipeline.h"
#include "imaging/kernels/skew.h"

#include <cstddef>

// A smaller skew is left alone: the search finds a straight page within it (a 1-bit page turned by
// less than 0.017 degrees moves its lines by less than a row over a page's width, and scores the
// same), while a page turned by more is turned back to within 0.02 degrees.
constexpr double kSmallestTurn = 0.01;

// The skew of the lines of `mono` (the page by the blue threshold). False when its pixels cannot be read.
bool FindPageSkew(Gdiplus::Bitmap& mono, double maxDegrees, Skew& skew);

// The page turned by `degrees` (0 for a copy): a 1-bit source as its 1-bit picture when that is
// what is written or all it holds, any other through the cubic shears in 24-bit colour (1-bit again
// for BMP). Null when an image cannot be made or memory runs out.
BitmapPtr TurnedPage(SourceImage& source, Gdiplus::Bitmap& mono, double degrees, bool monochromeBmp);

// "-1.25" with the language's decimal mark.
void FormatTurn(double degrees, char* text, std::size_t size);
