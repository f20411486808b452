// Straightening of skewed scans: the skew of the page's lines found on its black-and-white picture,
// the page turned back about its centre by three shears and saved in place like every operation.
#include "imaging/operations.h"
#include "imaging/pipeline.h"
#include "imaging/save.h"
#include "imaging/straighten.h"
#include "messages/report.h"
#include "messages/texts.h"

#include <cmath>
#include <cstdio>

using namespace Gdiplus;

// "Straightened by -1.25 degrees" and the backup's name.
static void ReportStraightened(double degrees, const char* backupName)
{
    char angle[32], message[512];
    FormatTurn(degrees, angle, sizeof angle);
    std::snprintf(message, sizeof message, texts->msgStraightened, angle, backupName);
    ReportSucceeded(message);
}

static void Deskew(char const* path, double maxDegrees)
{
    SourceImage source;
    if (!LoadAndGate(path, source)) return;
    BitmapPtr mono = ToMonochrome(*source.bitmap, source.dpiX, source.dpiY);
    Skew skew;
    if (!mono || !FindPageSkew(*mono, maxDegrees, skew)) {
        ReportFailure(texts->msgProcessingError);
        return;
    }
    // Nothing to write, so no backup either: the file stays as it was.
    if (!skew.found) {
        ReportSucceeded(texts->msgNoTextLines);
        return;
    }
    double turn = -skew.degrees;  // lines that fall to the right are turned back counter-clockwise
    if (std::fabs(turn) < kSmallestTurn) {
        ReportSucceeded(texts->msgAlreadyStraight);
        return;
    }
    OutputFormat format = OutputFormatFor(path);
    if (!SweepAndBackUp(source)) return;
    BitmapPtr result = TurnedPage(source, *mono, turn, format.monochromeBmp);
    mono.reset();
    source.bitmap.reset();  // the decoded source keeps the file open
    if (!result || SaveOver(path, *result, format, source.jpegFile) != Ok) {
        ReportFailure(texts->msgProcessingError);
        return;
    }
    ReportStraightened(turn, source.backupName);
}

void DeskewImage(char const* path, double maxDegrees)
{
    GuardMemory([&] { Deskew(path, maxDegrees); });
}
