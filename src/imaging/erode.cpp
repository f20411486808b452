// Erosion of the black areas of a BMP in place: the page reduced to black and white on blue,
// eroded as a one-byte-per-pixel plane, and written as a 1-bit BMP.
#include "imaging/kernels/erosion.h"
#include "imaging/operations.h"
#include "imaging/pipeline.h"
#include "imaging/save.h"
#include "messages/report.h"
#include "messages/texts.h"

#include <cstdint>
#include <new>
#include <utility>
#include <vector>

using namespace Gdiplus;

// The source drawn 1:1 at (0, 0) into a new 24-bit bitmap carrying the resolution pair.
// Null when the bitmap cannot be made or the drawing fails.
static BitmapPtr DrawWorkingCopy(Bitmap& source, REAL dpiX, REAL dpiY)
{
    int width = static_cast<int>(source.GetWidth()), height = static_cast<int>(source.GetHeight());
    BitmapPtr working = NewBitmap(width, height, PixelFormat24bppRGB, dpiX, dpiY);
    if (!working) return nullptr;
    Graphics graphics(working.get());
    Status drawn = graphics.GetLastStatus();
    if (drawn == Ok) drawn = graphics.DrawImage(&source, 0, 0, width, height);
    return drawn == Ok ? std::move(working) : nullptr;
}

// The 1-bit page of the source: its own pixels thresholded, or for a transparent source those of
// its working copy (the erosion has always judged transparent pixels as drawn over the black of a
// new 24-bit image, which the 1-bit conversion, reading stored colours, would not do). Null when an
// image cannot be made, drawn or locked.
static BitmapPtr MonochromePage(Bitmap& source, REAL dpiX, REAL dpiY)
{
    if (!HasTransparency(source)) return ToMonochrome(source, dpiX, dpiY);
    BitmapPtr working = DrawWorkingCopy(source, dpiX, dpiY);
    return working ? ToMonochrome(*working, dpiX, dpiY) : nullptr;
}

// Moves the bits of a locked 1-bit page into a plane of black (0) and white (255), erodes it and
// packs it back. Throws std::bad_alloc, pixels untouched, without memory.
static void ErodePixels(const BitmapData& pixels, int passes)
{
    int width = static_cast<int>(pixels.Width), height = static_cast<int>(pixels.Height);
    std::uint8_t* bits = PixelRow(pixels, 0);
    std::vector<std::uint8_t> plane(static_cast<std::size_t>(width) * height);
    BitsToPlane(bits, pixels.Stride, width, height, plane.data());
    ErodeImageBinary(plane.data(), width, height, width, passes);
    PlaneToBits(plane.data(), width, height, bits, pixels.Stride);
}

// Erodes a 1-bit page in place. False after reporting: a lock that fails, or memory for the plane or
// the kernel that cannot be had.
static bool ErodeInPlace(Bitmap& page, int passes)
{
    LockedPixels pixels = LockPixels(page, ImageLockModeRead | ImageLockModeWrite, PixelFormat1bppIndexed);
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

// The 1-bit result of the eroded image, or null after reporting why there is none.
static BitmapPtr ErodedMonochrome(SourceImage& source, int passes)
{
    BitmapPtr page = MonochromePage(*source.bitmap, source.dpiX, source.dpiY);
    source.bitmap.reset();  // the decoded source keeps the file open, and is not needed any more
    if (!page) {
        ReportFailure(texts->msgProcessingError);
        return nullptr;
    }
    return ErodeInPlace(*page, passes) ? std::move(page) : nullptr;
}

static void Erode(char const* path, int passes)
{
    SourceImage source;
    if (!LoadGateSweepAndBackUp(path, source, ReportSaveStatus)) return;
    BitmapPtr result = ErodedMonochrome(source, passes);
    if (!result) return;
    SaveMonochromeBmp(source.path, source.backupName, *result, texts->msgEroded);
}

void ErodeImage(char const* path, int passes)
{
    GuardMemory([&] { Erode(path, passes); });
}
