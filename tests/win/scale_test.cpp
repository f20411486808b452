// Scaling on real files: the new size, the formats and resolution written back, the 1-bit BMP path,
// transparency, the refusals, and the picture: the program's own resampler (tested in tests/pure).
#include "test_support.h"

#include "imaging/kernels/resample.h"
#include "imaging/operations.h"
#include "imaging/scale.h"

#include <algorithm>
#include <cmath>
#include <cstdint>

using Gdiplus::Bitmap;

static const char kDpiRequired96[] = "The image must have a resolution of 600 DPI.\nDetected resolution: 96 x 96 DPI";

static void ExpectOnlyMessage(const std::string& text, const char* caption, UINT icon)
{
    ASSERT_EQ(Messages().size(), 1u);
    EXPECT_EQ(Messages()[0].text, text);
    EXPECT_EQ(Messages()[0].caption, caption);
    EXPECT_EQ(Messages()[0].type, icon);
    EXPECT_EQ(Messages()[0].owner, nullptr);
}

static void ExpectScaled(const std::string& backupName)
{
    ExpectOnlyMessage("Image scaled and saved!\nBackup created: " + backupName, "Success", MB_ICONINFORMATION);
}

static void ExpectProcessingError()
{
    ExpectOnlyMessage("Error processing the image", "Error", MB_ICONERROR);
}

static std::string MakeWhitePng(const std::string& folder, const std::string& name, int width, int height)
{
    std::string path = folder + "\\" + name;
    BitmapPtr image = MakeRgbImage(width, height, [](int, int) { return 0xFFFFFFu; });
    SaveImageFile(*image, path, L"image/png");
    return path;
}

TEST(ScaleImage, NewSizeRoundsHalvesUpAndKeepsAtLeastOnePixel)
{
    if (!HasUnixImageMagick()) GTEST_SKIP() << "reads results with ImageMagick on the Unix side of Wine";
    std::string folder = ScratchFolder();
    struct Case { int width, height; double factorX, factorY; unsigned newWidth, newHeight; };
    // 0.1 + 0.5 truncates to 0 and is raised to 1; 0.5 + 0.5 is exactly 1; 2480.5 rounds up.
    for (Case c : {Case{1000, 3, 0.0001, 1, 1, 3}, Case{5, 5, 0.1, 0.3, 1, 2}, Case{5, 5, 0.3, 0.1, 2, 1},
                   Case{4961, 2, 0.5, 1, 2481, 2}}) {
        std::string name = "w" + std::to_string(c.width) + "x" + std::to_string(c.factorX) + ".png";
        std::string path = MakeWhitePng(folder, name, c.width, c.height);
        ClearMessages();
        ScaleImage(path.c_str(), c.factorX, c.factorY);
        ExpectScaled(name.substr(0, name.size() - 4) + "1.png");
        MagickImage scaled = ReadWithImageMagick(path);
        EXPECT_EQ(scaled.width, static_cast<int>(c.newWidth)) << name;
        EXPECT_EQ(scaled.height, static_cast<int>(c.newHeight)) << name;
    }
}

TEST(ScaleImage, DoublingTheWidthKeepsHeightResolutionAndBackup)
{
    if (!HasUnixImageMagick()) GTEST_SKIP() << "reads results with ImageMagick on the Unix side of Wine";
    std::string folder = ScratchFolder();
    std::string path = CopyFixture("rgb_600.png", folder);

    ScaleImage(path.c_str(), 2, 1);

    ExpectScaled("rgb_6001.png");
    EXPECT_EQ(ReadBytes(folder + "\\rgb_6001.png"), ReadBytes(FixturePath("rgb_600.png")));
    MagickImage scaled = ReadWithImageMagick(path);
    EXPECT_EQ(scaled.format, "PNG");
    ASSERT_EQ(scaled.width, 200);
    ASSERT_EQ(scaled.height, 50);
    // 23622 pixels per metre, as the file stores 600 DPI.
    EXPECT_NEAR(scaled.dpiX, 599.9988, 0.0001);
    EXPECT_NEAR(scaled.dpiY, 599.9988, 0.0001);
    // The quadrants stretch across: red and green meet at x 100 now, not 50.
    EXPECT_EQ(scaled.Rgb(10, 10), 0xFF0000u);
    EXPECT_EQ(scaled.Rgb(90, 10), 0xFF0000u);
    EXPECT_EQ(scaled.Rgb(110, 10), 0x00FF00u);
    EXPECT_EQ(scaled.Rgb(10, 40), 0x0000FFu);
    EXPECT_EQ(scaled.Rgb(190, 40), 0xFFFFFFu);
}

TEST(ScaleImage, ExtensionInAnyLetterCaseChoosesTheEncoder)
{
    if (!HasUnixImageMagick()) GTEST_SKIP() << "reads results with ImageMagick on the Unix side of Wine";
    std::string folder = ScratchFolder();
    // The contents are of another format than the name says: only the extension may decide. JPEG
    // results carry whole DPI.
    struct Case { const char* fixture; const char* name; const char* format; double dpi; };
    for (Case c : {Case{"rgb_600.png", "a.JPEG", "JPEG", 600}, Case{"rgb_600.png", "b.jpg", "JPEG", 600},
                   Case{"colour_600.jpg", "c.Png", "PNG", 599.9988}}) {
        std::string path = CopyFixture(c.fixture, folder, c.name);
        ClearMessages();
        ScaleImage(path.c_str(), 0.5, 0.5);
        ASSERT_EQ(Messages().size(), 1u) << c.name;
        EXPECT_EQ(Messages()[0].caption, "Success") << c.name;
        MagickImage scaled = ReadWithImageMagick(path);
        EXPECT_EQ(scaled.format, c.format) << c.name;
        EXPECT_EQ(scaled.width, 50) << c.name;
        EXPECT_EQ(scaled.height, 25) << c.name;
        EXPECT_NEAR(scaled.dpiX, c.dpi, 0.0001) << c.name;
    }
    std::string bmp = CopyFixture("colour_600.jpg", folder, "d.BMP");
    ScaleImage(bmp.c_str(), 0.5, 0.5);
    ExpectMonochromeBmp(bmp, 50, 25);
}

TEST(ScaleImage, UnitFactorsStillRedrawAndEncodeAgain)
{
    if (!HasUnixImageMagick()) GTEST_SKIP() << "reads results with ImageMagick on the Unix side of Wine";
    std::string folder = ScratchFolder();
    std::string jpeg = CopyFixture("colour_600.jpg", folder);
    std::string bmp = CopyFixture("rgb24_600.bmp", folder);

    ScaleImage(jpeg.c_str(), 1, 1);
    ScaleImage(bmp.c_str(), 1, 1);

    ASSERT_EQ(Messages().size(), 2u);
    // The JPEG is decoded and encoded again with its own tables and sampling, which at quality 95 and
    // 4:4:4 gives its own coefficients back.
    MagickImage image = ReadWithImageMagick(jpeg);
    EXPECT_EQ(image.format, "JPEG");
    EXPECT_EQ(image.width, 100);
    EXPECT_EQ(image.height, 50);
    EXPECT_EQ(image.dpiX, 600);
    // The 24-bit BMP comes back 1-bit: blue 128 and up is white, so red and green turn black.
    MonoPage page = ExpectMonochromeBmp(bmp, 100, 50);
    ASSERT_EQ(page.width, 100);
    EXPECT_TRUE(page.At(10, 10));   // red
    EXPECT_TRUE(page.At(90, 10));   // green
    EXPECT_FALSE(page.At(10, 40));  // blue
    EXPECT_FALSE(page.At(90, 40));  // white
}

// A JPEG result is encoded with the source's own quantisation tables and sampling, and keeps its EXIF
// (with the new pixel size and no thumbnail), ICC profile and comment.
TEST(ScaleImage, JpegKeepsItsTablesAndMetadata)
{
    std::string folder = ScratchFolder();
    std::string path = CopyFixture("jpeg_420_64x48.jpg", folder);
    ScaleImage(path.c_str(), 0.5, 0.5);
    JpegFacts source = ReadJpegFacts(ReadBytes(FixturePath("jpeg_420_64x48.jpg")));
    JpegFacts scaled = ReadJpegFacts(ReadBytes(path));
    EXPECT_EQ(scaled.width, 32);
    ExpectFixtureMetadata(path, "jpeg_420_64x48.jpg");
    EXPECT_EQ(scaled.tables, source.tables);
}

// A 1-bit BMP written by our own encoder path: black in columns 16 to 47 of 64, white around.
static std::string MakeBandBmp(const std::string& folder)
{
    std::string path = folder + "\\band.bmp";
    BitmapPtr colour = MakeRgbImage(64, 16, [](int x, int) { return x >= 16 && x < 48 ? 0u : 0xFFFFFFu; });
    BitmapPtr mono = ToMonochrome(*colour, 600, 600);
    EXPECT_TRUE(mono);
    if (mono) SaveImageFile(*mono, path, L"image/bmp");
    return path;
}

TEST(ScaleImage, HalvedOneBitBmpComesBackOneBitWithPatchedHeader)
{
    std::string folder = ScratchFolder();
    std::string fixture = CopyFixture("mono_white_first_600.bmp", folder, "page.bmp");
    std::string band = MakeBandBmp(folder);

    ScaleImage(fixture.c_str(), 0.5, 0.5);
    ScaleImage(band.c_str(), 0.5, 0.5);

    ASSERT_EQ(Messages().size(), 2u);
    EXPECT_EQ(Messages()[1].text, "Image scaled and saved!\nBackup created: band1.bmp");
    MonoPage page = ExpectMonochromeBmp(fixture, 50, 25);
    ASSERT_EQ(page.width, 50);
    EXPECT_TRUE(page.At(1, 0));    // the 8 x 4 block in the top left corner, now 4 x 2
    EXPECT_TRUE(page.At(2, 1));
    EXPECT_TRUE(page.At(49, 24));  // the 4 x 3 block in the bottom right corner
    // Columns 8 to 23 of 32 black.
    page = ExpectMonochromeBmp(band, 32, 8);
    ASSERT_EQ(page.width, 32);
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 32; ++x) EXPECT_EQ(page.At(x, y), x >= 8 && x < 24) << x << "," << y;
}

TEST(ScaleImage, GifIsRefusedByTheGateAtNinetySixDpi)
{
    std::string folder = ScratchFolder();
    std::string path = CopyFixture("colour.gif", folder);

    ScaleImage(path.c_str(), 0.5, 0.5);

    ExpectOnlyMessage(kDpiRequired96, "Error", MB_ICONERROR);
    EXPECT_EQ(FolderEntries(folder), (std::vector<std::string>{"colour.gif"}));
    EXPECT_EQ(ReadBytes(path), ReadBytes(FixturePath("colour.gif")));
}

TEST(ScaleImage, TransparentAreasComeOutWhiteWithoutAlpha)
{
    if (!HasUnixImageMagick()) GTEST_SKIP() << "reads results with ImageMagick on the Unix side of Wine";
    std::string folder = ScratchFolder();
    // Alpha 0 over red where x < 10 and y < 10, opaque red around it.
    std::string png = CopyFixture("rgba_600.png", folder);
    std::string bmp = CopyFixture("rgba_600.png", folder, "rgba.bmp");

    ScaleImage(png.c_str(), 1, 1);
    ScaleImage(bmp.c_str(), 2, 2);

    ASSERT_EQ(Messages().size(), 2u);
    MagickImage image = ReadWithImageMagick(png);
    ASSERT_EQ(image.width, 100);
    for (int x : {0, 8, 12, 2}) EXPECT_EQ(image.Alpha(x, x == 2 ? 20 : x), 255);
    EXPECT_EQ(image.Rgb(0, 0), 0xFFFFFFu);
    EXPECT_EQ(image.Rgb(8, 8), 0xFFFFFFu);
    EXPECT_EQ(image.Rgb(12, 12), 0xFF0000u);
    EXPECT_EQ(image.Rgb(2, 20), 0xFF0000u);
    // In black and white, red (blue 0) is black and the transparent corner white.
    MonoPage page = ExpectMonochromeBmp(bmp, 200, 100);
    ASSERT_EQ(page.width, 200);
    EXPECT_FALSE(page.At(0, 0));
    EXPECT_FALSE(page.At(16, 16));
    EXPECT_TRUE(page.At(24, 24));
    EXPECT_TRUE(page.At(4, 40));
}

TEST(ScaleImage, TargetsBeyondPixelBufferSizesAreRefusedAndTheFileKept)
{
    std::string folder = ScratchFolder();
    // 2700 x 2700 by 10 is 27000 x 27000 pixels: 2.19e9 bytes at 3 bytes each, beyond 2^31.
    std::string large = folder + "\\large.png";
    BitmapPtr mono = NewBitmap(2700, 2700, PixelFormat1bppIndexed, 600, 600);
    ASSERT_TRUE(mono);
    SetMonochromePalette(*mono);
    SaveImageFile(*mono, large, L"image/png");
    mono.reset();
    // A side beyond the range of int.
    std::string small = MakeWhitePng(folder, "small.png", 5, 5);
    // A JPEG result wider than a JPEG can state (65,535), refused before any encoding: from a JPEG file
    // (61 x 1075 = 65575) and from other content under a JPEG name (5 x 13108 = 65540).
    std::string wide = CopyFixture("jpeg_420_61x45.jpg", folder, "wide.jpg");
    std::string png = MakeWhitePng(folder, "png.jpg", 5, 5);
    struct Case { std::string path; double factorX, factorY; };
    for (const Case& c : {Case{large, 10, 10}, Case{small, 1e12, 1}, Case{small, 1, 1e12}, Case{wide, 1075, 1},
                          Case{png, 1, 13108}}) {
        std::vector<unsigned char> before = ReadBytes(c.path);
        ClearMessages();
        ScaleImage(c.path.c_str(), c.factorX, c.factorY);
        ExpectProcessingError();
        EXPECT_EQ(ReadBytes(c.path), before) << c.path;
    }
    // Memory that runs out inside the JPEG engine: in the library's own blocks (a lossless turn holds no
    // buffer of the program's; the library's first pool is for the tables) and in the program's (the
    // decoded picture's). The error, never a result with other tables; not the 2 KB file read before.
    struct Scarce { const char* fixture; const char* name; void (*operation)(const char* path); };
    for (Scarce c : {Scarce{"jpeg_420_64x48.jpg", "turned.jpg", [](const char* path) { RotateImage(path, 90); }},
                     Scarce{"jpeg_420_61x45.jpg", "scarce.jpg", [](const char* path) { ScaleImage(path, 2, 2); }}}) {
        std::string path = CopyFixture(c.fixture, folder, c.name);
        std::vector<unsigned char> before = ReadBytes(path);
        ClearMessages();
        {
            FailingAllocations failing(4096);
            c.operation(path.c_str());
        }
        ExpectProcessingError();
        EXPECT_EQ(ReadBytes(path), before) << c.name;
    }
    EXPECT_EQ(FolderEntries(folder), (std::vector<std::string>{"large.png", "large1.png", "png.jpg", "png1.jpg",
                                                                "scarce.jpg", "scarce1.jpg", "small.png", "small1.png",
                                                                "small2.png", "turned.jpg", "turned1.jpg", "wide.jpg",
                                                                "wide1.jpg"}));
}

TEST(ScaleImage, FailedSaveReportsAndKeepsTheFile)
{
    std::string folder = ScratchFolder();
    std::string path = CopyFixture("rgb_600.png", folder);
    SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_READONLY);

    ScaleImage(path.c_str(), 2, 2);

    SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    ExpectProcessingError();
    EXPECT_EQ(ReadBytes(path), ReadBytes(FixturePath("rgb_600.png")));
    EXPECT_EQ(FolderEntries(folder), std::vector<std::string>{"rgb_600.png"}) << "refused before the backup";
}

// The 24-bit pixels of an image as blue-green-red rows without padding, read through a 24-bit lock.
static std::vector<std::uint8_t> BgrBytes(Bitmap& image)
{
    int width = static_cast<int>(image.GetWidth()), height = static_cast<int>(image.GetHeight());
    std::vector<std::uint8_t> bytes(static_cast<size_t>(width) * height * 3);
    LockedPixels pixels = LockPixels(image, Gdiplus::ImageLockModeRead, PixelFormat24bppRGB);
    EXPECT_TRUE(pixels);
    for (int y = 0; pixels && y < height; ++y) {
        std::copy_n(PixelRow(*pixels, y), width * 3, &bytes[static_cast<size_t>(y) * width * 3]);
    }
    return bytes;
}

TEST(ScaledImage, UndecodableSourceOrTargetBeyondBuffersGivesNothing)
{
    // A bitmap whose decoding failed has no pixels to read.
    Bitmap undecodable(L"Z:\\no such folder\\missing.png");
    ASSERT_NE(undecodable.GetLastStatus(), Gdiplus::Ok);
    EXPECT_FALSE(ScaledImage(undecodable, 10, 10, 600, 600, false));
    BitmapPtr source = MakeRgbImage(10, 10, [](int, int) { return 0x123456u; });
    EXPECT_FALSE(ScaledImage(*source, 50000, 50000, 600, 600, false));
}

// At 1.7 x 0.6 the platform's bicubic drawing blended the outermost pixels with the background it drew
// on, up to 52 levels lighter. Every pixel of a uniform picture, edges included, keeps its colour.
TEST(ScaledImage, UniformPictureHasNoPaleFrame)
{
    BitmapPtr source = MakeRgbImage(20, 10, [](int, int) { return 0x8040C0u; });
    for (bool monochromeBmp : {false, true}) {
        BitmapPtr scaled = ScaledImage(*source, 34, 6, 600, 300, monochromeBmp);
        ASSERT_TRUE(scaled);
        EXPECT_EQ(scaled->GetPixelFormat(), monochromeBmp ? PixelFormat1bppIndexed : PixelFormat24bppRGB);
        EXPECT_EQ(scaled->GetVerticalResolution(), 300);
        // Blue 0xC0 is white to the threshold.
        std::vector<std::uint8_t> pixel = monochromeBmp ? std::vector<std::uint8_t>{0xFF, 0xFF, 0xFF}
                                                        : std::vector<std::uint8_t>{0xC0, 0x40, 0x80};
        std::vector<std::uint8_t> expected;
        for (int i = 0; i < 34 * 6; ++i) expected.insert(expected.end(), pixel.begin(), pixel.end());
        EXPECT_EQ(BgrBytes(*scaled), expected) << (monochromeBmp ? "1-bit" : "24-bit");
    }
}

// The program's own resampler, one grey channel or three, on pixels given as rows without padding.
static std::vector<std::uint8_t> Resampled(const std::vector<std::uint8_t>& pixels, int channels, int width,
                                           int height, int newWidth, int newHeight)
{
    std::vector<std::uint8_t> result(static_cast<size_t>(newWidth) * newHeight * channels);
    ResampleBicubic(pixels.data(), width * channels, width, height, channels, result.data(), newWidth * channels,
                    newWidth, newHeight);
    return result;
}

// An image as ImageMagick reads it, as blue-green-red rows without padding.
static std::vector<std::uint8_t> MagickBgr(const MagickImage& image)
{
    std::vector<std::uint8_t> bytes;
    for (size_t at = 0; at + 4 <= image.rgba.size(); at += 4) {
        bytes.insert(bytes.end(), {image.rgba[at + 2], image.rgba[at + 1], image.rgba[at]});
    }
    return bytes;
}

// The fixtures' black-and-white picture, 100 x 50 (tests/fixtures/README.md).
static bool FixtureBlack(int x, int y)
{
    return (x < 8 && y < 4) || (x >= 96 && y >= 47) || (x * 7 + y * 3) % 11 == 0;
}

// What lands in the file is exactly the program's own resampling of the source: in colour, in grey
// from a 1-bit palette, and in grey thresholded back to 1 bit for BMP, all read by readers apart from GDI+.
// The platform's drawing differed by platform: bilinear without prefilter under Wine.
TEST(ScaleImage, PictureIsTheProgramsOwnResampling)
{
    if (!HasUnixImageMagick()) GTEST_SKIP() << "reads results with ImageMagick on the Unix side of Wine";
    std::string folder = ScratchFolder();
    // Each channel runs its own course, so that a flip or a swapped channel shows.
    auto colour = [](int x, int y) {
        return static_cast<unsigned>(128 + 100 * std::sin(x / 5.0 + y / 8.0)) << 16 | (x * 255 / 119) << 8 |
               (y * y * 255 / (79 * 79));
    };
    std::string png = folder + "\\smooth.png";
    SaveImageFile(*MakeRgbImage(120, 80, colour), png, L"image/png");
    std::vector<std::uint8_t> bgr;
    for (int y = 0; y < 80; ++y)
        for (int x = 0; x < 120; ++x)
            for (int shift : {0, 8, 16}) bgr.push_back(static_cast<std::uint8_t>(colour(x, y) >> shift));
    std::string monoPng = CopyFixture("mono_600.png", folder);
    std::string monoBmp = CopyFixture("mono_white_first_600.bmp", folder);
    std::vector<std::uint8_t> grey;
    for (int y = 0; y < 50; ++y)
        for (int x = 0; x < 100; ++x) grey.push_back(FixtureBlack(x, y) ? 0 : 255);

    ScaleImage(png.c_str(), 1.7, 0.6);
    ScaleImage(monoPng.c_str(), 0.3, 0.7);
    ScaleImage(monoBmp.c_str(), 0.5, 0.5);

    ASSERT_EQ(Messages().size(), 3u);
    EXPECT_EQ(MagickBgr(ReadWithImageMagick(png)), Resampled(bgr, 3, 120, 80, 204, 48));
    std::vector<std::uint8_t> spread;
    for (std::uint8_t level : Resampled(grey, 1, 100, 50, 30, 35)) spread.insert(spread.end(), {level, level, level});
    EXPECT_EQ(MagickBgr(ReadWithImageMagick(monoPng)), spread);
    MonoPage page = ExpectMonochromeBmp(monoBmp, 50, 25);
    ASSERT_EQ(page.width, 50);
    std::vector<std::uint8_t> halved = Resampled(grey, 1, 100, 50, 50, 25);
    int wrong = 0;
    for (int y = 0; y < 25; ++y)
        for (int x = 0; x < 50; ++x) wrong += page.At(x, y) != (halved[static_cast<size_t>(y) * 50 + x] < 128);
    EXPECT_EQ(wrong, 0);
}
