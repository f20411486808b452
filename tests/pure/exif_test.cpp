// The EXIF resolution reader on sound blocks of both byte orders and units, on hostile blocks, and on
// a block cut at every byte; each block is read from a heap copy of its exact size. The pixel size
// writer on the same kinds of blocks.
#include "imaging/kernels/exif.h"

#include "header_bytes.h"

#include <gtest/gtest.h>

#include <string>

namespace {

ExifResolution Read(const Bytes& tiff)
{
    Bytes exact(tiff);  // exact size, so that the sanitizer sees any read past the end
    return ReadExifResolution(exact.data(), exact.size());
}

const std::size_t kUnitValue = 10 + 12 * 2 + 8;  // value field of entry 2, the unit
const std::size_t kXOffset = 10 + 8;              // value field of entry 0: where XResolution's rational is

Bytes With(Bytes tiff, std::size_t at, std::uint64_t value, int width)
{
    PutUnsigned(tiff, at, value, width, tiff[0] == 'M');
    return tiff;
}

// TIFF data as cameras and scanners write it: IFD0 holding only the pointer to the Exif IFD and a link
// to IFD1 (a thumbnail's, empty here); the Exif IFD with PixelXDimension as a SHORT and
// PixelYDimension as a LONG.
Bytes PixelSizeBlock(bool bigEndian, std::uint16_t widthPx, std::uint32_t heightPx, std::uint32_t ifd1)
{
    Bytes tiff{bigEndian ? std::uint8_t('M') : std::uint8_t('I'), bigEndian ? std::uint8_t('M') : std::uint8_t('I')};
    for (auto [value, width] : {std::pair<std::uint64_t, int>{42, 2}, {8, 4}, {1, 2}, {0x8769, 2}, {4, 2}, {1, 4},
                                {26, 4}, {ifd1, 4}, {2, 2}, {0xA002, 2}, {3, 2}, {1, 4}, {widthPx, 2}, {0, 2},
                                {0xA003, 2}, {4, 2}, {1, 4}, {heightPx, 4}, {0, 4}, {0, 2}, {0, 4}}) {
        Append(tiff, value, width, bigEndian);
    }
    return tiff;
}

// PixelSizeBlock with IFD1 (at 56) naming a 4-byte JPEG thumbnail right after it, at 86, then
// `trailing` bytes of something else.
Bytes ThumbnailBlock(bool bigEndian, std::size_t trailing)
{
    Bytes tiff = PixelSizeBlock(bigEndian, 64, 48, 56);
    tiff.resize(56);
    for (auto [value, width] : {std::pair<std::uint64_t, int>{2, 2}, {0x0201, 2}, {4, 2}, {1, 4}, {86, 4}, {0x0202, 2},
                                {4, 2}, {1, 4}, {4, 4}, {0, 4}, {0xFFD8FFD9, 4}}) {
        Append(tiff, value, width, bigEndian);
    }
    tiff.resize(tiff.size() + trailing, 7);
    return tiff;
}

}  // namespace

// A result's resolution goes into the rationals and the unit (inch), in both byte orders; a block
// without a unit entry gets none. The pixel size follows the result in both byte orders and both
// types, the thumbnail's IFD is unlinked, its JPEG thumbnail dropped and no other byte changes. On blocks cut short or with any
// field at its edges, nothing is written outside the block (exact-size copies, under the sanitizer).
TEST(ExifWriter, ResolutionAndPixelSizeFollowTheResultAndTheThumbnailGoes)
{
    for (bool bigEndian : {false, true}) {
        Bytes tiff = MakeTiff(bigEndian, 300, 1, 254, 1, 3);
        SetExifResolution(tiff.data(), tiff.size(), 600, 599);
        EXPECT_EQ(tiff, MakeTiff(bigEndian, 600, 1, 599, 1, 2)) << bigEndian;
        tiff = MakeTiff(bigEndian, 300, 7, 300, 7, 0);
        SetExifResolution(tiff.data(), tiff.size(), 600, 600);
        EXPECT_EQ(tiff, MakeTiff(bigEndian, 600, 1, 600, 1, 0)) << bigEndian;
    }
    const std::uint64_t edges[] = {0, 1, 0xFFFFFFFF, 1u << 15, 0x7FFFFFFF, 0x80000000u, 0xFFFFFFFE};
    for (bool bigEndian : {false, true}) {
        Bytes tiff = PixelSizeBlock(bigEndian, 64, 48, 56);
        SetExifPixelSizeDroppingThumbnail(tiff.data(), tiff.size(), 48, 70000);
        EXPECT_EQ(tiff, PixelSizeBlock(bigEndian, 48, 70000, 0)) << bigEndian;
        // A width that a SHORT cannot hold leaves that field as it was.
        SetExifPixelSizeDroppingThumbnail(tiff.data(), tiff.size(), 70000, 64);
        EXPECT_EQ(tiff, PixelSizeBlock(bigEndian, 48, 64, 0)) << bigEndian;
        // The thumbnail's bytes go: cut where they end the block, zeroed where something follows; not
        // where IFD1 names bytes of an IFD.
        for (std::size_t trailing : {0, 2}) {
            Bytes withThumbnail = ThumbnailBlock(bigEndian, trailing), expected = withThumbnail;
            PutUnsigned(expected, 22, 0, 4, bigEndian);  // IFD0's link
            PutUnsigned(expected, 86, 0, 4, bigEndian);
            std::size_t kept = SetExifPixelSizeDroppingThumbnail(withThumbnail.data(), withThumbnail.size(), 64, 48);
            EXPECT_EQ(kept, trailing == 0 ? 86 : withThumbnail.size()) << bigEndian;
            EXPECT_EQ(withThumbnail, expected) << bigEndian << trailing;
        }
        Bytes intoIfd0 = With(ThumbnailBlock(bigEndian, 0), 56 + 2 + 8, 8, 4), expected = intoIfd0;
        PutUnsigned(expected, 22, 0, 4, bigEndian);
        EXPECT_EQ(SetExifPixelSizeDroppingThumbnail(intoIfd0.data(), intoIfd0.size(), 64, 48), intoIfd0.size());
        EXPECT_EQ(intoIfd0, expected) << bigEndian;
        const Bytes sound = PixelSizeBlock(bigEndian, 64, 48, 56);
        for (std::size_t cut = 0; cut < sound.size(); ++cut) {
            Bytes part(sound.begin(), sound.begin() + static_cast<long>(cut));
            SetExifPixelSizeDroppingThumbnail(part.data(), part.size(), 1, 1);
        }
        for (std::size_t at = 0; at + 4 <= sound.size(); at += 2) {
            for (std::uint64_t edge : edges) {
                Bytes changed = With(sound, at, edge, 4);
                SetExifPixelSizeDroppingThumbnail(changed.data(), changed.size(), 1, 1);
                Bytes resolution = With(MakeTiff(bigEndian, 600, 1, 600, 1, 2), at % 40, edge, 4);
                SetExifResolution(resolution.data(), resolution.size(), 1, 1);
            }
        }
    }
}

TEST(ExifResolution, ReadsIfd0InBothByteOrdersAndUnits)
{
    struct Case { std::string name; Bytes tiff; bool found; double dpiX, dpiY; };
    const Bytes inchLittle = MakeTiff(false, 600, 1, 600, 1, 2);
    const Case cases[] = {
        {"little-endian, inch", inchLittle, true, 600, 600},
        {"big-endian, inch", MakeTiff(true, 600, 1, 600, 1, 2), true, 600, 600},
        {"no unit stated means inch", MakeTiff(true, 1200, 2, 300, 1, 0), true, 600, 300},
        {"centimetre", MakeTiff(false, 23622, 100, 11811, 100, 3), true, 599.9988, 299.9994},
        {"72 DPI", MakeTiff(true, 72, 1, 72, 1, 2), true, 72, 72},
        {"unit 1: aspect ratio only", MakeTiff(false, 600, 1, 600, 1, 1), false, 0, 0},
        {"unknown unit 4", MakeTiff(false, 600, 1, 600, 1, 4), false, 0, 0},
        {"zero denominator", MakeTiff(false, 600, 0, 600, 1, 2), false, 0, 0},
        {"zero resolution", MakeTiff(true, 600, 1, 0, 1, 2), false, 0, 0},
        {"not a TIFF header", With(inchLittle, 2, 43, 2), false, 0, 0},
        {"mixed byte-order mark", With(inchLittle, 1, 'M', 1), false, 0, 0},
        {"IFD0 past the end", With(inchLittle, 4, 0xFFFFFFF8u, 4), false, 0, 0},
        {"IFD0 at the last byte", With(inchLittle, 4, inchLittle.size() - 1, 4), false, 0, 0},
        {"IFD0 on the header: 18761 entries", With(inchLittle, 4, 0, 4), false, 0, 0},
        {"entry count past the end", With(inchLittle, 8, 0xFFFF, 2), false, 0, 0},
        {"rational past the end", With(inchLittle, kXOffset, 0xFFFFFFFCu, 4), false, 0, 0},
        {"rational across the end", With(inchLittle, kXOffset, inchLittle.size() - 4, 4), false, 0, 0},
        {"XResolution as a short", With(inchLittle, 12, 3, 2), false, 0, 0},
        {"unit as a long", With(inchLittle, 10 + 24 + 2, 4, 2), false, 0, 0},
        {"only XResolution", With(inchLittle, 10 + 12, 0x9999, 2), false, 0, 0},
        // IFD0 names itself as the next IFD: the reader follows no chain, so the loop costs nothing.
        {"next IFD loops to IFD0", With(inchLittle, 10 + 12 * 3, 8, 4), true, 600, 600},
        {"unit entry value in the second half", With(inchLittle, kUnitValue, 0x00020000, 4), false, 0, 0},
    };
    for (const Case& c : cases) {
        ExifResolution resolution = Read(c.tiff);
        EXPECT_EQ(resolution.found, c.found) << c.name;
        EXPECT_NEAR(resolution.dpiX, c.dpiX, 1e-9) << c.name;
        EXPECT_NEAR(resolution.dpiY, c.dpiY, 1e-9) << c.name;
    }
}

TEST(ExifResolution, BlockCutAtEveryByteIsReadOnlyWhole)
{
    for (bool bigEndian : {false, true}) {
        Bytes tiff = MakeTiff(bigEndian, 600, 1, 600, 1, 2);
        for (std::size_t cut = 0; cut < tiff.size(); ++cut) {
            ExifResolution resolution = Read(Bytes(tiff.begin(), tiff.begin() + static_cast<long>(cut)));
            EXPECT_FALSE(resolution.found) << "cut at " << cut << (bigEndian ? " big" : " little");
        }
        EXPECT_TRUE(Read(tiff).found);
    }
}

TEST(ExifResolution, AnswersEveryValueOfEveryField)
{
    // Every field of both blocks at its edges: never a read outside the block, always an answer
    // with both values positive or neither found.
    const std::uint64_t edges[] = {0, 1, 0xFFFFFFFF, 1u << 15, 1u << 16, 0x7FFFFFFF, 0x80000000u, 0xFFFFFFFE};
    for (bool bigEndian : {false, true}) {
        const Bytes tiff = MakeTiff(bigEndian, 600, 1, 600, 1, 2);
        for (std::size_t at = 0; at + 2 <= tiff.size(); at += 2) {
            for (int width : {2, 4}) {
                if (at + width > tiff.size()) continue;
                for (std::uint64_t edge : edges) {
                    ExifResolution resolution = Read(With(tiff, at, edge, width));
                    EXPECT_EQ(resolution.found, resolution.dpiX > 0 && resolution.dpiY > 0) << at << " " << edge;
                }
            }
        }
    }
}
