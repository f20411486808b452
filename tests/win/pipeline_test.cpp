// The frame every operation shares: backup names, the DPI gate, encoders, the header fix-up and
// the safe save, checked through the real functions and through RotateImage on real files.
#include "test_support.h"

#include "imaging/kernels/monochrome.h"
#include "imaging/operations.h"
#include "messages/texts.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

static unsigned Quadrants(int x, int y)
{
    if (y < 25) return x < 50 ? 0xFF0000 : 0x00FF00;
    return x < 50 ? 0x0000FF : 0xFFFFFF;
}

static std::string MakePng(const std::string& folder, const std::string& name, float dpiX = 600, float dpiY = 600)
{
    std::string path = folder + "\\" + name;
    BitmapPtr image = MakeRgbImage(100, 50, Quadrants, dpiX, dpiY);
    SaveImageFile(*image, path, L"image/png");
    return path;
}

static void ExpectOnlyMessage(const char* text, const char* caption, UINT icon)
{
    ASSERT_EQ(Messages().size(), 1u);
    EXPECT_EQ(Messages()[0].text, text);
    EXPECT_EQ(Messages()[0].caption, caption);
    EXPECT_EQ(Messages()[0].type, icon);
    EXPECT_EQ(Messages()[0].owner, nullptr);
}

TEST(BackupName, TakesTheFirstFreeNumberAndIsShownInTheReport)
{
    std::string folder = ScratchFolder();
    std::string path = MakePng(folder, "page.png");
    WriteBytes(folder + "\\page1.png", {1});
    WriteBytes(folder + "\\page2.png", {2});
    std::vector<unsigned char> original = ReadBytes(path);

    RotateImage(path.c_str(), 90);

    ExpectOnlyMessage("Image rotated and saved!\nBackup created: page3.png", "Success", MB_ICONINFORMATION);
    EXPECT_EQ(ReadBytes(folder + "\\page3.png"), original);
    EXPECT_EQ(ReadBytes(folder + "\\page1.png"), std::vector<unsigned char>{1});
}

TEST(BackupName, KeepsTheLastDotsExtension)
{
    char backup[MAX_PATH];
    GetBackupFilename("C:\\nowhere-lumivex\\scan.old.png", backup, MAX_PATH);
    EXPECT_STREQ(backup, "C:\\nowhere-lumivex\\scan.old1.png");
}

TEST(BackupName, AllNumbersTakenMeansNoBackupAndNoWrite)
{
    std::string folder = ScratchFolder();
    std::string path = MakePng(folder, "p.png");
    for (int n = 1; n <= 999; ++n) WriteBytes(folder + "\\p" + std::to_string(n) + ".png", {9});
    std::vector<unsigned char> original = ReadBytes(path);

    RotateImage(path.c_str(), 90);

    ExpectOnlyMessage("Failed to create backup", "Error", MB_ICONERROR);
    EXPECT_EQ(ReadBytes(path), original);
    EXPECT_EQ(ReadBytes(folder + "\\p999.png"), std::vector<unsigned char>{9});
    EXPECT_EQ(FolderEntries(folder).size(), 1000u);
}

TEST(BackupName, CandidateThatDoesNotFitEndsTheSearch)
{
    std::string folder = ScratchFolder();
    std::string path = folder + "\\";
    path += std::string(258 - path.size() - 4, 'n') + ".png";
    ASSERT_EQ(path.size(), 258u);
    WriteBytes(path, {0});
    char backup[MAX_PATH];
    for (int n = 1; n <= 9; ++n) {
        GetBackupFilename(path.c_str(), backup, MAX_PATH);
        ASSERT_EQ(std::strlen(backup), 259u);
        WriteBytes(backup, {0});
    }
    GetBackupFilename(path.c_str(), backup, MAX_PATH);
    EXPECT_STREQ(backup, "");
}

TEST(DpiGate, PassesHalfADotEitherSideOf600)
{
    struct Case { float x, y; bool passes; const char* shown; };
    const Case cases[] = {
        {599.5f, 600.0f, true, ""},
        {600.0f, 600.5f, true, ""},
        {599.4f, 600.0f, false, "Detected resolution: 599 x 600 DPI"},
        {600.0f, 600.6f, false, "Detected resolution: 600 x 601 DPI"},
        {72.0f, 72.0f, false, "Detected resolution: 72 x 72 DPI"},
        {300.0f, 600.0f, false, "Detected resolution: 300 x 600 DPI"},
    };
    for (const Case& c : cases) {
        ClearMessages();
        BitmapPtr image = MakeRgbImage(2, 2, [](int, int) { return 0u; }, c.x, c.y);
        EXPECT_EQ(IsValidDPI(image.get()), c.passes) << c.x << " x " << c.y;
        if (c.passes) {
            EXPECT_TRUE(Messages().empty());
            continue;
        }
        ASSERT_EQ(Messages().size(), 1u);
        EXPECT_NE(Messages()[0].text.find(c.shown), std::string::npos) << Messages()[0].text;
        EXPECT_EQ(Messages()[0].text.find("The image must have a resolution of 600 DPI.\n"), 0u);
        EXPECT_EQ(Messages()[0].type, static_cast<UINT>(MB_ICONERROR));
    }
}

TEST(DpiGate, RefusedFileGetsNoBackupAndStaysAsItWas)
{
    std::string folder = ScratchFolder();
    std::string path = MakePng(folder, "low.png", 300, 600);
    std::vector<unsigned char> original = ReadBytes(path);

    RotateImage(path.c_str(), 90);

    ASSERT_EQ(Messages().size(), 1u);
    EXPECT_NE(Messages()[0].text.find("300 x 600"), std::string::npos);
    EXPECT_EQ(ReadBytes(path), original);
    EXPECT_EQ(FolderEntries(folder), std::vector<std::string>{"low.png"});
}

// Scanners state the resolution of a JPEG in EXIF and leave the JFIF unit at 0, or write no JFIF
// segment at all. Windows reads the EXIF pair for such a file; so does the program where the decoder
// does not, and every image it makes carries the pair. A JFIF unit wins over EXIF, as on Windows.
TEST(DpiGate, JpegResolutionStatedInExifIsReadAsWindowsReadsIt)
{
    struct Case {
        const char* fixture;
        bool scale;
        const char* shown;  // the message, with the backup's name for a success
        int width, height;  // of the result
    };
    const Case cases[] = {
        {"colour_exif_600.jpg", false, "Image rotated and saved!\nBackup created: colour_exif_6001.jpg", 50, 100},
        {"colour_exif_only_600.jpg", false, "Image rotated and saved!\nBackup created: colour_exif_only_6001.jpg", 50,
         100},
        {"colour_exif_600.jpg", true, "Image scaled and saved!\nBackup created: colour_exif_6001.jpg", 200, 50},
        {"colour_exif_only_600.jpg", true, "Image scaled and saved!\nBackup created: colour_exif_only_6001.jpg", 200,
         50},
        {"colour_exif_72.jpg", false,
         "The image must have a resolution of 600 DPI.\nDetected resolution: 72 x 72 DPI", 0, 0},
        {"colour_jfif300_exif600.jpg", true,
         "The image must have a resolution of 600 DPI.\nDetected resolution: 300 x 300 DPI", 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.fixture) + (c.scale ? " scaled" : " turned"));
        std::string folder = ScratchFolder();
        std::string path = CopyFixture(c.fixture, folder);
        ClearMessages();
        if (c.scale) ScaleImage(path.c_str(), 2.0, 1.0);
        else RotateImage(path.c_str(), 90);
        bool passes = c.width != 0;
        ExpectOnlyMessage(c.shown, passes ? "Success" : "Error", passes ? MB_ICONINFORMATION : MB_ICONERROR);
        if (!passes) {
            EXPECT_EQ(ReadBytes(path), ReadBytes(FixturePath(c.fixture)));
            EXPECT_EQ(FolderEntries(folder).size(), 1u);
            continue;
        }
        JpegFacts result = ReadJpegFacts(ReadBytes(path));
        EXPECT_EQ(result.unit, 1);
        EXPECT_EQ(result.densityX, 600);
        EXPECT_EQ(result.densityY, 600);
        EXPECT_EQ(result.width, c.width);
        EXPECT_EQ(result.height, c.height);
        ClearMessages();
        RotateImage(path.c_str(), -90);
        ASSERT_EQ(Messages().size(), 1u);
        EXPECT_EQ(Messages()[0].caption, "Success") << "the result is accepted again: " << Messages()[0].text;
    }
}

TEST(LoadFailure, UndecodableFilesAndFoldersAreRefusedBeforeTheBackup)
{
    std::string folder = ScratchFolder();
    std::string text = folder + "\\notes.png";
    WriteBytes(text, {'h', 'e', 'l', 'l', 'o'});
    CreateDirectoryA((folder + "\\album.png").c_str(), nullptr);
    for (const std::string& path : {text, folder + "\\album.png", folder + "\\missing.png"}) {
        ClearMessages();
        RotateImage(path.c_str(), 90);
        ExpectOnlyMessage("Error processing the image", "Error", MB_ICONERROR);
    }
    EXPECT_EQ(FolderEntries(folder), (std::vector<std::string>{"album.png", "notes.png"}));
    EXPECT_EQ(ReadBytes(text).size(), 5u);
}

TEST(LoadFailure, PixelBuffersBeyond32BitSizesAreRefused)
{
    EXPECT_TRUE(FitsPixelBuffers(4961, 7016));
    EXPECT_TRUE(FitsPixelBuffers(1, 715827882));   // 2^31 - 2 bytes
    EXPECT_FALSE(FitsPixelBuffers(1, 715827883));  // 2^31 + 1 bytes
    EXPECT_FALSE(FitsPixelBuffers(50000, 14317));
    EXPECT_FALSE(FitsPixelBuffers(0, 10));
}

// Files whose headers are broken or extreme (tests/fixtures/README.md), each dropped on every operation
// that takes its kind: one error box, no backup, no temporary file, the file as it was. A decoder fault
// on any of them ends the test program; the last line it printed names the file and the operation.
TEST(LoadFailure, HostileFilesAreRefusedByEveryOperationAndLeftAsTheyWere)
{
    struct Operation {
        const char* name;
        bool bmpOnly;
        void (*run)(const char* path);
    };
    const Operation operations[] = {
        {"rotation", false, [](const char* path) { RotateImage(path, 90); }},
        {"scaling", false, [](const char* path) { ScaleImage(path, 0.5, 0.5); }},
        {"erosion", true, [](const char* path) { ErodeImage(path, 1); }},
        {"margins", true, [](const char* path) { AdjustMargins(path, TopLeft, 10, 10); }},
    };
    const char* const files[] = {"hostile_wrapped_1bit.bmp", "hostile_wrapped_24bit.bmp", "hostile_short_rows.bmp",
                                 "hostile_zero_size.png",    "hostile_no_frame.jpg",      "hostile_zero_height.jpg",
                                 "hostile_zero_size.gif"};
    std::string folder = ScratchFolder();
    for (const char* file : files) {
        for (const Operation& operation : operations) {
            if (operation.bmpOnly && !std::strstr(file, ".bmp")) continue;
            SCOPED_TRACE(std::string(file) + " through " + operation.name);
            std::printf("%s through %s\n", file, operation.name);
            std::fflush(stdout);
            ClearMessages();
            std::string path = CopyFixture(file, folder);
            operation.run(path.c_str());
            ExpectOnlyMessage("Error processing the image", "Error", MB_ICONERROR);
            EXPECT_EQ(ReadBytes(path), ReadBytes(FixturePath(file)));
            EXPECT_EQ(FolderEntries(folder), std::vector<std::string>{file});
            DeleteFileA(path.c_str());
        }
    }
}

// A page of 20000 x 20000 pixels at 1 bit is small on disk and within the 32-bit pixel buffers:
// its header passes and the page is turned as any other.
TEST(LoadFailure, LargePageSmallOnDiskIsStillProcessed)
{
    std::string folder = ScratchFolder();
    std::string path = folder + "\\large.png";
    {
        BitmapPtr page = NewBitmap(20000, 20000, PixelFormat1bppIndexed, 600, 600);
        ASSERT_TRUE(page);  // the default palette: opaque black and white, so it decodes as 1 bit again
        SaveImageFile(*page, path, L"image/png");
    }
    ASSERT_LT(ReadBytes(path).size(), 1000000u);

    RotateImage(path.c_str(), 90);

    ExpectOnlyMessage("Image rotated and saved!\nBackup created: large1.png", "Success", MB_ICONINFORMATION);
    std::vector<unsigned char> result = ReadBytes(path);
    ASSERT_GE(result.size(), 24u);
    EXPECT_EQ(std::vector<unsigned char>(result.begin() + 12, result.begin() + 24),
              (std::vector<unsigned char>{'I', 'H', 'D', 'R', 0, 0, 0x4E, 0x20, 0, 0, 0x4E, 0x20}));
}

TEST(Encoders, LookupIsExactAndExtensionsIgnoreCase)
{
    CLSID png, bmp;
    EXPECT_GE(GetEncoderClsid(L"image/png", &png), 0);
    EXPECT_GE(GetEncoderClsid(L"image/bmp", &bmp), 0);
    EXPECT_NE(std::memcmp(&png, &bmp, sizeof png), 0);
    EXPECT_EQ(GetEncoderClsid(L"image/PNG", &png), -1);
    EXPECT_EQ(GetEncoderClsid(L"image/tiff-nothing", &png), -1);

    struct Case { const char* path; const wchar_t* mime; bool bmp; };
    const Case cases[] = {
        {"a.png", L"image/png", false},  {"a.PNG", L"image/png", false},   {"a.Bmp", L"image/bmp", true},
        {"a.gif", L"image/gif", false},  {"a.Jpeg", L"image/jpeg", false}, {"a.JPG", L"image/jpeg", false},
        {"a.tif", L"image/jpeg", false}, {"dir.png\\noext", L"image/jpeg", false},
    };
    for (const Case& c : cases) {
        OutputFormat format = OutputFormatFor(c.path);
        EXPECT_STREQ(format.mimeType, c.mime) << c.path;
        EXPECT_EQ(format.monochromeBmp, c.bmp) << c.path;
    }
}

// Which fields change, and for which headers, is PatchMonochromeHeader's test; here the file on disk:
// patched in place and otherwise untouched, other files and one too short for a header left alone.
TEST(FixBMPHeader, PatchesTheOneBitFileInPlaceAndLeavesOthers)
{
    std::string folder = ScratchFolder();
    BitmapPtr colour = MakeRgbImage(10, 7, [](int x, int) { return x < 5 ? 0u : 0xFFFFFFu; });
    SaveImageFile(*colour, folder + "\\colour.bmp", L"image/bmp");
    BitmapPtr mono = ToMonochrome(*colour, 600, 600);
    ASSERT_TRUE(mono);
    SaveImageFile(*mono, folder + "\\mono.bmp", L"image/bmp");
    WriteBytes(folder + "\\short.bmp", {'B', 'M', 0, 0, 0, 0, 0, 0, 0, 0});

    for (const char* name : {"\\colour.bmp", "\\short.bmp"}) {
        std::vector<unsigned char> before = ReadBytes(folder + name);
        FixBMPHeader((folder + name).c_str());
        EXPECT_EQ(ReadBytes(folder + name), before) << name;
    }
    std::vector<unsigned char> expected = ReadBytes(folder + "\\mono.bmp");
    ASSERT_GE(expected.size(), 54u);
    ASSERT_TRUE(PatchMonochromeHeader(expected.data()));
    ASSERT_NE(expected, ReadBytes(folder + "\\mono.bmp")) << "the encoder's header needs no patch";
    FixBMPHeader((folder + "\\mono.bmp").c_str());
    EXPECT_EQ(ReadBytes(folder + "\\mono.bmp"), expected);
}

// The dropped file must survive every failure of the final save byte for byte, with no temporary left.
static void ExpectSaveFailureLeavesFile(const std::string& folder, const std::string& path,
                                        const std::vector<unsigned char>& original)
{
    ExpectOnlyMessage("Error processing the image", "Error", MB_ICONERROR);
    EXPECT_EQ(ReadBytes(path), original);
    std::string name = path.substr(folder.size() + 1);
    std::string backup = name.substr(0, name.size() - 4) + "1" + name.substr(name.size() - 4);
    std::vector<std::string> expected = {backup, name};
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(FolderEntries(folder), expected);
}

TEST(SafeSave, ReadOnlyFileIsLeftAsItWas)
{
    std::string folder = ScratchFolder();
    std::string path = MakePng(folder, "ro.png");
    std::vector<unsigned char> original = ReadBytes(path);
    SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_READONLY);

    RotateImage(path.c_str(), 90);

    SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    ExpectSaveFailureLeavesFile(folder, path, original);
}

TEST(SafeSave, FileLockedByAnotherProgramIsLeftAsItWas)
{
    std::string folder = ScratchFolder();
    std::string path = MakePng(folder, "locked.png");
    std::vector<unsigned char> original = ReadBytes(path);
    // Another program reading the file without letting anyone replace it.
    HANDLE other = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(other, INVALID_HANDLE_VALUE);

    RotateImage(path.c_str(), 90);

    CloseHandle(other);
    ExpectSaveFailureLeavesFile(folder, path, original);
}
