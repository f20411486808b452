// GDI+ images as the operations, the head of the pipeline and the safe save hold them: owners of
// bitmaps, wide paths and pixel locks, the size limits, palettes, locks of a source and a target, and
// bitmaps over the stored pixels of a BMP file.
#pragma once

#include "imaging/gdiplus_api.h"
#include "imaging/kernels/image_header.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <utility>
#include <vector>

// Deletes a bitmap, then unmaps the view of a file its pixels lie in when it has one.
struct DeleteBitmap {
    const void* view = nullptr;
    void operator()(Gdiplus::Bitmap* bitmap);
};
using BitmapPtr = std::unique_ptr<Gdiplus::Bitmap, DeleteBitmap>;
using WidePath = std::unique_ptr<wchar_t, decltype(&std::free)>;

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

// The pixels of `from` locked for reading in `fromFormat` and those of `to` for writing in
// `toFormat`: both, or neither when either lock fails.
std::pair<LockedPixels, LockedPixels> LockFromTo(Gdiplus::Bitmap& from, Gdiplus::PixelFormat fromFormat,
                                                 Gdiplus::Bitmap& to, Gdiplus::PixelFormat toFormat);

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
// True when the bitmap's format carries alpha or a palette entry is not opaque.
bool HasTransparency(Gdiplus::Bitmap& bitmap);
// The white-first, black-second palette of every 1-bit result.
void SetMonochromePalette(Gdiplus::Bitmap& bitmap);

// The pixels of a BMP laid out as `header` says, as a bitmap over a copy-on-write view of the file:
// nothing decoded or copied, the pixels exactly as stored, the palette opaque and the resolution in
// dots per inch, as decoders give them. Other programs may read the file meanwhile, not write it.
// Null when the file cannot be mapped or the bitmap made.
BitmapPtr MapBmp(const char* path, const ImageHeader& header);
