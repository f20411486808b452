// The header checks: one table of sound and hostile headers, then every field of every kind of
// header at its edges and every cut of it, read through a reader that fails the test if it is asked
// for bytes beyond the file.
#include "imaging/kernels/image_header.h"

#include "header_bytes.h"

#include <gtest/gtest.h>

#include <string>

namespace {

struct Checked {
    ImageHeader header;
    std::size_t reads = 0;
    std::uint64_t bytesRead = 0;
};

// Checks `file` as the program checks a file on disk: through reads at offsets, from a heap copy of
// the exact size.
Checked Check(const Bytes& file)
{
    Bytes exact(file);
    Checked checked;
    ReadAt read = [&](std::uint64_t offset, std::uint8_t* into, std::size_t count) -> std::size_t {
        ++checked.reads;
        checked.bytesRead += count;
        if (offset > exact.size() || count > exact.size() - offset || count == 0) {
            ADD_FAILURE() << "read of " << count << " bytes at " << offset << " of a " << exact.size() << "-byte file";
            return 0;
        }
        std::copy(exact.begin() + static_cast<long>(offset), exact.begin() + static_cast<long>(offset + count), into);
        return count;
    };
    checked.header = CheckImageHeader(read, exact.size());
    return checked;
}

BmpFields Fields(std::uint32_t infoSize, std::int64_t width, std::int64_t height, std::uint16_t bitCount,
             std::uint32_t compression = 0)
{
    BmpFields fields;
    fields.infoSize = infoSize;
    fields.width = width;
    fields.height = height;
    fields.bitCount = bitCount;
    fields.compression = compression;
    return fields;
}

Bytes Changed(Bytes file, std::size_t at, std::uint64_t value, int width, bool bigEndian)
{
    PutUnsigned(file, at, value, width, bigEndian);
    return file;
}

Bytes Exif600() { return ExifSegment(MakeTiff(false, 600, 1, 600, 1, 2)); }

// A sound JPEG 100 x 50 with JFIF unit 0, an EXIF block and three full-size APP2 segments before
// the frame header.
Bytes LargeJpeg()
{
    Bytes large(65533, 0xFF);  // fill bytes inside a segment are its data, not markers
    return MakeJpeg({JfifSegment(0, 1, 1), Exif600(), Segment(0xE2, large), Segment(0xE2, large),
                     Segment(0xE2, large), Segment(0xDB, Bytes(65, 1)), FrameSegment(100, 50)});
}

struct HeaderCase {
    std::string name;
    Bytes file;
    ImageKind kind;
    bool sound;
    std::int64_t width, height;
};

std::vector<HeaderCase> HeaderCases()
{
    BmpFields shortRows = Fields(40, 100, 50, 24);
    shortRows.rowsPresent = 10;
    BmpFields noPlanes = Fields(40, 10, 7, 1);
    noPlanes.planes = 0;
    Bytes cutFrame = MakeJpeg({JfifSegment(1, 600, 600), FrameSegment(100, 50)});
    cutFrame.resize(2 + 18 + 4 + 5);  // SOI, APP0, the frame header's length and only 3 of its bytes
    return {
        {"1-bit BMP", MakeBmp(Fields(40, 10, 7, 1)), ImageKind::Bmp, true, 10, 7},
        {"core-header 24-bit BMP", MakeBmp(Fields(12, 5, 3, 24)), ImageKind::Bmp, true, 5, 3},
        {"V5-header 32-bit top-down BMP", MakeBmp(Fields(124, 3, -4, 32)), ImageKind::Bmp, true, 3, 4},
        {"bit-field 16-bit BMP", MakeBmp(Fields(40, 9, 2, 16, 3)), ImageKind::Bmp, true, 9, 2},
        {"run-length 8-bit BMP", MakeBmp(Fields(40, 4000, 3000, 8, 1)), ImageKind::Bmp, true, 4000, 3000},
        {"PNG", MakePngHead(100, 50), ImageKind::Png, true, 100, 50},
        {"20000 x 20000 PNG: the buffer rule decides", MakePngHead(20000, 20000), ImageKind::Png, true, 20000, 20000},
        {"GIF", MakeGifHead(100, 50), ImageKind::Gif, true, 100, 50},
        {"JPEG with APPn segments of 64 KB", LargeJpeg(), ImageKind::Jpeg, true, 100, 50},
        {"JPEG with garbage before a marker", MakeJpeg({JfifSegment(1, 600, 600), Bytes{1, 2, 3}, FrameSegment(7, 9)}), ImageKind::Jpeg, true,
         7, 9},
        {"text", Bytes{'h', 'e', 'l', 'l', 'o'}, ImageKind::Unknown, false, 0, 0},
        {"empty file", Bytes{}, ImageKind::Unknown, false, 0, 0},
        // Widths whose rows wrap 32-bit sizes: decoders that compute in 32 bits allocate nothing and fault.
        {"1-bit BMP 1073741824 x 64", MakeBmp([] { BmpFields s = Fields(40, 1 << 30, 64, 1); s.rowsPresent = 0; return s; }()),
         ImageKind::Bmp, false, 1 << 30, 64},
        {"24-bit BMP 178956971 wide", MakeBmp([] { BmpFields s = Fields(40, 178956971, 64, 24); s.rowsPresent = 0; return s; }()),
         ImageKind::Bmp, false, 178956971, 64},
        {"BMP with fewer rows than promised", MakeBmp(shortRows), ImageKind::Bmp, false, 100, 50},
        {"BMP 0 wide", MakeBmp(Fields(40, 0, 7, 1)), ImageKind::Bmp, false, 0, 7},
        {"BMP 0 high", MakeBmp(Fields(40, 10, 0, 1)), ImageKind::Bmp, false, 10, 0},
        {"BMP -10 wide", MakeBmp(Fields(40, -10, 7, 1)), ImageKind::Bmp, false, -10, 7},
        {"BMP -2^31 high", Changed(MakeBmp(Fields(40, 10, 7, 1)), 22, 0x80000000u, 4, false), ImageKind::Bmp, false, 10,
         0x80000000ll},
        {"BMP with 0 planes", MakeBmp(noPlanes), ImageKind::Bmp, false, 10, 7},
        {"BMP of 7 bits", MakeBmp(Fields(40, 10, 7, 7)), ImageKind::Bmp, false, 10, 7},
        {"run-length 8 on 24 bits", MakeBmp(Fields(40, 10, 7, 24, 1)), ImageKind::Bmp, false, 10, 7},
        {"run-length top-down", MakeBmp(Fields(40, 10, -7, 8, 1)), ImageKind::Bmp, false, 10, 7},
        {"BMP compression 4 (embedded JPEG)", MakeBmp(Fields(40, 10, 7, 24, 4)), ImageKind::Bmp, false, 10, 7},
        {"BMP info header of 41 bytes", Changed(MakeBmp(Fields(40, 10, 7, 1)), 14, 41, 4, false), ImageKind::Bmp, false,
         0, 0},
        {"BMP pixel data inside the header", Changed(MakeBmp(Fields(40, 10, 7, 1)), 10, 20, 4, false), ImageKind::Bmp,
         false, 10, 7},
        {"BMP pixel data past the end", Changed(MakeBmp(Fields(40, 10, 7, 1)), 10, 0xFFFFFFFF, 4, false), ImageKind::Bmp,
         false, 10, 7},
        {"BMP of its file header only", Bytes{'B', 'M', 0, 0, 0, 0, 0, 0, 0, 0, 54, 0, 0, 0}, ImageKind::Bmp, false, 0,
         0},
        {"PNG 0 x 0", MakePngHead(0, 0), ImageKind::Png, false, 0, 0},
        {"PNG 2^31 wide", MakePngHead(0x80000000u, 1), ImageKind::Png, false, 0x80000000ll, 1},
        {"PNG with a wrong IHDR CRC", Changed(MakePngHead(100, 50), 32, 0, 1, true), ImageKind::Png, false, 0, 0},
        {"PNG whose first chunk is not IHDR", Changed(MakePngHead(100, 50), 12, 'i', 1, true), ImageKind::Png, false,
         0, 0},
        {"PNG signature only", Bytes{0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'}, ImageKind::Png, false, 0, 0},
        {"GIF 0 x 50", MakeGifHead(0, 50), ImageKind::Gif, false, 0, 50},
        {"GIF of its signature only", Bytes{'G', 'I', 'F', '8', '7', 'a', 1, 0, 1, 0}, ImageKind::Gif, false, 0, 0},
        {"JPEG without frame", MakeJpeg({JfifSegment(1, 600, 600)}), ImageKind::Jpeg, false, 0, 0},
        {"JPEG frame 0 high", MakeJpeg({FrameSegment(100, 0)}), ImageKind::Jpeg, false, 100, 0},
        {"JPEG frame 0 wide", MakeJpeg({FrameSegment(0, 50)}), ImageKind::Jpeg, false, 0, 50},
        {"JPEG frame cut short", cutFrame, ImageKind::Jpeg, false, 0, 0},
        {"JPEG segment longer than the file",
         Changed(MakeJpeg({Segment(0xE1, Bytes(10, 0)), FrameSegment(100, 50)}), 4, 0xFFFF, 2, true), ImageKind::Jpeg,
         false, 0, 0},
        {"JPEG segment length 1", Changed(MakeJpeg({Segment(0xE1, Bytes(10, 0)), FrameSegment(100, 50)}), 4, 1, 2, true),
         ImageKind::Jpeg, false, 0, 0},
        {"JPEG whose frame comes after the scan", Bytes{0xFF, 0xD8, 0xFF, 0xDA, 0, 2, 0xFF, 0xC0}, ImageKind::Jpeg, false,
         0, 0},
    };
}

}  // namespace

TEST(ImageHeader, TellsSoundFromHostileHeaders)
{
    for (const HeaderCase& c : HeaderCases()) {
        ImageHeader header = Check(c.file).header;
        EXPECT_EQ(header.kind, c.kind) << c.name;
        EXPECT_EQ(header.sound, c.sound) << c.name;
        if (c.sound || c.width != 0) {
            EXPECT_EQ(header.widthPx, c.width) << c.name;
            EXPECT_EQ(header.heightPx, c.height) << c.name;
        }
    }
}

TEST(ImageHeader, JpegSegmentsAreSkippedByTheirLengths)
{
    Bytes file = LargeJpeg();
    Checked checked = Check(file);
    EXPECT_TRUE(checked.header.sound);
    // The walk reads a few blocks around the segment headers, never the 196 KB of APP2 data.
    EXPECT_LT(checked.bytesRead, 32768u) << checked.reads << " reads";
}

// The resolution as Windows reads it from the headers: a JFIF unit's densities win (per centimetre
// converted), else EXIF's, else 96; EXIF's pair is also given on its own where JFIF states no unit.
TEST(ImageHeader, ExifResolutionStandsInOnlyWhereJfifStatesNoUnit)
{
    struct Case { std::string name; Bytes file; double exifDpi, dpi; };
    const Bytes frame = FrameSegment(100, 50);
    const Case cases[] = {
        {"JFIF unit 0", MakeJpeg({JfifSegment(0, 1, 1), Exif600(), frame}), 600, 600},
        {"no JFIF", MakeJpeg({Exif600(), frame}), 600, 600},
        {"EXIF before JFIF unit 0", MakeJpeg({Exif600(), JfifSegment(0, 1, 1), frame}), 600, 600},
        {"JFIF 300 DPI wins", MakeJpeg({JfifSegment(1, 300, 300), Exif600(), frame}), 0, 300},
        {"JFIF per centimetre wins", MakeJpeg({JfifSegment(2, 118, 118), Exif600(), frame}), 0, 118 * 2.54},
        {"second EXIF block ignored", MakeJpeg({ExifSegment(MakeTiff(true, 72, 1, 72, 1, 2)), Exif600(), frame}), 72, 72},
        {"XMP in APP1 is no EXIF", MakeJpeg({Segment(0xE1, Bytes{'h', 't', 't', 'p', 0}), frame}), 0, 96},
        {"malformed EXIF ignored", MakeJpeg({ExifSegment(MakeTiff(false, 600, 0, 600, 1, 2)), frame}), 0, 96},
        {"EXIF after the frame header unseen", MakeJpeg({frame, Exif600()}), 0, 96},
        {"unknown JFIF unit 3", MakeJpeg({JfifSegment(3, 600, 600), Exif600(), frame}), 0, 96},
    };
    for (const Case& c : cases) {
        ImageHeader header = Check(c.file).header;
        EXPECT_TRUE(header.sound) << c.name;
        EXPECT_EQ(header.exifDpiX, c.exifDpi) << c.name;
        EXPECT_EQ(header.exifDpiY, c.exifDpi) << c.name;
        EXPECT_DOUBLE_EQ(header.jpegDpiX, c.dpi) << c.name;
        EXPECT_DOUBLE_EQ(header.jpegDpiY, c.dpi) << c.name;
    }
}

// Pixels are read where they lie only in the layouts whose reading is plain: anything else (no
// stated resolution, a partial palette, run-length or bit-field coding, 16 and 32 bits, core
// headers, a palette overlapping the rows) keeps rowsOffset 0.
TEST(ImageHeader, BmpPixelsAreLaidOutOnlyWhereTheyCanBeReadInPlace)
{
    auto at600 = [](Bytes file) { return Changed(Changed(file, 38, 23622, 4, false), 42, 23622, 4, false); };
    struct Case { std::string name; Bytes file; std::uint64_t rowsOffset, paletteOffset; std::uint32_t stride; bool topDown; };
    const Case cases[] = {
        {"8-bit bottom-up", at600(MakeBmp(Fields(40, 10, 7, 8))), 14 + 40 + 1024, 54, 12, false},
        {"1-bit, all colours counted", Changed(at600(MakeBmp(Fields(40, 33, 7, 1))), 46, 2, 4, false), 14 + 40 + 8, 54, 8, false},
        {"24-bit top-down, V5 header", at600(MakeBmp(Fields(124, 10, -7, 24))), 14 + 124, 14 + 124, 32, true},
        {"no resolution", MakeBmp(Fields(40, 10, 7, 8)), 0, 0, 0, false},
        {"one colour of two", Changed(at600(MakeBmp(Fields(40, 10, 7, 1))), 46, 1, 4, false), 0, 0, 0, false},
        {"rows over the palette", Changed(at600(MakeBmp(Fields(40, 10, 7, 8))), 10, 54 + 1020, 4, false), 0, 0, 0, false},
        {"16 bits", at600(MakeBmp(Fields(40, 10, 7, 16))), 0, 0, 0, false},
        {"32-bit bit fields", at600(MakeBmp(Fields(40, 10, 7, 32, 3))), 0, 0, 0, false},
        {"run-length 8", at600(MakeBmp(Fields(40, 10, 7, 8, 1))), 0, 0, 0, false},
        {"core header", MakeBmp(Fields(12, 10, 7, 24)), 0, 0, 0, false},
    };
    for (const Case& c : cases) {
        ImageHeader header = Check(c.file).header;
        ASSERT_TRUE(header.sound) << c.name;
        EXPECT_EQ(header.bmp.rowsOffset, c.rowsOffset) << c.name;
        if (c.rowsOffset == 0) continue;
        EXPECT_EQ(header.bmp.paletteOffset, c.paletteOffset) << c.name;
        EXPECT_EQ(header.bmp.stride, c.stride) << c.name;
        EXPECT_EQ(header.bmp.topDown, c.topDown) << c.name;
        EXPECT_EQ(header.bmp.pixelsPerMetreX, 23622u) << c.name;
    }
}

namespace {

// A field of a seed header: where it is, how wide, in which byte order, and for PNG whether the
// IHDR CRC is made right again after it changed (so that the values reach the size checks).
struct Field {
    std::size_t at;
    int width;
    bool bigEndian;
    bool fixCrc;
};

struct Seed {
    std::string name;
    Bytes file;
    std::size_t soundFrom;  // shortest cut that keeps every byte the check needs
    std::vector<Field> fields;
};

std::vector<Seed> Seeds()
{
    std::vector<Field> info = {{2, 4, false, false},  {10, 4, false, false}, {14, 4, false, false},
                               {18, 4, false, false}, {22, 4, false, false}, {26, 2, false, false},
                               {28, 2, false, false}, {30, 4, false, false}, {34, 4, false, false},
                               {46, 4, false, false}};
    std::vector<Field> core = {{10, 4, false, false}, {14, 4, false, false}, {18, 2, false, false},
                               {20, 2, false, false}, {22, 2, false, false}, {24, 2, false, false}};
    std::vector<Field> png = {{8, 4, true, false},  {16, 4, true, true}, {20, 4, true, true},
                              {16, 4, true, false}, {24, 1, true, true}, {29, 4, true, false}};
    Bytes tiff = MakeTiff(true, 600, 1, 600, 1, 2);
    Bytes jpeg = MakeJpeg({JfifSegment(0, 1, 1), ExifSegment(tiff), Segment(0xFE, Bytes(40, 'c')),
                           FrameSegment(100, 50)});
    std::vector<Field> segments;
    for (std::size_t at = 4; at + 2 <= jpeg.size(); at += 2) segments.push_back({at, 2, true, false});
    const std::size_t exifStart = 2 + 18 + 4 + 6;  // the TIFF data inside the APP1 segment
    for (std::size_t at = exifStart; at + 4 <= exifStart + tiff.size(); at += 2) segments.push_back({at, 4, true, false});
    std::size_t frameEnd = 2 + 18 + 4 + 6 + tiff.size() + 44 + 19;  // the end of the whole frame header
    Bytes bmp1 = MakeBmp(Fields(40, 10, 7, 1));
    Bytes bmp24 = MakeBmp(Fields(124, 3, -4, 24));
    Bytes bmpCore = MakeBmp(Fields(12, 5, 3, 8));
    Bytes rle = MakeBmp(Fields(40, 40, 30, 4, 2));
    return {
        {"1-bit BMP", bmp1, bmp1.size(), info},
        {"V5 24-bit BMP", bmp24, bmp24.size(), info},
        {"core BMP", bmpCore, bmpCore.size(), core},
        {"run-length BMP", rle, rle.size() - 1, info},
        {"PNG", MakePngHead(100, 50), 33, png},
        {"GIF", MakeGifHead(100, 50), 13, {{6, 2, false, false}, {8, 2, false, false}}},
        {"JPEG", jpeg, frameEnd, segments},
    };
}

}  // namespace

TEST(ImageHeader, AnswersEveryCutOfEverySeed)
{
    for (const Seed& seed : Seeds()) {
        ASSERT_TRUE(Check(seed.file).header.sound) << seed.name;
        for (std::size_t cut = 0; cut <= seed.file.size(); ++cut) {
            Checked checked = Check(Bytes(seed.file.begin(), seed.file.begin() + static_cast<long>(cut)));
            EXPECT_EQ(checked.header.sound, cut >= seed.soundFrom) << seed.name << " cut at " << cut;
        }
    }
}

TEST(ImageHeader, AnswersEveryFieldAtItsEdges)
{
    const std::uint64_t edges[] = {0, 1, 0xFFFFFFFF, 1u << 15, 1u << 16, 0x7FFFFFFF, 0x80000000u, 0xFFFFFFFF - 1};
    std::size_t runs = 0;
    for (const Seed& seed : Seeds()) {
        for (const Field& field : seed.fields) {
            for (std::uint64_t edge : edges) {
                for (std::int64_t nudge : {-1, 0, 1}) {
                    Bytes file = Changed(seed.file, field.at, edge + static_cast<std::uint64_t>(nudge), field.width,
                                         field.bigEndian);
                    if (field.fixCrc) FixPngCrc(file);
                    Checked checked = Check(file);
                    ++runs;
                    const ImageHeader& header = checked.header;
                    std::string where = seed.name + " field at " + std::to_string(field.at) + " = " +
                                        std::to_string(edge + static_cast<std::uint64_t>(nudge));
                    EXPECT_LE(checked.reads, file.size() + 2) << where;
                    if (header.sound) {
                        EXPECT_TRUE(header.widthPx >= 1 && header.widthPx <= 0x7FFFFFFF) << where;
                        EXPECT_TRUE(header.heightPx >= 1 && header.heightPx <= 0x7FFFFFFF) << where;
                    }
                    EXPECT_EQ(header.exifDpiX > 0, header.exifDpiY > 0) << where;
                }
            }
        }
    }
    EXPECT_GT(runs, 2000u);
}
