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

// A 1-bit page with lines of "text": short black runs on most rows, like a scanned letter.
inline std::vector<unsigned char> PageBmp()
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
    return MonoBmpBytes(kWidth, kHeight, [&](int x, int y) {
        return (ink[static_cast<std::size_t>(y) * rowLength + static_cast<std::size_t>(x) / 8] >> (7 - x % 8)) & 1;
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
    FileCalls skipping = Files();
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
