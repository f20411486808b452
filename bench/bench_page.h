// What the Windows benchmarks share: an A4 page at 600 DPI as a 1-bit BMP file, a scratch folder,
// quiet message boxes and timing.
#pragma once

#include "core/report.h"
#include "imaging/gdiplus_api.h"

#include <algorithm>
#include <chrono>
#include <fstream>
#include <string>
#include <vector>

static const int kWidth = 4961;   // 210 mm at 600 DPI
static const int kHeight = 7016;  // 297 mm

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

static void WriteFile(const std::string& path, const std::vector<unsigned char>& bytes)
{
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                                static_cast<std::streamsize>(bytes.size()));
}

static double Milliseconds(std::chrono::steady_clock::duration elapsed)
{
    return std::chrono::duration<double, std::milli>(elapsed).count();
}

template <class Work>
static double TimeMs(Work work)
{
    auto start = std::chrono::steady_clock::now();
    work();
    return Milliseconds(std::chrono::steady_clock::now() - start);
}

static double Median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

// Median time of `work` over `runs` calls, each on a fresh copy of `page` at `path` with no backup
// `backup` beside it, so every call makes its backup 1 as a user's first drop would.
template <class Work>
static double MedianOnFreshPage(const std::string& path, const std::string& backup,
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

// A scratch folder under the temporary folder, created if needed; ends without a separator.
static std::string BenchFolder(const char* name)
{
    char temp[MAX_PATH];
    GetTempPathA(MAX_PATH, temp);
    CreateDirectoryA(temp, nullptr);
    std::string folder = std::string(temp) + name;
    CreateDirectoryA(folder.c_str(), nullptr);
    return folder;
}

// Starts GDI+ (the caller shuts it down with the token) and makes message boxes never block.
static ULONG_PTR StartBench()
{
    Gdiplus::GdiplusStartupInput input;
    ULONG_PTR token = 0;
    Gdiplus::GdiplusStartup(&token, &input, nullptr);
    RedirectMessages(QuietMessage);
    return token;
}
