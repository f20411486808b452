// Quarter turns of a colour A4 page at 600 DPI stored as a JPEG of quality 90, 4:2:0: where the time
// of RotateImage goes, stage by stage (gate, backup, read, turn and check, write, read back, flushes), for a page whose
// blocks allow the lossless turn (4960 x 7008) and for the common scan size, whose partial edge blocks
// call for a re-encode (4961 x 7016); the process's peak memory against the decoded page; how close
// the page stays after four turns.
#include "bench_page.h"
#include "imaging/jpeg_output.h"
#include "imaging/operations.h"
#include "imaging/page_files.h"
#include "imaging/pipeline.h"
#include "imaging/save.h"

#include <psapi.h>

#include <cmath>
#include <cstdio>

#include <jpeglib.h>

using namespace Gdiplus;

static const int kRuns = 3;

// A scanned letter in colour, blue-green-red: slightly uneven paper with a little noise, lines of dark
// letters, a red rule under the heading and a photograph of smooth colours.
static std::vector<std::uint8_t> ColourPageBgr(int width, int height)
{
    std::vector<std::uint8_t> bgr(static_cast<std::size_t>(width) * height * 3);
    unsigned seed = 2022;
    auto next = [&seed] { return (seed = seed * 1103515245 + 12345) >> 16; };
    std::vector<int> strokes(width, 0);  // per column: the letter rows it is inked in (a bit per 8 rows)
    for (int x = 600; x < width - 600;) {
        int stroke = 5 + static_cast<int>(next() % 4), pattern = static_cast<int>(next() % 255) + 1;
        for (int i = 0; i < stroke && x < width - 600; ++i) strokes[x++] = pattern;
        x += 8 + static_cast<int>(next() % 30);
    }
    for (int y = 0; y < height; ++y) {
        bool text = y > 1200 && y < height - 900 && y % 100 < 64;
        for (int x = 0; x < width; ++x) {
            std::uint8_t* pixel = &bgr[(static_cast<std::size_t>(y) * width + x) * 3];
            int noise = static_cast<int>(next() % 5) - 2;
            int paper[3] = {232 + noise - y / 1000, 240 + noise, 244 + noise - x / 2000};
            if (text && (strokes[x] >> (y % 100 / 8)) & 1) paper[0] = paper[1] = paper[2] = 40 + noise;
            if (y >= 1000 && y < 1012 && x > 600 && x < 3000) paper[0] = 40, paper[1] = 40, paper[2] = 200;
            if (y >= 200 && y < 900 && x >= 3200 && x < 4400) {
                paper[0] = 128 + static_cast<int>(90 * std::sin(x / 70.0));
                paper[1] = 128 + static_cast<int>(90 * std::sin(y / 50.0 + x / 300.0));
                paper[2] = 128 + static_cast<int>(90 * std::cos((x + y) / 120.0));
            }
            for (int c = 0; c < 3; ++c) pixel[c] = static_cast<std::uint8_t>(std::clamp(paper[c], 0, 255));
        }
    }
    return bgr;
}

// The page as a scanner's JPEG: quality 90, 4:2:0, JFIF at 600 DPI, written by libjpeg-turbo.
static std::vector<unsigned char> PageJpeg(int width, int height)
{
    std::vector<std::uint8_t> bgr = ColourPageBgr(width, height);
    jpeg_compress_struct info{};
    jpeg_error_mgr errors{};
    info.err = jpeg_std_error(&errors);
    jpeg_create_compress(&info);
    unsigned char* buffer = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&info, &buffer, &size);
    info.image_width = static_cast<JDIMENSION>(width);
    info.image_height = static_cast<JDIMENSION>(height);
    info.input_components = 3;
    info.in_color_space = JCS_EXT_BGR;
    jpeg_set_defaults(&info);
    jpeg_set_quality(&info, 90, TRUE);
    info.density_unit = 1;
    info.X_density = info.Y_density = 600;
    jpeg_start_compress(&info, TRUE);
    while (info.next_scanline < info.image_height) {
        JSAMPROW row = &bgr[static_cast<std::size_t>(info.next_scanline) * width * 3];
        jpeg_write_scanlines(&info, &row, 1);
    }
    jpeg_finish_compress(&info);
    std::vector<unsigned char> file(buffer, buffer + size);
    jpeg_destroy_compress(&info);
    std::free(buffer);
    return file;
}

static double PeakMegabytes()
{
    PROCESS_MEMORY_COUNTERS counters{};
    counters.cb = sizeof counters;
    GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters);
    return static_cast<double>(counters.PeakWorkingSetSize) / 1e6;
}

// Each stage of RotateImage on its own (median of kRuns), then the whole call on fresh pages.
static void TimeStages(const std::string& folder, const char* what, int width, int height)
{
    std::string path = folder + "\\page.jpg", backup = folder + "\\page1.jpg";
    std::vector<unsigned char> page = PageJpeg(width, height);
    WriteFile(path, page);
    std::printf("%s: %d x %d, %.1f MB\n", what, width, height, static_cast<double>(page.size()) / 1e6);
    std::vector<double> gate, backups, read, turn, write, check;
    JpegResult turned;
    for (int run = 0; run < kRuns; ++run) {
        SourceImage source;
        gate.push_back(TimeMs([&] { LoadAndGate(path.c_str(), source, nullptr, SourceNeeds::JpegBytes); }));
        backups.push_back(TimeMs([&] { SweepAndBackUp(source); }));
        DeleteFileA(backup.c_str());
        std::vector<std::uint8_t> bytes;
        read.push_back(TimeMs([&] { ReadWholeFile(path.c_str(), bytes); }));
        turn.push_back(TimeMs([&] { turned = TurnedJpeg(bytes, Turn::Clockwise, 600, 600); }));
        char temporary[MAX_PATH] = "";
        char full[MAX_PATH];
        GetFullPathNameA(path.c_str(), MAX_PATH, full, nullptr);
        write.push_back(TimeMs([&] { WriteTemporary(full, turned.bytes.data(), turned.bytes.size(), temporary); }));
        check.push_back(TimeMs([&] {
            std::vector<std::uint8_t> written;
            if (!ReadWholeFile(temporary, written) || written != turned.bytes) std::printf("  the file differs\n");
        }));
        DeleteFileA(temporary);
    }
    std::printf("  gate from the headers              %8.1f ms\n", Median(gate));
    std::printf("  backup (copy and flush)            %8.1f ms\n", Median(backups));
    std::printf("  read the file                      %8.1f ms\n", Median(read));
    std::printf("  turn in memory (%s)       %8.1f ms  (decoded whole meanwhile by the check)\n",
                turned.lossless ? "lossless " : "re-encode", Median(turn));
    std::printf("  write and flush the result         %8.1f ms\n", Median(write));
    std::printf("  check: read back, compare          %8.1f ms\n", Median(check));
    double whole = MedianOnFreshPage(path, backup, page, kRuns, [&] { RotateImage(path.c_str(), 90); });
    std::printf("  RotateImage whole call             %8.1f ms  (median of %d, backup included)\n", whole, kRuns);
    PrintFlushCost(path, backup, page, kRuns, [&] { RotateImage(path.c_str(), 90); });
    DeleteFileA(path.c_str());
    DeleteFileA(backup.c_str());
}

// Peak working set of one RotateImage of a fresh process's first page, against the decoded page.
static void PeakMemory(const std::string& folder)
{
    std::string path = folder + "\\peak.jpg", backup = folder + "\\peak1.jpg";
    WriteFile(path, PageJpeg(kWidth, kHeight));
    double before = PeakMegabytes();
    RotateImage(path.c_str(), 90);
    double decoded = 3.0 * kWidth * kHeight / 1e6;
    std::printf("peak working set: %.0f MB before the re-encoded turn, %.0f MB after; decoded page %.0f MB\n", before,
                PeakMegabytes(), decoded);
    DeleteFileA(path.c_str());
    DeleteFileA(backup.c_str());
}

int main()
{
    ULONG_PTR token = StartBench();
    std::string folder = BenchFolder("lumivex-jpeg-bench");
    PeakMemory(folder);
    TimeStages(folder, "lossless turn, whole blocks", 4960, 7008);
    TimeStages(folder, "re-encoded turn, partial edge blocks", kWidth, kHeight);
    RemoveDirectoryA(folder.c_str());
    GdiplusShutdown(token);
    return 0;
}
