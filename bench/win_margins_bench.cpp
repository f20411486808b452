// Time of the corner margins on an A4 page at 600 DPI, padded on the left by the smallest margin
// (every row copied with a bit shift), and of the row copy alone.
#include "core/report.h"
#include "imaging/kernels/margins.h"
#include "imaging/operations.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

static const int kWidth = 4961;   // 210 mm at 600 DPI
static const int kHeight = 7016;  // 297 mm
static const int kRuns = 5;

static int QuietMessage(HWND, const char*, const char*, UINT)
{
    return IDOK;
}

static void Put32(std::vector<unsigned char>& file, size_t at, unsigned value)
{
    for (int i = 0; i < 4; ++i) file[at + i] = static_cast<unsigned char>(value >> (8 * i));
}

// A 1-bit page with lines of "text": short black runs on most rows, like a scanned letter.
static std::vector<unsigned char> PageBmp()
{
    size_t rowLength = (kWidth + 31) / 32 * 4;
    std::vector<unsigned char> file(62 + rowLength * kHeight, 0);
    file[0] = 'B';
    file[1] = 'M';
    Put32(file, 2, static_cast<unsigned>(file.size()));
    Put32(file, 10, 62);
    Put32(file, 14, 40);
    Put32(file, 18, kWidth);
    Put32(file, 22, kHeight);
    file[26] = 1;
    file[28] = 1;
    Put32(file, 38, 23622);
    Put32(file, 42, 23622);
    Put32(file, 46, 2);
    Put32(file, 54, 0xFFFFFF);
    unsigned seed = 12345;
    for (size_t y = 0; y < static_cast<size_t>(kHeight); ++y) {
        bool textLine = (y / 40) % 3 != 2 && y % 40 < 30;
        for (size_t byte = 0; textLine && byte < (kWidth - 600) / 8; byte += 1) {
            seed = seed * 1103515245 + 12345;
            file[62 + y * rowLength + 40 + byte] = static_cast<unsigned char>(seed >> 16);
        }
    }
    return file;
}

static double Milliseconds(std::chrono::steady_clock::duration elapsed)
{
    return std::chrono::duration<double, std::milli>(elapsed).count();
}

static double Median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

// The whole operation, input rewritten and backup removed before every run.
static double TimeAdjustMargins(const std::string& folder, const std::vector<unsigned char>& page)
{
    std::string path = folder + "\\page.bmp";
    std::vector<double> times;
    for (int run = 0; run < kRuns; ++run) {
        std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(page.data()),
                                                    static_cast<std::streamsize>(page.size()));
        DeleteFileA((folder + "\\page1.bmp").c_str());
        auto start = std::chrono::steady_clock::now();
        AdjustMargins(path.c_str(), BottomLeft, 1, 0);
        times.push_back(Milliseconds(std::chrono::steady_clock::now() - start));
    }
    DeleteFileA(path.c_str());
    DeleteFileA((folder + "\\page1.bmp").c_str());
    return Median(times);
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
    Gdiplus::GdiplusStartupInput input;
    ULONG_PTR token = 0;
    Gdiplus::GdiplusStartup(&token, &input, nullptr);
    RedirectMessages(QuietMessage);
    char temp[MAX_PATH];
    GetTempPathA(MAX_PATH, temp);
    std::string folder = std::string(temp) + "lumivex-margins-bench";
    CreateDirectoryA(folder.c_str(), nullptr);
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
