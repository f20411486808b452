// Times each stage of eroding an A4 page at 600 DPI (4961 x 7016, 1-bit BMP) the way ErodeImage
// does it, then whole ErodeImage calls, for 1, 10 and 50 passes. Prints milliseconds.
#include "bench_page.h"

#include "imaging/kernels/erosion.h"
#include "imaging/operations.h"
#include "imaging/pipeline.h"

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

static Status SaveWith(Bitmap& image, const std::string& path)
{
    CLSID encoder;
    if (GetEncoderClsid(L"image/bmp", &encoder) < 0) return GenericError;
    WidePath wide(AnsiToWide(path.c_str()), &std::free);
    return image.Save(wide.get(), &encoder, nullptr);
}

// Writes the page as a 1-bit BMP at 600 DPI.
static bool MakePage(const std::string& path)
{
    std::vector<std::uint8_t> plane = PagePlane();
    BitmapPtr rgb = NewBitmap(kWidth, kHeight, PixelFormat24bppRGB, 600, 600);
    if (!rgb) return false;
    if (LockedPixels data = LockPixels(*rgb, ImageLockModeWrite, PixelFormat24bppRGB)) {
        PlaneToBgr(plane.data(), kWidth, kHeight, PixelRow(*data, 0), data->Stride);
    }
    BitmapPtr mono = ToMonochrome(*rgb, 600, 600);
    return mono && SaveWith(*mono, path) == Ok;
}

struct StageTimes {
    double load, draw, plane, kernel, writeBack, monochrome, save;
};

// The stages of ErodeImage after the backup, each timed on its own.
static StageTimes TimeStages(const std::string& page, const std::string& output, int passes)
{
    StageTimes times{};
    WidePath wide(AnsiToWide(page.c_str()), &std::free);
    BitmapPtr source;
    times.load = TimeMs([&] { source.reset(new Bitmap(wide.get())); });
    BitmapPtr working;
    times.draw = TimeMs([&] {
        working = NewBitmap(kWidth, kHeight, PixelFormat24bppRGB, 600, 600);
        Graphics graphics(working.get());
        graphics.DrawImage(source.get(), 0, 0, kWidth, kHeight);
    });
    source.reset();
    Rect all(0, 0, kWidth, kHeight);
    BitmapData data{};
    std::vector<std::uint8_t> plane;
    times.plane = TimeMs([&] {
        working->LockBits(&all, ImageLockModeRead | ImageLockModeWrite, PixelFormat24bppRGB, &data);
        plane.resize(static_cast<size_t>(kWidth) * kHeight);
        ThresholdToPlane(static_cast<std::uint8_t*>(data.Scan0), data.Stride, kWidth, kHeight, plane.data());
    });
    times.kernel = TimeMs([&] { ErodeImageBinary(plane.data(), kWidth, kHeight, kWidth, passes); });
    times.writeBack = TimeMs([&] {
        PlaneToBgr(plane.data(), kWidth, kHeight, static_cast<std::uint8_t*>(data.Scan0), data.Stride);
        working->UnlockBits(&data);
    });
    BitmapPtr mono;
    times.monochrome = TimeMs([&] { mono = ToMonochrome(*working, 600, 600); });
    working.reset();
    CLSID encoder;
    GetEncoderClsid(L"image/bmp", &encoder);
    times.save = TimeMs([&] { SaveOver(output.c_str(), *mono, encoder, {L"image/bmp", true}); });
    return times;
}

static void PrintStages(const std::string& folder, const std::string& page)
{
    std::printf("%6s %8s %8s %12s %8s %11s %11s %8s %8s\n", "passes", "load", "draw 24", "threshold+", "kernel",
                "write-back", "monochrome", "save", "sum");
    for (int passes : {1, 10, 50}) {
        std::string output = folder + "\\out" + std::to_string(passes) + ".bmp";
        CopyFileA(page.c_str(), output.c_str(), FALSE);
        StageTimes t = TimeStages(page, output, passes);
        double sum = t.load + t.draw + t.plane + t.kernel + t.writeBack + t.monochrome + t.save;
        std::printf("%6d %8.1f %8.1f %12.1f %8.1f %11.1f %11.1f %8.1f %8.1f\n", passes, t.load, t.draw, t.plane,
                    t.kernel, t.writeBack, t.monochrome, t.save, sum);
    }
}

static void PrintWholeCalls(const std::string& folder, const std::string& page)
{
    for (int passes : {1, 10, 50}) {
        std::string copy = folder + "\\whole" + std::to_string(passes) + ".bmp";
        CopyFileA(page.c_str(), copy.c_str(), FALSE);
        double whole = TimeMs([&] { ErodeImage(copy.c_str(), passes); });
        std::printf("ErodeImage, %2d passes, whole call (with backup copy): %.1f ms\n", passes, whole);
    }
}

// The bench's own folder, emptied of what earlier runs left (backups pile up otherwise).
static std::string EmptyFolder()
{
    char temp[MAX_PATH];
    GetTempPathA(MAX_PATH, temp);
    std::string folder = std::string(temp) + "lumivex-erode-bench";
    CreateDirectoryA(folder.c_str(), nullptr);
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
    std::string page = folder + "\\page.bmp";
    if (!MakePage(page)) {
        std::printf("could not write the page\n");
        return 1;
    }
    std::printf("A4 page %d x %d, 1-bit BMP at 600 DPI; stages of the 24-bit working-copy path (colour and grey\n"
                "pages take it; 1-bit pages go from their bits to the plane), in ms\n", kWidth, kHeight);
    PrintStages(folder, page);
    PrintWholeCalls(folder, page);
    GdiplusShutdown(token);
    return 0;
}
