// Lengths in pixels, rounded by adding 0.5 and truncating toward zero.
#pragma once

// Pixels covered by `tenthsMM` tenths of a millimetre at `dpi`: truncate(t / 254 * dpi + 0.5).
// Negative lengths therefore come out one pixel shorter in magnitude than positive ones.
// Lengths beyond int's range in pixels come out as INT_MAX or INT_MIN.
int MMToPixels(int tenthsMM, int dpi);

// A side of `length` pixels scaled by `factor`: truncate(length * factor + 0.5), at least 1.
// Returns -1 when the result would not fit a 32-bit int (or the factor is not a finite number).
int ScaledLength(int length, double factor);
