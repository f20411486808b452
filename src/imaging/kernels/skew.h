// Finding how far a page's lines of text and rules are turned from the rows, by projection profiles
// of its 1-bit picture.
#pragma once

#include <cstddef>
#include <cstdint>

// What FindSkew found: the angle in degrees by which the lines fall to the right (the page turned
// clockwise as seen, rows running down), or nothing.
struct Skew {
    bool found = false;
    double degrees = 0;
};

// The skew of a width x height page of 1-bit rows (most significant bit first, 1 black), rows
// `stride` bytes apart (either sign), looked for from -maxDegrees to maxDegrees (0 to 10).
// Method: the page is reduced to the black count of each row in strips 32 pixels wide. For an angle a
// each strip's counts are shifted by (its centre - the page's centre) x tan a rows and added into one
// profile of row sums, which is sheared onto the rows; its score is the sum of the squared
// differences of neighbouring row sums, largest when lines of text and rules lie along the rows
// (only rows that every strip reaches at every angle count, so the page's own edges score nothing).
// Angles are tried every 0.2 degree; around the best, every 0.01 degree up to 0.15 either side, and
// the result is the middle of that peak: the angles weighted by how far their scores stand above 90%
// of the best (near its top the score moves in steps and stays level over several hundredths).
// Cost: one pass over the bits, then for each angle one addition per strip and row: with maxDegrees
// 5, 51 + 31 angles x 156 strips x 7016 rows for an A4 page at 600 DPI; memory one byte per strip
// and row. Nothing is found when fewer than 1 pixel in 2000 is black, or when the best score is not
// kMinimumContrast times the median score of the angles tried from -5 to 5 degrees (or the wider
// range searched): a photo, noise or a uniform page scores alike at every angle.
Skew FindSkew(const std::uint8_t* bits, std::ptrdiff_t stride, int width, int height, double maxDegrees);

// How far above the median score the best must stand for lines to be found: text pages stand 20 to
// 50 times above it, photos and noise below 1.5.
constexpr double kMinimumContrast = 4;
