// Corner margins on real files: which edges move at each corner, the bit-exact placement of the
// page after any left offset, white padding, the resolution used, and the refusals.
#include "test_support.h"

#include "imaging/operations.h"

#include <functional>

namespace {

using Pattern = std::function<bool(int x, int y)>;

// Frame plus a slanted hatch: every edge and every bit position of a byte is traceable.
bool Hatch(int x, int y, int width, int height)
{
    return x == 0 || y == 0 || x == width - 1 || y == height - 1 || (x * 5 + y * 3) % 7 == 0;
}

// Where the source rectangle [left, left + keptWidth) x [top, top + keptHeight) lands at
// (padLeft, padTop) of an otherwise white page of `expectedWidth` x `expectedHeight`.
struct Placement {
    int expectedWidth, expectedHeight, left, top, keptWidth, keptHeight, padLeft, padTop;
};

// Checks the result at `path` strictly as a 1-bit BMP of the expected size and resolution, then its pixels.
void ExpectPlaced(const std::string& path, const Pattern& source, const Placement& at, const std::string& label,
                  int ppmX = 23622, int ppmY = 23622)
{
    SCOPED_TRACE(label);
    MonoPage page = ExpectMonochromeBmp(path, at.expectedWidth, at.expectedHeight, ppmX, ppmY);
    ASSERT_EQ(page.width, at.expectedWidth) << label;
    ASSERT_EQ(page.height, at.expectedHeight) << label;
    int wrong = 0;
    for (int y = 0; y < page.height; ++y) {
        for (int x = 0; x < page.width; ++x) {
            int sx = x - at.padLeft, sy = y - at.padTop;
            bool inside = sx >= 0 && sy >= 0 && sx < at.keptWidth && sy < at.keptHeight;
            bool expected = inside && source(sx + at.left, sy + at.top);
            if (page.At(x, y) != expected && wrong++ < 5) {
                ADD_FAILURE() << label << ": pixel (" << x << ", " << y << ") is " << (expected ? "white" : "black")
                              << (inside ? "" : " in the padding");
            }
        }
    }
    EXPECT_EQ(wrong, 0) << label;
}

std::string WriteInput(const std::string& folder, const std::string& name, const std::vector<unsigned char>& bytes)
{
    std::string path = folder + "\\" + name;
    WriteBytes(path, bytes);
    return path;
}

void ExpectSavedWithBackup(const std::string& path, const std::string& backupName)
{
    ASSERT_EQ(Messages().size(), 1u) << path;
    EXPECT_EQ(Messages()[0].text, "Margins modified and saved!\nBackup created: " + backupName);
    EXPECT_EQ(Messages()[0].caption, "Success");
    EXPECT_EQ(Messages()[0].type, static_cast<UINT>(MB_ICONINFORMATION));
    EXPECT_EQ(Messages()[0].owner, nullptr);
}

void ExpectRefusedUnchanged(const std::string& path, const std::vector<unsigned char>& before, const std::string& label)
{
    ASSERT_EQ(Messages().size(), 1u) << label;
    EXPECT_EQ(Messages()[0].text, "Error processing the image") << label;
    EXPECT_EQ(Messages()[0].caption, "Error") << label;
    EXPECT_EQ(Messages()[0].type, static_cast<UINT>(MB_ICONERROR)) << label;
    EXPECT_EQ(ReadBytes(path), before) << label << ": the file must stay as it was";
    std::string backup = path.substr(0, path.size() - 4) + "1.bmp";
    EXPECT_EQ(ReadBytes(backup), before) << label << ": the backup stays";
}


const char* CornerName(Corner corner)
{
    static const char* names[] = {"TopLeft", "TopRight", "BottomLeft", "BottomRight"};
    return names[corner];
}

}  // namespace

// Runs both margins at `tenths` on a 61 x 37 page at each corner and checks where the page lands.
// `placement` gives it for a corner from whether that corner's edges are the right and bottom ones.
template <class Placement>
static void ExpectEachCorner(int tenths, Placement placement)
{
    std::string folder = ScratchFolder();
    const int width = 61, height = 37;
    Pattern source = [&](int x, int y) { return Hatch(x, y, width, height); };
    for (Corner corner : {TopLeft, TopRight, BottomLeft, BottomRight}) {
        ClearMessages();
        std::string name = std::string(CornerName(corner)) + ".bmp";
        std::string path = WriteInput(folder, name, MonoBmpBytes(width, height, source));
        AdjustMargins(path.c_str(), corner, tenths, tenths);
        ExpectSavedWithBackup(path, std::string(CornerName(corner)) + "1.bmp");
        bool right = corner == TopRight || corner == BottomRight;
        bool bottom = corner == BottomLeft || corner == BottomRight;
        ExpectPlaced(path, source, placement(width, height, right, bottom), name);
    }
}

TEST(AdjustMargins, PositiveMarginsPadTheTwoEdgesOfEachCorner)
{
    // 10 tenths are 24 pixels at 599 and 600 DPI: whole bytes on the left, so the aligned copy runs.
    ExpectEachCorner(10, [](int width, int height, bool right, bool bottom) {
        return Placement{width + 24, height + 24, 0, 0, width, height, right ? 0 : 24, bottom ? 0 : 24};
    });
}

TEST(AdjustMargins, NegativeMarginsCropTheTwoEdgesOfEachCornerOnePixelShort)
{
    // -10 tenths remove 23 pixels at 599 and 600 DPI, not 24.
    ExpectEachCorner(-10, [](int width, int height, bool right, bool bottom) {
        return Placement{width - 23, height - 23, right ? 0 : 23, bottom ? 0 : 23, width - 23, height - 23, 0, 0};
    });
}

TEST(AdjustMargins, OneEdgePadsWhileTheOtherCrops)
{
    std::string folder = ScratchFolder();
    const int width = 45, height = 30;
    Pattern source = [&](int x, int y) { return Hatch(x, y, width, height); };
    struct Case { Corner corner; int horizontal, vertical; Placement placement; };
    // TopRight -10, 10: 23 columns off the right, 24 white rows on top. BottomLeft 1, -1: 2 white
    // columns on the left (a bit shift), one row off the bottom. TopLeft -1, 1: a 1-column crop
    // (a bit shift the other way) under 2 white rows.
    for (Case c : {Case{TopRight, -10, 10, {width - 23, height + 24, 0, 0, width - 23, height, 0, 24}},
                   Case{BottomLeft, 1, -1, {width + 2, height - 1, 0, 0, width, height - 1, 2, 0}},
                   Case{TopLeft, -1, 1, {width - 1, height + 2, 1, 0, width - 1, height, 0, 2}}}) {
        ClearMessages();
        std::string name = std::string(CornerName(c.corner)) + ".bmp";
        std::string path = WriteInput(folder, name, MonoBmpBytes(width, height, source));
        AdjustMargins(path.c_str(), c.corner, c.horizontal, c.vertical);
        ExpectSavedWithBackup(path, std::string(CornerName(c.corner)) + "1.bmp");
        ExpectPlaced(path, source, c.placement, name);
    }
}

TEST(AdjustMargins, PaddingWithoutLeftOffsetCopiesWholeBytesAndStaysWhite)
{
    std::string folder = ScratchFolder();
    // A 10-pixel row fills two bytes, six bits unused; the file sets them, and a black last column
    // sits right next to the white added on the right.
    const int width = 10, height = 6;
    Pattern source = [](int x, int y) { return x == 9 || x == 0 || (x + y) % 3 == 0; };
    struct Case { Corner corner; int horizontal, vertical; Placement placement; };
    for (Case c : {Case{BottomRight, 0, 10, {width, height + 24, 0, 0, width, height, 0, 0}},
                   Case{TopRight, 10, 10, {width + 24, height + 24, 0, 0, width, height, 0, 24}},
                   Case{BottomRight, 4, 0, {width + 9, height, 0, 0, width, height, 0, 0}}}) {
        ClearMessages();
        std::string name = std::string(CornerName(c.corner)) + std::to_string(c.horizontal) + ".bmp";
        std::string path = WriteInput(folder, name, MonoBmpBytes(width, height, source));
        AdjustMargins(path.c_str(), c.corner, c.horizontal, c.vertical);
        ASSERT_EQ(Messages().size(), 1u);
        ExpectPlaced(path, source, c.placement, name);
    }
}

TEST(AdjustMargins, ZeroMarginsRewriteAOneBitFileAtTheSameSizeAndResolution)
{
    std::string folder = ScratchFolder();
    const int width = 70, height = 7;
    Pattern source = [&](int x, int y) { return Hatch(x, y, width, height); };
    // Black first in the input's palette: the output is white first whatever the input held.
    std::vector<unsigned char> input = MonoBmpBytes(width, height, source, 23622, 23622, true);
    std::string path = WriteInput(folder, "page.bmp", input);
    AdjustMargins(path.c_str(), BottomRight, 0, 0);
    ExpectSavedWithBackup(path, "page1.bmp");
    EXPECT_EQ(ReadBytes(folder + "\\page1.bmp"), input);
    ExpectPlaced(path, source, {width, height, 0, 0, width, height, 0, 0}, "page.bmp");
}

TEST(AdjustMargins, ColourIsThresholdedOnBlueAloneThenCropped)
{
    std::string folder = ScratchFolder();
    // Pure blue is white, yellow black, grey 128 white, grey 127 black: only blue counts.
    const int width = 40, height = 30;
    const unsigned colours[] = {0x0000FF, 0xFFFF00, 0x808080, 0x7F7F7F};
    BitmapPtr rgb = MakeRgbImage(width, height, [&](int x, int y) { return colours[(x + 2 * y) % 4]; });
    std::string path = folder + "\\colour.bmp";
    SaveImageFile(*rgb, path, L"image/bmp");
    ASSERT_EQ(ReadBmpHeader(ReadBytes(path)).bitCount, 24);
    AdjustMargins(path.c_str(), TopLeft, -10, -10);
    ExpectSavedWithBackup(path, "colour1.bmp");
    Pattern black = [](int x, int y) { return (x + 2 * y) % 2 == 1; };
    ExpectPlaced(path, black, {width - 23, height - 23, 23, 23, width - 23, height - 23, 0, 0},
                 "colour.bmp");
}

TEST(AdjustMargins, ImageMagickFilesOfEveryKindComeOutAsTheirBlueThreshold)
{
    std::string folder = ScratchFolder();
    // The fixtures' pictures (100 x 50): the B/W one, and the colour one whose top half (red, green)
    // has no blue. The grey file's row 10 runs through the greys, black up to x = 49.
    Pattern mono = [](int x, int y) { return (x < 8 && y < 4) || (x >= 96 && y >= 47) || (7 * x + 3 * y) % 11 == 0; };
    Pattern grey = [&](int x, int y) { return y == 10 ? x < 50 : mono(x, y); };
    Pattern colour = [](int, int y) { return y < 25; };
    struct Fixture { const char* name; Pattern black; };
    struct Case { Corner corner; int horizontal, vertical; Placement placement; };
    // BottomRight -10, 10: 23 columns off the right, 24 white rows below. TopLeft 3, -1: 7 white
    // columns on the left, one row off the top.
    for (const Fixture& f : {Fixture{"mono_white_first_600.bmp", mono}, Fixture{"mono_black_first_600.bmp", mono},
                             Fixture{"grey8_600.bmp", grey}, Fixture{"rgb24_600.bmp", colour}}) {
        for (Case c : {Case{BottomRight, -10, 10, {77, 74, 0, 0, 77, 50, 0, 0}},
                       Case{TopLeft, 3, -1, {107, 49, 0, 1, 100, 49, 7, 0}}}) {
            ClearMessages();
            std::string label = std::string(f.name) + " at " + CornerName(c.corner);
            std::string path = CopyFixture(f.name, folder, std::string(CornerName(c.corner)) + "_" + f.name);
            AdjustMargins(path.c_str(), c.corner, c.horizontal, c.vertical);
            ASSERT_EQ(Messages().size(), 1u) << label;
            EXPECT_EQ(Messages()[0].caption, "Success") << label;
            ExpectPlaced(path, f.black, c.placement, label);
        }
    }
}

TEST(AdjustMargins, BothMarginsUseTheTruncatedHorizontalResolution)
{
    std::string folder = ScratchFolder();
    const int width = 12, height = 5;
    Pattern source = [&](int x, int y) { return Hatch(x, y, width, height); };
    // Pixels per metre: 23610 is 599.7 DPI, 23638 is 600.4, 23623 is 600.02. A 600-DPI BMP stores
    // 23622, which reads back as 599.9988 and so converts at 599 DPI too. 500 tenths are 1179 pixels
    // at 599 DPI and 1181 at 600; the vertical resolution plays no part.
    struct Case { int ppmX, ppmY, pixels; };
    for (Case c : {Case{23610, 23638, 1179}, Case{23623, 23610, 1181}, Case{23622, 23622, 1179}}) {
        ClearMessages();
        std::string name = "dpi" + std::to_string(c.ppmX) + ".bmp";
        std::string path = WriteInput(folder, name, MonoBmpBytes(width, height, source, c.ppmX, c.ppmY));
        AdjustMargins(path.c_str(), TopLeft, 500, 500);
        ExpectSavedWithBackup(path, "dpi" + std::to_string(c.ppmX) + "1.bmp");
        // The result keeps the source's resolution pair, as pixels per metre.
        ExpectPlaced(path, source, {width + c.pixels, height + c.pixels, 0, 0, width, height, c.pixels, c.pixels},
                     name, c.ppmX, c.ppmY);
    }
}

TEST(AdjustMargins, CropThatLeavesNoColumnOrRowIsRefusedAndTheFileKept)
{
    std::string folder = ScratchFolder();
    // -10 tenths remove 23 pixels: a page 23 wide or high has nothing left, one 24 high keeps a row.
    Pattern source = [](int x, int y) { return (x + y) % 2 == 0; };
    struct Case { Corner corner; int width, height, horizontal, vertical; };
    for (Case c : {Case{TopLeft, 23, 40, -10, 0}, Case{TopRight, 20, 40, -10, 10}, Case{BottomLeft, 40, 23, 5, -10},
                   Case{BottomRight, 40, 10, 0, -500}}) {
        ClearMessages();
        std::string label = CornerName(c.corner);
        std::vector<unsigned char> input = MonoBmpBytes(c.width, c.height, source);
        std::string path = WriteInput(folder, label + ".bmp", input);
        AdjustMargins(path.c_str(), c.corner, c.horizontal, c.vertical);
        ExpectRefusedUnchanged(path, input, label);
    }
    ClearMessages();
    std::string path = WriteInput(folder, "row.bmp", MonoBmpBytes(40, 24, source));
    AdjustMargins(path.c_str(), BottomLeft, 0, -10);
    ExpectSavedWithBackup(path, "row1.bmp");
    ExpectPlaced(path, source, {40, 1, 0, 0, 40, 1, 0, 0}, "row.bmp");
}

TEST(AdjustMargins, PageTooLargeToPadIsReportedAndTheFileKept)
{
    std::string folder = ScratchFolder();
    // A 1 x 606000 page is small, but 1179 white columns and rows make one that the pixel buffers
    // cannot hold: the padded image cannot be created.
    std::vector<unsigned char> input = MonoBmpBytes(1, 606000, [](int, int y) { return y % 2 == 0; });
    std::string path = WriteInput(folder, "tall.bmp", input);
    AdjustMargins(path.c_str(), TopLeft, 500, 500);
    ExpectRefusedUnchanged(path, input, "tall.bmp");
}

TEST(AdjustMargins, SaveFailureShowsItsStatusAndKeepsTheFile)
{
    std::string folder = ScratchFolder();
    std::vector<unsigned char> input = MonoBmpBytes(16, 16, [](int x, int y) { return x == y; });
    std::string path = WriteInput(folder, "held.bmp", input);
    // Another program reading the file without sharing delete access: it can be read, not replaced.
    HANDLE held = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    AdjustMargins(path.c_str(), TopLeft, 10, 10);
    CloseHandle(held);
    ASSERT_EQ(Messages().size(), 1u);
    EXPECT_EQ(Messages()[0].text, "Failed to save image. Status: 7");  // Win32Error: it cannot be replaced
    EXPECT_EQ(Messages()[0].caption, "Error");
    EXPECT_EQ(ReadBytes(path), input);
    EXPECT_EQ(FolderEntries(folder), std::vector<std::string>{"held.bmp"}) << "refused before the backup";
}
