// Lengths in pixels and resolutions in whole dots per inch, rounded by adding 0.5 and truncating
// toward zero.
#pragma once

// Pixels covered by `tenthsMM` tenths of a millimetre at `dpi`: truncate(t / 254 * dpi + 0.5).
// Negative lengths therefore come out one pixel shorter in magnitude than positive ones.
// Lengths beyond int's range in pixels come out as INT_MAX or INT_MIN.
int MMToPixels(int tenthsMM, int dpi);

// A side of `length` pixels scaled by `factor`: truncate(length * factor + 0.5), at least 1.
// Returns -1 when the result would not fit a 32-bit int (or the factor is not a finite number).
int ScaledLength(int length, double factor);

// A resolution in whole dots per inch, as JPEG stores it: truncate(dpi + 0.5), so 599.9988 and 599.5
// give 600 and 599.4 gives 599. For the resolutions that pass the DPI gate.
float WholeDpi(float dpi);
