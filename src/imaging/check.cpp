// The batch tool's pre-flight check: what a file is and whether the operations would take it, judged
// by the pipeline's own load and gate, with nothing written and nothing moved.
#include "imaging/operations.h"
#include "imaging/page_files.h"
#include "imaging/pipeline.h"
#include "imaging/save.h"
#include "messages/report.h"
#include "messages/texts.h"

#include <shlwapi.h>

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

// A page that a run killed inside its replace left set aside is named, not put back: the check
// changes nothing. False when the page is not in that state.
static bool ReportedSetAside(char const* path)
{
    char full[MAX_PATH], aside[MAX_PATH], message[512];
    if (!FullPathForSave(path, full) || !FindSetAsidePage(full, aside)) return false;
    std::snprintf(message, sizeof message, texts->msgCheckSetAside, PathFindFileNameA(aside));
    ReportFailure(message);
    return true;
}

static void Check(char const* path)
{
    if (ReportedSetAside(path)) return;
    char verdict[256], line[512];
    SourceImage source;
    Verdict judged = LoadAndJudge(path, source, verdict, sizeof verdict);
    if (!source.bitmap) {
        ReportFailure(texts->msgProcessingError);
        return;
    }
    if (judged == Verdict::Taken) {
        bool bmp = OutputFormatFor(path).monochromeBmp;
        std::snprintf(verdict, sizeof verdict, "%s",
                      bmp ? texts->msgCheckTakenByAll : texts->msgCheckTakenByImageOperations);
    } else if (judged != Verdict::WrongResolution) {
        std::snprintf(verdict, sizeof verdict, "%s", texts->msgProcessingError);
    }
    Bitmap& image = *source.bitmap;
    std::snprintf(line, sizeof line, texts->msgCheckLine, FormatName(ReadImageHeader(path), image), image.GetWidth(),
                  image.GetHeight(), static_cast<double>(source.dpiX), static_cast<double>(source.dpiY), verdict);
    if (judged == Verdict::Taken) {
        ReportSucceeded(line);
    } else {
        ReportFailure(line);
    }
}

void CheckImage(char const* path)
{
    GuardMemory([&] { Check(path); });
}
