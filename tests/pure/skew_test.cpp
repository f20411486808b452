// The skew search on pages of lines drawn at known angles and on pages without lines; the 1-bit
// turn against the three shears done pixel by pixel forwards and against an exact turn; the grey and
// colour turn against an exact turn sampled with the cubic kernel in double precision.
#include "imaging/kernels/resample.h"
#include "imaging/kernels/shear.h"
#include "imaging/kernels/skew.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <numbers>
#include <random>
#include <vector>

namespace {

constexpr double kRadian = std::numbers::pi / 180;

struct Page {
    int width, height, stride;
    std::vector<std::uint8_t> bits;
    Page(int w, int h) : width(w), height(h), stride((w + 7) / 8 + 3), bits(static_cast<size_t>(stride) * h, 0) {}
    bool Black(int x, int y) const { return bits[static_cast<size_t>(y) * stride + x / 8] >> (7 - x % 8) & 1; }
    void Set(int x, int y) { bits[static_cast<size_t>(y) * stride + x / 8] |= static_cast<std::uint8_t>(0x80 >> x % 8); }
    long long Count() const
    {
        long long count = 0;
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x) count += Black(x, y);
        return count;
    }
};

// Lines of "words" 40 pixels high every 100 rows with a rule under the last, turned by `degrees`
// clockwise about the centre: each pixel turned back exactly and looked up in the straight layout.
Page TextPage(int width, int height, double degrees, unsigned seed)
{
    std::mt19937 random(seed);
    std::vector<bool> ink(static_cast<size_t>(width));
    for (int x = 0; x < width;) {
        int word = 30 + static_cast<int>(random() % 150), gap = 20 + static_cast<int>(random() % 30);
        for (int i = x; i < std::min(width, x + word); ++i) ink[static_cast<size_t>(i)] = random() % 4 != 0;
        x += word + gap;
    }
    Page page(width, height);
    double c = std::cos(degrees * kRadian), s = std::sin(degrees * kRadian);
    double cx = (width - 1) / 2.0, cy = (height - 1) / 2.0;
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            double u = cx + c * (x - cx) + s * (y - cy), v = cy - s * (x - cx) + c * (y - cy);
            int column = static_cast<int>(std::floor(u)), row = static_cast<int>(std::floor(v));
            if (column < width / 10 || column >= width - width / 10 || row < 150 || row >= height - 150) continue;
            bool word = (row - 150) % 100 < 40 && ink[static_cast<size_t>(column + (row - 150) / 100 * 37) % width];
            bool rule = row >= height - 170 && row < height - 164;
            if (word || rule) page.Set(x, y);
        }
    }
    return page;
}

}  // namespace

TEST(FindSkew, FindsTheAngleOfDrawnLinesWithinAHundredthOfADegree)
{
    const double angles[] = {-4.93, -3.2, -1.07, -0.31, 0, 0.04, 0.77, 2.5, 4.61};
    for (double angle : angles) {
        Page page = TextPage(1700, 1300, angle, static_cast<unsigned>(angle * 100 + 1000));
        // The widest search finds the same peak among twice as many angles.
        double range = angle > 4 ? 10 : 5;
        Skew skew = FindSkew(page.bits.data(), page.stride, page.width, page.height, range);
        ASSERT_TRUE(skew.found) << angle;
        EXPECT_NEAR(skew.degrees, angle, 0.01) << angle;
    }
    // Rows given bottom-up through a negative stride are the same page turned the other way.
    Page page = TextPage(1700, 1300, 2.5, 77);
    const std::uint8_t* last = page.bits.data() + static_cast<size_t>(page.height - 1) * page.stride;
    Skew mirrored = FindSkew(last, -page.stride, page.width, page.height, 5);
    ASSERT_TRUE(mirrored.found);
    EXPECT_NEAR(mirrored.degrees, -2.5, 0.02);
}

TEST(FindSkew, PagesWithoutLinesHaveNoSkew)
{
    std::mt19937 random(3);
    Page blank(1200, 900), specks(1200, 900), noise(1200, 900), blobs(1200, 900), black(1200, 900);
    for (int i = 0; i < 400; ++i) specks.Set(static_cast<int>(random() % 1200), static_cast<int>(random() % 900));
    for (auto& byte : noise.bits) byte = static_cast<std::uint8_t>(random());
    // A photo-like picture in black and white: round dark patches of every size.
    for (int i = 0; i < 300; ++i) {
        int cx = static_cast<int>(random() % 1200), cy = static_cast<int>(random() % 900);
        int r = 5 + static_cast<int>(random() % 60);
        for (int y = std::max(0, cy - r); y < std::min(900, cy + r); ++y)
            for (int x = std::max(0, cx - r); x < std::min(1200, cx + r); ++x)
                if ((x - cx) * (x - cx) + (y - cy) * (y - cy) < r * r) blobs.Set(x, y);
    }
    std::fill(black.bits.begin(), black.bits.end(), std::uint8_t{0xFF});
    for (const Page* page : {&blank, &specks, &noise, &blobs, &black}) {
        Skew skew = FindSkew(page->bits.data(), page->stride, page->width, page->height, 5);
        EXPECT_FALSE(skew.found) << (page - &blank) << ": " << skew.degrees;
    }
}

// A large-format drawing at a fifth of its size: black bands along the top and bottom edges and
// 8-pixel vertical rules, no text. Its rules say it is straight, with the bands or without them.
TEST(FindSkew, StraightDrawingOfBandsAndVerticalRulesIsNeverTurned)
{
    for (bool bands : {true, false}) {
        Page drawing(4000, 4000);
        for (int y = 0; y < drawing.height; ++y) {
            for (int x = 0; x < drawing.width; ++x) {
                bool band = bands && (y < 40 || y >= drawing.height - 40);
                if (band || x % 200 < 8) drawing.Set(x, y);
            }
        }
        Skew skew = FindSkew(drawing.bits.data(), drawing.stride, drawing.width, drawing.height, 5);
        EXPECT_TRUE(!skew.found || std::fabs(skew.degrees) < 0.05) << bands << ": " << skew.degrees;
    }
}

namespace {

int Round(double value)
{
    return static_cast<int>(std::floor(value + 0.5));
}

// The three whole-pixel shears of the contract, applied forwards to each source pixel.
Page ShearedForwards(const Page& source, double degrees)
{
    double across = -std::tan(degrees * kRadian / 2), down = std::sin(degrees * kRadian);
    double cx = (source.width - 1) / 2.0, cy = (source.height - 1) / 2.0;
    Page target(source.width, source.height);
    for (int y = 0; y < source.height; ++y) {
        for (int x = 0; x < source.width; ++x) {
            int x1 = x + Round(across * (y - cy));
            int y2 = y + Round(down * (x1 - cx));
            int x3 = x1 + Round(across * (y2 - cy));
            if (source.Black(x, y) && x3 >= 0 && x3 < source.width && y2 >= 0 && y2 < source.height) target.Set(x3, y2);
        }
    }
    return target;
}

}  // namespace

TEST(TurnBitsByShears, IsTheThreeShearsOfEachPixelAndATurnClockwise)
{
    std::mt19937 random(11);
    const double angles[] = {0, 0.3, -1.7, 4.99, -7.5, 10};
    for (double angle : angles) {
        int width = 50 + static_cast<int>(random() % 300), height = 40 + static_cast<int>(random() % 300);
        Page source(width, height);
        for (auto& byte : source.bits) byte = static_cast<std::uint8_t>(random() & random());
        Page turned(width, height);
        std::fill(turned.bits.begin(), turned.bits.end(), std::uint8_t{0xFF});
        TurnBitsByShears(source.bits.data(), source.stride, width, height, angle, turned.bits.data(), turned.stride);
        Page expected = ShearedForwards(source, angle);
        for (int y = 0; y < height; ++y) {
            for (int x = 0; x < width; ++x) ASSERT_EQ(turned.Black(x, y), expected.Black(x, y)) << angle << " " << x;
            for (int x = width; x < (width + 7) / 8 * 8; ++x) ASSERT_FALSE(turned.Black(x, y)) << "bits after the row";
        }
        // One black pixel near the right edge lands where the exact clockwise turn takes it.
        Page dot(width, height);
        int x0 = width - 8, y0 = height / 3;
        dot.Set(x0, y0);
        Page moved(width, height);
        TurnBitsByShears(dot.bits.data(), dot.stride, width, height, angle, moved.bits.data(), moved.stride);
        double c = std::cos(angle * kRadian), s = std::sin(angle * kRadian);
        double cx = (width - 1) / 2.0, cy = (height - 1) / 2.0;
        double x1 = cx + c * (x0 - cx) - s * (y0 - cy), y1 = cy + s * (x0 - cx) + c * (y0 - cy);
        bool near = false;
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x)
                if (moved.Black(x, y)) near = std::hypot(x - x1, y - y1) <= 1.5;
        EXPECT_TRUE(near) << angle;
        EXPECT_EQ(moved.Count(), x1 >= 0 && x1 < width && y1 >= 0 && y1 < height ? 1 : 0) << angle;
    }
}

namespace {

struct Picture {
    int width, height, channels;
    std::vector<std::uint8_t> bytes;
    std::ptrdiff_t Stride() const { return static_cast<std::ptrdiff_t>(width) * channels + 5; }
    Picture(int w, int h, int c) : width(w), height(h), channels(c), bytes(static_cast<size_t>(h * Stride()), 0xA5) {}
    std::uint8_t& At(int x, int y, int c) { return bytes[static_cast<size_t>(y * Stride() + x * channels + c)]; }
    std::uint8_t At(int x, int y, int c) const { return bytes[static_cast<size_t>(y * Stride() + x * channels + c)]; }
};

// Target (x, y) turned back exactly; white outside the source, else the cubic kernel over the 4 x 4
// pixels around, taps beyond the edges taking the edge pixel. -1 within `band` of the source's edge.
double ExactTurn(const Picture& source, double degrees, int x, int y, int c, double band)
{
    double cs = std::cos(degrees * kRadian), sn = std::sin(degrees * kRadian);
    double cx = (source.width - 1) / 2.0, cy = (source.height - 1) / 2.0;
    double u = cx + cs * (x - cx) + sn * (y - cy), v = cy - sn * (x - cx) + cs * (y - cy);
    auto outside = [&](double margin) {
        return u < -0.5 + margin || u > source.width - 0.5 - margin || v < -0.5 + margin ||
               v > source.height - 0.5 - margin;
    };
    if (outside(-band)) return 255;
    if (!outside(band)) {
        int u0 = static_cast<int>(std::floor(u)), v0 = static_cast<int>(std::floor(v));
        double sum = 0;
        for (int j = -1; j <= 2; ++j)
            for (int i = -1; i <= 2; ++i)
                sum += Cubic(u - (u0 + i)) * Cubic(v - (v0 + j)) *
                       source.At(std::clamp(u0 + i, 0, source.width - 1), std::clamp(v0 + j, 0, source.height - 1), c);
        return std::clamp(sum, 0.0, 255.0);
    }
    return -1;
}

}  // namespace

TEST(TurnPixelsByShears, StaysCloseToAnExactTurnAndKeepsUniformAreasUniform)
{
    struct Case {
        const char* what;
        int channels;
        double degrees;
        double meanLevels, worstLevels;
        std::uint8_t (*level)(int x, int y, int c);
    };
    const Case cases[] = {
        {"smooth colour", 3, 3.7, 0.5, 4,
         [](int x, int y, int c) { return static_cast<std::uint8_t>(128 + 100 * std::sin(x / (7.0 + c) + y / 11.0)); }},
        {"uniform grey: not one level off, no pale frame", 1, -4.2, 0.01, 0.5,
         [](int, int, int) { return std::uint8_t{90}; }},
        {"no turn: every pixel as it was", 3, 0, 0, 0,
         [](int x, int y, int c) { return static_cast<std::uint8_t>(x * 7 + y * 13 + c * 101); }},
        // Three cubic shifts soften a sharp edge a little differently from one cubic sample in two dimensions.
        {"black strokes on grey", 1, -2.9, 4, 64,
         [](int x, int y, int) { return static_cast<std::uint8_t>(x % 23 < 3 || y % 17 < 2 ? 0 : 200); }},
        {"colour at ten degrees", 3, 10, 0.5, 4,
         [](int x, int y, int c) {
             return static_cast<std::uint8_t>(c == 1 ? x : 128 + 90 * std::cos(y / 9.0 - x / 13.0));
         }},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.what);
        Picture source(230, 170, k.channels), turned(230, 170, k.channels);
        for (int y = 0; y < source.height; ++y)
            for (int x = 0; x < source.width; ++x)
                for (int c = 0; c < k.channels; ++c) source.At(x, y, c) = k.level(x, y, c);
        TurnPixelsByShears(source.bytes.data(), source.Stride(), source.width, source.height, k.channels, k.degrees,
                           turned.bytes.data(), turned.Stride());
        double total = 0, worst = 0;
        long long compared = 0;
        for (int y = 0; y < source.height; ++y) {
            for (int x = 0; x < source.width; ++x) {
                for (int c = 0; c < k.channels; ++c) {
                    // The three shears bend the turned page's edge by up to a pixel either way.
                    double exact = ExactTurn(source, k.degrees, x, y, c, 1.5);
                    if (exact < 0) continue;
                    double error = std::fabs(turned.At(x, y, c) - exact);
                    total += error;
                    worst = std::max(worst, error);
                    ++compared;
                }
            }
            for (int spare = 0; spare < 5; ++spare)
                ASSERT_EQ(turned.bytes[static_cast<size_t>(y * turned.Stride() + turned.width * k.channels + spare)], 0xA5);
        }
        EXPECT_LE(total / compared, k.meanLevels);
        EXPECT_LE(worst, k.worstLevels);
    }
}
