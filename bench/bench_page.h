// What the Windows benchmarks share: an A4 page at 600 DPI as a 1-bit BMP file, a scratch folder,
// quiet message boxes and timing.
#pragma once

#include "imaging/file_calls.h"
#include "imaging/gdiplus_api.h"
#include "messages/report.h"
#include "mono_bmp.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

constexpr int kWidth = 4961;   // 210 mm at 600 DPI
constexpr int kHeight = 7016;  // 297 mm

inline int QuietMessage(HWND, const char*, const char*, UINT)
{
    return IDOK;
}

// Lines of "text": short black runs on most rows, like a scanned letter; ink(x, y) is 1 for black.
inline std::vector<unsigned char> PageInkRows()
{
    std::size_t rowLength = BmpRowBytes(kWidth);
    std::vector<unsigned char> ink(rowLength * kHeight, 0);
    unsigned seed = 12345;
    for (std::size_t y = 0; y < static_cast<std::size_t>(kHeight); ++y) {
        bool textLine = (y / 40) % 3 != 2 && y % 40 < 30;
        for (std::size_t byte = 0; textLine && byte < (kWidth - 600) / 8; byte += 1) {
            seed = seed * 1103515245 + 12345;
            ink[y * rowLength + 40 + byte] = static_cast<unsigned char>(seed >> 16);
        }
    }
    return ink;
}

inline bool InkAt(const std::vector<unsigned char>& ink, int x, int y)
{
    return (ink[static_cast<std::size_t>(y) * BmpRowBytes(kWidth) + static_cast<std::size_t>(x) / 8] >> (7 - x % 8)) & 1;
}

// The page as a 1-bit BMP.
inline std::vector<unsigned char> PageBmp()
{
    std::vector<unsigned char> ink = PageInkRows();
    return MonoBmpBytes(kWidth, kHeight, [&](int x, int y) { return InkAt(ink, x, y); });
}

// An 8-bit BMP of width x height at 600 DPI whose palette is the 256 greys in order, rows bottom-up;
// grey(x, y), y counted from the top, gives each pixel's grey.
template <class Grey>
inline std::vector<unsigned char> GreyBmpBytes(int width, int height, Grey grey)
{
    std::size_t rowLength = (static_cast<std::size_t>(width) + 3) / 4 * 4, offBits = 54 + 1024;
    std::vector<unsigned char> file(offBits + rowLength * height, 0);
    auto put32 = [&](std::size_t at, std::size_t value) {
        for (int i = 0; i < 4; ++i) file[at + i] = static_cast<unsigned char>(value >> (8 * i));
    };
    file[0] = 'B', file[1] = 'M';
    put32(2, file.size()), put32(10, offBits), put32(14, 40), put32(18, width), put32(22, height);
    file[26] = 1, file[28] = 8;
    put32(38, 23622), put32(42, 23622), put32(46, 256);
    for (std::size_t i = 0; i < 256; ++i) file[54 + 4 * i] = file[55 + 4 * i] = file[56 + 4 * i] = static_cast<unsigned char>(i);
    for (int y = 0; y < height; ++y) {
        unsigned char* row = &file[offBits + static_cast<std::size_t>(height - 1 - y) * rowLength];
        for (int x = 0; x < width; ++x) row[x] = grey(x, y);
    }
    return file;
}

// The same page as a scanner writes it in 8-bit grey: ink 0 to 63, paper 192 to 255, so that its
// blue threshold is the 1-bit page.
inline std::vector<unsigned char> GreyPageBmp()
{
    std::vector<unsigned char> ink = PageInkRows();
    unsigned seed = 777;
    return GreyBmpBytes(kWidth, kHeight, [&](int x, int y) {
        seed = seed * 1103515245 + 12345;
        return static_cast<unsigned char>((InkAt(ink, x, y) ? 0 : 192) + (seed >> 16) % 64);
    });
}

inline void WriteFile(const std::string& path, const std::vector<unsigned char>& bytes)
{
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                                static_cast<std::streamsize>(bytes.size()));
}

inline double Milliseconds(std::chrono::steady_clock::duration elapsed)
{
    return std::chrono::duration<double, std::milli>(elapsed).count();
}

template <class Work>
inline double TimeMs(Work work)
{
    auto start = std::chrono::steady_clock::now();
    work();
    return Milliseconds(std::chrono::steady_clock::now() - start);
}

inline double Median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

// Median time of `work` over `runs` calls, each on a fresh copy of `page` at `path` with no backup
// `backup` beside it, so every call makes its backup 1 as a user's first drop would.
template <class Work>
inline double MedianOnFreshPage(const std::string& path, const std::string& backup,
                                const std::vector<unsigned char>& page, int runs, Work work)
{
    std::vector<double> times;
    for (int run = 0; run < runs; ++run) {
        WriteFile(path, page);
        DeleteFileA(backup.c_str());
        times.push_back(TimeMs(work));
    }
    return Median(times);
}

// What writing the backup and the result to the disk costs: the whole call with the platform's
// flushes and with them skipped through the file-call seam, in interleaved rounds on fresh pages.
template <class Work>
inline void PrintFlushCost(const std::string& path, const std::string& backup, const std::vector<unsigned char>& page,
                           int runs, Work work)
{
    FileCalls skipping = PlatformFileCalls();
    skipping.flushFile = [](HANDLE) -> BOOL { return TRUE; };
    std::vector<double> flushed, skipped;
    for (int run = 0; run < runs; ++run) {
        flushed.push_back(MedianOnFreshPage(path, backup, page, 1, work));
        FileCalls platform = RedirectFileCalls(skipping);
        skipped.push_back(MedianOnFreshPage(path, backup, page, 1, work));
        RedirectFileCalls(platform);
    }
    std::printf("  flushes to the disk        %8.1f ms  (whole call %.1f ms with them, %.1f ms without; median of %d)\n",
                Median(flushed) - Median(skipped), Median(flushed), Median(skipped), runs);
}

// A scratch folder under the temporary folder, created if needed; ends without a separator.
inline std::string BenchFolder(const char* name)
{
    char temp[MAX_PATH];
    GetTempPathA(MAX_PATH, temp);
    CreateDirectoryA(temp, nullptr);
    std::string folder = std::string(temp) + name;
    CreateDirectoryA(folder.c_str(), nullptr);
    return folder;
}

// Starts GDI+ (the caller shuts it down with the token) and makes message boxes never block.
inline ULONG_PTR StartBench()
{
    Gdiplus::GdiplusStartupInput input;
    ULONG_PTR token = 0;
    Gdiplus::GdiplusStartup(&token, &input, nullptr);
    RedirectMessages(QuietMessage);
    return token;
}
