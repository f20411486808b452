// Quarter turns of PNG, JPEG, GIF and BMP files in place; JPEG files without loss where their blocks allow.
#include "imaging/jpeg_output.h"
#include "imaging/kernels/turn.h"
#include "imaging/operations.h"
#include "imaging/pipeline.h"
#include "imaging/save.h"
#include "messages/report.h"
#include "messages/texts.h"

#include <utility>
#include <vector>

using namespace Gdiplus;

static Turn TurnFor(int angle)
{
    if (angle == 90) return Turn::Clockwise;
    if (angle == -90) return Turn::CounterClockwise;
    return Turn::None;
}

static RotateFlipType RotateFlipTypeFor(Turn turn)
{
    switch (turn) {
    case Turn::Clockwise: return Rotate90FlipNone;
    case Turn::CounterClockwise: return Rotate270FlipNone;
    default: return RotateNoneFlipNone;
    }
}

// A copy of `image` in `format` that holds its own pixels, turned by `turn`, with the image's
// palette and the resolution pair. Null when it cannot be made or locked in that format.
static BitmapPtr CopyTurnedAs(Bitmap& image, Turn turn, PixelFormat format, REAL dpiX, REAL dpiY)
{
    int width = static_cast<int>(image.GetWidth());
    int height = static_cast<int>(image.GetHeight());
    if (turn != Turn::None) std::swap(width, height);
    BitmapPtr copy = NewBitmap(width, height, format, dpiX, dpiY);
    if (!copy) return nullptr;
    if (std::vector<ARGB> palette = PaletteOf(image); !palette.empty()) SetPaletteEntries(*copy, palette);
    auto [from, to] = LockFromTo(image, format, *copy, format);
    if (!to) return nullptr;
    TurnPixels(PixelRow(*from, 0), from->Stride, static_cast<int>(from->Width), static_cast<int>(from->Height),
               static_cast<int>(GetPixelFormatSize(format)), PixelRow(*to, 0), to->Stride, turn);
    return copy;
}

// The turned image apart from the source and its open file, in the source's own pixel format;
// formats that cannot be made or locked as they are go through 32-bit ARGB, which keeps alpha.
static BitmapPtr TurnedCopy(Bitmap& image, Turn turn, REAL dpiX, REAL dpiY)
{
    BitmapPtr copy = CopyTurnedAs(image, turn, image.GetPixelFormat(), dpiX, dpiY);
    return copy ? std::move(copy) : CopyTurnedAs(image, turn, PixelFormat32bppARGB, dpiX, dpiY);
}

// The image to save: the 1-bit conversion for BMP, otherwise the turned pixels in their own format.
static BitmapPtr MakeResult(SourceImage& source, Turn pending, bool monochromeBmp)
{
    if (monochromeBmp && pending == Turn::None) {
        return ToMonochrome(*source.bitmap, source.dpiX, source.dpiY);
    }
    BitmapPtr turned = TurnedCopy(*source.bitmap, pending, source.dpiX, source.dpiY);
    if (!turned || !monochromeBmp) return turned;
    return ToMonochrome(*turned, source.dpiX, source.dpiY);
}

// A JPEG file is turned by libjpeg-turbo from its bytes, in its coefficients where its blocks allow,
// losing nothing. Its tables and metadata are read whole before anything is turned: a file that cannot
// be read fails here rather than give a result without them. Returns the save's status.
static Status RotateJpeg(const SourceImage& source, Turn turn)
{
    return SaveJpegResultOver(source.path, TurnedJpeg(source.jpegFile, turn, source.dpiX, source.dpiY));
}

static void Rotate(char const* path, int angle)
{
    OutputFormat format = OutputFormatFor(path);
    // A JPEG file under a JPEG name is gated from its headers, never decoded by the platform.
    SourceImage source;
    if (!LoadGateSweepAndBackUp(path, source, nullptr, format.jpeg ? SourceNeeds::JpegBytes : SourceNeeds::Pixels)) {
        return;
    }
    Turn turn = TurnFor(angle);
    Status saved = GenericError;
    if (!source.bitmap) {
        saved = RotateJpeg(source, turn);
    } else {
        // Some platforms cannot turn 1- and 4-bit images; the program then turns the pixels itself.
        Turn pending = source.bitmap->RotateFlip(RotateFlipTypeFor(turn)) == Ok ? Turn::None : turn;
        BitmapPtr result = MakeResult(source, pending, format.monochromeBmp);
        source.bitmap.reset();  // the decoded source keeps the file open
        if (result) saved = SaveOver(path, *result, format, source.jpegFile);
    }
    if (saved != Ok) {
        ReportFailure(texts->msgProcessingError);
        return;
    }
    ReportSaved(texts->msgRotated, source.backupName);
}

void RotateImage(char const* path, int angle)
{
    GuardMemory([&] { Rotate(path, angle); });
}
