// The JPEG coefficient reader, turn and writer: random block grids turned and written, read back
// exactly; files of ImageMagick's read as it wrote them; every cut and edge value of a file read
// within its bytes; the resolution written into JFIF and EXIF and nothing else changed.
#include "imaging/kernels/exif.h"
#include "imaging/kernels/jpeg_coefficients.h"
#include "imaging/kernels/jpeg_encoder.h"
#include "imaging/kernels/jpeg_writer.h"

#include "header_bytes.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <random>

namespace {

// Reads from a heap copy of the exact size, so that the sanitizer sees any read past the end.
JpegContent Read(const Bytes& file, JpegImage& image)
{
    Bytes exact(file);
    return ReadJpeg(exact.data(), exact.size(), image);
}

// A random image of `count` components, the first sampled 1 or 2 each way, the others 1 (or all 2 x 2
// with `allTwo`), with coefficients in the format's ranges, mostly zero as real ones are; the padding
// blocks stay zero.
JpegImage RandomImage(std::mt19937& random, int width, int height, int count, bool allTwo = false)
{
    JpegImage image;
    image.widthPx = width;
    image.heightPx = height;
    for (int c = 0; c < count; ++c) {
        std::uint8_t h = allTwo ? 2 : c == 0 ? static_cast<std::uint8_t>(1 + random() % 2) : 1;
        std::uint8_t v = allTwo ? 2 : c == 0 ? static_cast<std::uint8_t>(1 + random() % 2) : 1;
        image.components.push_back({static_cast<std::uint8_t>(c + 1), h, v, static_cast<std::uint8_t>(c ? 1 : 0), 0, 0, {}, {}, {}, {}});
    }
    for (int t = 0; t < 2; ++t) {
        for (int k = 0; k < 64; ++k) image.quant[t][k] = static_cast<std::uint16_t>(1 + random() % 255);
        image.quantDefined[t] = true;
    }
    SetJpegSize(image, width, height);
    for (JpegComponent& component : image.components) {
        ClearBlocks(component);
        for (int y = 0; y < UsedBlocksHigh(image, component); ++y) {
            for (int x = 0; x < UsedBlocksWide(image, component); ++x) {
                std::int16_t block[64] = {static_cast<std::int16_t>(static_cast<int>(random() % 2048) - 1024)};
                for (int k = 1; k < 64; ++k) {
                    if (random() % 4 == 0) block[k] = static_cast<std::int16_t>(static_cast<int>(random() % 2047) - 1023);
                }
                StoreBlock(component, static_cast<std::size_t>(y) * component.blocksWide + x, block);
            }
        }
    }
    return image;
}

void ExpectSameCoefficients(const JpegImage& a, const JpegImage& b, const std::string& what)
{
    ASSERT_EQ(a.widthPx, b.widthPx) << what;
    ASSERT_EQ(a.heightPx, b.heightPx) << what;
    ASSERT_EQ(a.components.size(), b.components.size()) << what;
    for (std::size_t c = 0; c < a.components.size(); ++c) {
        const JpegComponent &x = a.components[c], &y = b.components[c];
        EXPECT_EQ(x.h, y.h) << what;
        EXPECT_EQ(x.v, y.v) << what;
        EXPECT_EQ(a.quant[x.table], b.quant[y.table]) << what;
        ASSERT_EQ(x.blocksWide, y.blocksWide) << what;
        ASSERT_EQ(x.first.size(), y.first.size()) << what;
        // Padding blocks are not kept by every scan layout: only the used ones must agree.
        for (int row = 0; row < UsedBlocksHigh(a, x); ++row) {
            for (int column = 0; column < UsedBlocksWide(a, x); ++column) {
                std::int16_t first[64], second[64];
                LoadBlock(x, static_cast<std::size_t>(row) * x.blocksWide + column, first);
                LoadBlock(y, static_cast<std::size_t>(row) * x.blocksWide + column, second);
                ASSERT_TRUE(std::equal(first, first + 64, second)) << what << " block " << column << "," << row;
            }
        }
    }
}

Bytes Fixture(const std::string& name)
{
    std::ifstream file(std::string(LUMIVEX_FIXTURES) + "/" + name, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(file), {});
}

}  // namespace

TEST(JpegTurn, FourTurnsAreTheIdentityAndOppositeTurnsCancel)
{
    std::mt19937 random(22);
    for (int round = 0; round < 40; ++round) {
        int count = round % 3 == 0 ? 1 : 3;
        // Sides of whole MCUs of up to 2 x 2 blocks, so that every turn moves whole blocks.
        JpegImage image = RandomImage(random, 16 * (1 + round % 5), 16 * (1 + round % 3), count);
        std::string what = "round " + std::to_string(round);
        JpegImage turned = image;
        for (int turn = 0; turn < 4; ++turn) {
            ASSERT_TRUE(TurnsLosslessly(turned, Turn::Clockwise));
            turned = TurnJpeg(turned, Turn::Clockwise);
        }
        ExpectSameCoefficients(image, turned, what + " four clockwise");
        ExpectSameCoefficients(image, TurnJpeg(TurnJpeg(image, Turn::Clockwise), Turn::CounterClockwise), what + " cw ccw");
        ExpectSameCoefficients(image, TurnJpeg(TurnJpeg(image, Turn::CounterClockwise), Turn::Clockwise), what + " ccw cw");
    }
}

// Only the edge that becomes the left (clockwise) or top (counter-clockwise) edge must be whole MCUs.
TEST(JpegTurn, TurnsLosslesslyWhereTheNewLeadingEdgeFallsOnWholeMcus)
{
    JpegImage image;
    image.components = {{1, 2, 2, 0, 0, 0, {}, {}, {}, {}}, {2, 1, 1, 1, 0, 0, {}, {}, {}, {}}};
    struct Case { int width, height; bool clockwise, counterClockwise; };
    for (Case c : {Case{32, 16, true, true}, Case{33, 16, true, false}, Case{32, 24, false, true}, Case{8, 8, false, false}}) {
        SetJpegSize(image, c.width, c.height);
        EXPECT_EQ(TurnsLosslessly(image, Turn::Clockwise), c.clockwise) << c.width << "x" << c.height;
        EXPECT_EQ(TurnsLosslessly(image, Turn::CounterClockwise), c.counterClockwise) << c.width << "x" << c.height;
        EXPECT_TRUE(TurnsLosslessly(image, Turn::None));
    }
}

// A turned block holds the DCT of the turned pixels: checked against the encoder's own DCT of a
// turned 8 x 8 picture with unit quantisation.
TEST(JpegTurn, BlockTurnMatchesTheDctOfTurnedPixels)
{
    std::uint8_t pixels[64 * 3], turned[64 * 3];
    for (int i = 0; i < 64; ++i) pixels[3 * i] = pixels[3 * i + 1] = pixels[3 * i + 2] = static_cast<std::uint8_t>(i * 37 % 256);
    for (Turn turn : {Turn::Clockwise, Turn::CounterClockwise}) {
        for (int y = 0; y < 8; ++y) {
            for (int x = 0; x < 8; ++x) {
                int from = turn == Turn::Clockwise ? (7 - x) * 8 + y : x * 8 + (7 - y);
                std::copy(pixels + 3 * from, pixels + 3 * from + 3, turned + 3 * (y * 8 + x));
            }
        }
        JpegImage source = JpegLayoutFor(8, 8, 100), expected = JpegLayoutFor(8, 8, 100);
        source.components.resize(1);
        expected.components.resize(1);
        EncodeBgr(pixels, 24, source);
        EncodeBgr(turned, 24, expected);
        std::int16_t result[64], wanted[64];
        LoadBlock(TurnJpeg(source, turn).components[0], 0, result);
        LoadBlock(expected.components[0], 0, wanted);
        for (int k = 0; k < 64; ++k) EXPECT_NEAR(result[k], wanted[k], 1) << k;
    }
}

// What the writer writes, the reader reads back coefficient for coefficient, through optimal tables,
// interleaved and single-component scans, partial edge blocks and MCUs too large to interleave.
TEST(JpegWriter, WrittenCoefficientsReadBackExactly)
{
    std::mt19937 random(7);
    for (int round = 0; round < 30; ++round) {
        int count = round % 4 == 0 ? 1 : 3;
        // Every fifth image has 4 + 4 + 4 blocks an MCU, written as a scan per component.
        JpegImage image = RandomImage(random, 1 + static_cast<int>(random() % 70), 1 + static_cast<int>(random() % 50),
                                      count, round % 5 == 4);
        Bytes file = WriteJpeg(image, 600, 600);
        JpegImage read;
        ASSERT_EQ(Read(file, read), JpegContent::Coefficients) << round;
        ExpectSameCoefficients(image, read, "round " + std::to_string(round));
    }
}

TEST(JpegReader, ReadsImageMagicksFilesAsWritten)
{
    struct Case { const char* name; JpegContent content; int width, height, h, v; };
    for (Case c : {Case{"jpeg_444_64x48.jpg", JpegContent::Coefficients, 64, 48, 1, 1},
                   Case{"jpeg_420_61x45.jpg", JpegContent::Coefficients, 61, 45, 2, 2},
                   Case{"jpeg_progressive_64x48.jpg", JpegContent::OtherCoding, 64, 48, 2, 2}}) {
        JpegImage image;
        ASSERT_EQ(Read(Fixture(c.name), image), c.content) << c.name;
        EXPECT_EQ(image.widthPx, c.width) << c.name;
        EXPECT_EQ(image.heightPx, c.height) << c.name;
        ASSERT_EQ(image.components.size(), 3u) << c.name;
        EXPECT_EQ(image.components[0].h, c.h) << c.name;
        EXPECT_EQ(image.components[0].v, c.v) << c.name;
        EXPECT_EQ(EstimateJpegQuality(image.quant[image.components[0].table]), 90) << c.name;
        // JFIF, EXIF, ICC profile, comment, in the file's order.
        ASSERT_EQ(image.metadata.size(), 4u) << c.name;
        EXPECT_EQ(image.metadata[1][1], 0xE1) << c.name;
        EXPECT_EQ(image.metadata[2][1], 0xE2) << c.name;
        EXPECT_EQ(image.metadata[3][1], 0xFE) << c.name;
    }
    // Restart markers reset the DC predictions; the coefficients are those of the file without them.
    JpegImage plain, restarted;
    ASSERT_EQ(Read(Fixture("jpeg_420_61x45.jpg"), plain), JpegContent::Coefficients);
    ASSERT_EQ(Read(Fixture("jpeg_420_61x45_restart3.jpg"), restarted), JpegContent::Coefficients);
    ExpectSameCoefficients(plain, restarted, "restart markers");
}

// Every cut of a written file, and every header byte set to its edge values, is read inside the
// bytes; a read that says it has the coefficients has the writer's.
TEST(JpegReader, AnswersEveryCutAndEveryHeaderByteAtItsEdges)
{
    std::mt19937 random(3);
    JpegImage image = RandomImage(random, 20, 12, 3);
    image.metadata.push_back(ExifSegment(MakeTiff(false, 600, 1, 600, 1, 2)));
    Bytes file = WriteJpeg(image, 600, 600);
    JpegImage read;
    for (std::size_t cut = 0; cut < file.size(); ++cut) {
        if (Read(Bytes(file.begin(), file.begin() + static_cast<long>(cut)), read) == JpegContent::Coefficients) {
            ExpectSameCoefficients(image, read, "cut " + std::to_string(cut));
        }
    }
    std::size_t scanData = file.size();
    for (std::size_t at = 0; at + 1 < file.size(); ++at) {
        if (file[at] == 0xFF && file[at + 1] == 0xDA) scanData = at;
    }
    for (std::size_t at = 2; at < scanData; ++at) {
        for (std::uint8_t value : {0x00, 0x01, 0x7F, 0x80, 0xFE, 0xFF}) {
            Bytes changed = file;
            changed[at] = value;
            if (Read(changed, read) != JpegContent::Coefficients) continue;
            for (const JpegComponent& component : read.components) {
                ASSERT_EQ(component.first.size(), static_cast<std::size_t>(component.blocksWide) * component.blocksHigh);
            }
        }
    }
}

TEST(JpegReader, HostileFilesStopTheCoefficientRead)
{
    std::mt19937 random(5);
    JpegImage image = RandomImage(random, 16, 16, 1);
    Bytes file = WriteJpeg(image, 600, 600);
    std::size_t scanHeader = 0;
    for (std::size_t at = 0; at + 1 < file.size(); ++at) {
        if (file[at] == 0xFF && file[at + 1] == 0xDA) scanHeader = at;
    }
    JpegImage read;
    Bytes longSegment = file;  // the JFIF header claims 65535 bytes
    longSegment[4] = longSegment[5] = 0xFF;
    EXPECT_EQ(Read(longSegment, read), JpegContent::Malformed);
    Bytes neverEnds(file.begin(), file.begin() + static_cast<long>(scanHeader) + 10);  // scan header of one component
    for (int i = 0; i < 64; ++i) neverEnds.insert(neverEnds.end(), {0xFF, 0x00});  // all ones: no optimal code is
    EXPECT_EQ(Read(neverEnds, read), JpegContent::OtherCoding);
    Bytes table(65, 1);
    table[0] = 0;  // 8-bit table 0
    Bytes huge = MakeJpeg({Segment(0xDB, table), Segment(0xC0, {8, 0xFF, 0xFF, 0xFF, 0xFF, 1, 1, 0x44, 0}),
                           Segment(0xDA, {1, 1, 0, 0, 63, 0})});
    EXPECT_EQ(Read(huge, read), JpegContent::OtherCoding);  // 2^26 blocks: left to the decoder's gate
    EXPECT_FALSE(HasBlocks(read.components[0]));
}

// The resolution goes into the JFIF header and EXIF's rationals and unit; every other byte of the
// metadata stays, the orientation tag among them; a JFIF header comes first where there was none.
TEST(JpegWriter, ResolutionIsSetInJfifAndExifAndNothingElseChanges)
{
    std::mt19937 random(9);
    JpegImage image = RandomImage(random, 8, 8, 1);
    image.metadata = {ExifSegment(MakeTiff(true, 300, 1, 254, 1, 3)), Segment(0xFE, {'s', 'c', 'a', 'n'})};
    Bytes file = WriteJpeg(image, 600, 599);
    JpegImage read;
    ASSERT_EQ(Read(file, read), JpegContent::Coefficients);
    ASSERT_EQ(read.metadata.size(), 3u);
    EXPECT_EQ(read.metadata[0], JfifSegment(1, 600, 599));
    EXPECT_EQ(read.metadata[1], ExifSegment(MakeTiff(true, 600, 1, 599, 1, 2)));  // per inch now
    EXPECT_EQ(read.metadata[2], image.metadata[1]);
}
