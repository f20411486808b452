// The 1-bit packing and the BMP header patch, byte by byte.
#include "imaging/kernels/monochrome.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

// Pixels of the given blues, each followed by `bytesPerPixel` - 1 bytes of `other`.
static std::vector<std::uint8_t> BgrRow(const std::vector<std::uint8_t>& blues, std::uint8_t other = 0,
                                        int bytesPerPixel = 3)
{
    std::vector<std::uint8_t> row;
    for (std::uint8_t blue : blues) {
        row.push_back(blue);
        row.insert(row.end(), bytesPerPixel - 1, other);
    }
    return row;
}

TEST(PackMonochromeRow, ThresholdsOnBlueAloneInThreeAndFourBytePixels)
{
    // Blue 128 and above is white whatever green, red and the fourth byte hold; 127 and below is black.
    for (int bytesPerPixel : {3, 4}) {
        std::vector<std::uint8_t> row = BgrRow({0, 127, 128, 255, 255, 0, 127, 128}, 255, bytesPerPixel);
        row[bytesPerPixel * 4 + 1] = 0;  // pure blue: white
        std::uint8_t packed = 0xAA;
        PackMonochromeRow(row.data(), 8, bytesPerPixel, &packed);
        EXPECT_EQ(packed, 0b11000110) << bytesPerPixel;
    }
}

TEST(PackMonochromeRow, LeftmostPixelIsMostSignificantBit)
{
    std::vector<std::uint8_t> blues(8, 255);
    blues[0] = 0;
    std::uint8_t packed = 0;
    PackMonochromeRow(BgrRow(blues).data(), 8, 3, &packed);
    EXPECT_EQ(packed, 0x80);
}

TEST(PackMonochromeRow, BitsAfterTheLastPixelAreWhite)
{
    for (int bytesPerPixel : {3, 4}) {
        std::vector<std::uint8_t> out(3, 0xFF);
        PackMonochromeRow(BgrRow(std::vector<std::uint8_t>(10, 0), 0, bytesPerPixel).data(), 10, bytesPerPixel,
                          out.data());
        EXPECT_EQ(out[0], 0xFF);
        EXPECT_EQ(out[1], 0xC0);  // two black pixels, six white padding bits
        EXPECT_EQ(out[2], 0xFF);  // beyond the row: untouched
    }
}

TEST(PackIndexedRow, MatchesEachPixelLookedUpOnRandomRows)
{
    std::mt19937 random(23);
    for (int round = 0; round < 300; ++round) {
        int bitsPerPixel = round % 3 == 0 ? 1 : round % 3 == 1 ? 4 : 8;
        int width = 1 + static_cast<int>(random() % 70);
        // Every other table black below one index, as a palette of greys in order is.
        std::uint8_t black[256];
        unsigned below = random() % 257;
        for (unsigned i = 0; i < 256; ++i) black[i] = round % 2 ? i < below : random() % 2;
        std::size_t length = (static_cast<std::size_t>(width) * bitsPerPixel + 7) / 8;
        std::vector<std::uint8_t> indices(length);
        for (std::uint8_t& byte : indices) byte = static_cast<std::uint8_t>(random());
        // Only the row's own bytes exist: a read past them shows under the address sanitizer.
        std::vector<std::uint8_t> row((width + 7) / 8 + 1, 0x5A);
        PackIndexedRow(indices.data(), width, bitsPerPixel, black, row.data());
        for (int x = 0; x < (width + 7) / 8 * 8; ++x) {
            int bit = x * bitsPerPixel;
            unsigned index = x < width ? (indices[bit / 8] >> (8 - bitsPerPixel - bit % 8)) & ((1u << bitsPerPixel) - 1) : 0;
            bool expected = x < width && black[index];
            ASSERT_EQ((row[x / 8] >> (7 - x % 8)) & 1, expected) << bitsPerPixel << " bits, width " << width << ", x " << x;
        }
        EXPECT_EQ(row.back(), 0x5A);
    }
}

static std::vector<std::uint8_t> Header(int width, int height, int bitCount)
{
    std::vector<std::uint8_t> header(54);
    for (size_t i = 0; i < header.size(); ++i) header[i] = static_cast<std::uint8_t>(i * 7 + 1);
    header[0] = 'B';
    header[1] = 'M';
    for (int i = 0; i < 4; ++i) {
        header[18 + i] = static_cast<std::uint8_t>(width >> (8 * i));
        header[22 + i] = static_cast<std::uint8_t>(height >> (8 * i));
    }
    header[28] = static_cast<std::uint8_t>(bitCount);
    header[29] = 0;
    return header;
}

static std::uint32_t Field(const std::vector<std::uint8_t>& header, int at)
{
    return header[at] | (header[at + 1] << 8) | (header[at + 2] << 16) | (std::uint32_t(header[at + 3]) << 24);
}

TEST(PatchMonochromeHeader, RewritesTheSizeFieldsAndNothingElse)
{
    struct Case { int width, height; std::uint32_t sizeImage; };
    for (Case c : {Case{10, 7, 30}, Case{33, 2, 18}, Case{2480, 1, 314}, Case{32, 1, 6}}) {
        std::vector<std::uint8_t> header = Header(c.width, c.height, 1);
        std::vector<std::uint8_t> before = header;
        ASSERT_TRUE(PatchMonochromeHeader(header.data(), 0x01020304));
        EXPECT_EQ(Field(header, 2), 0x01020304u);  // bfSize: the file's length
        EXPECT_EQ(Field(header, 34), c.sizeImage) << c.width << " x " << c.height;
        EXPECT_EQ(Field(header, 46), 0u);
        EXPECT_EQ(Field(header, 50), 0u);
        for (int i = 0; i < 54; ++i) {
            if ((i >= 2 && i < 6) || (i >= 34 && i < 38) || (i >= 46 && i < 54)) continue;
            EXPECT_EQ(header[i], before[i]) << "byte " << i;
        }
    }
}

TEST(PatchMonochromeHeader, LeavesOtherFilesAlone)
{
    std::vector<std::uint8_t> colour = Header(10, 7, 24);
    std::vector<std::uint8_t> notBmp = Header(10, 7, 1);
    notBmp[0] = 'P';
    for (std::vector<std::uint8_t> header : {colour, notBmp}) {
        std::vector<std::uint8_t> before = header;
        EXPECT_FALSE(PatchMonochromeHeader(header.data(), 1000));
        EXPECT_EQ(header, before);
    }
}

// The first 62 bytes of a patched 1-bit BMP of 33 x 7 pixels, rows of 8 bytes: 118 bytes in all.
static std::vector<std::uint8_t> WrittenHead()
{
    std::vector<std::uint8_t> head(kMonochromeBmpHeaderSize, 0);
    auto put = [&](int at, std::uint32_t value, int bytes) {
        for (int i = 0; i < bytes; ++i) head[at + i] = static_cast<std::uint8_t>(value >> (8 * i));
    };
    head[0] = 'B';
    head[1] = 'M';
    put(2, 118, 4);
    put(10, 62, 4);
    put(14, 40, 4);
    put(18, 33, 4);
    put(22, 7, 4);
    put(26, 1, 2);
    put(28, 1, 2);
    put(34, 8 * 7 + 2, 4);
    put(38, 23622, 4);
    put(42, 23622, 4);
    put(54, 0xFFFFFF, 4);
    return head;
}

TEST(IsMonochromeBmp, AcceptsExactlyThePatchedFileOfTheMeantSize)
{
    ASSERT_TRUE(IsMonochromeBmp(WrittenHead().data(), 118, 33, 7));
    std::vector<std::uint8_t> opaqueEntries = WrittenHead();
    opaqueEntries[57] = opaqueEntries[61] = 0xFF;  // as Wine's encoder writes the table
    EXPECT_TRUE(IsMonochromeBmp(opaqueEntries.data(), 118, 33, 7));
    struct Case { const char* what; int at; std::uint8_t value; };
    const Case cases[] = {
        {"signature", 1, 'A'},        {"bfSize", 2, 110},          {"bfOffBits", 10, 54},
        {"header size", 14, 108},     {"width", 18, 34},           {"height", 22, 8},
        {"top-down rows", 25, 0xFF},  {"planes", 26, 2},           {"bit count", 28, 4},
        {"compression", 30, 1},       {"biSizeImage", 34, 56},     {"biClrUsed", 46, 2},
        {"biClrImportant", 50, 2},    {"white entry", 56, 0xFE},   {"black entry", 58, 1},
    };
    for (const Case& c : cases) {
        std::vector<std::uint8_t> head = WrittenHead();
        head[c.at] = c.value;
        EXPECT_FALSE(IsMonochromeBmp(head.data(), 118, 33, 7)) << c.what;
    }
    EXPECT_FALSE(IsMonochromeBmp(WrittenHead().data(), 117, 33, 7)) << "rows cut short";
    EXPECT_FALSE(IsMonochromeBmp(WrittenHead().data(), 118, 33, 6)) << "another height meant";
    EXPECT_FALSE(IsMonochromeBmp(WrittenHead().data(), 118, 40, 7)) << "another width meant, same row length";
}

TEST(BmpRowLength, RoundsBitsUpToWholeDwords)
{
    EXPECT_EQ(BmpRowLength(1), 4u);
    EXPECT_EQ(BmpRowLength(32), 4u);
    EXPECT_EQ(BmpRowLength(33), 8u);
    EXPECT_EQ(BmpRowLength(4961), 624u);
}
