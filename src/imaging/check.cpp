// The batch tool's pre-flight check: what a file is and whether the operations would take it, read
// through the pipeline's own load and gate, with nothing written.
#include "imaging/operations.h"
#include "imaging/page_files.h"
#include "imaging/pipeline.h"
#include "imaging/save.h"
#include "messages/report.h"
#include "messages/texts.h"

#include <cstdio>

using namespace Gdiplus;

// The format the file's own header names; the decoder's for content the header check does not know.
static const char* FormatName(const ImageHeader& header, Bitmap& bitmap)
{
    switch (header.kind) {
    case ImageKind::Bmp: return "BMP";
    case ImageKind::Png: return "PNG";
    case ImageKind::Jpeg: return "JPEG";
    case ImageKind::Gif: return "GIF";
    case ImageKind::Unknown: break;
    }
    GUID format{};
    bitmap.GetRawFormat(&format);
    return format == ImageFormatTIFF ? "TIFF" : "?";
}

void CheckImage(char const* path)
{
    // As the operations would: no room for the safe save's temporary file, or a file that cannot be
    // replaced. Asked before the load, which keeps the file open.
    char verdict[256], full[MAX_PATH], line[512];
    bool replaceable = FullPathForSave(path, full) && CanReplace(full);
    SourceImage source;
    if (!LoadSource(path, source)) return;
    Bitmap& image = *source.bitmap;
    bool taken = !DpiRefusal(image, verdict, sizeof verdict);
    if (taken && !replaceable) {
        std::snprintf(verdict, sizeof verdict, "%s", texts->msgProcessingError);
        taken = false;
    }
    if (taken) {
        bool bmp = OutputFormatFor(path).monochromeBmp;
        const char* takenBy = bmp ? texts->msgCheckTakenByAll : texts->msgCheckTakenByImageOperations;
        std::snprintf(verdict, sizeof verdict, "%s", takenBy);
    }
    std::snprintf(line, sizeof line, texts->msgCheckLine, FormatName(ReadImageHeader(path), image), image.GetWidth(),
                  image.GetHeight(), static_cast<double>(image.GetHorizontalResolution()),
                  static_cast<double>(image.GetVerticalResolution()), verdict);
    if (taken) {
        ReportSucceeded(line);
    } else {
        ReportFailure(line);
    }
}
