// Guards the committed image fixtures: GDI+ must read each one as tests/fixtures/README.md says
// (size, kind of pixel format, resolution, pixels, palette order), or other tests prove nothing.
#include "test_support.h"

#include <cmath>
#include <cstdlib>

// The two pictures the fixtures carry, as make_fixtures.sh draws them.
static bool MonoBlack(int x, int y)
{
    return (x < 8 && y < 4) || (x >= 96 && y >= 47) || (x * 7 + y * 3) % 11 == 0;
}

static unsigned Quadrant(int x, int y)
{
    if (y < 25) return x < 50 ? 0xFF0000u : 0x00FF00u;
    return x < 50 ? 0x0000FFu : 0xFFFFFFu;
}

// GDI+ turns pixels per metre into DPI by multiplying with 0.0254.
static float DpiOf(int pixelsPerMetre) { return static_cast<float>(pixelsPerMetre * 0.0254); }

struct FixtureFormat {
    const char* name;
    int width, height;
    unsigned bitsPerPixel;
    bool indexed, alpha;
    float dpiX, dpiY;
};

TEST(Fixtures, DecodeWithTheirSizeFormatAndResolution)
{
    const float dpi600 = DpiOf(23622);
    const FixtureFormat fixtures[] = {
        {"mono_white_first_600.bmp", 100, 50, 1, true, false, dpi600, dpi600},
        {"mono_black_first_600.bmp", 100, 50, 1, true, false, dpi600, dpi600},
        {"grey8_600.bmp", 100, 50, 8, true, false, dpi600, dpi600},
        {"rgb24_600.bmp", 100, 50, 24, false, false, dpi600, dpi600},
        {"grey_levels_600.bmp", 256, 1, 24, false, false, dpi600, dpi600},
        {"colour_threshold_600.bmp", 4, 1, 24, false, false, dpi600, dpi600},
        {"rgb_600.png", 100, 50, 24, false, false, dpi600, dpi600},
        {"rgba_600.png", 100, 50, 32, false, true, dpi600, dpi600},
        {"mono_600.png", 100, 50, 1, true, false, dpi600, dpi600},
        {"colour_600.jpg", 100, 50, 24, false, false, 600, 600},
        {"colour_72.jpg", 100, 50, 24, false, false, 72, 72},
        {"colour.gif", 100, 50, 8, true, false, 96, 96},
    };
    for (const FixtureFormat& fixture : fixtures) {
        SCOPED_TRACE(fixture.name);
        BitmapPtr image = LoadImageFile(FixturePath(fixture.name));
        ASSERT_TRUE(image);
        EXPECT_EQ(static_cast<int>(image->GetWidth()), fixture.width);
        EXPECT_EQ(static_cast<int>(image->GetHeight()), fixture.height);
        Gdiplus::PixelFormat format = image->GetPixelFormat();
        EXPECT_EQ(Gdiplus::GetPixelFormatSize(format), fixture.bitsPerPixel) << std::hex << format;
        EXPECT_EQ(Gdiplus::IsIndexedPixelFormat(format) != FALSE, fixture.indexed) << std::hex << format;
        EXPECT_EQ(Gdiplus::IsAlphaPixelFormat(format) != FALSE, fixture.alpha) << std::hex << format;
        EXPECT_NEAR(image->GetHorizontalResolution(), fixture.dpiX, 0.01);
        EXPECT_NEAR(image->GetVerticalResolution(), fixture.dpiY, 0.01);
    }
}

// Each gate fixture must sit on its intended side of |dpi - 600| <= 0.5, in single precision.
TEST(Fixtures, GateSetSitsOnBothSidesOfHalfADot)
{
    struct Gate {
        const char* stem;
        int ppmX, ppmY;
        bool passes;
    };
    const Gate gates[] = {
        {"dpi_599_5", 23603, 23603, true},  {"dpi_600_5", 23641, 23641, true},
        {"dpi_599_4", 23598, 23598, false}, {"dpi_600_6", 23646, 23646, false},
        {"dpi_72", 2835, 2835, false},      {"dpi_300x600", 11811, 23622, false},
    };
    for (const Gate& gate : gates) {
        for (const char* extension : {".bmp", ".png"}) {
            std::string name = std::string(gate.stem) + extension;
            SCOPED_TRACE(name);
            BitmapPtr image = LoadImageFile(FixturePath(name));
            ASSERT_TRUE(image);
            EXPECT_EQ(image->GetWidth(), 100u);
            EXPECT_EQ(image->GetPixelFormat(), PixelFormat24bppRGB);
            float dpiX = image->GetHorizontalResolution();
            float dpiY = image->GetVerticalResolution();
            EXPECT_NEAR(dpiX, DpiOf(gate.ppmX), 0.01);
            EXPECT_NEAR(dpiY, DpiOf(gate.ppmY), 0.01);
            EXPECT_EQ(std::fabs(dpiX - 600.0f) <= 0.5f && std::fabs(dpiY - 600.0f) <= 0.5f, gate.passes);
            EXPECT_EQ(PixelRgb(*image, 0, 0), 0xFF0000u);
            EXPECT_EQ(PixelRgb(*image, 99, 49), 0xFFFFFFu);
        }
    }
}

TEST(Fixtures, MonochromeFilesHoldTheSamePictureWhateverThePaletteOrder)
{
    for (const char* name : {"mono_white_first_600.bmp", "mono_black_first_600.bmp", "mono_600.png"}) {
        SCOPED_TRACE(name);
        BitmapPtr image = LoadImageFile(FixturePath(name));
        ASSERT_TRUE(image);
        int wrong = 0;
        for (int y = 0; y < 50; ++y) {
            for (int x = 0; x < 100; ++x) {
                wrong += PixelRgb(*image, x, y) != (MonoBlack(x, y) ? 0x000000u : 0xFFFFFFu);
            }
        }
        EXPECT_EQ(wrong, 0);
    }
    std::vector<unsigned> whiteFirst = BmpPalette(ReadBytes(FixturePath("mono_white_first_600.bmp")));
    std::vector<unsigned> blackFirst = BmpPalette(ReadBytes(FixturePath("mono_black_first_600.bmp")));
    EXPECT_EQ(whiteFirst, (std::vector<unsigned>{0xFFFFFF, 0x000000}));
    EXPECT_EQ(blackFirst, (std::vector<unsigned>{0x000000, 0xFFFFFF}));
    BmpHeader header = ReadBmpHeader(ReadBytes(FixturePath("mono_black_first_600.bmp")));
    EXPECT_EQ(header.offBits, 62u);
    EXPECT_GT(header.height, 0) << "rows stored bottom-up";
}

TEST(Fixtures, GreyFilesHoldExactLevels)
{
    BitmapPtr grey8 = LoadImageFile(FixturePath("grey8_600.bmp"));
    ASSERT_TRUE(grey8);
    for (int x : {0, 1, 50, 98, 99}) {
        unsigned level = static_cast<unsigned>(x * 255.0 / 99 + 0.5);
        EXPECT_EQ(PixelRgb(*grey8, x, 10), level * 0x010101u) << "x " << x;
    }
    EXPECT_EQ(PixelRgb(*grey8, 0, 0), 0x000000u);
    EXPECT_EQ(PixelRgb(*grey8, 8, 0), 0xFFFFFFu);
    EXPECT_EQ(PixelRgb(*grey8, 99, 49), 0x000000u);

    BitmapPtr levels = LoadImageFile(FixturePath("grey_levels_600.bmp"));
    ASSERT_TRUE(levels);
    int wrong = 0;
    for (unsigned x = 0; x < 256; ++x) wrong += PixelRgb(*levels, static_cast<int>(x), 0) != x * 0x010101u;
    EXPECT_EQ(wrong, 0);

    BitmapPtr threshold = LoadImageFile(FixturePath("colour_threshold_600.bmp"));
    ASSERT_TRUE(threshold);
    EXPECT_EQ(PixelRgb(*threshold, 0, 0), 0xFF0000u);
    EXPECT_EQ(PixelRgb(*threshold, 1, 0), 0x0000FFu);
    EXPECT_EQ(PixelRgb(*threshold, 2, 0), 0x808080u);
    EXPECT_EQ(PixelRgb(*threshold, 3, 0), 0x7F7F7Fu);
}

TEST(Fixtures, ColourFilesHoldTheFourQuadrants)
{
    const int corners[][2] = {{0, 0}, {49, 24}, {50, 0}, {99, 24}, {0, 25}, {49, 49}, {50, 25}, {99, 49}};
    for (const char* name : {"rgb24_600.bmp", "rgb_600.png", "rgba_600.png", "colour.gif"}) {
        SCOPED_TRACE(name);
        BitmapPtr image = LoadImageFile(FixturePath(name));
        ASSERT_TRUE(image);
        for (const auto& at : corners) {
            if (at[0] < 10 && at[1] < 10 && std::string(name) == "rgba_600.png") continue;
            EXPECT_EQ(PixelRgb(*image, at[0], at[1]), Quadrant(at[0], at[1])) << at[0] << "," << at[1];
        }
    }
    // JPEG is lossy: the quadrants' inner parts are checked with a margin.
    for (const char* name : {"colour_600.jpg", "colour_72.jpg"}) {
        SCOPED_TRACE(name);
        BitmapPtr image = LoadImageFile(FixturePath(name));
        ASSERT_TRUE(image);
        for (const auto& at : {std::make_pair(20, 10), std::make_pair(80, 10), std::make_pair(20, 40),
                               std::make_pair(80, 40)}) {
            unsigned rgb = PixelRgb(*image, at.first, at.second);
            EXPECT_TRUE(NearRgb(rgb, Quadrant(at.first, at.second), 8)) << std::hex << rgb;
        }
    }
}

TEST(Fixtures, RgbaPngIsTransparentOnlyInItsTopLeftCorner)
{
    BitmapPtr image = LoadImageFile(FixturePath("rgba_600.png"));
    ASSERT_TRUE(image);
    auto alpha = [&](int x, int y) {
        Gdiplus::Color color;
        image->GetPixel(x, y, &color);
        return color.GetA();
    };
    EXPECT_EQ(alpha(0, 0), 0);
    EXPECT_EQ(alpha(9, 9), 0);
    EXPECT_EQ(alpha(10, 9), 255);
    EXPECT_EQ(alpha(9, 10), 255);
    EXPECT_EQ(alpha(99, 49), 255);
    EXPECT_EQ(PixelRgb(*image, 10, 0), 0xFF0000u);
}
