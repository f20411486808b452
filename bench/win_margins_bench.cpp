// Time of the corner margins on an A4 page at 600 DPI, padded on the left by the smallest margin
// (every row copied with a bit shift), and of the row copy alone.
#include "bench_page.h"
#include "imaging/kernels/margins.h"
#include "imaging/operations.h"

#include <cstdio>

static const int kRuns = 5;

// The whole operation, input rewritten and backup removed before every run.
static double TimeAdjustMargins(const std::string& folder, const std::vector<unsigned char>& page)
{
    std::string path = folder + "\\page.bmp";
    double whole = MedianOnFreshPage(path, folder + "\\page1.bmp", page, kRuns,
                                     [&] { AdjustMargins(path.c_str(), BottomLeft, 1, 0); });
    DeleteFileA(path.c_str());
    DeleteFileA((folder + "\\page1.bmp").c_str());
    return whole;
}

// The row copy of the padding step alone, from packed rows into a zeroed wider page.
static double TimeRowCopy(const std::vector<unsigned char>& page, int offset)
{
    int sourceStride = (kWidth + 31) / 32 * 4;
    int targetStride = (kWidth + offset + 31) / 32 * 4;
    std::vector<unsigned char> target(static_cast<size_t>(targetStride) * kHeight);
    std::vector<double> times;
    for (int run = 0; run < kRuns; ++run) {
        std::fill(target.begin(), target.end(), 0);
        auto start = std::chrono::steady_clock::now();
        CopyBitBlock(page.data() + 62, sourceStride, 0, target.data(), targetStride, offset, kWidth, kHeight);
        times.push_back(Milliseconds(std::chrono::steady_clock::now() - start));
    }
    return Median(times);
}

int main()
{
    ULONG_PTR token = StartBench();
    std::string folder = BenchFolder("lumivex-margins-bench");
    std::vector<unsigned char> page = PageBmp();
    // 1 tenth of a millimetre is the smallest margin: 2 pixels, so every row is shifted by 2 bits.
    std::printf("margins A4 %dx%d 1-bit at 600 DPI, left margin 1 tenth (2 px), median of %d:\n", kWidth, kHeight,
                kRuns);
    std::printf("  AdjustMargins whole call   %8.1f ms\n", TimeAdjustMargins(folder, page));
    for (int offset : {1, 2, 8}) {
        std::printf("  row copy, offset %d px      %8.2f ms\n", offset, TimeRowCopy(page, offset));
    }
    RemoveDirectoryA(folder.c_str());
    Gdiplus::GdiplusShutdown(token);
    return 0;
}
