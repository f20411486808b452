// GDI+ images as the operations, the head of the pipeline and the safe save hold them: owners of
// bitmaps, wide paths and pixel locks, the size limits, palettes, locks of a source and a target, and
// bitmaps over the stored pixels of a BMP file.
#pragma once

#include "imaging/gdiplus_api.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <utility>
#include <vector>

// UTF-16 copy of an ANSI path, allocated with malloc; the caller frees it. nullptr if it cannot be made.
wchar_t* AnsiToWide(char const* path);
// Index of the first encoder whose MIME type is exactly `mimeType`, its CLSID in *clsid; -1 if none.
int GetEncoderClsid(wchar_t const* mimeType, CLSID* clsid);

// Deletes a bitmap, then unmaps the view of a file its pixels lie in and closes that file, when it
// has them.
struct DeleteBitmap {
    const void* view = nullptr;
    HANDLE file = nullptr;  // the file of the view, held while it lives
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

// True when the file at `path` lies on a local fixed disk (by the type of its volume's root), where a
// mapped read is safe; false for network shares, removable drives and volumes of unknown type.
bool IsOnLocalDisk(const char* path);

// The pixels of the uncompressed BMP at `path`, as a bitmap over a copy-on-write view of the file:
// nothing decoded or copied, the pixels exactly as stored, the palette opaque and the resolution in
// dots per inch, as decoders give them. The header is checked again from the mapped bytes, and the
// file is held open for as long as the bitmap lives: others may read it, nobody may write or delete
// it. Null when the file cannot be held or mapped, its mapped header is not that of a sound
// uncompressed BMP of 1, 4, 8 or 24 bits, or the bitmap cannot be made.
BitmapPtr MapBmp(const char* path);

// False for an indexed bitmap with a pixel whose index lies past its palette (a broken file, which
// encoders refuse to write back); true for every other bitmap. Reads the indices only when the
// palette is shorter than its format allows.
bool HasIndicesInPalette(Gdiplus::Bitmap& bitmap);
