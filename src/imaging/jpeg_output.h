// JPEG results made by libjpeg-turbo: a quarter turn of the coefficients (transupp.c's lossless
// transforms) where the blocks allow it, otherwise new pixels encoded with the source's own tables and
// sampling in its own colour space; the metadata policy of every result; the check of every result,
// decoded whole by libjpeg-turbo on a thread of its own while it is encoded. Everything here works in
// memory; the safe save (save.h) writes the file and makes sure it holds the bytes checked.
#pragma once

#include "imaging/bitmaps.h"
#include "imaging/kernels/turn.h"

#include <cstddef>
#include <cstdint>
#include <vector>

// The largest side a JPEG can state.
constexpr int kMaxJpegSide = 65535;

// A JPEG file made in memory and decoded whole by the check, to its last coefficient without a warning,
// at the size it states; or the status of the step that failed (OutOfMemory when memory ran out,
// ValueOverflow for a side over kMaxJpegSide, GenericError for a source the library cannot read or a
// result the check refused).
struct JpegResult {
    Gdiplus::Status status = Gdiplus::GenericError;
    std::vector<std::uint8_t> bytes;
    int widthPx = 0;
    int heightPx = 0;
    bool lossless = false;  // the source's coefficients moved, nothing decoded
};

// The JPEG file `source` turned by `turn` (None copies its coefficients), stating `dpiX` x `dpiY` as
// whole DPI (every result here states its resolution so, in JFIF and EXIF alike).
// Where the blocks allow (transupp's perfect check), its coefficients are moved: the result decodes to
// the reference transform's pixels and a turn back gives the source's. Otherwise its pixels are
// decoded in the source's own colour space, turned and encoded again with its quantisation tables and
// sampling factors, both transposed with the picture. The result keeps the source's coding (Huffman
// with optimal tables, progressive, arithmetic) and the metadata of every result (WriteMetadata).
JpegResult TurnedJpeg(const std::vector<std::uint8_t>& source, Turn turn, Gdiplus::REAL dpiX, Gdiplus::REAL dpiY);

// The JPEG file `source` resampled onto `widthPx` x `heightPx` pixels by the program's resampler, in the
// source's own colour space (grey, Y-Cb-Cr, RGB, CMYK or YCCK), encoded with its tables and sampling.
// ValueOverflow, before anything is decoded, for a side over kMaxJpegSide.
JpegResult ScaledJpeg(const std::vector<std::uint8_t>& source, int widthPx, int heightPx, Gdiplus::REAL dpiX,
                      Gdiplus::REAL dpiY);

// `widthPx` x `heightPx` blue-green-red pixels, rows `stride` bytes apart, encoded for the file whose
// bytes are `source`: for a JPEG, with its tables, sampling, colour space (grey, Y-Cb-Cr or RGB; a CMYK
// or YCCK source fails rather than change its colours) and metadata, as the other results are; for
// other content under a JPEG name (no tables to keep), Y-Cb-Cr 4:4:4 at quality 75 with a JFIF header.
// ValueOverflow, before any encoding, for a side over kMaxJpegSide.
JpegResult EncodedBgr(const std::vector<std::uint8_t>& source, const std::uint8_t* bgr, std::ptrdiff_t stride,
                      int widthPx, int heightPx, Gdiplus::REAL dpiX, Gdiplus::REAL dpiY);

// The JPEG file `source` decoded by libjpeg-turbo, as every platform then decodes it: 8-bit grey on a
// palette of the 256 levels for one component, else 24-bit blue-green-red, carrying `dpiX` x `dpiY`.
// Null for CMYK and YCCK files (their colours are the platform decoder's to show) and where the file
// cannot be read or the bitmap made. Throws std::bad_alloc when memory runs out.
BitmapPtr DecodedJpeg(const std::vector<std::uint8_t>& source, Gdiplus::REAL dpiX, Gdiplus::REAL dpiY);

// The check every result gets as it is made, given bytes already made, in the chunks the encoder hands
// on: Ok when they decode with libjpeg-turbo to the last coefficient without a warning at `widthPx` x
// `heightPx`; otherwise the status of what failed.
Gdiplus::Status CheckJpegBytes(const std::vector<std::uint8_t>& bytes, int widthPx, int heightPx);
