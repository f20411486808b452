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

static const std::vector<unsigned char> kJpegMagic = {0xFF, 0xD8, 0xFF};
static const std::vector<unsigned char> kPngMagic = {0x89, 'P', 'N', 'G'};
static const std::vector<unsigned char> kBmpMagic = {'B', 'M'};

static bool StartsWith(const std::vector<unsigned char>& bytes, const std::vector<unsigned char>& magic)
{
    return bytes.size() >= magic.size() && std::equal(magic.begin(), magic.end(), bytes.begin());
}

TEST(ScaleImage, NewSizeRoundsHalvesUpAndKeepsAtLeastOnePixel)
{
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
        BitmapPtr scaled = LoadImageFile(path);
        ASSERT_TRUE(scaled) << name;
        EXPECT_EQ(scaled->GetWidth(), c.newWidth) << name;
        EXPECT_EQ(scaled->GetHeight(), c.newHeight) << name;
    }
}

TEST(ScaleImage, DoublingTheWidthKeepsHeightResolutionAndBackup)
{
    std::string folder = ScratchFolder();
    std::string path = CopyFixture("rgb_600.png", folder);

    ScaleImage(path.c_str(), 2, 1);

    ExpectScaled("rgb_6001.png");
    EXPECT_EQ(ReadBytes(folder + "\\rgb_6001.png"), ReadBytes(FixturePath("rgb_600.png")));
    EXPECT_TRUE(StartsWith(ReadBytes(path), kPngMagic));
    BitmapPtr scaled = LoadImageFile(path);
    ASSERT_TRUE(scaled);
    EXPECT_EQ(scaled->GetWidth(), 200u);
    EXPECT_EQ(scaled->GetHeight(), 50u);
    // 23622 pixels per metre, as the file stores 600 DPI.
    EXPECT_NEAR(scaled->GetHorizontalResolution(), 599.9988, 0.001);
    EXPECT_NEAR(scaled->GetVerticalResolution(), 599.9988, 0.001);
    // The quadrants stretch across: red and green meet at x 100 now, not 50.
    EXPECT_EQ(PixelRgb(*scaled, 10, 10), 0xFF0000u);
    EXPECT_EQ(PixelRgb(*scaled, 90, 10), 0xFF0000u);
    EXPECT_EQ(PixelRgb(*scaled, 110, 10), 0x00FF00u);
    EXPECT_EQ(PixelRgb(*scaled, 10, 40), 0x0000FFu);
    EXPECT_EQ(PixelRgb(*scaled, 190, 40), 0xFFFFFFu);
}

TEST(ScaleImage, ExtensionInAnyLetterCaseChoosesTheEncoder)
{
    std::string folder = ScratchFolder();
    // The contents are of another format than the name says: only the extension may decide.
    struct Case { const char* fixture; const char* name; const std::vector<unsigned char>& magic; };
    for (Case c : {Case{"rgb_600.png", "a.JPEG", kJpegMagic}, Case{"rgb_600.png", "b.jpg", kJpegMagic},
                   Case{"colour_600.jpg", "c.Png", kPngMagic}, Case{"colour_600.jpg", "d.BMP", kBmpMagic}}) {
        std::string path = CopyFixture(c.fixture, folder, c.name);
        ClearMessages();
        ScaleImage(path.c_str(), 0.5, 0.5);
        ASSERT_EQ(Messages().size(), 1u) << c.name;
        EXPECT_EQ(Messages()[0].caption, "Success") << c.name;
        EXPECT_TRUE(StartsWith(ReadBytes(path), c.magic)) << c.name;
        BitmapPtr scaled = LoadImageFile(path);
        ASSERT_TRUE(scaled) << c.name;
        EXPECT_EQ(scaled->GetWidth(), 50u) << c.name;
        EXPECT_EQ(scaled->GetHeight(), 25u) << c.name;
    }
    EXPECT_EQ(ReadBmpHeader(ReadBytes(folder + "\\d.BMP")).bitCount, 1);
}

TEST(ScaleImage, UnitFactorsStillRedrawAndEncodeAgain)
{
    std::string folder = ScratchFolder();
    std::string jpeg = CopyFixture("colour_600.jpg", folder);
    std::string bmp = CopyFixture("rgb24_600.bmp", folder);

    ScaleImage(jpeg.c_str(), 1, 1);
    ScaleImage(bmp.c_str(), 1, 1);

    ASSERT_EQ(Messages().size(), 2u);
    EXPECT_NE(ReadBytes(jpeg), ReadBytes(FixturePath("colour_600.jpg")));
    EXPECT_TRUE(StartsWith(ReadBytes(jpeg), kJpegMagic));
    BitmapPtr image = LoadImageFile(jpeg);
    ASSERT_TRUE(image);
    EXPECT_EQ(image->GetWidth(), 100u);
    EXPECT_EQ(image->GetHeight(), 50u);
    // The 24-bit BMP comes back 1-bit: blue 128 and up is white, so red and green turn black.
    BmpHeader header = ReadBmpHeader(ReadBytes(bmp));
    EXPECT_EQ(header.bitCount, 1);
    EXPECT_EQ(header.width, 100);
    image = LoadImageFile(bmp);
    ASSERT_TRUE(image);
    EXPECT_TRUE(IsBlack(*image, 10, 10));      // red
    EXPECT_TRUE(IsBlack(*image, 90, 10));      // green
    EXPECT_FALSE(IsBlack(*image, 10, 40));     // blue
    EXPECT_FALSE(IsBlack(*image, 90, 40));     // white
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
    std::vector<unsigned char> file = ReadBytes(fixture);
    ExpectMonochromeBmp(file, 50, 25);
    EXPECT_EQ(ReadBmpHeader(file).sizeImage, 8u * 25 + 2);  // rows of 8 bytes, plus two
    BitmapPtr page = LoadImageFile(fixture);
    ASSERT_TRUE(page);
    EXPECT_NEAR(page->GetHorizontalResolution(), 599.9988, 0.001);
    EXPECT_TRUE(IsBlack(*page, 1, 0));    // the 8 x 4 block in the top left corner, now 4 x 2
    EXPECT_TRUE(IsBlack(*page, 2, 1));
    EXPECT_TRUE(IsBlack(*page, 49, 24));  // the 4 x 3 block in the bottom right corner

    // Columns 8 to 23 of 32 black, as bits that mean black in a white-first palette.
    file = ReadBytes(band);
    ExpectMonochromeBmp(file, 32, 8);
    BmpHeader header = ReadBmpHeader(file);
    ASSERT_EQ(header.width, 32);
    ASSERT_EQ(header.height, 8);
    EXPECT_EQ(header.sizeImage, 4u * 8 + 2);
    ASSERT_GE(file.size(), header.offBits + 4u * 8);
    for (unsigned row = 0; row < 8; ++row) {
        const unsigned char* bytes = file.data() + header.offBits + 4 * row;
        EXPECT_EQ(std::vector<unsigned char>(bytes, bytes + 4), (std::vector<unsigned char>{0x00, 0xFF, 0xFF, 0x00}))
            << "row " << row;
    }
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
    std::string folder = ScratchFolder();
    // Alpha 0 over red where x < 10 and y < 10, opaque red around it.
    std::string png = CopyFixture("rgba_600.png", folder);
    std::string bmp = CopyFixture("rgba_600.png", folder, "rgba.bmp");

    ScaleImage(png.c_str(), 1, 1);
    ScaleImage(bmp.c_str(), 2, 2);

    ASSERT_EQ(Messages().size(), 2u);
    BitmapPtr image = LoadImageFile(png);
    ASSERT_TRUE(image);
    EXPECT_EQ(image->GetPixelFormat(), PixelFormat24bppRGB);
    EXPECT_EQ(PixelRgb(*image, 0, 0), 0xFFFFFFu);
    EXPECT_EQ(PixelRgb(*image, 8, 8), 0xFFFFFFu);
    EXPECT_EQ(PixelRgb(*image, 12, 12), 0xFF0000u);
    EXPECT_EQ(PixelRgb(*image, 2, 20), 0xFF0000u);
    // In black and white, red (blue 0) is black and the transparent corner white.
    image = LoadImageFile(bmp);
    ASSERT_TRUE(image);
    EXPECT_FALSE(IsBlack(*image, 0, 0));
    EXPECT_FALSE(IsBlack(*image, 16, 16));
    EXPECT_TRUE(IsBlack(*image, 24, 24));
    EXPECT_TRUE(IsBlack(*image, 4, 40));
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
    struct Case { std::string path; double factorX, factorY; };
    for (const Case& c : {Case{large, 10, 10}, Case{small, 1e12, 1}, Case{small, 1, 1e12}}) {
        std::vector<unsigned char> before = ReadBytes(c.path);
        ClearMessages();
        ScaleImage(c.path.c_str(), c.factorX, c.factorY);
        ExpectProcessingError();
        EXPECT_EQ(ReadBytes(c.path), before) << c.path;
    }
    EXPECT_EQ(FolderEntries(folder),
              (std::vector<std::string>{"large.png", "large1.png", "small.png", "small1.png", "small2.png"}));
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
    EXPECT_EQ(FolderEntries(folder), (std::vector<std::string>{"rgb_600.png", "rgb_6001.png"}));
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

// The fixtures' black-and-white picture, 100 x 50 (tests/fixtures/README.md).
static bool FixtureBlack(int x, int y)
{
    return (x < 8 && y < 4) || (x >= 96 && y >= 47) || (x * 7 + y * 3) % 11 == 0;
}

// What lands in the file is exactly the program's own resampling of the source: in colour, in grey
// from a 1-bit palette, and in grey thresholded back to 1 bit for BMP (read from the file's own bytes).
// The platform's drawing differed by platform: bilinear without prefilter under Wine.
TEST(ScaleImage, PictureIsTheProgramsOwnResampling)
{
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
    BitmapPtr scaled = LoadImageFile(png);
    ASSERT_TRUE(scaled);
    EXPECT_EQ(BgrBytes(*scaled), Resampled(bgr, 3, 120, 80, 204, 48));
    scaled = LoadImageFile(monoPng);
    ASSERT_TRUE(scaled);
    std::vector<std::uint8_t> spread;
    for (std::uint8_t level : Resampled(grey, 1, 100, 50, 30, 35)) spread.insert(spread.end(), {level, level, level});
    EXPECT_EQ(BgrBytes(*scaled), spread);
    std::vector<unsigned char> file = ReadBytes(monoBmp);
    ExpectMonochromeBmp(file, 50, 25);
    std::vector<std::uint8_t> halved = Resampled(grey, 1, 100, 50, 50, 25);
    int wrong = 0;
    for (int y = 0; y < 25; ++y)
        for (int x = 0; x < 50; ++x) {
            // Bottom-up rows of 8 bytes; a set bit is black in the white-first palette.
            bool black = file[ReadBmpHeader(file).offBits + (24 - y) * 8 + x / 8] >> (7 - x % 8) & 1;
            wrong += black != (halved[static_cast<size_t>(y) * 50 + x] < 128);
        }
    EXPECT_EQ(wrong, 0);
}
