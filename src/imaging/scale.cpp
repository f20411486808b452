// Resampling of PNG, JPEG, GIF and BMP files by independent X and Y factors with the program's own
// resampler, saved in place in the format the extension names (BMP always as 1-bit black and white).
#include "imaging/scale.h"

#include "imaging/jpeg_output.h"
#include "imaging/kernels/erosion.h"
#include "imaging/kernels/lengths.h"
#include "imaging/kernels/palette.h"
#include "imaging/kernels/resample.h"
#include "imaging/operations.h"
#include "imaging/pipeline.h"
#include "imaging/save.h"
#include "messages/report.h"
#include "messages/texts.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <new>
#include <vector>

using namespace Gdiplus;

namespace {

// The source's colours where the resampler reads them: the locked bitmap's own rows, or a copy.
struct SourceRows {
    LockedPixels locked{nullptr, UnlockPixels{nullptr}};
    std::vector<std::uint8_t> copy;  // colours composed over white
    const std::uint8_t* first = nullptr;
    std::ptrdiff_t stride = 0;
};

// True when every palette entry composed over white is a grey; `levels` then holds each index's grey.
// The entries' own alpha counts: the palette flags are not reliable (Wine marks every palette).
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

// The source's palette indices resampled as grey levels, spread to the three channels of a 24-bit
// image, or for BMP packed straight into 1-bit rows as they are made (the blue threshold of a grey is
// its own threshold).
BitmapPtr ScaledGrey(Bitmap& source, const std::uint8_t levels[256], int width, int height, REAL dpiX, REAL dpiY,
                     bool monochromeBmp)
{
    PixelFormat format = source.GetPixelFormat();
    LockedPixels indices = LockPixels(source, ImageLockModeRead, format);
    if (!indices) return nullptr;
    int sourceWidth = static_cast<int>(indices->Width), sourceHeight = static_cast<int>(indices->Height);
    int bitsPerPixel = static_cast<int>(GetPixelFormatSize(format));
    PixelFormat resultFormat = monochromeBmp ? PixelFormat1bppIndexed : PixelFormat24bppRGB;
    BitmapPtr result = NewBitmap(width, height, resultFormat, dpiX, dpiY);
    if (!result) return nullptr;
    if (monochromeBmp) SetMonochromePalette(*result);
    std::vector<std::uint8_t> plane(monochromeBmp ? 0 : static_cast<std::size_t>(width) * height);
    LockedPixels target = LockPixels(*result, ImageLockModeWrite, resultFormat);
    if (!target) return nullptr;
    if (monochromeBmp) {
        ResampleIndexed(PixelRow(*indices, 0), indices->Stride, sourceWidth, sourceHeight, bitsPerPixel, levels,
                        PixelRow(*target, 0), target->Stride, width, height, ResampledRows::Bits);
    } else {
        ResampleIndexed(PixelRow(*indices, 0), indices->Stride, sourceWidth, sourceHeight, bitsPerPixel, levels,
                        plane.data(), width, width, height, ResampledRows::Grey);
        PlaneToBgr(plane.data(), width, height, PixelRow(*target, 0), target->Stride);
    }
    target.reset();
    return result;
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

BitmapPtr ScaledImage(Bitmap& source, int width, int height, REAL dpiX, REAL dpiY, bool monochromeBmp)
{
    if (source.GetLastStatus() != Ok || !FitsPixelBuffers(width, height)) return nullptr;
    // Pages of greys (scanned 1-bit and greyscale pages) go from their indices straight into the
    // result's rows, with no whole plane of levels on either side.
    std::uint8_t levels[256];
    try {
        if (GreyLevels(PaletteOf(source), levels)) {
            return ScaledGrey(source, levels, width, height, dpiX, dpiY, monochromeBmp);
        }
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
    int sourceWidth = static_cast<int>(source.GetWidth()), sourceHeight = static_cast<int>(source.GetHeight());
    return DrawnImage(source, width, height, dpiX, dpiY, monochromeBmp,
                      [&](const std::uint8_t* pixels, std::ptrdiff_t stride, int channels, std::uint8_t* target,
                          std::ptrdiff_t targetStride) {
                          ResampleBicubic(pixels, stride, sourceWidth, sourceHeight, channels, target, targetStride,
                                          width, height);
                      });
}

// The JPEG file scaled and saved over it: its tables and metadata read whole first, so that a file that
// cannot be read fails rather than give a result without them. Returns the save's status.
static Status SaveScaledJpeg(const SourceImage& source, int width, int height, const OutputFormat& format)
{
    std::vector<std::uint8_t> bytes;
    if (!ReadWholeFile(source.path, bytes)) return Win32Error;
    JpegResult scaled = ScaledJpeg(bytes, width, height, static_cast<std::uint16_t>(WholeDpi(source.dpiX)),
                                   static_cast<std::uint16_t>(WholeDpi(source.dpiY)));
    if (scaled.status != Ok) return scaled.status;
    return SaveBytesOver(source.path, scaled.bytes, static_cast<UINT>(scaled.widthPx),
                         static_cast<UINT>(scaled.heightPx), format);
}

void ScaleImage(char const* path, double factorX, double factorY)
{
    OutputFormat format = OutputFormatFor(path);
    // A JPEG file under a JPEG name is decoded by libjpeg-turbo alone, in its own colour space, and
    // gated from its headers.
    SourceImage source;
    if (!LoadGateAndBackUp(path, source, nullptr, format.jpeg ? SourceNeeds::JpegBytes : SourceNeeds::Pixels)) {
        return;
    }
    int width = ScaledLength(source.widthPx, factorX);
    int height = ScaledLength(source.heightPx, factorY);
    // A target whose pixels would not fit 32-bit buffers is refused before anything is drawn.
    if (width < 0 || height < 0 || !FitsPixelBuffers(width, height)) {
        ReportFailure(texts->msgProcessingError);
        return;
    }
    Status saved = GenericError;
    if (!source.bitmap) {
        saved = SaveScaledJpeg(source, width, height, format);
    } else {
        BitmapPtr result = ScaledImage(*source.bitmap, width, height, source.dpiX, source.dpiY, format.monochromeBmp);
        source.bitmap.reset();  // the decoded source keeps the dropped file open
        saved = result ? SaveOver(path, *result, format) : GenericError;
    }
    source.widePath.reset();
    if (saved != Ok) {
        ReportFailure(texts->msgProcessingError);
        return;
    }
    ReportSaved(texts->msgScaled, source.backupName);
}
