// Quarter turns on real files: where the corners land, the formats written back, the 1-bit BMP path.
#include "test_support.h"

#include "imaging/operations.h"

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
    std::string folder = ScratchFolder();
    struct Case { int angle; unsigned topLeft, topRight, bottomLeft, bottomRight; };
    // Clockwise the bottom-left corner comes to the top left; counter-clockwise the top-right one does.
    for (Case c : {Case{90, 0x0000FF, 0xFF0000, 0xFFFF00, 0x00FF00}, Case{-90, 0x00FF00, 0xFFFF00, 0xFF0000, 0x0000FF}}) {
        std::string path = MakeCornerImage(folder, "turn" + std::to_string(c.angle + 90) + ".png", L"image/png");
        RotateImage(path.c_str(), c.angle);
        BitmapPtr turned = LoadImageFile(path);
        ASSERT_TRUE(turned);
        ASSERT_EQ(turned->GetWidth(), 50u);
        ASSERT_EQ(turned->GetHeight(), 100u);
        EXPECT_EQ(PixelRgb(*turned, 0, 0), c.topLeft) << c.angle;
        EXPECT_EQ(PixelRgb(*turned, 49, 0), c.topRight) << c.angle;
        EXPECT_EQ(PixelRgb(*turned, 0, 99), c.bottomLeft) << c.angle;
        EXPECT_EQ(PixelRgb(*turned, 49, 99), c.bottomRight) << c.angle;
        EXPECT_NEAR(turned->GetHorizontalResolution(), 600, 0.01);
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
    std::string folder = ScratchFolder();
    std::string path = folder + "\\alpha.png";
    BitmapPtr image = NewBitmap(100, 50, PixelFormat32bppARGB, 600, 600);
    for (int y = 0; y < 50; ++y)
        for (int x = 0; x < 100; ++x) image->SetPixel(x, y, Gdiplus::Color(x < 10 && y < 10 ? 0 : 255, 200, 10, 10));
    SaveImageFile(*image, path, L"image/png");

    RotateImage(path.c_str(), 90);

    BitmapPtr turned = LoadImageFile(path);
    ASSERT_TRUE(turned);
    EXPECT_TRUE(Gdiplus::IsAlphaPixelFormat(turned->GetPixelFormat()));
    Gdiplus::Color corner, inside;
    turned->GetPixel(49, 0, &corner);  // the source's top-left corner, turned clockwise
    turned->GetPixel(0, 0, &inside);
    EXPECT_EQ(corner.GetA(), 0);
    EXPECT_EQ(inside.GetA(), 255);
}

TEST(RotateImage, JpegComesBackAsJpegWhateverTheLetterCase)
{
    std::string folder = ScratchFolder();
    std::string path = MakeCornerImage(folder, "scan.JPG", L"image/jpeg");
    RotateImage(path.c_str(), -90);
    std::vector<unsigned char> bytes = ReadBytes(path);
    ASSERT_GE(bytes.size(), 3u);
    EXPECT_EQ(bytes[0], 0xFF);
    EXPECT_EQ(bytes[1], 0xD8);
    BitmapPtr turned = LoadImageFile(path);
    ASSERT_TRUE(turned);
    EXPECT_EQ(turned->GetPixelFormat(), PixelFormat24bppRGB);
    EXPECT_EQ(turned->GetWidth(), 50u);
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

    std::vector<unsigned char> file = ReadBytes(path);
    ExpectMonochromeBmp(file, 1, 4);
    EXPECT_EQ(ReadBmpHeader(file).sizeImage, 4u * 4 + 2);
    BitmapPtr turned = LoadImageFile(path);
    ASSERT_TRUE(turned);
    // Clockwise, source column 0 runs down the single result column.
    EXPECT_FALSE(IsBlack(*turned, 0, 0));
    EXPECT_TRUE(IsBlack(*turned, 0, 1));
    EXPECT_FALSE(IsBlack(*turned, 0, 2));
    EXPECT_TRUE(IsBlack(*turned, 0, 3));
}

TEST(RotateImage, BlackFirstOneBitBmpComesBackWhiteFirstWithEveryPixelKept)
{
    std::string folder = ScratchFolder();
    std::string path = CopyFixture("mono_black_first_600.bmp", folder);
    ASSERT_EQ(BmpPalette(ReadBytes(path)).at(0), 0x000000u);

    RotateImage(path.c_str(), 90);

    std::vector<unsigned char> file = ReadBytes(path);
    EXPECT_EQ(BmpPalette(file), (std::vector<unsigned>{0xFFFFFF, 0x000000}));
    EXPECT_EQ(ReadBmpHeader(file).bitCount, 1);
    BitmapPtr turned = LoadImageFile(path);
    ASSERT_TRUE(turned);
    ASSERT_EQ(turned->GetWidth(), 50u);
    for (int y = 0; y < 100; ++y)
        for (int x = 0; x < 50; ++x) ASSERT_EQ(IsBlack(*turned, x, y), MonoBlack(y, 49 - x)) << x << "," << y;
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
    BitmapPtr image = LoadImageFile(path);
    ASSERT_TRUE(image);
    ASSERT_EQ(image->GetWidth(), 100u);
    for (int y = 0; y < 50; ++y)
        for (int x = 0; x < 100; ++x) ASSERT_EQ(IsBlack(*image, x, y), MonoBlack(x, y)) << x << "," << y;
    // The unused bits after each row's last pixel are written white (0).
    std::vector<unsigned char> file = ReadBytes(path);
    BmpHeader header = ReadBmpHeader(file);
    for (int row = 0; row < 50; ++row) EXPECT_EQ(file[header.offBits + row * 16 + 12] & 0x0F, 0) << row;
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
