// The erosion kernel against the passes done literally, one after another, on random planes,
// and the shapes the passes are known to give.
#include "imaging/kernels/erosion.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <random>
#include <vector>

namespace {

struct Plane {
    int width, height, stride;
    std::vector<std::uint8_t> bytes;
};

std::uint8_t& At(Plane& plane, int x, int y)
{
    return plane.bytes[static_cast<size_t>(y) * plane.stride + x];
}

// The passes as the operation defines them: every test reads a snapshot of the pass before.
// Stops once a pass changes nothing, since every later pass would then change nothing either.
void LiteralPasses(Plane& plane, int passes)
{
    std::vector<std::uint8_t> snapshot;
    for (int pass = 0; pass < passes; ++pass) {
        snapshot = plane.bytes;
        bool changed = false;
        for (int y = 1; y < plane.height - 1; ++y) {
            for (int x = 1; x < plane.width - 1; ++x) {
                size_t at = static_cast<size_t>(y) * plane.stride + x;
                if (snapshot[at] != 0) continue;
                bool whiteNear = false;
                for (int dy = -1; dy <= 1; ++dy) {
                    for (int dx = -1; dx <= 1; ++dx) {
                        whiteNear |= snapshot[at + static_cast<long>(dy) * plane.stride + dx] == 255;
                    }
                }
                if (whiteNear) {
                    plane.bytes[at] = 255;
                    changed = true;
                }
            }
        }
        if (!changed) return;
    }
}

Plane Kernel(Plane plane, int passes)
{
    ErodeImageBinary(plane.bytes.data(), plane.width, plane.height, plane.stride, passes);
    return plane;
}

Plane Literal(Plane plane, int passes)
{
    LiteralPasses(plane, passes);
    return plane;
}

Plane Filled(int width, int height, std::uint8_t value, int padding = 0)
{
    int stride = width + padding;
    return Plane{width, height, stride, std::vector<std::uint8_t>(static_cast<size_t>(stride) * height, value)};
}

// White with the given probability, else black; `stray` of the pixels take any byte value instead.
// Bytes past the width are random, 0 and 255 included, and must neither act nor change.
Plane RandomPlane(std::mt19937& random, double whiteShare, double stray)
{
    int width = 1 + static_cast<int>(random() % 70), height = 1 + static_cast<int>(random() % 70);
    Plane plane = Filled(width, height, 0, static_cast<int>(random() % 10));
    std::uniform_real_distribution<double> chance(0, 1);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < plane.stride; ++x) {
            std::uint8_t value = chance(random) < whiteShare ? 255 : 0;
            if (x >= width || chance(random) < stray) value = static_cast<std::uint8_t>(random());
            At(plane, x, y) = value;
        }
    }
    return plane;
}

void ExpectSameAsLiteral(const Plane& input, int passes)
{
    Plane kernel = Kernel(input, passes), literal = Literal(input, passes);
    ASSERT_EQ(kernel.bytes, literal.bytes) << input.width << " x " << input.height << " stride " << input.stride
                                           << " passes " << passes;
}

// White where it must be after n passes from one white pixel: within n of it, off the frame, or the pixel.
bool InGrownSquare(const Plane& plane, int x, int y, int cx, int cy, int n)
{
    bool inner = x > 0 && y > 0 && x < plane.width - 1 && y < plane.height - 1;
    return (x == cx && y == cy) || (inner && std::abs(x - cx) <= n && std::abs(y - cy) <= n);
}

// Rows of `plane` from `top` to `bottom` that hold black pixels, counted.
int BlackRows(Plane& plane, int top, int bottom)
{
    int rows = 0;
    for (int y = top; y <= bottom; ++y) {
        bool black = false;
        for (int x = 0; x < plane.width; ++x) black |= At(plane, x, y) == 0;
        rows += black;
    }
    return rows;
}

}  // namespace

TEST(ErodeImageBinary, BlackAndWhitePlanesMatchTheLiteralPasses)
{
    std::mt19937 random(2024);
    for (double whiteShare : {0.0005, 0.003, 0.02, 0.1, 0.5, 0.9, 1.0}) {
        for (int round = 0; round < 150; ++round) {
            Plane input = RandomPlane(random, whiteShare, 0);
            ExpectSameAsLiteral(input, -1 + static_cast<int>(random() % 62));
        }
    }
}

TEST(ErodeImageBinary, PlanesWithOtherValuesMatchTheLiteralPasses)
{
    std::mt19937 random(99);
    for (double stray : {0.0005, 0.01, 0.1, 0.4}) {
        for (double whiteShare : {0.003, 0.05, 0.5}) {
            for (int round = 0; round < 60; ++round) {
                Plane input = RandomPlane(random, whiteShare, stray);
                ExpectSameAsLiteral(input, -1 + static_cast<int>(random() % 62));
            }
        }
    }
    // One other value in the last rows, found after the shortcut has written the rows above.
    for (int round = 0; round < 100; ++round) {
        Plane input = RandomPlane(random, 0.05, 0);
        int y = std::max(0, input.height - 1 - static_cast<int>(random() % 3));
        At(input, static_cast<int>(random() % input.width), y) = static_cast<std::uint8_t>(1 + random() % 254);
        ExpectSameAsLiteral(input, 1 + static_cast<int>(random() % 3));
    }
    // Every other value alone, in whole words of 64 pixels (at their edges and inside) and in the
    // part-word that ends a row, in a row read after rows above it were written.
    Plane wide = Filled(150, 6, 0, 3);
    for (auto& value : wide.bytes) value = random() % 2 ? 255 : 0;
    for (int value = 1; value < 255; ++value) {
        for (int x : {1, 63, 64, 100, 127, 128, 149}) {
            Plane input = wide;
            At(input, x, 4) = static_cast<std::uint8_t>(value);
            ExpectSameAsLiteral(input, 1);
        }
    }
}

TEST(ErodeImageBinary, WideRowsSpreadAcrossWholeWords)
{
    // Reaches of 64 pixels and more move whole words along a row.
    std::mt19937 random(31);
    for (int round = 0; round < 40; ++round) {
        Plane input = RandomPlane(random, 0.002, round % 4 == 0 ? 0.01 : 0);
        Plane wide = Filled(60 + static_cast<int>(random() % 260), 3 + input.height % 9, 0, round % 5);
        for (int y = 0; y < wide.height; ++y)
            for (int x = 0; x < wide.stride; ++x) At(wide, x, y) = At(input, x % input.width, y % input.height);
        ExpectSameAsLiteral(wide, static_cast<int>(random() % 330));
    }
}

TEST(ErodeImageBinary, PassCountsBeyondTheImageSettle)
{
    std::mt19937 random(5);
    for (int round = 0; round < 20; ++round) {
        Plane twoTone = RandomPlane(random, 0.002, 0);
        ASSERT_EQ(Kernel(twoTone, INT_MAX).bytes, Literal(twoTone, INT_MAX).bytes);
        Plane mixed = RandomPlane(random, 0.01, 0.05);
        ASSERT_EQ(Kernel(mixed, INT_MAX).bytes, Literal(mixed, INT_MAX).bytes);
    }
}

TEST(ErodeImageBinary, NoPassesOrTooSmallChangesNothing)
{
    Plane plane = Filled(9, 9, 0, 3);
    At(plane, 4, 4) = 255;
    for (int passes : {0, -1, INT_MIN}) EXPECT_EQ(Kernel(plane, passes).bytes, plane.bytes);
    for (auto [width, height] : {std::pair{2, 40}, std::pair{40, 2}, std::pair{1, 1}}) {
        Plane thin = Filled(width, height, 0);
        At(thin, 0, 0) = 255;
        EXPECT_EQ(Kernel(thin, 5).bytes, thin.bytes) << width << " x " << height;
    }
}

TEST(ErodeImageBinary, ThreeByThreeChangesOnlyTheCentre)
{
    // Every pattern of the eight frame pixels around a black centre.
    for (int pattern = 0; pattern < 256; ++pattern) {
        Plane plane = Filled(3, 3, 0);
        for (int i = 0, bit = 0; i < 9; ++i) {
            if (i != 4) At(plane, i % 3, i / 3) = (pattern >> bit++) & 1 ? 255 : 0;
        }
        Plane eroded = Kernel(plane, 1);
        At(plane, 1, 1) = pattern != 0 ? 255 : 0;
        ASSERT_EQ(eroded.bytes, plane.bytes) << pattern;
    }
}

TEST(ErodeImageBinary, BarsLoseAPixelOnEachSidePerPass)
{
    for (int thickness : {3, 5}) {
        Plane page = Filled(40, 20, 255);
        for (int y = 5; y < 5 + thickness; ++y)
            for (int x = 10; x < 30; ++x) At(page, x, y) = 0;
        for (int passes = 1; passes <= 3; ++passes) {
            Plane eroded = Kernel(page, passes);
            int left = std::max(0, thickness - 2 * passes);
            EXPECT_EQ(BlackRows(eroded, 0, 19), left) << thickness << " high, " << passes << " passes";
            if (left > 0) {
                EXPECT_EQ(At(eroded, 10 + passes, 5 + passes), 0);
                EXPECT_EQ(At(eroded, 10 + passes - 1, 5 + passes), 255);
                EXPECT_EQ(At(eroded, 29 - passes, 5 + passes), 0);
                EXPECT_EQ(At(eroded, 29 - passes + 1, 5 + passes), 255);
            }
        }
    }
}

TEST(ErodeImageBinary, SingleWhitePixelGrowsIntoASquareUpToTheFrame)
{
    Plane plane = Filled(41, 31, 0, 5);
    At(plane, 12, 20) = 255;
    for (int n = 1; n <= 25; ++n) {
        Plane eroded = Kernel(plane, n);
        for (int y = 0; y < plane.height; ++y)
            for (int x = 0; x < plane.width; ++x)
                ASSERT_EQ(At(eroded, x, y), InGrownSquare(plane, x, y, 12, 20, n) ? 255 : 0) << n;
    }
}

TEST(ErodeImageBinary, FiftyPassesReachAcross52ButNot53)
{
    Plane small = Filled(52, 52, 0);
    At(small, 51, 0) = 255;
    Plane eroded = Kernel(small, 50);
    for (int y = 1; y < 51; ++y)
        for (int x = 1; x < 51; ++x) ASSERT_EQ(At(eroded, x, y), 255);
    EXPECT_EQ(At(eroded, 0, 51), 0);

    Plane large = Filled(53, 53, 0);
    At(large, 0, 0) = 255;
    eroded = Kernel(large, 50);
    EXPECT_EQ(At(eroded, 51, 51), 0);
    EXPECT_EQ(At(eroded, 50, 51), 0);
    EXPECT_EQ(At(eroded, 50, 50), 255);
}

TEST(ErodeImageBinary, OtherValuesNeitherChangeNorSpread)
{
    // A wall of 254 across the page keeps the white above it from reaching the black below.
    Plane plane = Filled(30, 30, 0, 2);
    for (int x = 0; x < 30; ++x) At(plane, x, 10) = 254;
    At(plane, 15, 3) = 255;
    At(plane, 15, 20) = 1;
    Plane eroded = Kernel(plane, 40);
    for (int x = 0; x < 30; ++x) EXPECT_EQ(At(eroded, x, 10), 254);
    EXPECT_EQ(At(eroded, 15, 20), 1);
    EXPECT_EQ(At(eroded, 15, 9), 255);
    for (int y = 11; y < 29; ++y)
        for (int x = 1; x < 29; ++x) ASSERT_EQ(At(eroded, x, y), x == 15 && y == 20 ? 1 : 0) << x << ", " << y;
    EXPECT_EQ(eroded.bytes, Literal(plane, 40).bytes);
}

TEST(ErosionPlane, WriteBackFillsAllThreeBytesOfEachPixel)
{
    // Two rows of four blue-green-red pixels, 3 bytes of padding after each row.
    const int stride = 4 * 3 + 3;
    std::vector<std::uint8_t> bgr(2 * stride, 7);
    const std::vector<std::uint8_t> plane = {255, 0, 0, 255, 0, 255, 255, 0};
    PlaneToBgr(plane.data(), 4, 2, bgr.data(), stride);
    for (int y = 0; y < 2; ++y) {
        for (int x = 0; x < 4; ++x)
            for (int c = 0; c < 3; ++c) EXPECT_EQ(bgr[y * stride + 3 * x + c], plane[y * 4 + x]) << x << ", " << y;
        for (int pad = 12; pad < stride; ++pad) EXPECT_EQ(bgr[y * stride + pad], 7);
    }
}

TEST(OneBitPlane, UnpacksBlackToZeroAndPacksBackWithWhitePadding)
{
    // 11 pixels a row, rows 3 bytes apart; the unused bits and the spare byte hold junk.
    const std::uint8_t bits[6] = {0b10110001, 0b01111111, 0xA5, 0b00000000, 0b11011111, 0x5A};
    std::uint8_t plane[22];
    BitsToPlane(bits, 3, 11, 2, plane);
    EXPECT_EQ(plane[0], 0);
    EXPECT_EQ(plane[1], 255);
    EXPECT_EQ(plane[10], 0);
    EXPECT_EQ(plane[11 + 8], 0);
    EXPECT_EQ(plane[11 + 10], 255);
    plane[1] = 127;  // below the threshold: black
    std::uint8_t packed[6] = {0, 0, 0x33, 0, 0, 0x33};
    PlaneToBits(plane, 11, 2, packed, 3);
    const std::uint8_t expected[6] = {0b11110001, 0b01100000, 0x33, 0b00000000, 0b11000000, 0x33};
    for (int i = 0; i < 6; ++i) EXPECT_EQ(packed[i], expected[i]) << i;
}
