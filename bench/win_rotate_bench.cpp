// Where the time of a rotation goes for an A4 page at 600 DPI stored as a 1-bit BMP: each stage
// timed on its own, then the whole RotateImage call.
#include "bench_page.h"
#include "imaging/kernels/turn.h"
#include "imaging/operations.h"
#include "imaging/pipeline.h"
#include "imaging/save.h"

#include <cstdio>

using namespace Gdiplus;

static const int kRuns = 3;

// The turn the program does itself when RotateFlip refuses 1-bit images: into a new 1-bit image.
static BitmapPtr OwnTurn(Bitmap& page)
{
    BitmapPtr turned = NewBitmap(kHeight, kWidth, PixelFormat1bppIndexed, 600, 600);
    LockedPixels from = LockPixels(page, ImageLockModeRead, PixelFormat1bppIndexed);
    LockedPixels to = LockPixels(*turned, ImageLockModeWrite, PixelFormat1bppIndexed);
    TurnPixels(PixelRow(*from, 0), from->Stride, kWidth, kHeight, 1, PixelRow(*to, 0), to->Stride, Turn::Clockwise);
    return turned;
}

static void TimeStages(const std::string& path)
{
    std::wstring widePath(path.begin(), path.end());
    std::wstring savedPath = widePath + L".out.bmp";
    BitmapPtr page, turned, mono;
    Status rotateFlip = Ok;
    CLSID encoder;
    GetEncoderClsid(L"image/bmp", &encoder);
    bool sound = false;
    double header = TimeMs([&] { sound = ReadImageHeader(path.c_str()).sound; });
    double load = TimeMs([&] { page.reset(new Bitmap(widePath.c_str())); page->GetWidth(); });
    double flip = TimeMs([&] { rotateFlip = page->RotateFlip(Rotate90FlipNone); });
    if (rotateFlip == Ok) page->RotateFlip(Rotate270FlipNone);  // back, so the own turn starts alike
    double turn = TimeMs([&] { turned = OwnTurn(*page); });
    page.reset();
    double convert = TimeMs([&] { mono = ToMonochrome(*turned, 600, 600); });
    double save = TimeMs([&] { mono->Save(savedPath.c_str(), &encoder, nullptr); });
    std::string saved(savedPath.begin(), savedPath.end());
    Status checked = GenericError;
    double verify = TimeMs([&] { checked = CheckWrittenFile(saved.c_str(), kHeight, kWidth, true); });
    double decodeAgain = TimeMs([&] { Bitmap check(savedPath.c_str()); check.GetWidth(); });
    // The same page as a PNG result, which the check decodes completely.
    std::string png = saved + ".png";
    CLSID pngEncoder;
    GetEncoderClsid(L"image/png", &pngEncoder);
    std::wstring widePng(png.begin(), png.end());
    mono->Save(widePng.c_str(), &pngEncoder, nullptr);
    Status pngChecked = GenericError;
    double pngVerify = TimeMs([&] { pngChecked = CheckWrittenFile(png.c_str(), kHeight, kWidth, false); });
    DeleteFileA(saved.c_str());
    DeleteFileA(png.c_str());
    std::printf("  header check               %8.3f ms  (%s)\n", header, sound ? "sound" : "refused");
    std::printf("  load (decode)              %8.1f ms\n", load);
    std::printf("  RotateFlip                 %8.1f ms  (status %d%s)\n", flip, rotateFlip,
                rotateFlip == Ok ? "" : ": refused, the program turns the pixels itself");
    std::printf("  own turn of the 1-bit rows %8.1f ms\n", turn);
    std::printf("  monochrome conversion      %8.1f ms\n", convert);
    std::printf("  save (BMP encoder)         %8.1f ms\n", save);
    std::printf("  check of the written BMP   %8.1f ms  (from its bytes, status %d)\n", verify, checked);
    std::printf("  reference: decode again    %8.1f ms  (the GDI+ decode the check replaces)\n", decodeAgain);
    std::printf("  check of it as a PNG       %8.1f ms  (every pixel decoded, status %d)\n", pngVerify, pngChecked);
}

int main()
{
    ULONG_PTR token = StartBench();
    std::string folder = BenchFolder("lumivex-rotate-bench");
    std::string path = folder + "\\page.bmp";
    std::vector<unsigned char> page = PageBmp();
    std::printf("rotation of an A4 page %dx%d, 1-bit BMP at 600 DPI:\n", kWidth, kHeight);
    WriteFile(path, page);
    TimeStages(path);
    double whole = MedianOnFreshPage(path, folder + "\\page1.bmp", page, kRuns,
                                     [&] { RotateImage(path.c_str(), 90); });
    std::printf("  RotateImage whole call     %8.1f ms  (median of %d)\n", whole, kRuns);
    PrintFlushCost(path, folder + "\\page1.bmp", page, 5, [&] { RotateImage(path.c_str(), 90); });
    DeleteFileA(path.c_str());
    DeleteFileA((folder + "\\page1.bmp").c_str());
    RemoveDirectoryA(folder.c_str());
    Gdiplus::GdiplusShutdown(token);
    return 0;
}
