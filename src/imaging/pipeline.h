// The frame every operation runs in: open and gate the source, back the file up, build results,
// save them safely over the dropped file and report. Shared by the operations only.
#pragma once

#include "imaging/gdiplus_api.h"
#include "imaging/kernels/image_header.h"
#include "imaging/kernels/jpeg_coefficients.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

using BitmapPtr = std::unique_ptr<Gdiplus::Bitmap>;
using WidePath = std::unique_ptr<wchar_t, decltype(&std::free)>;

// What the head of the pipeline hands to an operation's own work.
struct SourceImage {
    const char* path = nullptr;                // the dropped path (ANSI)
    WidePath widePath{nullptr, &std::free};  // the dropped path in UTF-16
    BitmapPtr bitmap;                          // decoded source; keeps the file open until reset
    char backupName[512] = "";                 // the backup's file name and extension, for the report
    Gdiplus::REAL dpiX = 0;                    // resolution pair, stamped on every image made
    Gdiplus::REAL dpiY = 0;
};

// The header check of the file at `path` (ANSI), read with seeks before any decoder opens it.
// Kind Unknown when the file cannot be opened.
ImageHeader ReadImageHeader(char const* path);

// Head: LoadAndGate, then MakeBackup. Returns false after reporting a refusal or failure; nothing
// has been written then.
bool OpenSource(char const* path, SourceImage& source, void (*reportSaveFailure)(int status) = nullptr);

// The head without the backup: room for the safe save's temporary file; the refusal of a file that
// could not be replaced (reported as `reportSaveFailure` reports a failed save; msgProcessingError
// when null); UTF-16 path, header check, load, DPI gate, resolution pair. Returns false after
// reporting a refusal or failure.
bool LoadAndGate(char const* path, SourceImage& source, void (*reportSaveFailure)(int status) = nullptr);
// Removes what killed runs on source.path left beside it, writes its numbered backup (a whole,
// flushed copy or none; never over an existing file) and puts its name in source.backupName.
// Returns false after reporting "Failed to create backup".
bool MakeBackup(SourceImage& source);

// Header check and load of `path` into source.bitmap (UTF-16 path too), with the resolution a JPEG
// states in EXIF where the decoder reads none. Returns false after reporting msgProcessingError.
bool LoadSource(char const* path, SourceImage& source);

// The gate's refusal of an image's resolution (msgDpiRequired with the pair found) in `message`, or
// false when both resolutions lie within 0.5 of 600 DPI.
bool DpiRefusal(Gdiplus::Bitmap& image, char* message, std::size_t size);

// True for a bitmap that exists and whose construction succeeded. Ask once: reading a GDI+ object's
// status sets it back to Ok.
bool IsUsable(const BitmapPtr& bitmap);

// A new bitmap of the given size and format carrying the resolution pair; null when it cannot be made.
BitmapPtr NewBitmap(int width, int height, Gdiplus::PixelFormat format, Gdiplus::REAL dpiX, Gdiplus::REAL dpiY);

// The longest side taken, 2^20 pixels (over 44 m at 600 DPI): the kernels' index arithmetic (a side
// times the bits of a pixel, times the channels and the rows filtered together) then stays far
// inside 32-bit int, whatever the other side.
constexpr long long kMaxSidePx = 1LL << 20;

// True when neither side exceeds kMaxSidePx and width x height pixels of 3 bytes each stay below
// 2^31 bytes.
bool FitsPixelBuffers(long long width, long long height);

// Unlocks the bitmap a LockedPixels came from.
struct UnlockPixels {
    Gdiplus::Bitmap* bitmap;
    void operator()(Gdiplus::BitmapData* pixels) const;
};
// The pixels of a locked bitmap; unlocked when the owner goes, on every way out.
using LockedPixels = std::unique_ptr<Gdiplus::BitmapData, UnlockPixels>;

// Locks the whole bitmap in `format` with `mode`. Null when the lock fails.
LockedPixels LockPixels(Gdiplus::Bitmap& bitmap, UINT mode, Gdiplus::PixelFormat format);

// Row y of locked pixels (the stride may be negative).
inline std::uint8_t* PixelRow(const Gdiplus::BitmapData& pixels, int y)
{
    return static_cast<std::uint8_t*>(pixels.Scan0) + static_cast<std::ptrdiff_t>(y) * pixels.Stride;
}

// The palette entries of an indexed bitmap (0xAARRGGBB, at most 256); empty for other bitmaps or when
// the palette cannot be read.
std::vector<Gdiplus::ARGB> PaletteOf(Gdiplus::Bitmap& bitmap);
// Installs a palette of these entries (flags 0) on an indexed bitmap.
Gdiplus::Status SetPaletteEntries(Gdiplus::Bitmap& bitmap, const std::vector<Gdiplus::ARGB>& entries);
// The white-first, black-second palette of every 1-bit result.
void SetMonochromePalette(Gdiplus::Bitmap& bitmap);

// The 1-bit image of `source` by the blue threshold, with the resolution pair and the
// monochrome palette; null when an image cannot be made or locked.
BitmapPtr ToMonochrome(Gdiplus::Bitmap& source, Gdiplus::REAL dpiX, Gdiplus::REAL dpiY);

// The encoder and whether the result must be a 1-bit BMP, chosen from the path's extension.
struct OutputFormat {
    const wchar_t* mimeType;
    bool monochromeBmp;
    bool jpeg = false;  // written by the program's own encoder (SaveJpegOver)
};
OutputFormat OutputFormatFor(char const* path);

// Safe save: encodes `result` (JPEG with the resolution pair in whole DPI, GIF reduced to the fixed
// palette, a BMP header patched) and saves its bytes over `path` as SaveBytesOver does. The source
// must have been released before (it keeps the file open).
Gdiplus::Status SaveOver(char const* path, Gdiplus::Bitmap& result, const CLSID& encoder, const OutputFormat& format);

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
void SaveMonochromeBmp(const SourceImage& source, Gdiplus::Bitmap& page, const char* successFormat);
