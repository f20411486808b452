// Erosion of real BMP files: the plane read from the file and written back, colour judged by blue,
// the 1-bit file written, the backup and the report, and every failure leaving the dropped file as
// it was. The shapes the passes give are the kernel's tests (tests/pure/erosion_test.cpp).
#include "test_support.h"

#include "messages/texts.h"
#include "imaging/kernels/erosion.h"
#include "imaging/operations.h"
#include "imaging/pipeline.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <iterator>
#include <new>

using namespace Gdiplus;

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

// A 600 DPI BMP of the rows, 24-bit; with `transparent` PNG content with alpha under the BMP name,
// its first pixel transparent.
static std::string WriteBmp(const std::string& folder, const std::string& name, const Rows& rows,
                            bool transparent = false)
{
    std::string path = folder + "\\" + name;
    int width = static_cast<int>(rows[0].size()), height = static_cast<int>(rows.size());
    BitmapPtr image = MakeRgbImage(width, height, [&](int x, int y) { return rows[y][x] == '#' ? 0u : 0xFFFFFFu; });
    if (!transparent) {
        SaveImageFile(*image, path, L"image/bmp");
        return path;
    }
    BitmapPtr argb = NewBitmap(width, height, PixelFormat32bppARGB, 600, 600);
    Graphics(argb.get()).DrawImage(image.get(), 0, 0, width, height);
    argb->SetPixel(0, 0, Color(0, 255, 255, 255));
    SaveImageFile(*argb, path, L"image/png");
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
static Rows Eroded(const Rows& rows, int passes)
{
    std::string folder = ScratchFolder();
    std::string path = WriteBmp(folder, "page.bmp", rows);
    ClearMessages();
    ErodeImage(path.c_str(), passes);
    EXPECT_EQ(Messages().size(), 1u);
    if (!Messages().empty()) {
        EXPECT_EQ(Messages()[0].caption, texts->successTitle) << Messages()[0].text;
    }
    return ReadRows(path, static_cast<int>(rows[0].size()), static_cast<int>(rows.size()));
}

// A 600 DPI BMP of `width` x `height` written byte by byte, rows bottom-up: `bitCount` bits a pixel,
// pixel (x, y) holding value(x, y), a palette index or the pixel's bits (little-endian). With
// `masks` (red, green, blue, alpha) a BITMAPV5HEADER with bit fields, otherwise a 40-byte header
// with no compression and the palette's entries (0xAARRGGBB, stored blue, green, red, reserved).
struct BmpLayout {
    const char* name;
    int bitCount;
    std::vector<unsigned> palette;
    std::vector<std::uint32_t> masks;
};

// A BMP of `value`'s pixels laid out as `layout` says; with `topDown` its rows stored from the top.
template <class Value>
static std::vector<unsigned char> LaidOutBmp(const BmpLayout& layout, int width, int height, Value value,
                                             bool topDown = false)
{
    std::vector<unsigned char> file;
    auto put = [&](std::uint64_t field, int bytes) {
        for (int i = 0; i < bytes; ++i) file.push_back(static_cast<unsigned char>(field >> (8 * i)));
    };
    std::size_t infoSize = layout.masks.empty() ? 40 : 124;
    std::size_t offBits = 14 + infoSize + 4 * layout.palette.size();
    std::size_t rowLength = (static_cast<std::size_t>(width) * layout.bitCount + 31) / 32 * 4;
    put('B' | 'M' << 8, 2), put(offBits + rowLength * height, 4), put(0, 4), put(offBits, 4);
    put(infoSize, 4), put(width, 4), put(topDown ? -height : height, 4), put(1, 2), put(layout.bitCount, 2);
    put(layout.masks.empty() ? 0 : 3, 4), put(rowLength * height, 4), put(23622, 4), put(23622, 4);
    put(layout.palette.size(), 4), put(0, 4);
    for (std::uint32_t mask : layout.masks) put(mask, 4);
    if (!layout.masks.empty()) put(0x73524742, 4), file.resize(14 + infoSize, 0);  // 'sRGB', rest zero
    for (unsigned entry : layout.palette) put(entry & 0xFFFFFF, 4);
    for (int stored = 0; stored < height; ++stored) {
        int y = topDown ? stored : height - 1 - stored;
        std::vector<unsigned char> row(rowLength, 0);
        for (int x = 0; x < width; ++x) {
            std::uint64_t bits = value(x, y);
            std::size_t bit = static_cast<std::size_t>(x) * layout.bitCount;
            if (layout.bitCount < 8) {
                row[bit / 8] |= static_cast<unsigned char>(bits << (8 - layout.bitCount - bit % 8));
            } else {
                for (int i = 0; i < layout.bitCount / 8; ++i) row[bit / 8 + i] = static_cast<unsigned char>(bits >> (8 * i));
            }
        }
        file.insert(file.end(), row.begin(), row.end());
    }
    return file;
}

// The source the pipeline loads from `path` holds what the platform's decoder gives: format,
// resolution, palette and every pixel. Returns whether the pixels were read where they lie.
static bool ExpectLoadedAsDecoded(const std::string& path)
{
    SourceImage source;
    EXPECT_TRUE(LoadSource(path.c_str(), source));
    Bitmap decoded(source.widePath.get());
    if (!source.bitmap || decoded.GetLastStatus() != Ok) return false;
    Bitmap& loaded = *source.bitmap;
    PixelFormat format = decoded.GetPixelFormat();
    EXPECT_EQ(loaded.GetPixelFormat(), format);
    EXPECT_EQ(loaded.GetHorizontalResolution(), decoded.GetHorizontalResolution());
    EXPECT_EQ(loaded.GetVerticalResolution(), decoded.GetVerticalResolution());
    EXPECT_EQ(PaletteOf(loaded), PaletteOf(decoded));
    LockedPixels ours = LockPixels(loaded, ImageLockModeRead, format), theirs = LockPixels(decoded, ImageLockModeRead, format);
    if (!ours || !theirs) return ADD_FAILURE() << "lock", false;
    std::size_t bits = static_cast<std::size_t>(ours->Width) * GetPixelFormatSize(format);
    unsigned char lastBits = static_cast<unsigned char>(0xFF00 >> bits % 8);  // the pixels in a last partial byte
    for (int y = 0; y < static_cast<int>(ours->Height); ++y) {
        const std::uint8_t *a = PixelRow(*ours, y), *b = PixelRow(*theirs, y);
        EXPECT_TRUE(std::memcmp(a, b, bits / 8) == 0 && ((a[bits / 8] ^ b[bits / 8]) & lastBits) == 0) << "row " << y;
    }
    return ReadImageHeader(path.c_str()).bmp.rowsOffset != 0;
}

TEST(ErodeImage, EveryBmpPixelFormatIsJudgedAsBefore)
{
    // Each page of each format the decoder gives comes out of both operations as the blue threshold
    // of its stored colours, which is what drawing it into 24 bits first gave (this table passed on
    // that path too); the expected pixels come from the file's own bytes.
    // Colours as 0xAARRGGBB around the blue threshold, other channels pulling the other way.
    const std::vector<unsigned> colours = {0xFFFFFFFF, 0xFF000000, 0xFFFFFF7F, 0xFF000080, 0xFF7F7F7F, 0xFF808080,
                                           0xFFFF0000, 0xFF0000FF, 0xFF00FF80, 0xFFFF007F, 0xFF123456, 0xFFFEDCBA,
                                           0xFF80FF7F, 0xFF7F0080, 0xFFFFFFFE, 0xFF000001};
    std::vector<unsigned> greys(256);
    for (unsigned i = 0; i < 256; ++i) greys[i] = 0xFF000000 | i * 0x010101;
    const int width = 37, height = 11;
    auto pick = [&](int x, int y) { return (x / 3 + y / 2) % 4 == 0 ? 0 : (x * 7 + y * 3) % 16; };
    auto pixel = [&](int x, int y) { return colours[pick(x, y)]; };
    struct Format { BmpLayout layout; std::function<std::uint64_t(int, int)> value; std::function<bool(int, int)> black; };
    auto blueBlack = [&](int x, int y) { return (pixel(x, y) & 0xFF) < 128; };
    // 16-bit pixels: the top five bits of each channel, red shifted by `redShift`, green above blue.
    auto five = [](unsigned c, int redShift) { return (c >> 19 & 31) << redShift | (c >> 11 & 31) << 5 | (c >> 3 & 31); };
    auto fiveBlack = [&](int x, int y) { return (pixel(x, y) >> 3 & 31) < 16; };
    auto fourth = [&](int x, int y) { return (pixel(x, y) & 0xFFFFFF) | (x * 37u + y) % 256 << 24; };
    const Format formats[] = {
        {{"1-bit", 1, {colours[2], colours[3]}, {}}, [&](int x, int y) { return pick(x, y) % 2; },
         [&](int x, int y) { return pick(x, y) % 2 == 0; }},
        {{"4-bit", 4, colours, {}}, pick, blueBlack},
        {{"8-bit grey", 8, greys, {}}, [&](int x, int y) { return pixel(x, y) & 0xFF; }, blueBlack},
        {{"8-bit colour", 8, colours, {}}, pick, blueBlack},
        {{"16-bit 555", 16, {}, {}}, [&](int x, int y) { return five(pixel(x, y), 10); }, fiveBlack},
        {{"16-bit 565", 16, {}, {0xF800, 0x7E0, 0x1F, 0}}, [&](int x, int y) { return five(pixel(x, y), 11); },
         fiveBlack},
        {{"24-bit", 24, {}, {}}, [&](int x, int y) { return pixel(x, y) & 0xFFFFFF; }, blueBlack},
        {{"32-bit, fourth byte varied", 32, {}, {}}, fourth, blueBlack},
        {{"32-bit with alpha", 32, {}, {0xFF0000, 0xFF00, 0xFF, 0xFF000000}}, fourth, blueBlack},
    };
    std::string folder = ScratchFolder();
    int readInPlace = 0;
    for (const Format& format : formats) {
        SCOPED_TRACE(format.layout.name);
        std::vector<unsigned char> bmp = LaidOutBmp(format.layout, width, height, format.value);
        WriteBytes(folder + "\\loaded.bmp", bmp);
        readInPlace += ExpectLoadedAsDecoded(folder + "\\loaded.bmp");
        if (format.layout.masks.empty() && format.layout.bitCount != 16 && format.layout.bitCount != 32) {
            WriteBytes(folder + "\\loaded.bmp", LaidOutBmp(format.layout, width, height, format.value, true));
            readInPlace += ExpectLoadedAsDecoded(folder + "\\loaded.bmp");
        }
        std::vector<std::uint8_t> plane(width * height);
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x) plane[y * width + x] = format.black(x, y) ? 0 : 255;
        Rows thresholded = Pattern(width, height, [&](int x, int y) { return plane[y * width + x] == 0; });
        ErodeImageBinary(plane.data(), width, height, width, 1);
        Rows eroded = Pattern(width, height, [&](int x, int y) { return plane[y * width + x] == 0; });
        std::string path = folder + "\\page.bmp";
        WriteBytes(path, bmp);
        ErodeImage(path.c_str(), 1);
        EXPECT_EQ(ReadRows(path, width, height), eroded) << "erosion";
        WriteBytes(path, bmp);
        AdjustMargins(path.c_str(), TopLeft, 0, 0);
        EXPECT_EQ(ReadRows(path, width, height), thresholded) << "margins";
        DeleteFileA((folder + "\\page1.bmp").c_str());
    }
    for (const char* fixture : {"mono_black_first_600.bmp", "grey8_600.bmp", "grey_levels_600.bmp", "rgb24_600.bmp",
                                "dpi_599_4.bmp", "dpi_300x600.bmp"}) {
        SCOPED_TRACE(fixture);
        readInPlace += ExpectLoadedAsDecoded(FixturePath(fixture));
    }
    EXPECT_EQ(readInPlace, 4 + 4 + 6);  // 1-, 4-, 8-bit grey and 24-bit pages both ways up, and every fixture
    // A transparent white pixel (PNG content under a BMP name) on the frame: the erosion judges it as
    // drawn over black, as it always has, the margins by its stored colour.
    Rows white = Pattern(width, height, [](int, int) { return false; }), corner = white;
    corner[0][0] = '#';
    std::string path = WriteBmp(folder, "transparent.bmp", white, true);
    std::vector<unsigned char> png = ReadBytes(path);
    ErodeImage(path.c_str(), 1);
    EXPECT_EQ(ReadRows(path, width, height), corner);
    WriteBytes(path, png);
    AdjustMargins(path.c_str(), TopLeft, 0, 0);
    EXPECT_EQ(ReadRows(path, width, height), white);
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
    bool transparent = false;       // a page with transparent pixels, which is drawn before it is judged
};

static void WithAllocationsFailing(const char* path, std::size_t from, std::size_t except)
{
    FailingAllocations failing(from, except);
    ErodeImage(path, 4);
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
         [](const char* path) { WithCreateRefusing(path, PixelFormat24bppRGB); }, true},
        {"1-bit result", texts->msgProcessingError,
         [](const char* path) { WithCreateRefusing(path, PixelFormat1bppIndexed); }},
        {"drawing", texts->msgProcessingError,
         [](const char* path) {
             ImportSwap swap(&__imp_GdipDrawImageRectI, reinterpret_cast<void*>(&DrawFailing));
             ErodeImage(path, 4);
         }, true},
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
        std::string path = WriteBmp(folder, name + ".bmp", page, failure.transparent);
        std::vector<unsigned char> input = ReadBytes(path);
        ClearMessages();
        failure.run(path.c_str());
        ExpectOneMessage(failure.expected, texts->errorTitle, MB_ICONERROR);
        EXPECT_EQ(ReadBytes(path), input);
        EXPECT_EQ(ReadBytes(folder + "\\" + name + "1.bmp"), input);
    }
    EXPECT_EQ(FolderEntries(folder).size(), 2 * std::size(failureCases));  // no temporary left behind
}
