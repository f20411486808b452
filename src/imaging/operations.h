// The four image operations a dropped file is handed to, and the batch tool's own two.
// Each operation changes one file in place, reports every outcome itself and returns nothing.
#pragma once

#include "imaging/kernels/margins.h"


// path: ANSI, at most 259 characters. angle: 90 turns clockwise, -90 counter-clockwise, others not at all.
void RotateImage(char const* path, int angle);
// Erodes the black of a BMP by `passes` pixels on every side; writes a 1-bit BMP.
void ErodeImage(char const* path, int passes);
// Pads (positive) or crops (zero or negative) the two edges meeting at `corner`; margins in tenths of a mm.
void AdjustMargins(char const* path, Corner corner, int horizontalMarginMM, int verticalMarginMM);
// Resamples by independent factors and saves in the format the extension names.
void ScaleImage(char const* path, double factorX, double factorY);
// Batch tool only. Finds the skew of the page's lines within maxDegrees (0 to 10) either way and turns
// the page back about its centre, keeping its size, resolution and format; reports the turn made
// (negative counter-clockwise). A skew under 0.01 degrees, or none found, is reported as a success
// with nothing written and no backup.
void DeskewImage(char const* path, double maxDegrees);
// Batch tool only, the scan clean-up (imaging/kernels/ink_groups.h has the rules). Each keeps the
// page's size, resolution and format and reports what it removed; a page with nothing to remove is
// reported as a success with nothing written and no backup.
// Removes specks of at most speckPixels pixels (0: 40 at 600 DPI, scaled with the square of the
// resolution) that stand apart from larger ink.
void DespeckleImage(char const* path, int speckPixels);
// Turns white the black regions that touch the page's edge and reach no further in than 15 mm.
void RemoveBlackEdges(char const* path);
// DeskewImage, RemoveBlackEdges and DespeckleImage in that order with one load, one backup and one save.
void CleanImage(char const* path, double maxDegrees, int speckPixels);
// Batch tool only. Reports the file's format, size and resolution and whether the operations would
// take it (a success) or the gate's refusal (a failure); writes nothing.
void CheckImage(char const* path);
