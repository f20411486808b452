// Where the time of halving an A4 page at 600 DPI stored as a 1-bit BMP goes, with the program's own
// resampler and, for comparison in the same run, with the platform's bicubic drawing it replaced
// (kept here only): the resampling step alone, then the whole operation both ways, against a quarter
// turn of the same page (RotateImage) timed in turn with it.
// With three paths, `win_scale_bench SOURCE OWN PLATFORM`, it instead scales copies of SOURCE by 0.3 both
// ways for the before/after picture of the documentation (scripts/scale-sample.sh).
#include "bench_page.h"
#include "imaging/kernels/lengths.h"
#include "imaging/operations.h"
#include "imaging/pipeline.h"
#include "imaging/save.h"
#include "imaging/scale.h"
#include "messages/report.h"
#include "messages/texts.h"

#include <cstdio>

using namespace Gdiplus;

static const int kRuns = 3;
static const int kTurnRounds = 7;

// The replaced step: the source drawn with high-quality bicubic interpolation onto a white 24-bit
// image, made 1-bit for BMP output.
static BitmapPtr PlatformDrawing(Bitmap& source, int width, int height, bool monochromeBmp)
{
    BitmapPtr scaled = NewBitmap(width, height, PixelFormat24bppRGB, 600, 600);
    if (!scaled) return nullptr;
    {
        Graphics graphics(scaled.get());
        graphics.Clear(Color(255, 255, 255, 255));
        graphics.SetInterpolationMode(InterpolationModeHighQualityBicubic);
        if (graphics.DrawImage(&source, 0, 0, width, height) != Ok) return nullptr;
    }
    return monochromeBmp ? ToMonochrome(*scaled, 600, 600) : std::move(scaled);
}

// ScaleImage's own steps with either resampling step: the switch that the program does not have.
static void ScaleWith(bool platformDrawing, const char* path, double factor)
{
    SourceImage source;
    if (!LoadGateSweepAndBackUp(path, source)) return;
    int width = ScaledLength(static_cast<int>(source.bitmap->GetWidth()), factor);
    int height = ScaledLength(static_cast<int>(source.bitmap->GetHeight()), factor);
    OutputFormat format = OutputFormatFor(path);
    BitmapPtr result = platformDrawing ? PlatformDrawing(*source.bitmap, width, height, format.monochromeBmp)
                                       : ScaledImage(*source.bitmap, width, height, source.dpiX, source.dpiY,
                                                     format.monochromeBmp);
    source.bitmap.reset();
    if (result && SaveOver(path, *result, format, source.jpegFile) == Ok) {
        ReportSaved(texts->msgScaled, source.backupName);
    }
}

static void TimeSteps(const std::string& path)
{
    std::wstring widePath(path.begin(), path.end());
    Bitmap page(widePath.c_str());
    int width = (kWidth + 1) / 2, height = (kHeight + 1) / 2;
    BitmapPtr ours, platform;
    double own = TimeMs([&] { ours = ScaledImage(page, width, height, 600, 600, true); });
    double drawn = TimeMs([&] { platform = PlatformDrawing(page, width, height, true); });
    std::printf("  resampling to 1 bit, own resampler      %8.1f ms%s\n", own, ours ? "" : "  (failed)");
    std::printf("  resampling to 1 bit, platform drawing   %8.1f ms%s\n", drawn, platform ? "" : "  (failed)");
}

// SOURCE copied to OWN and PLATFORM, each scaled by 0.3 x 0.3 in place, with its backup left beside it.
static void ScaleSample(char** paths)
{
    for (int way = 0; way < 2; ++way) {
        CopyFileA(paths[0], paths[1 + way], FALSE);
        ScaleWith(way == 1, paths[1 + way], 0.3);
    }
}

int main(int argc, char** argv)
{
    ULONG_PTR token = StartBench();
    if (argc == 4) {
        ScaleSample(argv + 1);
        GdiplusShutdown(token);
        return 0;
    }
    std::string folder = BenchFolder("lumivex-scale-bench");
    std::string path = folder + "\\page.bmp", backup = folder + "\\page1.bmp";
    std::vector<unsigned char> page = PageBmp();
    std::printf("scaling by 0.5 of an A4 page %dx%d, 1-bit BMP at 600 DPI:\n", kWidth, kHeight);
    WriteFile(path, page);
    TimeSteps(path);
    // Scaling and turning in turn, so that a busy machine slows both alike.
    std::vector<double> scaled, turned;
    for (int round = 0; round < kTurnRounds; ++round) {
        scaled.push_back(MedianOnFreshPage(path, backup, page, 1, [&] { ScaleImage(path.c_str(), 0.5, 0.5); }));
        turned.push_back(MedianOnFreshPage(path, backup, page, 1, [&] { RotateImage(path.c_str(), 90); }));
    }
    double own = Median(scaled), turn = Median(turned);
    double check = MedianOnFreshPage(path, backup, page, kRuns, [&] { ScaleWith(false, path.c_str(), 0.5); });
    double platform = MedianOnFreshPage(path, backup, page, kRuns, [&] { ScaleWith(true, path.c_str(), 0.5); });
    std::printf("  ScaleImage whole call                   %8.1f ms  (median of %d)\n", own, kTurnRounds);
    std::printf("  RotateImage whole call, in turn with it %8.1f ms  ScaleImage = %.2f x RotateImage\n", turn,
                own / turn);
    std::printf("  the same steps, own resampler           %8.1f ms\n", check);
    std::printf("  the same steps, platform drawing        %8.1f ms  = %.1f x ScaleImage\n", platform, platform / own);
    DeleteFileA(path.c_str());
    DeleteFileA(backup.c_str());
    RemoveDirectoryA(folder.c_str());
    GdiplusShutdown(token);
    return 0;
}
