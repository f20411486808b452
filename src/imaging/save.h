// The end of the frame every operation runs in: the output format a file's name asks for, and the
// safe save of a result over the dropped file (the program's own JPEG writer among its ways in).
#pragma once

#include "imaging/bitmaps.h"
#include "imaging/kernels/jpeg_coefficients.h"

#include <cstdint>
#include <vector>

// The encoder and whether the result must be a 1-bit BMP, chosen from the path's extension.
struct OutputFormat {
    const wchar_t* mimeType;
    bool monochromeBmp;
    bool jpeg = false;  // written by the program's own encoder (SaveJpegOver)
};
OutputFormat OutputFormatFor(char const* path);

// Safe save: encodes `result` (a JPEG by SaveJpegOver with the tables and metadata of the file still
// at `path`; any other format by the platform's encoder for it, GIF reduced to the fixed palette first,
// a BMP header patched) and saves its bytes over `path` as SaveBytesOver does. The source must have
// been released before (it keeps the file open). GenericError when the platform has no such encoder.
Gdiplus::Status SaveOver(char const* path, Gdiplus::Bitmap& result, const OutputFormat& format);

// Writes `bytes` to a new hidden temporary file beside `path`, flushes it to the disk, checks the
// whole file as CheckWrittenFile does, then puts it in the dropped file's place keeping its identity.
// Returns Ok or the status of the step that failed; on failure the dropped file is at its path byte
// for byte as it was.
Gdiplus::Status SaveBytesOver(const char* path, const std::vector<std::uint8_t>& bytes, UINT width, UINT height,
                              bool monochromeBmp);

// The JPEG results of the operations, written by the program's own encoder so that every platform
// writes the same file (jpeg_output.cpp).
// The source of a JPEG result: the dropped file's bytes read as a JPEG (its coefficients where they can
// be read, else its frame, tables and metadata), or Malformed for other content.
struct JpegSource {
    JpegContent content = JpegContent::Malformed;
    JpegImage image;
};
JpegSource ReadJpegSource(char const* path);
// Saves `result` as a JPEG over `path` at `dpiX` x `dpiY` (whole DPI): with the source's sampling, its
// quantisation tables turned by `turn`, and its metadata, when the source is a JPEG of 1 or 3 components;
// else with the example tables at the quality estimated from its luminance table (75 for other
// content). Returns the status of the safe save.
Gdiplus::Status SaveJpegOver(char const* path, Gdiplus::Bitmap& result, const JpegSource& source, Turn turn,
                             Gdiplus::REAL dpiX, Gdiplus::REAL dpiY);
// Saves the coefficients of `image` turned by `turn` (TurnsLosslessly) over `path` (safe save) at
// `dpiX` x `dpiY` (whole DPI).
Gdiplus::Status SaveJpegCoefficientsOver(char const* path, const JpegImage& image, Turn turn, Gdiplus::REAL dpiX,
                                         Gdiplus::REAL dpiY);

// The check of a written file before it replaces the dropped one: a 1-bit BMP from its bytes (header,
// colour table, a length that holds every row), any other file decoded completely, every pixel. Ok
// when it is whole and width x height, otherwise the status of what failed.
Gdiplus::Status CheckWrittenFile(const char* path, UINT width, UINT height, bool monochromeBmp);

// Saves a 1-bit page over the dropped file as BMP and reports: "Failed to get BMP encoder",
// "Failed to save image. Status: %d", or `successFormat` with the backup's name.
void SaveMonochromeBmp(const char* path, const char* backupName, Gdiplus::Bitmap& page, const char* successFormat);
