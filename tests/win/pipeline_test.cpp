// The frame every operation shares: backup names, the DPI gate, encoders, the header fix-up, the
// safe save and what it writes, checked through the real functions and the operations on real files.
#include "test_support.h"

#include "imaging/file_calls.h"
#include "imaging/kernels/monochrome.h"
#include "imaging/kernels/palette.h"
#include "imaging/operations.h"
#include "messages/texts.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <map>
#include <tuple>

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

// The last free number is taken; with none left nothing is written. A link that leads nowhere is a
// name taken: the backup must not go where it points.
TEST(BackupName, LastNumberIsTakenAndWithNoneLeftNothingIsWritten)
{
    std::string folder = ScratchFolder();
    std::string path = MakePng(folder, "p.png");
    for (int n = 1; n <= 998; ++n) WriteBytes(folder + "\\p" + std::to_string(n) + ".png", {9});
    char backup[MAX_PATH];
    GetBackupFilename(path.c_str(), backup, MAX_PATH);
    EXPECT_EQ(backup, folder + "\\p999.png");
    if (!MakeDanglingLink(folder + "\\p999.png")) WriteBytes(folder + "\\p999.png", {9});
    size_t entries = FolderEntries(folder).size();  // a link to nothing is not listed everywhere
    std::vector<unsigned char> original = ReadBytes(path);

    RotateImage(path.c_str(), 90);

    ExpectOnlyMessage("Failed to create backup", "Error", MB_ICONERROR);
    EXPECT_EQ(ReadBytes(path), original);
    EXPECT_EQ(FolderEntries(folder).size(), entries);
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
    // The turns gate JPEG files from their headers, without the decoder: the same pair as the decoder
    // and the EXIF stand-in give, for every JPEG fixture.
    for (const char* fixture : {"colour_600.jpg", "colour_72.jpg", "colour_exif_600.jpg", "colour_exif_only_600.jpg",
                                "colour_exif_72.jpg", "colour_jfif300_exif600.jpg", "jpeg_cmyk_61x45.jpg",
                                "jpeg_rgb_61x45.jpg", "jpeg_arithmetic_64x48.jpg"}) {
        SourceImage decoded, headerOnly;
        ASSERT_TRUE(LoadSource(FixturePath(fixture).c_str(), decoded)) << fixture;
        ASSERT_TRUE(LoadSource(FixturePath(fixture).c_str(), headerOnly, SourceNeeds::JpegBytes)) << fixture;
        EXPECT_FALSE(headerOnly.bitmap) << fixture;
        EXPECT_EQ(headerOnly.dpiX, decoded.dpiX) << fixture;
        EXPECT_EQ(headerOnly.dpiY, decoded.dpiY) << fixture;
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
    EXPECT_TRUE(FitsPixelBuffers(1 << 20, 682));   // 2^31 - 2^21 bytes
    EXPECT_FALSE(FitsPixelBuffers(1 << 20, 683));  // 2^31 + 2^20 bytes
    EXPECT_FALSE(FitsPixelBuffers(50000, 14317));
    EXPECT_FALSE(FitsPixelBuffers(0, 10));
    EXPECT_TRUE(FitsPixelBuffers(kMaxSidePx, 1));
    EXPECT_FALSE(FitsPixelBuffers(kMaxSidePx + 1, 1));
    EXPECT_FALSE(FitsPixelBuffers(1, 100000000));
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
                                 "hostile_zero_size.gif",    "hostile_wide_100m.png"};
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
    ASSERT_TRUE(PatchMonochromeHeader(expected.data(), static_cast<std::uint32_t>(expected.size())));
    ASSERT_NE(expected, ReadBytes(folder + "\\mono.bmp")) << "the encoder's header needs no patch";
    FixBMPHeader((folder + "\\mono.bmp").c_str());
    EXPECT_EQ(ReadBytes(folder + "\\mono.bmp"), expected);
    // bfSize becomes the length, whatever the encoder wrote; biSizeImage 30, biClrUsed and biClrImportant 0.
    ExpectMonochromeBmp(folder + "\\mono.bmp", 10, 7);
}

extern "C" void* __imp_GdipSaveImageToStream;
static void* realSave;

// The library's save, but only the first half of what it wrote is kept: the headers that give the
// size are there, the pixels are not. Reports success, as an encoder that wrote a broken file may.
static Gdiplus::GpStatus WINGDIPAPI SaveCutShort(Gdiplus::GpImage* image, IStream* stream, const CLSID* encoder,
                                                 const Gdiplus::EncoderParameters* parameters)
{
    auto save = reinterpret_cast<decltype(&Gdiplus::DllExports::GdipSaveImageToStream)>(realSave);
    Gdiplus::GpStatus status = save(image, stream, encoder, parameters);
    STATSTG written{};
    stream->Stat(&written, STATFLAG_NONAME);
    written.cbSize.QuadPart /= 2;
    stream->SetSize(written.cbSize);
    return status;
}

// The file-call seam with chosen calls failing: call n (counting every call from 1) fails with
// failures[n]. A replace failing with ERROR_UNABLE_TO_MOVE_REPLACEMENT_2 first moves the page aside,
// as the platform's replace does when it fails half-way.
static FileCalls platform;
static int callsMade;
static std::map<int, DWORD> failures;

static bool Fails()
{
    auto failure = failures.find(++callsMade);
    if (failure != failures.end()) SetLastError(failure->second);
    return failure != failures.end();
}
template <class Result> static Result Failed() { return FALSE; }
template <> HANDLE Failed<HANDLE>() { return INVALID_HANDLE_VALUE; }
template <auto call> struct OrFail;
template <class Result, class... Arguments, Result (*FileCalls::*call)(Arguments...)>
struct OrFail<call> {
    static Result WINAPI Call(Arguments... arguments)
    {
        return Fails() ? Failed<Result>() : (platform.*call)(arguments...);
    }
};
static BOOL WINAPI ReplaceOrFail(LPCSTR replaced, LPCSTR replacement, LPCSTR aside, DWORD flags, LPVOID, LPVOID)
{
    if (!Fails()) return platform.replaceFile(replaced, replacement, aside, flags, nullptr, nullptr);
    if (GetLastError() == ERROR_UNABLE_TO_MOVE_REPLACEMENT_2) {
        platform.moveFile(replaced, aside, 0);
        SetLastError(ERROR_UNABLE_TO_MOVE_REPLACEMENT_2);
    }
    return FALSE;
}

// Rotates the page with the given calls failing; returns how many file calls the rotation made.
static int RotateWithFailures(const std::string& path, std::map<int, DWORD> failing)
{
    failures = std::move(failing);
    callsMade = 0;
    platform = RedirectFileCalls({OrFail<&FileCalls::createFile>::Call, OrFail<&FileCalls::readFile>::Call,
                                  OrFail<&FileCalls::writeFile>::Call, OrFail<&FileCalls::flushFile>::Call,
                                  OrFail<&FileCalls::moveFile>::Call, OrFail<&FileCalls::linkFile>::Call,
                                  ReplaceOrFail});
    RotateImage(path.c_str(), 90);
    RedirectFileCalls(platform);
    return callsMade;
}

// Nothing replaces the dropped file unless every step before the replace succeeded: each file call
// of the backup and the save made to fail in turn, the replace failing half-way with the moves after
// it, a page the user or another program keeps, a result the encoder cut short. After each failure:
// one report, the page byte for byte as it was, the backup whole or absent, nothing else beside them.
// Where even the page cannot be put back, the checked result is kept beside the page set aside.
TEST(SafeSave, EachFailureLeavesTheFileAsItWas)
{
    std::string folder = ScratchFolder();
    std::string path = folder + "\\page.png";
    // Noise, so that no half of an encoded file holds the whole picture.
    SaveImageFile(*MakeRgbImage(100, 50, [](int x, int y) { return (x * 2654435761u) ^ (y * 40503u); }), path,
                  L"image/png");
    std::vector<unsigned char> original = ReadBytes(path);
    auto reset = [&] {
        for (const std::string& entry : FolderEntries(folder)) DeleteFileA((folder + "\\" + entry).c_str());
        WriteBytes(path, original);
        ClearMessages();
    };
    enum Outcome { Kept, Saved, SetAside };
    int turnedWidth = 50;
    auto expect = [&](Outcome outcome, const std::string& step) {
        SCOPED_TRACE(step);
        ASSERT_EQ(Messages().size(), 1u);
        EXPECT_EQ(Messages()[0].caption, outcome == Saved ? "Success" : "Error");
        std::vector<std::string> entries = FolderEntries(folder);
        if (outcome == Kept) {
            EXPECT_EQ(ReadBytes(path), original);
        } else if (outcome == Saved && HasUnixImageMagick()) {
            EXPECT_EQ(ReadWithImageMagick(path).width, turnedWidth);
        }
        std::string name = path.substr(folder.size() + 1), backup = std::string(name).insert(name.size() - 4, "1");
        if (outcome != SetAside && entries == std::vector<std::string>{name}) return;
        ASSERT_EQ(entries.size(), outcome == SetAside ? 3u : 2u) << testing::PrintToString(entries);
        EXPECT_EQ(ReadBytes(folder + "\\" + backup), original);
        if (outcome != SetAside) return;
        bool firstIsPage = ReadBytes(folder + "\\" + entries[1]) == original;
        EXPECT_EQ(ReadBytes(folder + "\\" + entries[firstIsPage ? 1 : 2]), original);
        if (HasUnixImageMagick()) {
            EXPECT_EQ(ReadWithImageMagick(folder + "\\" + entries[firstIsPage ? 2 : 1]).width, 50);
        }
    };
    reset();
    int calls = RotateWithFailures(path, {});
    expect(Saved, "no call fails");
    for (int step = 1; step <= calls; ++step) {
        reset();
        RotateWithFailures(path, {{step, ERROR_ACCESS_DENIED}});
        expect(Kept, "call " + std::to_string(step) + " of " + std::to_string(calls) + " fails");
    }
    // The replace is the last call: the move finishes its job, or the page goes back.
    const DWORD halfWay = ERROR_UNABLE_TO_MOVE_REPLACEMENT_2, denied = ERROR_ACCESS_DENIED;
    const std::tuple<const char*, std::map<int, DWORD>, Outcome> cases[] = {
        {"half-way, moved in", {{calls, halfWay}}, Saved},
        {"refused, moved in", {{calls, ERROR_UNABLE_TO_MOVE_REPLACEMENT}}, Saved},
        {"half-way, page put back", {{calls, halfWay}, {calls + 1, denied}}, Kept},
        {"half-way, nothing moves", {{calls, halfWay}, {calls + 1, denied}, {calls + 2, denied}}, SetAside},
    };
    for (const auto& [name, failing, outcome] : cases) {
        reset();
        RotateWithFailures(path, failing);
        expect(outcome, name);
    }
    // Named again, the page set aside comes back and is turned; what the failed run left goes.
    ClearMessages();
    RotateImage(path.c_str(), 90);
    ASSERT_EQ(Messages().size(), 1u);
    EXPECT_EQ(Messages()[0].caption, "Success");
    EXPECT_EQ(ReadBytes(folder + "\\page2.png"), original);
    EXPECT_EQ(FolderEntries(folder), (std::vector<std::string>{"page.png", "page1.png", "page2.png"}));
    // What a killed run left of this page goes with the next operation on it; other names stay.
    reset();
    const std::vector<std::string> others = {"~page.png.lumivex", "~page.png.x.png.0A1B.lumivex"};
    for (const std::string& name : {others[0], others[1], std::string("~page.png.0A1B.lumivex")}) {
        WriteBytes(folder + "\\" + name, {1});
    }
    RotateImage(path.c_str(), 90);
    EXPECT_EQ(FolderEntries(folder), (std::vector<std::string>{"page.png", "page1.png", others[0], others[1]}));

    const std::pair<const char*, void (*)(const char*)> kept[] = {
        {"read-only", [](const char* page) {
             SetFileAttributesA(page, FILE_ATTRIBUTE_READONLY);
             RotateImage(page, 90);
             SetFileAttributesA(page, FILE_ATTRIBUTE_NORMAL);
         }},
        {"held by another program", [](const char* page) {
             HANDLE other = CreateFileA(page, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
             RotateImage(page, 90);
             CloseHandle(other);
         }},
        {"cut short", [](const char* page) {
             realSave = __imp_GdipSaveImageToStream;
             ImportSwap swap(&__imp_GdipSaveImageToStream, reinterpret_cast<void*>(&SaveCutShort));
             RotateImage(page, 90);
         }},
    };
    for (const char* name : {"page.png", "page.gif", "page.bmp"}) {  // PNG content, written as each
        for (const auto& [what, run] : kept) {
            reset();
            MoveFileA(path.c_str(), (folder + "\\" + name).c_str());
            run((folder + "\\" + name).c_str());
            MoveFileA((folder + "\\" + name).c_str(), path.c_str());
            MoveFileA((folder + "\\" + std::string(name).insert(4, "1")).c_str(), (folder + "\\page1.png").c_str());
            expect(Kept, std::string(name) + " " + what);
        }
    }
    // A JPEG file: the read of its tables and metadata before the turn and the check's read of the
    // result are file calls too; where any fails the page stays as it was, never replaced by a result
    // made without the source's tables.
    path = CopyFixture("jpeg_420_61x45.jpg", folder, "page.jpg");
    original = ReadBytes(path);
    turnedWidth = 45;
    reset();
    calls = RotateWithFailures(path, {});
    expect(Saved, "JPEG, no call fails");
    for (int step = 1; step <= calls; ++step) {
        reset();
        RotateWithFailures(path, {{step, ERROR_ACCESS_DENIED}});
        expect(Kept, "JPEG, call " + std::to_string(step) + " of " + std::to_string(calls) + " fails");
    }
}

// Sets the creation time to 2001-01-01; true when the platform keeps it (Wine reports the time of the
// last change instead).
static bool SetCreationTime2001(const std::string& path, FILETIME& created)
{
    SYSTEMTIME date{2001, 1, 1, 1, 12, 0, 0, 0};
    SystemTimeToFileTime(&date, &created);
    HANDLE file = CreateFileA(path.c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    SetFileTime(file, &created, nullptr, nullptr);
    CloseHandle(file);
    WIN32_FILE_ATTRIBUTE_DATA data{};
    GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data);
    return CompareFileTime(&data.ftCreationTime, &created) == 0;
}

// The result takes the dropped file's place and keeps what the user gave it: the attributes (as far
// as the platform stores them) and, where the platform keeps one, the creation time. Relative paths
// work too (some platforms replace files by full paths only).
TEST(SafeSave, ReplacedFileKeepsItsAttributes)
{
    std::string folder = ScratchFolder();
    struct Case { const char* name; DWORD attributes; bool relative; };
    const Case cases[] = {
        {"hidden.png", FILE_ATTRIBUTE_HIDDEN, false},
        {"system.png", FILE_ATTRIBUTE_SYSTEM, false},
        {"all.png", FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED, false},
        {"plain.png", FILE_ATTRIBUTE_NORMAL, false},
        {"relative.png", FILE_ATTRIBUTE_HIDDEN, true},
    };
    char directory[MAX_PATH];
    GetCurrentDirectoryA(MAX_PATH, directory);
    SetCurrentDirectoryA(folder.c_str());
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::string path = MakePng(folder, c.name);
        SetFileAttributesA(path.c_str(), c.attributes);
        DWORD kept = GetFileAttributesA(path.c_str());  // what the platform stores of them
        FILETIME created;
        bool keepsCreationTimes = SetCreationTime2001(path, created);
        ClearMessages();
        RotateImage(c.relative ? c.name : path.c_str(), 90);
        ASSERT_EQ(Messages().size(), 1u);
        EXPECT_EQ(Messages()[0].caption, "Success") << Messages()[0].text;
        EXPECT_EQ(GetFileAttributesA(path.c_str()), kept);
        EXPECT_EQ(GetFileAttributesA((path.substr(0, path.size() - 4) + "1.png").c_str()), kept);  // the backup
        WIN32_FILE_ATTRIBUTE_DATA data{};
        GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data);
        EXPECT_TRUE(!keepsCreationTimes || CompareFileTime(&data.ftCreationTime, &created) == 0);
        BitmapPtr turned = LoadImageFile(path);
        ASSERT_TRUE(turned);
        EXPECT_EQ(turned->GetWidth(), 50u);
    }
    SetCurrentDirectoryA(directory);
    EXPECT_EQ(FolderEntries(folder).size(), 2 * std::size(cases));  // each file and its backup
}

// The temporary file is made beside the dropped one under a name of at most five characters, so it
// fits wherever the backup's name fits: folders of 247 to 253 characters, too long for the usual
// temporary names, save normally. Where even that does not fit (folders of 254 to 258 characters, the
// file named by a path relative to them), the file is refused before anything is written.
TEST(SafeSave, LongFoldersSaveOrAreRefusedBeforeAnythingIsWritten)
{
    std::string scratch = ScratchFolder();
    char directory[MAX_PATH];
    GetCurrentDirectoryA(MAX_PATH, directory);
    for (size_t length = 247; length <= 258; ++length) {
        SCOPED_TRACE(length);
        std::string folder = scratch + "\\" + std::string(length - scratch.size() - 1, 'f');
        ASSERT_TRUE(CreateDirectoryA(folder.c_str(), nullptr));
        bool fits = length <= 253;
        // The longest name that leaves room for the backup's digit, or a name relative to the folder.
        std::string name = fits ? std::string(257 - length - 4, 'p') + ".png" : "p.png";
        std::string path = MakePng(folder, name);
        std::vector<unsigned char> original = ReadBytes(path);
        ASSERT_TRUE(SetCurrentDirectoryA(folder.c_str()));
        ClearMessages();
        RotateImage(fits ? path.c_str() : name.c_str(), 90);
        SetCurrentDirectoryA(directory);
        ASSERT_EQ(Messages().size(), 1u);
        if (fits) {
            EXPECT_EQ(Messages()[0].caption, "Success") << Messages()[0].text;
            EXPECT_EQ(FolderEntries(folder).size(), 2u);
            BitmapPtr turned = LoadImageFile(path);
            ASSERT_TRUE(turned);
            EXPECT_EQ(turned->GetWidth(), 50u);
        } else {
            EXPECT_EQ(Messages()[0].text, "Error processing the image");
            EXPECT_EQ(FolderEntries(folder), std::vector<std::string>{name});
            EXPECT_EQ(ReadBytes(path), original);
        }
    }
}

// The fixed palette's entry nearest to 0xRRGGBB `rgb`, the first on a tie, found by trying them all.
static unsigned NearestPaletteColour(unsigned rgb)
{
    unsigned best = 0;
    int bestDistance = -1;
    for (int index = 0; index < kFixedPaletteCount; ++index) {
        unsigned entry = FixedPaletteEntry(index) & 0xFFFFFF;
        int distance = 0;
        for (int shift : {0, 8, 16}) {
            int difference = int((rgb >> shift) & 255) - int((entry >> shift) & 255);
            distance += difference * difference;
        }
        if (bestDistance < 0 || distance < bestDistance) {
            best = entry;
            bestDistance = distance;
        }
    }
    return best;
}

// Colours off the palette everywhere, a different one in every pixel.
static unsigned Gradient(int x, int y)
{
    return unsigned(x * 5 / 2) << 16 | unsigned(y * 5) << 8 | unsigned((x * 3 + y * 7) % 256);
}

// A GIF file stores no resolution and meets the DPI gate at 96; only other content under a .gif name
// is written as GIF. It is written from 8-bit indexed colour on the fixed palette, which every
// platform's encoder writes readably: each pixel its nearest palette colour, no dithering.
TEST(GifOutput, PngContentNamedGifIsTurnedAndScaledIntoAReadableGif)
{
    if (!HasUnixImageMagick()) GTEST_SKIP() << "reads results with ImageMagick on the Unix side of Wine";
    std::string folder = ScratchFolder();
    std::string turned = folder + "\\turned.gif";
    SaveImageFile(*MakeRgbImage(100, 50, Gradient), turned, L"image/png");
    RotateImage(turned.c_str(), 90);
    std::string scaled = CopyFixture("rgb_600.png", folder, "scaled.gif");
    ScaleImage(scaled.c_str(), 2, 2);

    ASSERT_EQ(Messages().size(), 2u);
    EXPECT_EQ(Messages()[0].text, "Image rotated and saved!\nBackup created: turned1.gif");
    EXPECT_EQ(Messages()[1].text, "Image scaled and saved!\nBackup created: scaled1.gif");
    MagickImage gif = ReadWithImageMagick(turned);
    EXPECT_EQ(gif.format, "GIF");
    ASSERT_EQ(gif.width, 50);
    ASSERT_EQ(gif.height, 100);
    int wrong = 0;
    for (int y = 0; y < 100; ++y)
        for (int x = 0; x < 50; ++x) wrong += gif.Rgb(x, y) != NearestPaletteColour(Gradient(y, 49 - x));
    EXPECT_EQ(wrong, 0);
    // The quadrants' colours are on the palette: away from the edges the blending of the scaling left
    // them as they were.
    gif = ReadWithImageMagick(scaled);
    EXPECT_EQ(gif.format, "GIF");
    ASSERT_EQ(gif.width, 200);
    ASSERT_EQ(gif.height, 100);
    EXPECT_EQ(gif.Rgb(20, 20), 0xFF0000u);
    EXPECT_EQ(gif.Rgb(180, 20), 0x00FF00u);
    EXPECT_EQ(gif.Rgb(20, 80), 0x0000FFu);
    EXPECT_EQ(gif.Rgb(180, 80), 0xFFFFFFu);
    EXPECT_EQ(FolderEntries(folder).size(), 4u);  // the two files and their backups
}

struct ChainStep {
    const char* operation;
    void (*run)(const char* path);
};

// The page's format as ImageMagick names it, and the resolution its results keep.
struct ChainCase {
    const char* fixture;
    const char* name;
    const char* format;
    double dpi;
    std::vector<ChainStep> steps;
};

// A result the program wrote from a file that passed the DPI gate passes it again: each step of a
// chain over one page is accepted, and ImageMagick reads each result at the resolution kept. Erosion
// and margins take BMP pages only; PNG and JPEG pages go through the operations they take. GIF is
// left out: it stores no resolution.
TEST(SavedResults, PassTheGateAgainAtEveryStepInEveryFormat)
{
    if (!HasUnixImageMagick()) GTEST_SKIP() << "reads results with ImageMagick on the Unix side of Wine";
    const std::vector<ChainStep> bmpSteps = {
        {"rotation", [](const char* path) { RotateImage(path, 90); }},
        {"erosion", [](const char* path) { ErodeImage(path, 1); }},
        {"margins", [](const char* path) { AdjustMargins(path, TopLeft, 10, -10); }},
        {"scaling", [](const char* path) { ScaleImage(path, 0.5, 0.5); }},
    };
    const std::vector<ChainStep> steps = {
        {"rotation", [](const char* path) { RotateImage(path, 90); }},
        {"scaling", [](const char* path) { ScaleImage(path, 1.5, 0.5); }},
        {"rotation back", [](const char* path) { RotateImage(path, -90); }},
        {"scaling by 1", [](const char* path) { ScaleImage(path, 1, 1); }},
    };
    // 23622 pixels per metre read as 599.9988 DPI; JPEG stores whole DPI.
    const ChainCase cases[] = {
        {"mono_white_first_600.bmp", "page.bmp", "BMP3", 599.9988, bmpSteps},
        {"rgb_600.png", "page.png", "PNG", 599.9988, steps},
        {"colour_600.jpg", "page.jpg", "JPEG", 600, steps},
        {"rgb_600.png", "png.jpg", "JPEG", 600, steps},
    };
    std::string folder = ScratchFolder();
    for (const ChainCase& c : cases) {
        std::string path = CopyFixture(c.fixture, folder, c.name);
        for (const ChainStep& step : c.steps) {
            SCOPED_TRACE(std::string(c.name) + ", " + step.operation);
            ClearMessages();
            step.run(path.c_str());
            ASSERT_EQ(Messages().size(), 1u);
            ASSERT_EQ(Messages()[0].caption, "Success") << Messages()[0].text;
            MagickImage result = ReadWithImageMagick(path);
            EXPECT_EQ(result.format, c.format);
            EXPECT_NEAR(result.dpiX, c.dpi, 0.0001);
            EXPECT_NEAR(result.dpiY, c.dpi, 0.0001);
            if (std::string(c.format) == "BMP3") ExpectMonochromeBmp(path, result.width, result.height);
        }
    }
}
