// Drawing a new image from a source's pixels with a kernel: the source read as one grey plane or as
// blue-green-red rows, the kernel's result made an image of the operation's own format.
#include "imaging/drawn.h"

#include "imaging/kernels/erosion.h"
#include "imaging/kernels/palette.h"
#include "imaging/kernels/resample.h"
#include "imaging/pipeline.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <new>
#include <vector>

using namespace Gdiplus;

bool GreyLevels(const std::vector<ARGB>& palette, std::uint8_t levels[256])
{
    std::fill(levels, levels + 256, std::uint8_t{255});
    for (std::size_t i = 0; i < palette.size(); ++i) {
        ARGB entry = palette[i];
        std::uint8_t bgra[4] = {static_cast<std::uint8_t>(entry), static_cast<std::uint8_t>(entry >> 8),
                                static_cast<std::uint8_t>(entry >> 16), static_cast<std::uint8_t>(entry >> 24)};
        std::uint8_t bgr[3];
        ComposeOverWhite(bgra, 1, bgr);
        if (bgr[0] != bgr[1] || bgr[1] != bgr[2]) return false;
        levels[i] = bgr[0];
    }
    return !palette.empty();
}

namespace {

// The source's colours where the resampler reads them: the locked bitmap's own rows, or a copy.
struct SourceRows {
    LockedPixels locked{nullptr, UnlockPixels{nullptr}};
    std::vector<std::uint8_t> copy;  // colours composed over white
    const std::uint8_t* first = nullptr;
    std::ptrdiff_t stride = 0;
};

// One grey plane from the source's own palette indices.
bool ReadGrey(Bitmap& source, const std::uint8_t levels[256], SourceRows& rows)
{
    PixelFormat format = source.GetPixelFormat();
    LockedPixels indices = LockPixels(source, ImageLockModeRead, format);
    if (!indices) return false;
    int width = static_cast<int>(indices->Width), height = static_cast<int>(indices->Height);
    rows.copy.resize(static_cast<std::size_t>(width) * height);
    IndicesToPlane(PixelRow(*indices, 0), indices->Stride, width, height, static_cast<int>(GetPixelFormatSize(format)),
                   levels, rows.copy.data());
    rows.first = rows.copy.data();
    rows.stride = width;
    return true;
}

// Blue-green-red rows: the source's own, locked in 24 bits, or for a source with transparency a copy
// composed over white (a 24-bit lock drops the alpha and keeps whatever colour lies under it).
bool ReadColour(Bitmap& source, bool transparent, SourceRows& rows)
{
    if (!transparent) {
        rows.locked = LockPixels(source, ImageLockModeRead, PixelFormat24bppRGB);
        if (!rows.locked) return false;
        rows.first = PixelRow(*rows.locked, 0);
        rows.stride = rows.locked->Stride;
        return true;
    }
    LockedPixels bgra = LockPixels(source, ImageLockModeRead, PixelFormat32bppARGB);
    if (!bgra) return false;
    int width = static_cast<int>(bgra->Width), height = static_cast<int>(bgra->Height);
    rows.copy.resize(static_cast<std::size_t>(width) * height * 3);
    for (int y = 0; y < height; ++y) {
        ComposeOverWhite(PixelRow(*bgra, y), width, &rows.copy[static_cast<std::size_t>(y) * width * 3]);
    }
    rows.first = rows.copy.data();
    rows.stride = static_cast<std::ptrdiff_t>(width) * 3;
    return true;
}

// A grey plane drawn, then spread to the three channels of a 24-bit image, or for BMP packed
// straight into 1-bit rows (the blue threshold of a grey is its own threshold).
BitmapPtr DrawnGrey(const SourceRows& rows, int width, int height, REAL dpiX, REAL dpiY, bool monochromeBmp,
                    const DrawPixels& draw)
{
    std::vector<std::uint8_t> plane(static_cast<std::size_t>(width) * height);
    draw(rows.first, rows.stride, 1, plane.data(), width);
    PixelFormat format = monochromeBmp ? PixelFormat1bppIndexed : PixelFormat24bppRGB;
    BitmapPtr result = NewBitmap(width, height, format, dpiX, dpiY);
    if (!result) return nullptr;
    if (monochromeBmp) SetMonochromePalette(*result);
    LockedPixels target = LockPixels(*result, ImageLockModeWrite, format);
    if (!target) return nullptr;
    if (monochromeBmp) {
        PlaneToBits(plane.data(), width, height, PixelRow(*target, 0), target->Stride);
    } else {
        PlaneToBgr(plane.data(), width, height, PixelRow(*target, 0), target->Stride);
    }
    target.reset();
    return result;
}

// Colour rows drawn straight into a 24-bit image, thresholded to 1 bit for BMP.
BitmapPtr DrawnColour(const SourceRows& rows, int width, int height, REAL dpiX, REAL dpiY, bool monochromeBmp,
                      const DrawPixels& draw)
{
    BitmapPtr drawn = NewBitmap(width, height, PixelFormat24bppRGB, dpiX, dpiY);
    LockedPixels target = drawn ? LockPixels(*drawn, ImageLockModeWrite, PixelFormat24bppRGB) : nullptr;
    if (!target) return nullptr;
    draw(rows.first, rows.stride, 3, PixelRow(*target, 0), target->Stride);
    target.reset();
    return monochromeBmp ? ToMonochrome(*drawn, dpiX, dpiY) : std::move(drawn);
}

}  // namespace

BitmapPtr DrawnImage(Bitmap& source, int width, int height, REAL dpiX, REAL dpiY, bool monochromeBmp,
                     const DrawPixels& draw)
{
    if (source.GetLastStatus() != Ok || !FitsPixelBuffers(width, height)) return nullptr;
    try {
        std::vector<ARGB> palette = PaletteOf(source);
        std::uint8_t levels[256];
        SourceRows rows;
        if (GreyLevels(palette, levels)) {
            return ReadGrey(source, levels, rows) ? DrawnGrey(rows, width, height, dpiX, dpiY, monochromeBmp, draw)
                                                  : nullptr;
        }
        return ReadColour(source, HasTransparency(source), rows) ? DrawnColour(rows, width, height, dpiX, dpiY, monochromeBmp, draw)
                                                     : nullptr;
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}

