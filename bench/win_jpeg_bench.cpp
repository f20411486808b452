// Quarter turns of a colour A4 page at 600 DPI stored as a baseline JPEG of quality 90, 4:4:4: the
// coefficient turn alone, RotateImage on it, and for comparison in the same run the decode, RotateFlip
// and platform JPEG encode the program did before (kept here only); then how close to the source the
// page stays after a turn and back, and after four turns, both ways.
#include "bench_page.h"
#include "imaging/kernels/jpeg_coefficients.h"
#include "imaging/kernels/jpeg_encoder.h"
#include "imaging/kernels/jpeg_writer.h"
#include "imaging/operations.h"
#include "imaging/pipeline.h"
#include "imaging/save.h"

#include <cmath>
#include <cstdio>
#include <iterator>

using namespace Gdiplus;

static const int kRuns = 3;

// A scanned letter in colour: slightly uneven paper with a little noise, lines of dark letters with
// strokes 5 to 8 pixels wide, a red rule under the heading and a photograph of smooth colours.
static std::vector<std::uint8_t> ColourPageBgr()
{
    std::vector<std::uint8_t> bgr(static_cast<std::size_t>(kWidth) * kHeight * 3);
    unsigned seed = 2022;
    auto next = [&seed] { return (seed = seed * 1103515245 + 12345) >> 16; };
    std::vector<int> strokes(kWidth, 0);  // per column: the letter rows it is inked in (a bit per 8 rows)
    for (int x = 600; x < kWidth - 600;) {
        int width = 5 + static_cast<int>(next() % 4), pattern = static_cast<int>(next() % 255) + 1;
        for (int i = 0; i < width && x < kWidth - 600; ++i) strokes[x++] = pattern;
        x += 8 + static_cast<int>(next() % 30);
    }
    for (int y = 0; y < kHeight; ++y) {
        bool text = y > 1200 && y < kHeight - 900 && y % 100 < 64;
        for (int x = 0; x < kWidth; ++x) {
            std::uint8_t* pixel = &bgr[(static_cast<std::size_t>(y) * kWidth + x) * 3];
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

static std::vector<unsigned char> PageJpeg()
{
    std::vector<std::uint8_t> bgr = ColourPageBgr();
    JpegImage image = JpegLayoutFor(kWidth, kHeight, 90);
    EncodeBgr(bgr.data(), static_cast<std::ptrdiff_t>(kWidth) * 3, image);
    return WriteJpeg(image, 600, 600);
}

// RotateImage's steps for a JPEG before the coefficient turn: decode, RotateFlip, the platform's
// encoder at its default quality, the safe save.
static void PlatformTurn(const char* path)
{
    SourceImage source;
    if (!LoadGateSweepAndBackUp(path, source)) return;
    source.bitmap->RotateFlip(Rotate90FlipNone);
    // A copy that holds its own pixels, as the program made one, so the source's file can be replaced.
    int width = static_cast<int>(source.bitmap->GetWidth()), height = static_cast<int>(source.bitmap->GetHeight());
    BitmapPtr turned = NewBitmap(width, height, PixelFormat24bppRGB, source.dpiX, source.dpiY);
    {
        LockedPixels from = LockPixels(*source.bitmap, ImageLockModeRead, PixelFormat24bppRGB);
        LockedPixels to = turned && from ? LockPixels(*turned, ImageLockModeWrite, PixelFormat24bppRGB) : nullptr;
        if (!to) return;
        for (int y = 0; y < height; ++y) std::copy(PixelRow(*from, y), PixelRow(*from, y) + width * 3, PixelRow(*to, y));
    }
    source.bitmap.reset();
    if (turned) SaveOver(path, *turned, OutputFormatFor(path));
}

static std::vector<unsigned char> ReadFileBytes(const std::string& path)
{
    std::ifstream file(path, std::ios::binary);
    return std::vector<unsigned char>(std::istreambuf_iterator<char>(file), {});
}

static BitmapPtr Decoded(const std::string& path)
{
    std::wstring widePath(path.begin(), path.end());
    BitmapPtr bitmap(new Bitmap(widePath.c_str()));
    return IsUsable(bitmap) ? std::move(bitmap) : nullptr;
}

// PSNR over blue, green and red of two files of the same size, both decoded by GDI+.
static double Psnr(const std::string& a, const std::string& b)
{
    BitmapPtr first = Decoded(a), second = Decoded(b);
    if (!first || !second || first->GetWidth() != second->GetWidth()) {
        std::printf("  (cannot compare: %s)\n", !first || !second ? "not decoded" : "sizes differ");
        return -1;
    }
    LockedPixels x = LockPixels(*first, ImageLockModeRead, PixelFormat24bppRGB);
    LockedPixels y = LockPixels(*second, ImageLockModeRead, PixelFormat24bppRGB);
    double squares = 0;
    for (UINT row = 0; row < x->Height; ++row) {
        for (UINT i = 0; i < x->Width * 3; ++i) {
            double difference = static_cast<double>(PixelRow(*x, static_cast<int>(row))[i]) - PixelRow(*y, static_cast<int>(row))[i];
            squares += difference * difference;
        }
    }
    double count = 3.0 * x->Width * x->Height;
    return squares == 0 ? INFINITY : 10 * std::log10(255.0 * 255.0 * count / squares);
}

static bool SameCoefficients(const std::vector<unsigned char>& a, const std::vector<unsigned char>& b)
{
    JpegImage first, second;
    if (ReadJpeg(a.data(), a.size(), first) != JpegContent::Coefficients ||
        ReadJpeg(b.data(), b.size(), second) != JpegContent::Coefficients || first.components.size() != second.components.size()) {
        return false;
    }
    for (std::size_t c = 0; c < first.components.size(); ++c) {
        std::int16_t a[64], b[64];
        for (std::size_t block = 0; block < first.components[c].first.size(); ++block) {
            LoadBlock(first.components[c], block, a);
            LoadBlock(second.components[c], block, b);
            if (!std::equal(a, a + 64, b)) return false;
        }
    }
    return first.quant == second.quant;
}

static void Quality(const std::string& folder, const std::vector<unsigned char>& page)
{
    std::string source = folder + "\\source.jpg", path = folder + "\\quality.jpg";
    WriteFile(source, page);
    WriteFile(path, page);
    RotateImage(path.c_str(), 90);
    RotateImage(path.c_str(), -90);
    std::printf("  right and back left, RotateImage     coefficients %s the source's\n",
                SameCoefficients(ReadFileBytes(path), page) ? "identical to" : "DIFFERENT from");
    for (int way = 0; way < 2; ++way) {
        WriteFile(path, page);
        for (int turn = 0; turn < 4; ++turn) {
            if (way == 0) RotateImage(path.c_str(), 90);
            else PlatformTurn(path.c_str());
        }
        std::printf("  four right turns, %s  %5.1f dB from the source\n",
                    way == 0 ? "RotateImage       " : "decode and encode ", Psnr(source, path));
    }
    for (int n = 1; n <= 12; ++n) DeleteFileA((folder + "\\quality" + std::to_string(n) + ".jpg").c_str());
    DeleteFileA(path.c_str());
    DeleteFileA(source.c_str());
}

int main()
{
    ULONG_PTR token = StartBench();
    std::string folder = BenchFolder("lumivex-jpeg-bench");
    std::string path = folder + "\\page.jpg", backup = folder + "\\page1.jpg";
    std::vector<unsigned char> page = PageJpeg();
    std::printf("quarter turn of a colour A4 page %dx%d, JPEG quality 90 4:4:4 at 600 DPI, %.1f MB:\n", kWidth, kHeight,
                static_cast<double>(page.size()) / 1e6);
    std::vector<double> kernel;
    for (int run = 0; run < kRuns; ++run) {
        kernel.push_back(TimeMs([&] {
            JpegImage image;
            ReadJpeg(page.data(), page.size(), image);
            WriteJpeg(TurnJpeg(image, Turn::Clockwise), 600, 600);
        }));
    }
    double own = MedianOnFreshPage(path, backup, page, kRuns, [&] { RotateImage(path.c_str(), 90); });
    double platform = MedianOnFreshPage(path, backup, page, kRuns, [&] { PlatformTurn(path.c_str()); });
    std::printf("  decode, RotateFlip, platform encoder, safe save       %8.1f ms  (median of %d; RotateImage before)\n",
                platform, kRuns);
    std::printf("  coefficient turn alone (read, turn, write in memory)  %8.1f ms  = %.2f x the line above\n",
                Median(kernel), Median(kernel) / platform);
    std::printf("  RotateImage whole call, coefficient turn              %8.1f ms  = %.2f x the line above\n", own,
                own / platform);
    // The turned page is 7016 wide and 4961 high: a further right turn has a partial edge block.
    WriteFile(path, page);
    RotateImage(path.c_str(), 90);
    std::vector<unsigned char> turned = ReadFileBytes(path);
    DeleteFileA(backup.c_str());
    double reencoded = MedianOnFreshPage(path, backup, turned, kRuns, [&] { RotateImage(path.c_str(), 90); });
    std::printf("  RotateImage whole call, partial edge: re-encoded     %8.1f ms  = %.2f x decode and encode\n", reencoded,
                reencoded / platform);
    Quality(folder, page);
    DeleteFileA(path.c_str());
    DeleteFileA(backup.c_str());
    RemoveDirectoryA(folder.c_str());
    GdiplusShutdown(token);
    return 0;
}
