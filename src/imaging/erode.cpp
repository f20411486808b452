// Erosion of the black areas of a BMP in place: the image drawn into 24-bit colour, reduced to
// black and white on blue, eroded as a one-byte-per-pixel plane, and written as a 1-bit BMP.
#include "imaging/kernels/erosion.h"
#include "imaging/operations.h"
#include "imaging/pipeline.h"
#include "messages/report.h"
#include "messages/texts.h"

#include <cstdint>
#include <new>
#include <utility>
#include <vector>

using namespace Gdiplus;

// The source drawn 1:1 at (0, 0) into a new 24-bit bitmap carrying the resolution pair.
// Null when the bitmap cannot be made or the drawing fails.
static BitmapPtr DrawWorkingCopy(Bitmap& source, int width, int height, REAL dpiX, REAL dpiY)
{
    BitmapPtr working = NewBitmap(width, height, PixelFormat24bppRGB, dpiX, dpiY);
    if (!working) return nullptr;
    Graphics graphics(working.get());
    Status drawn = graphics.GetLastStatus();
    if (drawn == Ok) drawn = graphics.DrawImage(&source, 0, 0, width, height);
    return drawn == Ok ? std::move(working) : nullptr;
}

// Moves the locked pixels into a plane of black (0) and white (255), erodes it and writes it back.
// 24-bit pixels are thresholded on blue and get the plane in all three bytes; the write-back sets
// every byte the threshold would have set, so the threshold goes straight into the plane.
// Throws std::bad_alloc, pixels untouched, without memory.
static void ErodePixels(const BitmapData& pixels, int passes)
{
    int width = static_cast<int>(pixels.Width), height = static_cast<int>(pixels.Height);
    std::uint8_t* bytes = PixelRow(pixels, 0);
    std::vector<std::uint8_t> plane(static_cast<std::size_t>(width) * height);
    if (pixels.PixelFormat == PixelFormat1bppIndexed) {
        BitsToPlane(bytes, pixels.Stride, width, height, plane.data());
        ErodeImageBinary(plane.data(), width, height, width, passes);
        PlaneToBits(plane.data(), width, height, bytes, pixels.Stride);
        return;
    }
    ThresholdToPlane(bytes, pixels.Stride, width, height, plane.data());
    ErodeImageBinary(plane.data(), width, height, width, passes);
    PlaneToBgr(plane.data(), width, height, bytes, pixels.Stride);
}

// Erodes a 24-bit working copy or a 1-bit page in place. False after reporting: a lock that fails,
// or memory for the plane or the kernel that cannot be had.
static bool ErodeInPlace(Bitmap& image, int passes)
{
    LockedPixels pixels = LockPixels(image, ImageLockModeRead | ImageLockModeWrite, image.GetPixelFormat());
    if (!pixels) {
        ReportFailure("Failed to lock bitmap");
        return false;
    }
    try {
        ErodePixels(*pixels, passes);
    } catch (const std::bad_alloc&) {
        ReportFailure(texts->msgProcessingError);
        return false;
    }
    return true;
}

// A 1-bit page goes from its own bits to the plane and back: the 24-bit working copy would give the
// same plane, at most of the operation's time for a scanned page.
static BitmapPtr ErodedOneBit(SourceImage& source, int passes)
{
    BitmapPtr page = ToMonochrome(*source.bitmap, source.dpiX, source.dpiY);
    source.bitmap.reset();  // the decoded source keeps the file open, and is not needed any more
    if (!page) {
        ReportFailure(texts->msgProcessingError);
        return nullptr;
    }
    return ErodeInPlace(*page, passes) ? std::move(page) : nullptr;
}

// The 1-bit result of the eroded image, or null after reporting why there is none.
static BitmapPtr ErodedMonochrome(SourceImage& source, int passes)
{
    if (source.bitmap->GetPixelFormat() == PixelFormat1bppIndexed) return ErodedOneBit(source, passes);
    int width = static_cast<int>(source.bitmap->GetWidth());
    int height = static_cast<int>(source.bitmap->GetHeight());
    BitmapPtr working = DrawWorkingCopy(*source.bitmap, width, height, source.dpiX, source.dpiY);
    source.bitmap.reset();  // the decoded source keeps the file open, and is not needed any more
    if (!working) {
        ReportFailure(texts->msgProcessingError);
        return nullptr;
    }
    if (!ErodeInPlace(*working, passes)) return nullptr;
    BitmapPtr result = ToMonochrome(*working, source.dpiX, source.dpiY);
    if (!result) ReportFailure(texts->msgProcessingError);
    return result;
}

void ErodeImage(char const* path, int passes)
{
    SourceImage source;
    if (!OpenSource(path, source, ReportSaveStatus)) return;
    BitmapPtr result = ErodedMonochrome(source, passes);
    if (!result) return;
    SaveMonochromeBmp(source, *result, texts->msgEroded);
}
