// Where the time of halving an A4 page at 600 DPI stored as a 1-bit BMP goes: the resampling and
// the 1-bit conversion timed on their own, then the whole ScaleImage call.
#include "bench_page.h"
#include "imaging/operations.h"
#include "imaging/pipeline.h"
#include "imaging/scale.h"

#include <cstdio>

using namespace Gdiplus;

static const int kRuns = 3;

static void TimeStages(const std::string& path)
{
    std::wstring widePath(path.begin(), path.end());
    BitmapPtr page, scaled, mono;
    double load = TimeMs([&] { page.reset(new Bitmap(widePath.c_str())); page->GetWidth(); });
    double draw = TimeMs([&] { scaled = DrawScaled(*page, (kWidth + 1) / 2, (kHeight + 1) / 2, 600, 600); });
    page.reset();
    double convert = TimeMs([&] { mono = scaled ? ToMonochrome(*scaled, 600, 600) : nullptr; });
    std::printf("  load (decode)              %8.1f ms\n", load);
    std::printf("  resampled drawing          %8.1f ms%s\n", draw, scaled ? "" : "  (failed)");
    std::printf("  monochrome conversion      %8.1f ms%s\n", convert, mono ? "" : "  (failed)");
}

int main()
{
    ULONG_PTR token = StartBench();
    std::string folder = BenchFolder("lumivex-scale-bench");
    std::string path = folder + "\\page.bmp";
    std::vector<unsigned char> page = PageBmp();
    std::printf("scaling by 0.5 of an A4 page %dx%d, 1-bit BMP at 600 DPI:\n", kWidth, kHeight);
    WriteFile(path, page);
    TimeStages(path);
    double whole = MedianOnFreshPage(path, folder + "\\page1.bmp", page, kRuns,
                                     [&] { ScaleImage(path.c_str(), 0.5, 0.5); });
    std::printf("  ScaleImage whole call      %8.1f ms  (median of %d)\n", whole, kRuns);
    {
        std::wstring widePath(path.begin(), path.end());
        Bitmap result(widePath.c_str());
        std::printf("  result                     %u x %u pixels\n", result.GetWidth(), result.GetHeight());
    }
    DeleteFileA(path.c_str());
    DeleteFileA((folder + "\\page1.bmp").c_str());
    RemoveDirectoryA(folder.c_str());
    Gdiplus::GdiplusShutdown(token);
    return 0;
}
