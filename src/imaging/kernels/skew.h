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
// Method: the page is reduced to the black count of each row in strips 32 pixels wide, and of each
// pair of columns in bands 256 rows high. For an angle a each strip's counts are shifted by (its
// centre - the page's centre) x tan a rows and added into one profile of row sums; its score is the
// mean squared difference of neighbouring row sums over the rows every strip reaches at that angle,
// largest when lines of text and rules lie along the rows (a band or rule just inside the page's top
// or bottom edge counts, the page's own edges do not). The bands make a profile of column sums the
// same way, sheared as vertical lines lean when the rows fall by a, scored alike: vertical rules
// count too. Angles are tried every 0.2 degree on rows taken two at a time, each kind of score
// counting by how many times its median it reaches; around the best, every 0.01 degree up to 0.15
// either side on whole rows, and the result is the middle of that peak: the angles weighted by how
// far their row scores stand above 90% of the best (near its top the score moves in steps and stays
// level over several hundredths).
// Cost: one pass over the bits for each kind of count, then for each angle one addition per strip
// and row (per two rows in the coarse search) and per band and pair of columns: with maxDegrees 5,
// 51 x (156 strips x 3508 rows + 28 bands x 2481 columns) + 31 x 156 x 7016 for an A4 page at 600
// DPI; memory one byte per strip and row. Nothing is found when fewer than 1 pixel in 2000 is
// black, or when the best angle's scores do not stand kMinimumContrast - 1 times their medians above
// them, the median taken over the angles tried from -5 to 5 degrees (or the wider range searched):
// a photo, noise or a uniform page scores alike at every angle.
Skew FindSkew(const std::uint8_t* bits, std::ptrdiff_t stride, int width, int height, double maxDegrees);

// How far above the median row score the best must stand for lines to be found: text pages stand 20
// to 50 times above it, photos and noise below 1.5.
constexpr double kMinimumContrast = 4;
