// Quarter turns on real files: where the corners land, the formats written back, the 1-bit BMP path.
#include "test_support.h"

#include "imaging/jpeg_output.h"
#include "imaging/operations.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <random>

// Distinct corner colours on a grey field, so each corner can be traced through a turn.
static unsigned Corners(int x, int y, int width, int height)
{
    bool left = x == 0, right = x == width - 1, top = y == 0, bottom = y == height - 1;
    if (top && left) return 0xFF0000;
    if (top && right) return 0x00FF00;
    if (bottom && left) return 0x0000FF;
    if (bottom && right) return 0xFFFF00;
    return 0x808080;
}

static std::string MakeCornerImage(const std::string& folder, const std::string& name, const wchar_t* mime)
{
    std::string path = folder + "\\" + name;
    BitmapPtr image = MakeRgbImage(100, 50, [](int x, int y) { return Corners(x, y, 100, 50); });
    SaveImageFile(*image, path, mime);
    return path;
}

static bool MonoBlack(int x, int y)
{
    return (x < 8 && y < 4) || (x >= 96 && y >= 47) || ((x * 7 + y * 3) % 11 == 0);
}

TEST(RotateImage, QuarterTurnsPutTheCornersWhereExpected)
{
    if (!HasUnixImageMagick()) GTEST_SKIP() << "reads results with ImageMagick on the Unix side of Wine";
    std::string folder = ScratchFolder();
    struct Case { int angle; unsigned topLeft, topRight, bottomLeft, bottomRight; };
    // Clockwise the bottom-left corner comes to the top left; counter-clockwise the top-right one does.
    for (Case c : {Case{90, 0x0000FF, 0xFF0000, 0xFFFF00, 0x00FF00}, Case{-90, 0x00FF00, 0xFFFF00, 0xFF0000, 0x0000FF}}) {
        std::string path = MakeCornerImage(folder, "turn" + std::to_string(c.angle + 90) + ".png", L"image/png");
        RotateImage(path.c_str(), c.angle);
        MagickImage turned = ReadWithImageMagick(path);
        ASSERT_EQ(turned.format, "PNG");
        ASSERT_EQ(turned.width, 50);
        ASSERT_EQ(turned.height, 100);
        EXPECT_EQ(turned.Rgb(0, 0), c.topLeft) << c.angle;
        EXPECT_EQ(turned.Rgb(49, 0), c.topRight) << c.angle;
        EXPECT_EQ(turned.Rgb(0, 99), c.bottomLeft) << c.angle;
        EXPECT_EQ(turned.Rgb(49, 99), c.bottomRight) << c.angle;
        EXPECT_EQ(turned.Rgb(20, 50), 0x808080u) << c.angle;
        EXPECT_NEAR(turned.dpiX, 599.9988, 0.0001);  // 23622 pixels per metre
        EXPECT_NEAR(turned.dpiY, 599.9988, 0.0001);
    }
}

TEST(RotateImage, OtherAnglesStillBackUpReencodeAndReport)
{
    std::string folder = ScratchFolder();
    std::string path = MakeCornerImage(folder, "half.png", L"image/png");
    RotateImage(path.c_str(), 180);
    ASSERT_EQ(Messages().size(), 1u);
    EXPECT_EQ(Messages()[0].text, "Image rotated and saved!\nBackup created: half1.png");
    BitmapPtr image = LoadImageFile(path);
    ASSERT_TRUE(image);
    EXPECT_EQ(image->GetWidth(), 100u);
    EXPECT_EQ(PixelRgb(*image, 0, 0), 0xFF0000u);
    EXPECT_TRUE(FileExists(folder + "\\half1.png"));
}

TEST(RotateImage, PngKeepsItsAlpha)
{
    if (!HasUnixImageMagick()) GTEST_SKIP() << "reads results with ImageMagick on the Unix side of Wine";
    std::string folder = ScratchFolder();
    std::string path = folder + "\\alpha.png";
    BitmapPtr image = NewBitmap(100, 50, PixelFormat32bppARGB, 600, 600);
    for (int y = 0; y < 50; ++y)
        for (int x = 0; x < 100; ++x) image->SetPixel(x, y, Gdiplus::Color(x < 10 && y < 10 ? 0 : 255, 200, 10, 10));
    SaveImageFile(*image, path, L"image/png");

    RotateImage(path.c_str(), 90);

    MagickImage turned = ReadWithImageMagick(path);
    ASSERT_EQ(turned.width, 50);
    EXPECT_EQ(turned.Alpha(49, 0), 0);  // the source's top-left corner, turned clockwise
    EXPECT_EQ(turned.Alpha(0, 0), 255);
    EXPECT_EQ(turned.Rgb(0, 0), 0xC80A0Au);
}

// JPEG stores whole DPI: a 600-DPI PNG (599.9988 DPI) under a .jpg name must come back at 600, which
// the DPI gate accepts again, not truncated to 599.
TEST(RotateImage, JpegComesBackAsA600DpiJpegWhateverTheContentOrLetterCase)
{
    if (!HasUnixImageMagick()) GTEST_SKIP() << "reads results with ImageMagick on the Unix side of Wine";
    std::string folder = ScratchFolder();
    struct Case { const char* name; const wchar_t* content; };
    for (Case c : {Case{"scan.JPG", L"image/jpeg"}, Case{"png.jpg", L"image/png"}, Case{"png.Jpeg", L"image/png"}}) {
        std::string path = MakeCornerImage(folder, c.name, c.content);
        RotateImage(path.c_str(), -90);
        MagickImage turned = ReadWithImageMagick(path);
        EXPECT_EQ(turned.format, "JPEG") << c.name;
        EXPECT_EQ(turned.dpiX, 600) << c.name;
        EXPECT_EQ(turned.dpiY, 600) << c.name;
        ASSERT_EQ(turned.width, 50) << c.name;
        ASSERT_EQ(turned.height, 100) << c.name;
        // Counter-clockwise the source's right edge becomes the top; JPEG blurs the one-pixel corners.
        EXPECT_TRUE(NearRgb(turned.Rgb(25, 50), 0x808080, 8)) << c.name << std::hex << turned.Rgb(25, 50);
    }
}

TEST(RotateImage, ColourBmpBecomesPatchedOneBitWhiteFirst)
{
    std::string folder = ScratchFolder();
    std::string path = folder + "\\colour.bmp";
    // Blue 128 and up is white: pure blue white, yellow black, grey 128 white, grey 127 black.
    BitmapPtr image = MakeRgbImage(4, 1, [](int x, int) {
        const unsigned colours[] = {0x0000FF, 0xFFFF00, 0x808080, 0x7F7F7F};
        return colours[x];
    });
    SaveImageFile(*image, path, L"image/bmp");

    RotateImage(path.c_str(), 90);

    // Clockwise, source column 0 runs down the single result column.
    MonoPage turned = ExpectMonochromeBmp(path, 1, 4);
    EXPECT_EQ(turned.black, (std::vector<char>{0, 1, 0, 1}));
}

TEST(RotateImage, BlackFirstOneBitBmpComesBackWhiteFirstWithEveryPixelKept)
{
    std::string folder = ScratchFolder();
    std::string path = CopyFixture("mono_black_first_600.bmp", folder);
    ASSERT_EQ(BmpPalette(ReadBytes(path)).at(0), 0x000000u);

    RotateImage(path.c_str(), 90);

    MonoPage turned = ExpectMonochromeBmp(path, 50, 100);
    ASSERT_EQ(turned.width, 50);
    for (int y = 0; y < 100; ++y)
        for (int x = 0; x < 50; ++x) ASSERT_EQ(turned.At(x, y), MonoBlack(y, 49 - x)) << x << "," << y;
}

TEST(RotateImage, FourTurnsGiveThePictureBackWithFourBackups)
{
    std::string folder = ScratchFolder();
    std::string path = CopyFixture("mono_white_first_600.bmp", folder, "page.bmp");
    for (int turn = 0; turn < 4; ++turn) RotateImage(path.c_str(), -90);

    ASSERT_EQ(Messages().size(), 4u);
    EXPECT_EQ(Messages()[3].text, "Image rotated and saved!\nBackup created: page4.bmp");
    EXPECT_EQ(FolderEntries(folder),
              (std::vector<std::string>{"page.bmp", "page1.bmp", "page2.bmp", "page3.bmp", "page4.bmp"}));
    MonoPage page = ExpectMonochromeBmp(path, 100, 50);
    ASSERT_EQ(page.width, 100);
    for (int y = 0; y < 50; ++y)
        for (int x = 0; x < 100; ++x) ASSERT_EQ(page.At(x, y), MonoBlack(x, y)) << x << "," << y;
}

TEST(RotateImage, GifIsRefusedByTheGate)
{
    std::string folder = ScratchFolder();
    std::string path = CopyFixture("colour.gif", folder);
    std::vector<unsigned char> original = ReadBytes(path);
    RotateImage(path.c_str(), 90);
    ASSERT_EQ(Messages().size(), 1u);
    EXPECT_NE(Messages()[0].text.find("Detected resolution: 96 x 96 DPI"), std::string::npos);
    EXPECT_EQ(ReadBytes(path), original);
    EXPECT_EQ(FolderEntries(folder).size(), 1u);
}

TEST(RotateImage, GateOnIndependentlyWrittenFiles)
{
    std::string folder = ScratchFolder();
    struct Case { const char* fixture; bool passes; };
    const Case cases[] = {
        {"dpi_599_5.bmp", true},  {"dpi_600_5.png", true},  {"dpi_599_4.png", false}, {"dpi_600_6.bmp", false},
        {"dpi_72.png", false},    {"colour_72.jpg", false}, {"dpi_300x600.bmp", false},
    };
    for (const Case& c : cases) {
        ClearMessages();
        std::string path = CopyFixture(c.fixture, folder);
        std::vector<unsigned char> original = ReadBytes(path);
        RotateImage(path.c_str(), 90);
        ASSERT_EQ(Messages().size(), 1u) << c.fixture;
        EXPECT_EQ(Messages()[0].caption, c.passes ? "Success" : "Error") << c.fixture;
        if (!c.passes) {
            EXPECT_EQ(ReadBytes(path), original) << c.fixture;
        }
    }
    ClearMessages();
    RotateImage(CopyFixture("dpi_300x600.png", folder).c_str(), 90);
    ASSERT_EQ(Messages().size(), 1u);
    EXPECT_NE(Messages()[0].text.find("300 x 600 DPI"), std::string::npos);
    // Backups only for the two that passed.
    EXPECT_EQ(FolderEntries(folder).size(), std::size(cases) + 1 + 2);
}

// Peak signal-to-noise ratio of two pictures of the same size over red, green and blue, in dB.
static double Psnr(const MagickImage& a, const MagickImage& b)
{
    double squares = 0;
    std::size_t count = 0;
    for (std::size_t i = 0; i < a.rgba.size(); ++i) {
        if (i % 4 == 3) continue;
        double difference = static_cast<double>(a.rgba[i]) - b.rgba[i];
        squares += difference * difference;
        ++count;
    }
    return squares == 0 ? 99.0 : 10 * std::log10(255.0 * 255.0 * static_cast<double>(count) / squares);
}

// Where the turned edge falls on whole blocks the coefficients are only moved, whatever the coding and
// colour space: the turn decodes to the reference transform's pixels, and a turn back to the source's,
// exactly; CMYK stays CMYK and RGB stays RGB.
TEST(RotateJpeg, WholeBlocksTurnAsTheReferenceTransformAndBackExactly)
{
    if (!HasUnixImageMagick()) GTEST_SKIP() << "reads results with ImageMagick on the Unix side of Wine";
    std::string folder = ScratchFolder();
    for (std::string stem : {"jpeg_444_64x48", "jpeg_420_64x48", "jpeg_progressive_64x48", "jpeg_arithmetic_64x48",
                             "jpeg_cmyk_64x48", "jpeg_rgb_64x48"}) {
        std::string path = CopyFixture(stem + ".jpg", folder);
        RotateImage(path.c_str(), 90);
        MagickImage turned = ReadWithImageMagick(path);
        MagickImage reference = ReadWithImageMagick(FixturePath(stem + "_jpegtran90.jpg"));
        ASSERT_EQ(turned.width, 48) << stem;
        EXPECT_TRUE(turned.rgba == reference.rgba) << stem;
        ExpectFixtureMetadata(path, stem + ".jpg");
        // The reference is coded with the standard Huffman tables. A source coded with them only (as
        // most scanners write) is coded with them again, to the reference's very bytes; any other
        // Huffman source gets tables of its own, and a file no larger than the reference.
        JpegFacts source = ReadJpegFacts(ReadBytes(FixturePath(stem + ".jpg"))), result = ReadJpegFacts(ReadBytes(path)),
                  standard = ReadJpegFacts(ReadBytes(FixturePath(stem + "_jpegtran90.jpg")));
        if (!source.huffmanTables.empty()) {
            bool standardSource = std::ranges::all_of(source.huffmanTables, [&](const auto& table) {
                return std::ranges::find(standard.huffmanTables, table) != standard.huffmanTables.end();
            });
            EXPECT_EQ(result.huffmanTables == standard.huffmanTables, standardSource) << stem;
            EXPECT_EQ(result.fromFirstScan == standard.fromFirstScan, standardSource) << stem;
            EXPECT_LE(ReadBytes(path).size(), ReadBytes(FixturePath(stem + "_jpegtran90.jpg")).size()) << stem;
        }
        RotateImage(path.c_str(), -90);
        EXPECT_TRUE(ReadWithImageMagick(path).rgba == ReadWithImageMagick(FixturePath(stem + ".jpg")).rgba) << stem;
        ExpectFixtureMetadata(path, stem + ".jpg");
    }
    ASSERT_EQ(Messages().size(), 12u);
    EXPECT_EQ(Messages()[11].text, "Image rotated and saved!\nBackup created: jpeg_rgb_64x482.jpg");
}

// Every result is decoded whole as it is made, in the chunks its encoder hands on. Bytes cut anywhere
// (across a chunk's end, before the end-of-image marker, within it) or of another size than meant are
// refused, sequential, progressive and arithmetic-coded alike.
TEST(RotateJpeg, TheCheckOfEveryResultRefusesItCutAnywhereOrOfAnotherSize)
{
    std::vector<std::uint8_t> noise(500 * 500 * 3);
    std::minstd_rand random(7);
    for (std::uint8_t& value : noise) value = static_cast<std::uint8_t>(random() >> 8);
    JpegResult large = EncodedBgr({}, noise.data(), 1500, 500, 500, 600, 600);
    ASSERT_EQ(large.status, Gdiplus::Ok);
    ASSERT_GT(large.bytes.size(), 2u << 16) << "three chunks or more";
    struct Case { const char* name; std::vector<std::uint8_t> bytes; int width, height; };
    for (const Case& c : {Case{"noise", large.bytes, 500, 500},
                          Case{"progressive", ReadBytes(FixturePath("jpeg_progressive_64x48.jpg")), 64, 48},
                          Case{"arithmetic", ReadBytes(FixturePath("jpeg_arithmetic_64x48.jpg")), 64, 48}}) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(CheckJpegBytes(c.bytes, c.width, c.height), Gdiplus::Ok);
        EXPECT_NE(CheckJpegBytes(c.bytes, c.width, c.height + 1), Gdiplus::Ok);
        std::size_t size = c.bytes.size();
        for (std::size_t cut : {size / 3, size / 2, std::size_t{1} << 16, (std::size_t{1} << 16) + 1, size - 2, size - 1}) {
            if (cut >= size) continue;
            std::vector<std::uint8_t> part(c.bytes.begin(), c.bytes.begin() + static_cast<std::ptrdiff_t>(cut));
            EXPECT_NE(CheckJpegBytes(part, c.width, c.height), Gdiplus::Ok) << "cut at " << cut << " of " << size;
        }
    }
}

// Partial edge blocks are encoded again, in the source's own colour space, with its own tables
// (turned with the pixels) and sampling, and keep their metadata: CMYK stays CMYK with its Adobe marker
// and profile, RGB stays RGB. Where a partial edge block shifts the grid, each turn costs what the
// source's quality costs. For comparison, the common tool at the source's quality 90 gives 30.5 and
// 28.2 dB after four turns of the first two. Two turns right, then two left: both ways of turning.
TEST(RotateJpeg, PartialBlocksStayCloseAfterFourTurnsInTheirOwnColourSpace)
{
    if (!HasUnixImageMagick()) GTEST_SKIP() << "reads results with ImageMagick on the Unix side of Wine";
    std::string folder = ScratchFolder();
    struct Case { const char* fixture; double leastDb; };
    for (Case c : {Case{"jpeg_444_61x45.jpg", 31}, Case{"jpeg_420_61x45.jpg", 29}, Case{"jpeg_cmyk_61x45.jpg", 29},
                   Case{"jpeg_rgb_61x45.jpg", 31}, Case{"jpeg_420_61x45_restart3.jpg", 29}}) {
        std::string path = CopyFixture(c.fixture, folder);
        for (int turn = 0; turn < 4; ++turn) RotateImage(path.c_str(), turn < 2 ? 90 : -90);
        double psnr = Psnr(ReadWithImageMagick(path), ReadWithImageMagick(FixturePath(c.fixture)));
        EXPECT_GE(psnr, c.leastDb) << c.fixture;
        std::printf("%s: %.1f dB after four turns\n", c.fixture, psnr);
        ExpectFixtureMetadata(path, c.fixture);
    }
}
