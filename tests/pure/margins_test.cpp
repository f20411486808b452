// The corner table of the margins and the 1-bit copies, against a bit-by-bit reference.
#include "imaging/kernels/margins.h"

#include <gtest/gtest.h>

#include <climits>
#include <random>
#include <vector>

namespace {

using Bytes = std::vector<std::uint8_t>;

int Bit(const Bytes& row, int x) { return (row[static_cast<size_t>(x / 8)] >> (7 - x % 8)) & 1; }

void SetBit(Bytes& row, int x, int value)
{
    auto mask = static_cast<std::uint8_t>(0x80u >> (x % 8));
    row[static_cast<size_t>(x / 8)] = static_cast<std::uint8_t>(value ? row[x / 8] | mask : row[x / 8] & ~mask);
}

// Column k of `source` from `sourceX` on to column targetX + k, one bit at a time.
Bytes ReferenceCopy(const Bytes& source, int sourceX, Bytes target, int targetX, int count)
{
    for (int k = 0; k < count; ++k) SetBit(target, targetX + k, Bit(source, sourceX + k));
    return target;
}

Bytes RandomBytes(std::mt19937& random, size_t size)
{
    Bytes bytes(size);
    for (auto& byte : bytes) byte = static_cast<std::uint8_t>(random());
    return bytes;
}

}  // namespace

TEST(LayOutMargins, PositiveMarginsPadTheCornersEdges)
{
    struct Case { Corner corner; int padLeft, padTop, padRight, padBottom; };
    for (Case c : {Case{TopLeft, 24, 7, 0, 0}, Case{TopRight, 0, 7, 24, 0},
                   Case{BottomLeft, 24, 0, 0, 7}, Case{BottomRight, 0, 0, 24, 7}}) {
        MarginLayout layout = LayOutMargins(100, 50, 24, 7, c.corner);
        EXPECT_EQ(layout.padLeft, c.padLeft) << "corner " << c.corner;
        EXPECT_EQ(layout.padTop, c.padTop) << "corner " << c.corner;
        EXPECT_EQ(layout.padRight, c.padRight) << "corner " << c.corner;
        EXPECT_EQ(layout.padBottom, c.padBottom) << "corner " << c.corner;
        EXPECT_EQ(layout.left, 0);
        EXPECT_EQ(layout.top, 0);
        EXPECT_EQ(layout.right, 100);
        EXPECT_EQ(layout.bottom, 50);
        EXPECT_TRUE(Pads(layout));
        EXPECT_FALSE(Crops(layout, 100, 50));
    }
}

TEST(LayOutMargins, ZeroAndNegativeMarginsCropTheCornersEdges)
{
    struct Case { Corner corner; int left, top, right, bottom; };
    for (Case c : {Case{TopLeft, 23, 5, 100, 50}, Case{TopRight, 0, 5, 77, 50},
                   Case{BottomLeft, 23, 0, 100, 45}, Case{BottomRight, 0, 0, 77, 45}}) {
        MarginLayout layout = LayOutMargins(100, 50, -23, -5, c.corner);
        EXPECT_EQ(layout.left, c.left) << "corner " << c.corner;
        EXPECT_EQ(layout.top, c.top) << "corner " << c.corner;
        EXPECT_EQ(layout.right, c.right) << "corner " << c.corner;
        EXPECT_EQ(layout.bottom, c.bottom) << "corner " << c.corner;
        EXPECT_FALSE(Pads(layout));
        EXPECT_TRUE(Crops(layout, 100, 50));
        EXPECT_TRUE(KeepsPixels(layout));
    }
    MarginLayout none = LayOutMargins(100, 50, 0, 0, BottomRight);
    EXPECT_FALSE(Crops(none, 100, 50));
    EXPECT_FALSE(Pads(none));
}

TEST(LayOutMargins, CropOfTheWholeSideKeepsNothing)
{
    EXPECT_TRUE(KeepsPixels(LayOutMargins(100, 50, -99, -49, TopLeft)));
    for (Corner corner : {TopLeft, TopRight, BottomLeft, BottomRight}) {
        EXPECT_FALSE(KeepsPixels(LayOutMargins(100, 50, -100, 0, corner))) << corner;
        EXPECT_FALSE(KeepsPixels(LayOutMargins(100, 50, 0, -50, corner))) << corner;
        EXPECT_FALSE(KeepsPixels(LayOutMargins(100, 50, -101, 10, corner))) << corner;
        EXPECT_FALSE(KeepsPixels(LayOutMargins(100, 50, INT_MIN, INT_MIN, corner))) << corner;
    }
}

TEST(CopyBitRow, MatchesBitByBitReferenceOnRandomRows)
{
    std::mt19937 random(2024);
    for (int width = 1; width <= 200; ++width) {
        for (int sourceX = 0; sourceX <= 17; ++sourceX) {
            for (int targetX = 0; targetX <= 17; ++targetX) {
                // Exact-size buffers, so that ASan catches a read or write past the copied pixels' bytes.
                Bytes source = RandomBytes(random, static_cast<size_t>(sourceX + width + 7) / 8);
                Bytes target = RandomBytes(random, static_cast<size_t>(targetX + width + 7) / 8);
                Bytes expected = ReferenceCopy(source, sourceX, target, targetX, width);
                CopyBitRow(source.data(), sourceX, target.data(), targetX, width);
                ASSERT_EQ(target, expected) << "width " << width << " from " << sourceX << " to " << targetX;
            }
        }
    }
}

TEST(CopyBitRow, UnusedBitsOfTheLastByteNeverReachTheRightPadding)
{
    // A 10-pixel row whose last byte carries black in its six unused bits, into a white row.
    Bytes source = {0xFF, 0xFF};
    for (int targetX : {0, 1, 8}) {
        Bytes target(4, 0x00);
        CopyBitRow(source.data(), 0, target.data(), targetX, 10);
        for (int x = 0; x < 32; ++x) {
            EXPECT_EQ(Bit(target, x), x >= targetX && x < targetX + 10) << "column " << x << " offset " << targetX;
        }
    }
}

TEST(CopyBitBlock, CropsAndPadsRowsWithTheirStrides)
{
    std::mt19937 random(7);
    const int width = 37, rows = 5, sourceStride = 8, targetStride = 12;
    Bytes source = RandomBytes(random, static_cast<size_t>(sourceStride) * rows);
    Bytes target(static_cast<size_t>(targetStride) * rows, 0);
    CopyBitBlock(source.data(), sourceStride, 13, target.data(), targetStride, 29, width, rows);
    for (int j = 0; j < rows; ++j) {
        Bytes sourceRow(source.begin() + j * sourceStride, source.begin() + (j + 1) * sourceStride);
        Bytes targetRow(target.begin() + j * targetStride, target.begin() + (j + 1) * targetStride);
        EXPECT_EQ(targetRow, ReferenceCopy(sourceRow, 13, Bytes(targetStride, 0), 29, width)) << "row " << j;
    }
}

TEST(CopyBitBlock, FollowsANegativeStride)
{
    // Bottom-up rows: row 0 sits last in memory.
    Bytes source = {0xA0, 0xF0};
    Bytes target(2, 0);
    CopyBitBlock(source.data() + 1, -1, 0, target.data(), 1, 4, 4, 2);
    EXPECT_EQ(target, (Bytes{0x0F, 0x0A}));
}
