// Scan clean-up in place: straightening, black edges and specks, found on the page's black-and-white
// picture and made white in the result, with one load, one gate, one backup and one save.
#include "imaging/kernels/ink_groups.h"
#include "imaging/operations.h"
#include "imaging/pipeline.h"
#include "imaging/save.h"
#include "imaging/straighten.h"
#include "messages/report.h"
#include "messages/texts.h"

#include <cmath>
#include <cstdio>

using namespace Gdiplus;

namespace {

// What one clean-up does: straighten first (within maxDegrees), then clear the edges and the specks.
struct CleanupSteps {
    bool straighten = false;
    double maxDegrees = 5;
    bool edges = false;
    bool specks = false;
    int speckPixels = 0;  // 0: the default for the page's resolution
};

// What it did, for the report.
struct CleanupDone {
    double turn = 0;
    CleanupFound found;
};

// The turn that straightens `mono`, 0 when none is needed or found. False when its pixels cannot be read.
bool TurnFor(Bitmap& mono, const CleanupSteps& steps, double& turn)
{
    turn = 0;
    if (!steps.straighten) return true;
    Skew skew;
    if (!FindPageSkew(mono, steps.maxDegrees, skew)) return false;
    if (skew.found && std::fabs(skew.degrees) >= kSmallestTurn) turn = -skew.degrees;
    return true;
}

// The specks and edges of `page` (1-bit as the program writes it, or 24-bit colour), judged on its
// black-and-white picture. False when its pixels cannot be read.
bool FindOn(Bitmap& page, REAL dpi, const CleanupSteps& steps, CleanupFound& found)
{
    BitmapPtr mono;
    Bitmap* picture = &page;
    if (page.GetPixelFormat() != PixelFormat1bppIndexed) {
        mono = ToMonochrome(page, dpi, dpi);
        if (!mono) return false;
        picture = mono.get();
    }
    LockedPixels bits = LockPixels(*picture, ImageLockModeRead, PixelFormat1bppIndexed);
    if (!bits) return false;
    found = FindSpecksAndEdges(PixelRow(*bits, 0), bits->Stride, static_cast<int>(bits->Width),
                               static_cast<int>(bits->Height), CleanupRulesAt(dpi, steps.speckPixels, steps.specks,
                                                                              steps.edges));
    return true;
}

// Turns the pixels of `runs` white in `page`: bits of the 1-bit image, or blue, green and red of the
// 24-bit one. False when its pixels cannot be locked.
bool Whiten(Bitmap& page, const std::vector<InkRun>& runs)
{
    PixelFormat format = page.GetPixelFormat();
    LockedPixels pixels = LockPixels(page, ImageLockModeRead | ImageLockModeWrite, format);
    if (!pixels) return false;
    if (format == PixelFormat1bppIndexed) {
        WhitenRuns(PixelRow(*pixels, 0), pixels->Stride, runs);
        return true;
    }
    for (const InkRun& run : runs) {
        std::uint8_t* row = PixelRow(*pixels, run.y);
        std::fill(row + 3 * run.left, row + 3 * (run.right + 1), std::uint8_t{255});
    }
    return true;
}

// The report of what was done, or nothing done.
void ReportCleanup(const CleanupSteps& steps, const CleanupDone& done, const char* backupName)
{
    char angle[32], message[512];
    FormatTurn(done.turn, angle, sizeof angle);
    int specks = done.found.specks;
    bool edges = done.found.edges > 0;
    if (done.turn != 0 && edges) {
        std::snprintf(message, sizeof message, texts->msgStraightenedSpecksAndEdgesRemoved, angle, specks, backupName);
    } else if (done.turn != 0 && (steps.specks || !steps.edges)) {
        std::snprintf(message, sizeof message, texts->msgStraightenedSpecksRemoved, angle, specks, backupName);
    } else if (edges && steps.specks) {
        std::snprintf(message, sizeof message, texts->msgSpecksAndEdgesRemoved, specks, backupName);
    } else if (edges) {
        std::snprintf(message, sizeof message, texts->msgEdgesRemoved, backupName);
    } else {
        std::snprintf(message, sizeof message, texts->msgSpecksRemoved, specks, backupName);
    }
    ReportSucceeded(message);
}

const char* NothingDone(const CleanupSteps& steps)
{
    if (steps.straighten) return texts->msgNothingToClean;
    return steps.specks ? texts->msgNoSpecks : texts->msgNoEdges;
}

// Straightens, clears the edges and removes the specks that `steps` ask for; a page with nothing to
// change is left as it was, without a backup.
void CleanUp(const char* path, const CleanupSteps& steps)
{
    SourceImage source;
    if (!LoadAndGate(path, source)) return;
    OutputFormat format = OutputFormatFor(path);
    BitmapPtr mono = ToMonochrome(*source.bitmap, source.dpiX, source.dpiY);
    CleanupDone done;
    BitmapPtr result;
    if (mono && TurnFor(*mono, steps, done.turn)) result = TurnedPage(source, *mono, done.turn, format.monochromeBmp);
    mono.reset();
    if (!result || !FindOn(*result, source.dpiX, steps, done.found)) {
        ReportFailure(texts->msgProcessingError);
        return;
    }
    if (done.turn == 0 && done.found.runs.empty()) {
        ReportSucceeded(NothingDone(steps));
        return;
    }
    if (!SweepAndBackUp(source)) return;
    source.bitmap.reset();  // the decoded source keeps the file open
    if (!Whiten(*result, done.found.runs) || SaveOver(path, *result, format, source.jpegFile) != Ok) {
        ReportFailure(texts->msgProcessingError);
        return;
    }
    ReportCleanup(steps, done, source.backupName);
}

}  // namespace

void DespeckleImage(char const* path, int speckPixels)
{
    GuardMemory([&] { CleanUp(path, {false, 0, false, true, speckPixels}); });
}

void RemoveBlackEdges(char const* path)
{
    GuardMemory([&] { CleanUp(path, {false, 0, true, false, 0}); });
}

void CleanImage(char const* path, double maxDegrees, int speckPixels)
{
    GuardMemory([&] { CleanUp(path, {true, maxDegrees, true, true, speckPixels}); });
}
