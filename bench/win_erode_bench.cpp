// Times each stage of eroding an A4 page at 600 DPI (4961 x 7016) stored as an 8-bit grey BMP and as
// a 1-bit BMP: the way ErodeImage does it, and for the grey page the 24-bit working copy drawn by the
// platform that it replaced (kept here only, for comparison in the same run); then whole ErodeImage
// calls on both pages for 1, 10 and 50 passes. Prints milliseconds.
#include "bench_page.h"

#include "imaging/kernels/erosion.h"
#include "imaging/kernels/monochrome.h"
#include "imaging/operations.h"
#include "imaging/pipeline.h"
#include "imaging/save.h"

#include <chrono>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

using namespace Gdiplus;

static void FillBlack(std::vector<std::uint8_t>& plane, int left, int top, int width, int height)
{
    for (int y = top; y < top + height; ++y)
        for (int x = left; x < left + width && x < kWidth; ++x) plane[static_cast<size_t>(y) * kWidth + x] = 0;
}

// A white page with 1-inch margins and lines of 12-point "text": glyphs of 6 to 8 pixel strokes.
static std::vector<std::uint8_t> PagePlane()
{
    std::vector<std::uint8_t> plane(static_cast<size_t>(kWidth) * kHeight, 255);
    std::mt19937 random(42);
    for (int base = 700; base + 120 < kHeight - 600; base += 100) {
        for (int x = 600; x < kWidth - 700; x += 40) {
            for (int glyphs = 2 + static_cast<int>(random() % 8); glyphs > 0; --glyphs, x += 48) {
                int stroke = 6 + static_cast<int>(random() % 3), top = base - (random() % 3 == 0 ? 70 : 48);
                FillBlack(plane, x, top, stroke, base - top);
                if (random() % 2) FillBlack(plane, x + 30, top + 10, stroke, base - top - 10);
                if (random() % 2) FillBlack(plane, x, top, 36, stroke);
                if (random() % 3) FillBlack(plane, x, base - stroke, 36, stroke);
            }
        }
    }
    return plane;
}

// Writes the page as a 1-bit BMP and as an 8-bit grey BMP (ink 0 to 63, paper 192 to 255).
static void MakePages(const std::string& oneBit, const std::string& grey)
{
    std::vector<std::uint8_t> plane = PagePlane();
    auto black = [&](int x, int y) { return plane[static_cast<size_t>(y) * kWidth + x] == 0; };
    WriteFile(oneBit, MonoBmpBytes(kWidth, kHeight, black));
    unsigned seed = 777;
    WriteFile(grey, GreyBmpBytes(kWidth, kHeight, [&](int x, int y) {
        seed = seed * 1103515245 + 12345;
        return static_cast<unsigned char>((black(x, y) ? 0 : 192) + (seed >> 16) % 64);
    }));
}

// The threshold of the replaced path: 255 where blue is 128 or more, else 0.
static void ThresholdToPlane(const BitmapData& bgr, std::vector<std::uint8_t>& plane)
{
    for (int y = 0; y < kHeight; ++y) {
        const std::uint8_t* pixel = PixelRow(bgr, y);
        std::uint8_t* row = plane.data() + static_cast<size_t>(y) * kWidth;
        for (int x = 0; x < kWidth; ++x) row[x] = pixel[3 * x] >= kWhiteThreshold ? 255 : 0;
    }
}

static double SaveStage(Bitmap& mono, const std::string& output)
{
    return TimeMs([&] { SaveOver(output.c_str(), mono, {L"image/bmp", true}, {}); });
}

// The replaced stages for a page that is not 1-bit: drawn into 24 bits, thresholded into the plane,
// eroded, written back into the 24-bit copy, made 1-bit, saved.
static std::vector<double> StagesBefore(const std::string& page, const std::string& output, int passes)
{
    WidePath wide(AnsiToWide(page.c_str()), &std::free);
    BitmapPtr source, working, mono;
    LockedPixels data{nullptr, UnlockPixels{nullptr}};
    std::vector<std::uint8_t> plane;
    std::vector<double> times;
    times.push_back(TimeMs([&] { source.reset(new Bitmap(wide.get())); }));
    times.push_back(TimeMs([&] {
        working = NewBitmap(kWidth, kHeight, PixelFormat24bppRGB, 600, 600);
        Graphics(working.get()).DrawImage(source.get(), 0, 0, kWidth, kHeight);
    }));
    source.reset();
    times.push_back(TimeMs([&] {
        data = LockPixels(*working, ImageLockModeRead | ImageLockModeWrite, PixelFormat24bppRGB);
        plane.resize(static_cast<size_t>(kWidth) * kHeight);
        ThresholdToPlane(*data, plane);
    }));
    times.push_back(TimeMs([&] { ErodeImageBinary(plane.data(), kWidth, kHeight, kWidth, passes); }));
    times.push_back(TimeMs([&] {
        PlaneToBgr(plane.data(), kWidth, kHeight, PixelRow(*data, 0), data->Stride);
        data.reset();
        mono = ToMonochrome(*working, 600, 600);
    }));
    working.reset();
    times.push_back(SaveStage(*mono, output));
    return times;
}

// ErodeImage's stages after the backup: the page loaded as the pipeline loads it, made 1-bit from its
// own pixels, its bits into the plane, eroded, packed back, saved.
static std::vector<double> StagesNow(const std::string& page, const std::string& output, int passes)
{
    SourceImage source;
    BitmapPtr mono;
    LockedPixels data{nullptr, UnlockPixels{nullptr}};
    std::vector<std::uint8_t> plane;
    std::vector<double> times;
    times.push_back(TimeMs([&] { LoadSource(page.c_str(), source); }));
    times.push_back(TimeMs([&] { mono = ToMonochrome(*source.bitmap, 600, 600); }));
    source.bitmap.reset();
    times.push_back(TimeMs([&] {
        data = LockPixels(*mono, ImageLockModeRead | ImageLockModeWrite, PixelFormat1bppIndexed);
        plane.resize(static_cast<size_t>(kWidth) * kHeight);
        BitsToPlane(PixelRow(*data, 0), data->Stride, kWidth, kHeight, plane.data());
    }));
    times.push_back(TimeMs([&] { ErodeImageBinary(plane.data(), kWidth, kHeight, kWidth, passes); }));
    times.push_back(TimeMs([&] {
        PlaneToBits(plane.data(), kWidth, kHeight, PixelRow(*data, 0), data->Stride);
        data.reset();
    }));
    times.push_back(SaveStage(*mono, output));
    return times;
}

static void PrintStages(const char* what, const char* header, const std::vector<double>& times, int passes)
{
    if (header) std::printf("%-24s %6s %s %8s\n", what, "passes", header, "sum");
    double sum = 0;
    std::printf("%-24s %6d", header ? "" : what, passes);
    for (double t : times) std::printf(" %10.1f", t), sum += t;
    std::printf(" %8.1f\n", sum);
}

static void PrintAllStages(const std::string& folder, const std::string& grey, const std::string& oneBit)
{
    const char* before = "      load    draw 24 threshold+     kernel write+mono       save";
    const char* now = "      load 1-bit page   to plane     kernel    to bits       save";
    std::string output = folder + "\\out.bmp";
    for (int passes : {1, 10, 50}) {
        CopyFileA(grey.c_str(), output.c_str(), FALSE);
        PrintStages("grey, before (drawn)", passes == 1 ? before : nullptr, StagesBefore(grey, output, passes), passes);
    }
    for (int passes : {1, 10, 50}) {
        CopyFileA(grey.c_str(), output.c_str(), FALSE);
        PrintStages("grey, now", passes == 1 ? now : nullptr, StagesNow(grey, output, passes), passes);
    }
    for (int passes : {1, 10, 50}) {
        CopyFileA(oneBit.c_str(), output.c_str(), FALSE);
        PrintStages("1-bit, now", passes == 1 ? now : nullptr, StagesNow(oneBit, output, passes), passes);
    }
}

// Median of three whole calls, each on a fresh copy with no backup beside it.
static double WholeCall(const std::string& folder, const std::string& page, int passes)
{
    std::vector<unsigned char> bytes;
    {
        std::ifstream file(page, std::ios::binary);
        bytes.assign(std::istreambuf_iterator<char>(file), {});
    }
    std::string copy = folder + "\\whole.bmp";
    return MedianOnFreshPage(copy, folder + "\\whole1.bmp", bytes, 3, [&] { ErodeImage(copy.c_str(), passes); });
}

static void PrintWholeCalls(const std::string& folder, const std::string& grey, const std::string& oneBit)
{
    std::printf("ErodeImage whole call (header check, load, backup copy, erosion, safe save), median of 3:\n");
    for (int passes : {1, 10, 50}) {
        double greyMs = WholeCall(folder, grey, passes), oneBitMs = WholeCall(folder, oneBit, passes);
        std::printf("  %2d passes: grey %7.1f ms, 1-bit %7.1f ms, grey = %.2f x 1-bit\n", passes, greyMs, oneBitMs,
                    greyMs / oneBitMs);
    }
}

// The bench's own folder, emptied of what earlier runs left (backups pile up otherwise).
static std::string EmptyFolder()
{
    std::string folder = BenchFolder("lumivex-erode-bench");
    WIN32_FIND_DATAA entry;
    HANDLE find = FindFirstFileA((folder + "\\*.bmp").c_str(), &entry);
    if (find != INVALID_HANDLE_VALUE) {
        do DeleteFileA((folder + "\\" + entry.cFileName).c_str());
        while (FindNextFileA(find, &entry));
        FindClose(find);
    }
    return folder;
}

int main()
{
    ULONG_PTR token = StartBench();
    std::string folder = EmptyFolder();
    std::string oneBit = folder + "\\page.bmp", grey = folder + "\\grey.bmp";
    MakePages(oneBit, grey);
    std::printf("A4 page %d x %d at 600 DPI as an 8-bit grey BMP and as a 1-bit BMP; stages in ms\n", kWidth, kHeight);
    PrintAllStages(folder, grey, oneBit);
    PrintWholeCalls(folder, grey, oneBit);
    EmptyFolder();
    GdiplusShutdown(token);
    return 0;
}
