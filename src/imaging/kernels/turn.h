// Quarter turns of packed pixel rows of any bit depth, for platforms whose RotateFlip cannot turn them.
#pragma once

#include <cstdint>

enum class Turn { None, Clockwise, CounterClockwise };

// Copies a `width` x `height` image of `bitsPerPixel` (1, 4, 8, 16, 24, 32, 48 or 64) from `source`
// to `target`, turned. Clockwise, target pixel (x, y) is source pixel (y, height - 1 - x);
// counter-clockwise it is source pixel (width - 1 - y, x); None copies. Sub-byte pixels are
// most significant bits first. The target is height x width for a turn; its bits after the
// last pixel of a row are left as they were. Strides are positive byte distances between rows.
void TurnPixels(const std::uint8_t* source, int sourceStride, int width, int height, int bitsPerPixel,
                std::uint8_t* target, int targetStride, Turn turn);
