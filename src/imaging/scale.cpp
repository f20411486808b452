// Resampling of PNG, JPEG, GIF and BMP files by independent X and Y factors, saved in place in the
// format the extension names (BMP always as 1-bit black and white).
#include "imaging/kernels/lengths.h"
#include "imaging/operations.h"
#include "imaging/pipeline.h"
#include "imaging/scale.h"
#include "messages/report.h"
#include "messages/texts.h"

using namespace Gdiplus;

BitmapPtr DrawScaled(Bitmap& source, int width, int height, REAL dpiX, REAL dpiY)
{
    BitmapPtr scaled = NewBitmap(width, height, PixelFormat24bppRGB, dpiX, dpiY);
    if (!scaled) {
        return nullptr;
    }
    Graphics graphics(scaled.get());
    // A new image starts black; transparent parts of the source are meant to be paper, so white.
    if (graphics.GetLastStatus() != Ok || graphics.Clear(Color(255, 255, 255, 255)) != Ok) {
        return nullptr;
    }
    graphics.SetInterpolationMode(InterpolationModeHighQualityBicubic);
    // The integer rectangle overload stretches by pixels, whatever resolution the source claims.
    if (graphics.DrawImage(&source, 0, 0, width, height) != Ok) {
        return nullptr;
    }
    return scaled;
}

// The image to save: the scaled image itself, or its 1-bit conversion for BMP (the scaled image is
// released once converted). Null when any step fails.
static BitmapPtr MakeResult(SourceImage& source, int width, int height, bool monochromeBmp)
{
    BitmapPtr scaled = DrawScaled(*source.bitmap, width, height, source.dpiX, source.dpiY);
    source.bitmap.reset();  // the decoded source keeps the dropped file open
    if (!scaled || !monochromeBmp) {
        return scaled;
    }
    return ToMonochrome(*scaled, source.dpiX, source.dpiY);
}

void ScaleImage(char const* path, double factorX, double factorY)
{
    SourceImage source;
    if (!OpenSource(path, source)) {
        return;
    }
    int width = ScaledLength(static_cast<int>(source.bitmap->GetWidth()), factorX);
    int height = ScaledLength(static_cast<int>(source.bitmap->GetHeight()), factorY);
    OutputFormat format = OutputFormatFor(path);
    CLSID encoder;
    // A target whose pixels would not fit 32-bit buffers is refused before anything is drawn.
    if (width < 0 || height < 0 || !FitsPixelBuffers(width, height) ||
        GetEncoderClsid(format.mimeType, &encoder) < 0) {
        ReportFailure(texts->msgProcessingError);
        return;
    }
    BitmapPtr result = MakeResult(source, width, height, format.monochromeBmp);
    Status saved = result ? SaveOver(path, *result, encoder, format.monochromeBmp) : GenericError;
    result.reset();
    source.widePath.reset();
    if (saved != Ok) {
        ReportFailure(texts->msgProcessingError);
        return;
    }
    ReportSaved(texts->msgScaled, source.backupName);
}
