// Corner margins of BMP pages: white added or border cut away along the two edges meeting at one
// corner, on the 1-bit black-and-white page that is written back over the file.
#include "imaging/kernels/lengths.h"
#include "imaging/kernels/margins.h"
#include "imaging/operations.h"
#include "imaging/pipeline.h"
#include "imaging/save.h"
#include "messages/report.h"
#include "messages/texts.h"

#include <climits>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <utility>

using namespace Gdiplus;

// Every byte of every row 0, that is white; the lock of a new image holds no defined pixels.
static void ClearRows(const BitmapData& pixels)
{
    for (int y = 0; y < static_cast<int>(pixels.Height); ++y) {
        std::memset(PixelRow(pixels, y), 0, static_cast<size_t>(std::abs(pixels.Stride)));
    }
}

// A new white 1-bit image with the monochrome palette and the resolution pair, whose pixels from
// (targetX, targetY) on receive the width x height block of `image` at (sourceX, sourceY).
// Null when an image cannot be made or locked.
static BitmapPtr CopyIntoWhite(Bitmap& image, int sourceX, int sourceY, int width, int height,
                               long long newWidth, long long newHeight, int targetX, int targetY, REAL dpiX,
                               REAL dpiY)
{
    if (newWidth > INT_MAX || newHeight > INT_MAX) {
        return nullptr;
    }
    BitmapPtr result = NewBitmap(static_cast<int>(newWidth), static_cast<int>(newHeight), PixelFormat1bppIndexed,
                                 dpiX, dpiY);
    if (!result) {
        return nullptr;
    }
    SetMonochromePalette(*result);
    auto [source, target] = LockFromTo(image, PixelFormat1bppIndexed, *result, PixelFormat1bppIndexed);
    if (!source) return nullptr;
    ClearRows(*target);
    CopyBitBlock(PixelRow(*source, sourceY), source->Stride, sourceX, PixelRow(*target, targetY), target->Stride,
                 targetX, width, height);
    return result;
}

// The kept rectangle of the 1-bit page as a new image; null when it cannot be made.
// Not Bitmap::Clone: Wine's 1-bit Clone reports success while it ignores offsets inside a byte and
// drops the last partial byte of every row, so the program copies the bits itself everywhere.
static BitmapPtr Crop(Bitmap& page, const MarginLayout& layout, REAL dpiX, REAL dpiY)
{
    int width = layout.right - layout.left;
    int height = layout.bottom - layout.top;
    return CopyIntoWhite(page, layout.left, layout.top, width, height, width, height, 0, 0, dpiX, dpiY);
}

// The page with its white margins around it; null when the larger image cannot be made.
static BitmapPtr Pad(Bitmap& page, const MarginLayout& layout, REAL dpiX, REAL dpiY)
{
    int width = static_cast<int>(page.GetWidth());
    int height = static_cast<int>(page.GetHeight());
    long long newWidth = static_cast<long long>(width) + layout.padLeft + layout.padRight;
    long long newHeight = static_cast<long long>(height) + layout.padTop + layout.padBottom;
    return CopyIntoWhite(page, 0, 0, width, height, newWidth, newHeight, layout.padLeft, layout.padTop, dpiX, dpiY);
}

static void Adjust(char const* path, Corner corner, int horizontalMarginMM, int verticalMarginMM)
{
    SourceImage source;
    if (!LoadGateSweepAndBackUp(path, source, ReportSaveStatus)) {
        return;
    }
    // Both margins use the horizontal resolution; the DPI gate keeps the vertical one within a dot of it.
    int dpi = static_cast<int>(source.dpiX);
    int width = static_cast<int>(source.bitmap->GetWidth());
    int height = static_cast<int>(source.bitmap->GetHeight());
    MarginLayout layout = LayOutMargins(width, height, MMToPixels(horizontalMarginMM, dpi),
                                        MMToPixels(verticalMarginMM, dpi), corner);
    // A crop must leave at least one column and one row; the file is left as it was.
    if (!KeepsPixels(layout)) {
        ReportFailure(texts->msgProcessingError);
        return;
    }
    BitmapPtr page = ToMonochrome(*source.bitmap, source.dpiX, source.dpiY);
    source.bitmap.reset();  // the decoded source keeps the dropped file open
    if (page && Crops(layout, width, height)) {
        page = Crop(*page, layout, source.dpiX, source.dpiY);
    }
    if (page && Pads(layout)) {
        page = Pad(*page, layout, source.dpiX, source.dpiY);
    }
    if (!page) {
        ReportFailure(texts->msgProcessingError);
        return;
    }
    SaveMonochromeBmp(source.path, source.backupName, *page, texts->msgMarginsSaved);
}

void AdjustMargins(char const* path, Corner corner, int horizontalMarginMM, int verticalMarginMM)
{
    GuardMemory([&] { Adjust(path, corner, horizontalMarginMM, verticalMarginMM); });
}
