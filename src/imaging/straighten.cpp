// What deskew and clean share: the skew of a page's black-and-white picture, the page turned back by
// three shears, and the turn as the reports show it.
#include "imaging/straighten.h"

#include "imaging/drawn.h"
#include "imaging/kernels/shear.h"
#include "messages/texts.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <new>
#include <vector>

using namespace Gdiplus;

bool FindPageSkew(Bitmap& mono, double maxDegrees, Skew& skew)
{
    LockedPixels bits = LockPixels(mono, ImageLockModeRead, PixelFormat1bppIndexed);
    if (!bits) return false;
    skew = FindSkew(PixelRow(*bits, 0), bits->Stride, static_cast<int>(bits->Width), static_cast<int>(bits->Height),
                    maxDegrees);
    return true;
}

// The 1-bit page turned by whole pixels: black stays black and white stays white. The BMP palette
// is the program's own; other encoders would take its alpha of 0 for transparency, so they get an
// opaque one.
static BitmapPtr TurnedBits(Bitmap& mono, double degrees, REAL dpiX, REAL dpiY, bool monochromeBmp)
{
    int width = static_cast<int>(mono.GetWidth()), height = static_cast<int>(mono.GetHeight());
    BitmapPtr turned = NewBitmap(width, height, PixelFormat1bppIndexed, dpiX, dpiY);
    if (!turned) return nullptr;
    if (monochromeBmp) {
        SetMonochromePalette(*turned);
    } else {
        SetPaletteEntries(*turned, {0xFFFFFFFF, 0xFF000000});
    }
    auto [from, to] = LockFromTo(mono, PixelFormat1bppIndexed, *turned, PixelFormat1bppIndexed);
    if (!to) return nullptr;
    try {
        TurnBitsByShears(PixelRow(*from, 0), from->Stride, width, height, degrees, PixelRow(*to, 0), to->Stride);
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
    to.reset();
    return turned;
}

// True for a 1-bit image of black and white (the palette's alpha aside: the program's own 1-bit
// files carry 0 there): its 1-bit picture is the image itself.
static bool IsBlackAndWhite(Bitmap& image)
{
    std::vector<ARGB> palette = PaletteOf(image);
    return image.GetPixelFormat() == PixelFormat1bppIndexed && !palette.empty() &&
           std::all_of(palette.begin(), palette.end(), [](ARGB entry) {
               return (entry & 0xFFFFFF) == 0 || (entry & 0xFFFFFF) == 0xFFFFFF;
           });
}

BitmapPtr TurnedPage(SourceImage& source, Bitmap& mono, double degrees, bool monochromeBmp)
{
    bool oneBit = source.bitmap->GetPixelFormat() == PixelFormat1bppIndexed;
    if (oneBit && (monochromeBmp || IsBlackAndWhite(*source.bitmap))) {
        return TurnedBits(mono, degrees, source.dpiX, source.dpiY, monochromeBmp);
    }
    int width = static_cast<int>(source.bitmap->GetWidth()), height = static_cast<int>(source.bitmap->GetHeight());
    return DrawnImage(*source.bitmap, width, height, source.dpiX, source.dpiY, monochromeBmp,
                      [&](const std::uint8_t* pixels, std::ptrdiff_t stride, int channels, std::uint8_t* target,
                          std::ptrdiff_t targetStride) {
                          TurnPixelsByShears(pixels, stride, width, height, channels, degrees, target, targetStride);
                      });
}

void FormatTurn(double degrees, char* text, std::size_t size)
{
    std::snprintf(text, size, "%.2f", degrees);
    if (char* mark = std::strchr(text, '.')) *mark = texts->decimalMark[0];
}
