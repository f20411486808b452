// Where the margins of a page go (which rectangle is kept, how much white is added on each side)
// and the 1-bit bit copies that crop and pad the page rows.
#pragma once

#include <cstdint>

// The corner whose two edges the margins act on: the left or right edge for the horizontal margin,
// the top or bottom edge for the vertical one.
enum Corner { TopLeft = 0, TopRight = 1, BottomLeft = 2, BottomRight = 3 };

// The kept rectangle [left, right) x [top, bottom) of the source, then white added around it.
// All in pixels.
struct MarginLayout {
    int left = 0, top = 0, right = 0, bottom = 0;
    int padLeft = 0, padTop = 0, padRight = 0, padBottom = 0;
};

// Applies the signed pixel margins at `corner` to a width x height page: a margin above 0
// adds that many white columns (horizontal) or rows (vertical) along the corner's edge, a margin of 0
// or below removes its magnitude from that edge. A crop may leave nothing: see KeepsPixels.
MarginLayout LayOutMargins(int width, int height, int horizontalPx, int verticalPx, Corner corner);

// True when the kept rectangle holds at least one column and one row.
bool KeepsPixels(const MarginLayout& layout);
// True when the kept rectangle is smaller than the width x height page.
bool Crops(const MarginLayout& layout, int width, int height);
// True when any side receives white.
bool Pads(const MarginLayout& layout);

// Copies `count` pixels of a 1-bit row (most significant bit first, 1 black) starting at column
// `sourceX` of `source` to column `targetX` of `target`. Only the `count` target bits are written:
// the other bits of the bytes touched keep their value, and the source's bits outside the copied
// columns (neighbours, the unused bits after a row's last pixel) never reach the target.
// Reads only the source bytes that hold copied pixels.
void CopyBitRow(const std::uint8_t* source, int sourceX, std::uint8_t* target, int targetX, int count);

// CopyBitRow for `rows` rows: row j of `source` (stride in bytes, either sign) goes to row j of `target`.
void CopyBitBlock(const std::uint8_t* source, int sourceStride, int sourceX, std::uint8_t* target,
                  int targetStride, int targetX, int count, int rows);
