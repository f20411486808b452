// Resampling of PNG, JPEG, GIF and BMP files by independent X and Y factors with the program's own
// resampler, saved in place in the format the extension names (BMP always as 1-bit black and white).
#include "imaging/scale.h"

#include "imaging/jpeg_output.h"
#include "imaging/kernels/erosion.h"
#include "imaging/kernels/lengths.h"
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

}  // namespace

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
static Status SaveScaledJpeg(const SourceImage& source, int width, int height)
{
    return SaveJpegResultOver(source.path, ScaledJpeg(source.jpegFile, width, height, source.dpiX, source.dpiY));
}

static void Scale(char const* path, double factorX, double factorY)
{
    OutputFormat format = OutputFormatFor(path);
    // A JPEG file under a JPEG name is decoded by libjpeg-turbo alone, in its own colour space, and
    // gated from its headers.
    SourceImage source;
    if (!LoadGateSweepAndBackUp(path, source, nullptr, format.jpeg ? SourceNeeds::JpegBytes : SourceNeeds::Pixels)) {
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
        saved = SaveScaledJpeg(source, width, height);
    } else {
        BitmapPtr result = ScaledImage(*source.bitmap, width, height, source.dpiX, source.dpiY, format.monochromeBmp);
        source.bitmap.reset();  // the decoded source keeps the dropped file open
        saved = result ? SaveOver(path, *result, format, source.jpegFile) : GenericError;
    }
    source.widePath.reset();
    if (saved != Ok) {
        ReportFailure(texts->msgProcessingError);
        return;
    }
    ReportSaved(texts->msgScaled, source.backupName);
}

void ScaleImage(char const* path, double factorX, double factorY)
{
    GuardMemory([&] { Scale(path, factorX, factorY); });
}
