// Erosion of real BMP files: the plane read from the file and written back, colour judged by blue,
// the 1-bit file written, the backup and the report, and every failure leaving the dropped file as
// it was. The shapes the passes give are the kernel's tests (tests/pure/erosion_test.cpp).
#include "test_support.h"

#include "messages/texts.h"
#include "imaging/operations.h"

#include <cstdint>
#include <cstdlib>
#include <iterator>
#include <new>

using namespace Gdiplus;

// Allocations through operator new of at least `failFrom` bytes, other than exactly `spared`
// bytes, fail while a test asks for it; GDI+ has its own heap and is not affected.
static std::size_t failFrom = SIZE_MAX, spared = 0;

// The library's operator delete frees with free. Not inlined, so that the compiler pairs the
// blocks with operator delete rather than with malloc.
__attribute__((noinline)) void* operator new(std::size_t size)
{
    if (size >= failFrom && size != spared) throw std::bad_alloc();
    if (void* block = std::malloc(size ? size : 1)) return block;
    throw std::bad_alloc();
}

// An image as text rows: '#' black, '.' white.
using Rows = std::vector<std::string>;

template <class Black>
static Rows Pattern(int width, int height, Black black)
{
    Rows rows(height, std::string(width, '.'));
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) rows[y][x] = black(x, y) ? '#' : '.';
    return rows;
}

// A 600 DPI BMP of the rows: 24-bit, or 1-bit when `oneBit`.
static std::string WriteBmp(const std::string& folder, const std::string& name, const Rows& rows, bool oneBit = false)
{
    std::string path = folder + "\\" + name;
    int width = static_cast<int>(rows[0].size()), height = static_cast<int>(rows.size());
    BitmapPtr image = MakeRgbImage(width, height, [&](int x, int y) { return rows[y][x] == '#' ? 0u : 0xFFFFFFu; });
    if (oneBit) image = ToMonochrome(*image, 600, 600);
    SaveImageFile(*image, path, L"image/bmp");
    return path;
}

// The result's pixels as rows, read from its bytes after the strict check of the 1-bit BMP.
static Rows ReadRows(const std::string& path, int width, int height)
{
    MonoPage page = ExpectMonochromeBmp(path, width, height);
    if (page.black.empty()) return {};
    return Pattern(width, height, [&](int x, int y) { return page.At(x, y); });
}

static void ExpectOneMessage(const std::string& text, const char* caption, UINT icon)
{
    ASSERT_EQ(Messages().size(), 1u);
    EXPECT_EQ(Messages()[0].text, text);
    EXPECT_EQ(Messages()[0].caption, caption);
    EXPECT_EQ(Messages()[0].type, static_cast<UINT>(icon));
    EXPECT_EQ(Messages()[0].owner, nullptr);
}

// Writes the rows, erodes the file and returns what it then holds, after checking the success report.
static Rows Eroded(const Rows& rows, int passes, bool oneBit = false)
{
    std::string folder = ScratchFolder();
    std::string path = WriteBmp(folder, "page.bmp", rows, oneBit);
    ClearMessages();
    ErodeImage(path.c_str(), passes);
    EXPECT_EQ(Messages().size(), 1u);
    if (!Messages().empty()) {
        EXPECT_EQ(Messages()[0].caption, texts->successTitle) << Messages()[0].text;
    }
    return ReadRows(path, static_cast<int>(rows[0].size()), static_cast<int>(rows.size()));
}

TEST(ErodeImage, OneBitPagesErodeAsTheirColourCopiesDo)
{
    // 1-bit pages skip the 24-bit working copy; the result must not show it.
    Rows page = Pattern(61, 37, [](int x, int y) { return (x * 13 + y * 7) % 17 < 11 || (x / 6 + y / 5) % 4 == 0; });
    for (int passes : {1, 2, 5}) {
        Rows fromOneBit = Eroded(page, passes, true);
        EXPECT_EQ(fromOneBit, Eroded(page, passes, false)) << passes << " passes";
        EXPECT_NE(fromOneBit, page);
    }
}

TEST(ErodeImage, WhitePixelGrowsIntoASquareUpToTheFrame)
{
    // Two seeds, one by a corner, so that the passes' count and a flipped or shifted plane show.
    Rows page = Pattern(21, 15, [](int x, int y) { return !(x == 10 && y == 7) && !(x == 1 && y == 1); });
    for (int passes : {1, 2, 3}) {
        Rows expected = Pattern(21, 15, [&](int x, int y) {
            bool frame = x == 0 || y == 0 || x == 20 || y == 14;
            bool nearCentre = std::abs(x - 10) <= passes && std::abs(y - 7) <= passes;
            bool nearCorner = x <= 1 + passes && y <= 1 + passes;
            return frame || !(nearCentre || nearCorner);
        });
        EXPECT_EQ(Eroded(page, passes), expected) << passes << " passes";
    }
}

TEST(ErodeImage, FiftyPassesCrossA52PageButNotA53One)
{
    // The largest count the Erosion page allows reaches the kernel whole, neither cut nor one off.
    Rows small = Pattern(52, 52, [](int x, int y) { return !(x == 51 && y == 0); });
    Rows expected = Pattern(52, 52, [](int x, int y) {
        return (x == 0 || y == 0 || x == 51 || y == 51) && !(x == 51 && y == 0);
    });
    EXPECT_EQ(Eroded(small, 50), expected);

    Rows large = Eroded(Pattern(53, 53, [](int x, int y) { return x != 0 || y != 0; }), 50);
    ASSERT_EQ(large.size(), 53u);
    EXPECT_EQ(large[51][51], '#');
    EXPECT_EQ(large[51][50], '#');
    EXPECT_EQ(large[50][50], '.');
}

TEST(ErodeImage, ColourIsJudgedByBlueAlone)
{
    // On the frame, which the erosion leaves alone: red, blue, grey 128, grey 127, yellow.
    const unsigned colours[] = {0xFF0000, 0x0000FF, 0x808080, 0x7F7F7F, 0xFFFF00};
    std::string folder = ScratchFolder();
    std::string path = folder + "\\colour.bmp";
    BitmapPtr image =
        MakeRgbImage(8, 4, [&](int x, int y) { return y == 0 && x >= 1 && x <= 5 ? colours[x - 1] : 0xFFFFFFu; });
    SaveImageFile(*image, path, L"image/bmp");
    ErodeImage(path.c_str(), 3);
    Rows eroded = ReadRows(path, 8, 4);
    ASSERT_EQ(eroded.size(), 4u);
    EXPECT_EQ(eroded[0], ".#..##..");
}

TEST(ErodeImage, NarrowImagesAreOnlyThresholded)
{
    Rows page = Pattern(2, 9, [](int x, int y) { return (x + y) % 3 == 0; });
    EXPECT_EQ(Eroded(page, 5), page);
    Rows flat = Pattern(9, 2, [](int x, int y) { return (x + y) % 3 != 0; });
    EXPECT_EQ(Eroded(flat, 5), flat);
}

TEST(ErodeImage, ReportsTheBackupOfTheUntouchedInput)
{
    std::string folder = ScratchFolder();
    Rows page = Pattern(33, 7, [](int x, int y) { return x > 3 && x < 20 && y > 1 && y < 6; });
    std::string path = WriteBmp(folder, "page.bmp", page);
    std::vector<unsigned char> input = ReadBytes(path);
    ErodeImage(path.c_str(), 1);

    ExpectOneMessage("Image eroded and saved!\nBackup created: page1.bmp", texts->successTitle, MB_ICONINFORMATION);
    EXPECT_EQ(ReadBytes(folder + "\\page1.bmp"), input);
    EXPECT_EQ(ReadRows(path, 33, 7), Pattern(33, 7, [](int x, int y) { return x > 4 && x < 19 && y > 2 && y < 5; }));
}

extern "C" void* __imp_GdipCreateBitmapFromScan0;
extern "C" void* __imp_GdipDrawImageRectI;
extern "C" void* __imp_GdipBitmapLockBits;
extern "C" void* __imp_GdipGetImageEncodersSize;
extern "C" void* __imp_GdipSaveImageToStream;

static void* realCreate;
static PixelFormat refusedFormat;

static GpStatus WINGDIPAPI CreateRefusingOneFormat(INT width, INT height, INT stride, PixelFormat format, BYTE* scan0,
                                                   GpBitmap** bitmap)
{
    if (format == refusedFormat) {
        *bitmap = nullptr;
        return OutOfMemory;
    }
    auto create = reinterpret_cast<decltype(&DllExports::GdipCreateBitmapFromScan0)>(realCreate);
    return create(width, height, stride, format, scan0, bitmap);
}

static GpStatus WINGDIPAPI DrawFailing(GpGraphics*, GpImage*, INT, INT, INT, INT)
{
    return GenericError;
}

static void* realLock;

// Refuses the read-write lock of the 24-bit working copy; the 1-bit conversion's locks go through.
static GpStatus WINGDIPAPI LockRefusingReadWrite(GpBitmap* bitmap, GDIPCONST GpRect* rect, UINT mode,
                                                 PixelFormat format, BitmapData* data)
{
    if (mode == (ImageLockModeRead | ImageLockModeWrite)) return Win32Error;
    return reinterpret_cast<decltype(&DllExports::GdipBitmapLockBits)>(realLock)(bitmap, rect, mode, format, data);
}

static GpStatus WINGDIPAPI NoEncoders(UINT* count, UINT* bytes)
{
    *count = *bytes = 0;
    return Ok;
}

static GpStatus WINGDIPAPI SaveFailing(GpImage*, IStream*, GDIPCONST CLSID*, GDIPCONST EncoderParameters*)
{
    return Win32Error;
}

struct FailureCase {
    const char* name;
    std::string expected;
    void (*run)(const char* path);  // calls ErodeImage with the failure armed
};

static void WithAllocationsFailing(const char* path, std::size_t from, std::size_t except)
{
    failFrom = from;
    spared = except;
    ErodeImage(path, 4);
    failFrom = SIZE_MAX;
    spared = 0;
}

static void WithCreateRefusing(const char* path, PixelFormat format)
{
    refusedFormat = format;
    realCreate = __imp_GdipCreateBitmapFromScan0;
    ImportSwap swap(&__imp_GdipCreateBitmapFromScan0, reinterpret_cast<void*>(&CreateRefusingOneFormat));
    ErodeImage(path, 4);
}

// The failure cases' page: a plane of 120000 bytes. During a call, the only other allocations of
// 256 bytes or more through operator new are the kernel's.
constexpr int kWidth = 400, kHeight = 300;

TEST(ErodeImage, EachFailureIsReportedAndLeavesTheFileAsItWas)
{
    const FailureCase failureCases[] = {
        {"plane memory", texts->msgProcessingError,
         [](const char* path) { WithAllocationsFailing(path, kWidth * kHeight, 0); }},
        {"kernel memory", texts->msgProcessingError,
         [](const char* path) { WithAllocationsFailing(path, 256, kWidth * kHeight); }},
        {"working copy", texts->msgProcessingError,
         [](const char* path) { WithCreateRefusing(path, PixelFormat24bppRGB); }},
        {"1-bit result", texts->msgProcessingError,
         [](const char* path) { WithCreateRefusing(path, PixelFormat1bppIndexed); }},
        {"drawing", texts->msgProcessingError,
         [](const char* path) {
             ImportSwap swap(&__imp_GdipDrawImageRectI, reinterpret_cast<void*>(&DrawFailing));
             ErodeImage(path, 4);
         }},
        {"lock", "Failed to lock bitmap",
         [](const char* path) {
             realLock = __imp_GdipBitmapLockBits;
             ImportSwap swap(&__imp_GdipBitmapLockBits, reinterpret_cast<void*>(&LockRefusingReadWrite));
             ErodeImage(path, 4);
         }},
        {"encoder", "Failed to get BMP encoder",
         [](const char* path) {
             ImportSwap swap(&__imp_GdipGetImageEncodersSize, reinterpret_cast<void*>(&NoEncoders));
             ErodeImage(path, 4);
         }},
        {"save", "Failed to save image. Status: 7",
         [](const char* path) {
             ImportSwap swap(&__imp_GdipSaveImageToStream, reinterpret_cast<void*>(&SaveFailing));
             ErodeImage(path, 4);
         }},
    };
    std::string folder = ScratchFolder();
    Rows page = Pattern(kWidth, kHeight, [](int x, int y) { return (x / 9 + y / 7) % 3 == 0; });
    int n = 0;
    for (const FailureCase& failure : failureCases) {
        SCOPED_TRACE(failure.name);
        std::string name = "page" + std::to_string(++n);
        std::string path = WriteBmp(folder, name + ".bmp", page);
        std::vector<unsigned char> input = ReadBytes(path);
        ClearMessages();
        failure.run(path.c_str());
        ExpectOneMessage(failure.expected, texts->errorTitle, MB_ICONERROR);
        EXPECT_EQ(ReadBytes(path), input);
        EXPECT_EQ(ReadBytes(folder + "\\" + name + "1.bmp"), input);
    }
    EXPECT_EQ(FolderEntries(folder).size(), 2 * std::size(failureCases));  // no temporary left behind
}
