// The frame every operation shares: backup names, the DPI gate, encoders, the header fix-up, the
// safe save and what it writes, checked through the real functions and the operations on real files.
#include "test_support.h"

#include "imaging/file_calls.h"
#include "imaging/kernels/monochrome.h"
#include "imaging/kernels/palette.h"
#include "imaging/operations.h"
#include "imaging/page_files.h"
#include "imaging/pipeline.h"
#include "messages/texts.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <functional>
#include <map>
#include <tuple>
#include <type_traits>

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

// A JPEG that the operations need as pixels (deskew, clean, check) is decoded by libjpeg-turbo, so
// that every platform sees the same pixels: the very ones ImageMagick's libjpeg gives, at the
// resolution Windows reads (EXIF where the JFIF header states no unit).
TEST(DpiGate, JpegPixelsAreLibjpegTurbosOnEveryPlatform)
{
    if (!HasUnixImageMagick()) GTEST_SKIP() << "reads results with ImageMagick on the Unix side of Wine";
    for (const char* fixture : {"colour_600.jpg", "colour_exif_only_600.jpg", "photo_600.jpg"}) {
        SCOPED_TRACE(fixture);
        SourceImage source;
        ASSERT_TRUE(LoadSource(FixturePath(fixture).c_str(), source));
        EXPECT_EQ(source.dpiX, 600.0f);
        MagickImage expected = ReadWithImageMagick(FixturePath(fixture));
        ASSERT_EQ(static_cast<int>(source.bitmap->GetWidth()), expected.width);
        LockedPixels bgr = LockPixels(*source.bitmap, Gdiplus::ImageLockModeRead, PixelFormat24bppRGB);
        ASSERT_TRUE(bgr);
        int differing = 0;
        for (int y = 0; y < expected.height; ++y) {
            for (int x = 0; x < expected.width; ++x) {
                const std::uint8_t* pixel = PixelRow(*bgr, y) + 3 * x;
                differing += (unsigned{pixel[2]} << 16 | unsigned{pixel[1]} << 8 | pixel[0]) != expected.Rgb(x, y);
            }
        }
        EXPECT_EQ(differing, 0);
    }
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

// Files whose headers are broken or extreme (tests/fixtures/README.md), each given to every operation
// that takes its kind, the batch tool's deskew and check among them: one verdict, one error box, no backup, no temporary file, the file as it was. A decoder fault
// on any of them ends the test program; the last line it printed names the file and the operation.
struct PageOperation {
    const char* name;
    bool bmpOnly;
    void (*run)(const char* path);
};
static const PageOperation operations[] = {
    {"rotation", false, [](const char* path) { RotateImage(path, 90); }},
    {"scaling", false, [](const char* path) { ScaleImage(path, 0.5, 0.5); }},
    {"erosion", true, [](const char* path) { ErodeImage(path, 1); }},
    {"margins", true, [](const char* path) { AdjustMargins(path, TopLeft, 10, 10); }},
    {"deskew", false, [](const char* path) { DeskewImage(path, 5); }},
    {"check", false, CheckImage},
};

TEST(LoadFailure, HostileFilesAreRefusedByEveryOperationAndLeftAsTheyWere)
{
    const char* const files[] = {"hostile_wrapped_1bit.bmp", "hostile_wrapped_24bit.bmp", "hostile_short_rows.bmp",
                                 "hostile_zero_size.png",    "hostile_no_frame.jpg",      "hostile_zero_height.jpg",
                                 "hostile_zero_size.gif",    "hostile_wide_100m.png",     "hostile_palette_indices.png"};
    std::string folder = ScratchFolder();
    for (const char* file : files) {
        for (const PageOperation& operation : operations) {
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

// A sound JPEG followed by a hole up to 1 GiB and a byte (sparse on the disk) is more than the load
// reads whole: its tables and metadata cannot be kept, so every operation that takes it refuses it
// before any backup, rather than give a result without them.
TEST(LoadFailure, JpegOverOneGibibyteIsRefusedByEveryOperationAndLeftAsItWas)
{
    std::string folder = ScratchFolder();
    std::string path = CopyFixture("jpeg_420_64x48.jpg", folder, "huge.jpg");
    std::vector<unsigned char> head = ReadBytes(path);
    constexpr LONGLONG kSize = (1LL << 30) + 1;
    {
        HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
        ASSERT_NE(file, INVALID_HANDLE_VALUE);
        LARGE_INTEGER end{};
        end.QuadPart = kSize;
        EXPECT_TRUE(SetFilePointerEx(file, end, nullptr, FILE_BEGIN) && SetEndOfFile(file));
        CloseHandle(file);
    }
    for (const PageOperation& operation : operations) {
        if (operation.bmpOnly) continue;
        SCOPED_TRACE(operation.name);
        ClearMessages();
        operation.run(path.c_str());
        ExpectOnlyMessage("Error processing the image", "Error", MB_ICONERROR);
        WIN32_FILE_ATTRIBUTE_DATA data{};
        ASSERT_TRUE(GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data));
        EXPECT_EQ((LONGLONG{data.nFileSizeHigh} << 32) + data.nFileSizeLow, kSize);
        std::vector<unsigned char> start(head.size());
        HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
        DWORD got = 0;
        EXPECT_TRUE(ReadFile(file, start.data(), static_cast<DWORD>(start.size()), &got, nullptr));
        CloseHandle(file);
        EXPECT_EQ(start, head);
        EXPECT_EQ(FolderEntries(folder), std::vector<std::string>{"huge.jpg"});
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

// The file-call seam recording every call and failing chosen ones: call n (counting every call from 1)
// fails with failures[n]. A replace failing with ERROR_UNABLE_TO_MOVE_REPLACEMENT_2 first moves the
// page aside, as the platform's replace does when it fails half-way. The listing also reports the
// names in `listed`, as a folder shows a link that leads nowhere; the drive type can be made another.
struct RecordedCall {
    std::string call;
    std::string path, second;  // the first and second paths a call names, if any
    HANDLE handle = nullptr;   // the handle it was given, or the one it opened
    DWORD disposition = 0, attributes = 0;
};
static FileCalls platform;
static std::vector<RecordedCall> record;
static std::map<int, DWORD> failures;
static std::vector<std::string> listed;
static UINT driveType = DRIVE_FIXED;
static std::function<void(const RecordedCall&)> beforeCall;

template <auto call> constexpr const char* kCallName = "";
#define LUMIVEX_CALL_NAME(member) template <> constexpr const char* kCallName<&FileCalls::member> = #member;
LUMIVEX_CALL_NAME(createFile) LUMIVEX_CALL_NAME(readFile) LUMIVEX_CALL_NAME(writeFile) LUMIVEX_CALL_NAME(flushFile)
LUMIVEX_CALL_NAME(setFileTime) LUMIVEX_CALL_NAME(setAttributes) LUMIVEX_CALL_NAME(linkFile)
LUMIVEX_CALL_NAME(moveFile) LUMIVEX_CALL_NAME(replaceFile) LUMIVEX_CALL_NAME(deleteFile)
LUMIVEX_CALL_NAME(findFirstFile) LUMIVEX_CALL_NAME(findNextFile) LUMIVEX_CALL_NAME(driveType)
LUMIVEX_CALL_NAME(mapFile) LUMIVEX_CALL_NAME(mapView)
#undef LUMIVEX_CALL_NAME


template <class Argument> static void Note(RecordedCall& recorded, int index, Argument argument)
{
    if constexpr (std::is_same_v<Argument, LPCSTR>) {
        if (index < 2) (index == 0 ? recorded.path : recorded.second) = argument ? argument : "";
    } else if constexpr (std::is_same_v<Argument, HANDLE>) {
        if (index == 0) recorded.handle = argument;
    }
}

// Whether two calls of the seam are the same one (calls of other types never are).
template <auto a, auto b> constexpr bool kSameCall = [] {
    if constexpr (std::is_same_v<decltype(a), decltype(b)>) return a == b;
    else return false;
}();

template <auto call> struct OrFail;
template <class Result, class... Arguments, Result (*FileCalls::*call)(Arguments...)>
struct OrFail<call> {
    static Result WINAPI Call(Arguments... arguments)
    {
        RecordedCall recorded;
        recorded.call = kCallName<call>;
        int index = 0;
        (Note(recorded, index++, arguments), ...);
        if constexpr (kSameCall<call, &FileCalls::createFile>) {
            auto all = std::make_tuple(arguments...);
            recorded.disposition = std::get<4>(all);
            recorded.attributes = std::get<5>(all);
        }
        if (beforeCall) beforeCall(recorded);
        record.push_back(recorded);
        auto failure = failures.find(static_cast<int>(record.size()));
        if (failure != failures.end()) {
            if constexpr (kSameCall<call, &FileCalls::replaceFile>) {
                if (failure->second == ERROR_UNABLE_TO_MOVE_REPLACEMENT_2) {
                    auto all = std::make_tuple(arguments...);
                    platform.moveFile(std::get<0>(all), std::get<2>(all), 0);
                }
            }
            SetLastError(failure->second);
            if constexpr (kSameCall<call, &FileCalls::createFile> || kSameCall<call, &FileCalls::findFirstFile>) {
                return INVALID_HANDLE_VALUE;
            } else {
                return Result{};
            }
        }
        if constexpr (kSameCall<call, &FileCalls::driveType>) return driveType;
        if constexpr (kSameCall<call, &FileCalls::findFirstFile>) {
            auto all = std::make_tuple(arguments...);
            for (const std::string& name : listed) {
                if (_stricmp(name.c_str(), std::get<0>(all)) != 0) continue;
                std::string folder = name.substr(0, name.rfind('\\'));  // a real search, which lists "."
                return platform.findFirstFile((folder + "\\*").c_str(), std::get<1>(all));
            }
        }
        Result result = (platform.*call)(arguments...);
        if constexpr (kSameCall<call, &FileCalls::createFile>) record.back().handle = result;
        return result;
    }
};

// Runs `operation` with the seam recording and the given calls failing; returns the calls made.
template <class Operation>
static std::vector<RecordedCall> WithFailures(std::map<int, DWORD> failing, Operation operation)
{
    failures = std::move(failing);
    record.clear();
    platform = PlatformFileCalls();
    FileCalls seam = {OrFail<&FileCalls::createFile>::Call,    OrFail<&FileCalls::readFile>::Call,
                      OrFail<&FileCalls::writeFile>::Call,     OrFail<&FileCalls::flushFile>::Call,
                      OrFail<&FileCalls::setFileTime>::Call,   OrFail<&FileCalls::setAttributes>::Call,
                      OrFail<&FileCalls::linkFile>::Call,      OrFail<&FileCalls::moveFile>::Call,
                      OrFail<&FileCalls::replaceFile>::Call,   OrFail<&FileCalls::deleteFile>::Call,
                      OrFail<&FileCalls::findFirstFile>::Call, OrFail<&FileCalls::findNextFile>::Call,
                      OrFail<&FileCalls::driveType>::Call,     OrFail<&FileCalls::mapFile>::Call,
                      OrFail<&FileCalls::mapView>::Call};
    RedirectFileCalls(seam);
    operation();
    RedirectFileCalls(platform);
    return record;
}

// Every temporary file is created hidden and marked temporary, and flushed after its last write and
// before it takes a name (the backup's link, the result's replace).
static void ExpectTemporariesHiddenAndFlushed(const std::vector<RecordedCall>& calls)
{
    int temporaries = 0;
    for (size_t created = 0; created < calls.size(); ++created) {
        const RecordedCall& create = calls[created];
        if (create.call != "createFile" || create.disposition != CREATE_NEW) continue;
        ++temporaries;
        SCOPED_TRACE(create.path);
        EXPECT_EQ(create.attributes & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_TEMPORARY),
                  DWORD{FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_TEMPORARY});
        size_t lastWrite = 0, flushed = 0, named = 0;
        for (size_t k = created + 1; k < calls.size(); ++k) {
            const RecordedCall& later = calls[k];
            bool own = later.handle == create.handle && !named;
            if (own && later.call == "writeFile") lastWrite = k;
            if (own && later.call == "flushFile") flushed = k;
            if ((later.call == "linkFile" || later.call == "replaceFile") && later.second == create.path) named = k;
        }
        EXPECT_GT(lastWrite, created);
        EXPECT_GT(flushed, lastWrite) << "flushed after its last write";
        EXPECT_GT(named, flushed) << "flushed before it takes its name";
    }
    EXPECT_EQ(temporaries, 2);  // the backup's and the result's
}

// Nothing replaces the dropped file unless every step before the replace succeeded: each file call
// of the head, the backup and the save made to fail in turn, for a page the decoder reads (PNG) and
// one read where it lies (BMP); the replace failing half-way with the moves after it; a page the user
// or another program keeps; a result the encoder cut short. After each: one report; on an error the
// page byte for byte as it was, the backup whole and visible or absent, nothing else beside them; on
// a success (a call whose failure costs nothing, or one after the replace) the page turned and its
// backup. Where even the page cannot be put back, the checked result is kept beside the page set aside.
TEST(SafeSave, EachFailureLeavesTheFileAsItWas)
{
    std::string folder = ScratchFolder();
    // Noise, so that no half of an encoded file holds the whole picture.
    BitmapPtr noise = MakeRgbImage(100, 50, [](int x, int y) { return (x * 2654435761u) ^ (y * 40503u); });
    // A JPEG page is read whole for its tables and metadata before the turn, and its result is
    // checked by decoding it: those reads are file calls of the save too.
    for (const char* page : {"page.png", "page.bmp", "page.jpg"}) {
        SCOPED_TRACE(page);
        std::string path = folder + "\\" + page, extension = std::string(page).substr(4);
        std::string backup = folder + "\\page1" + extension;
        if (extension == ".jpg") CopyFixture("jpeg_420_61x45.jpg", folder, page);
        else SaveImageFile(*noise, path, extension == ".png" ? L"image/png" : L"image/bmp");
        UINT turnedWidth = extension == ".jpg" ? 45 : 50;
        std::vector<unsigned char> original = ReadBytes(path);
        auto reset = [&] {
            for (const std::string& entry : FolderEntries(folder)) DeleteFileA((folder + "\\" + entry).c_str());
            WriteBytes(path, original);
            ClearMessages();
        };
        enum Outcome { Kept, Saved, SetAside, Either };
        auto expect = [&](Outcome outcome, const std::string& step) {
            SCOPED_TRACE(step);
            ASSERT_EQ(Messages().size(), 1u);
            if (outcome == Either) outcome = Messages()[0].caption == "Success" ? Saved : Kept;
            EXPECT_EQ(Messages()[0].caption, outcome == Saved ? "Success" : "Error") << Messages()[0].text;
            std::vector<std::string> entries = FolderEntries(folder);
            if (outcome == Kept) {
                EXPECT_EQ(ReadBytes(path), original);
            } else if (outcome == Saved) {
                BitmapPtr turned = LoadImageFile(path);
                ASSERT_TRUE(turned);
                EXPECT_EQ(turned->GetWidth(), turnedWidth);
                // An aside whose removal failed after the replace is swept with the next operation.
                entries.erase(std::remove_if(entries.begin(), entries.end(),
                                             [](const std::string& e) { return e.find("lumivex-original") != e.npos; }),
                              entries.end());
            }
            if (outcome == Kept && entries == std::vector<std::string>{page}) return;
            ASSERT_EQ(entries.size(), outcome == SetAside ? 3u : 2u) << testing::PrintToString(entries);
            EXPECT_EQ(ReadBytes(backup), original);
            EXPECT_EQ(GetFileAttributesA(backup.c_str()) & FILE_ATTRIBUTE_HIDDEN, 0u);
            if (outcome != SetAside) return;
            bool firstIsPage = ReadBytes(folder + "\\" + entries[1]) == original;
            EXPECT_EQ(ReadBytes(folder + "\\" + entries[firstIsPage ? 1 : 2]), original);
            EXPECT_TRUE(LoadImageFile(folder + "\\" + entries[firstIsPage ? 2 : 1]));
        };
        reset();
        std::vector<RecordedCall> calls = WithFailures({}, [&] { RotateImage(path.c_str(), 90); });
        expect(Saved, "no call fails");
        ExpectTemporariesHiddenAndFlushed(calls);
        size_t replace = std::find_if(calls.begin(), calls.end(), [](auto& c) { return c.call == "replaceFile"; }) -
                         calls.begin();
        ASSERT_LT(replace, calls.size());
        EXPECT_EQ(std::count_if(calls.begin(), calls.end(), [](auto& c) { return c.call == "mapView"; }),
                  extension == ".bmp" ? 1 : 0);
        size_t head = std::find_if(calls.begin(), calls.end(), [](auto& c) { return c.call == "findFirstFile"; }) -
                      calls.begin();
        std::string rows;
        for (size_t step = 0; step < calls.size(); ++step) {
            const RecordedCall& call = calls[step];
            // What the page's safety rests on fails the operation: reading the page after the head
            // (the backup's copy, a JPEG's tables, a result's check), writing, flushing and naming the
            // temporary files, showing them, the mapped read. Other calls may cost the page nothing
            // (a listing, a drive type, the header read that leaves the page to the decoder, the
            // creation time carried), and every call after the replace leaves the page saved.
            bool mustFail = (call.call == "readFile" && step > head) || call.call == "writeFile" ||
                            call.call == "flushFile" || call.call == "linkFile" ||
                            call.call == "setAttributes" || call.call == "mapFile" || call.call == "mapView" ||
                            (call.call == "createFile" && call.disposition == CREATE_NEW) ||
                            (call.call == "deleteFile" && step < replace);
            Outcome outcome = step > replace ? Saved : mustFail ? Kept : Either;
            reset();
            WithFailures({{static_cast<int>(step + 1), ERROR_ACCESS_DENIED}}, [&] { RotateImage(path.c_str(), 90); });
            expect(outcome, "call " + std::to_string(step + 1) + " of " + std::to_string(calls.size()) + ": " + call.call);
            rows += " " + call.call + (Messages().size() == 1 && Messages()[0].caption == "Success" ? "=saved" : "=kept");
        }
        std::printf("%s failure table:%s\n", page, rows.c_str());
        // The replace: the move finishes its job, or the page goes back.
        const int replaced = static_cast<int>(replace + 1);
        const DWORD halfWay = ERROR_UNABLE_TO_MOVE_REPLACEMENT_2, denied = ERROR_ACCESS_DENIED;
        const std::tuple<const char*, std::map<int, DWORD>, Outcome> cases[] = {
            {"half-way, moved in", {{replaced, halfWay}}, Saved},
            {"refused, moved in", {{replaced, ERROR_UNABLE_TO_MOVE_REPLACEMENT}}, Saved},
            {"half-way, page put back", {{replaced, halfWay}, {replaced + 1, denied}}, Kept},
            {"half-way, nothing moves", {{replaced, halfWay}, {replaced + 1, denied}, {replaced + 2, denied}}, SetAside},
        };
        for (const auto& [name, failing, outcome] : cases) {
            reset();
            WithFailures(failing, [&] { RotateImage(path.c_str(), 90); });
            expect(outcome, name);
        }
        // A disk that kept half of the result while its write and flush said all: the check of the
        // written file refuses it.
        reset();
        int flushes = 0;
        beforeCall = [&](const RecordedCall& call) {
            if (call.call != "flushFile" || ++flushes != 2) return;  // the backup's, then the result's
            LARGE_INTEGER length{}, half{};
            GetFileSizeEx(call.handle, &length);
            half.QuadPart = length.QuadPart / 2;
            SetFilePointerEx(call.handle, half, nullptr, FILE_BEGIN);
            SetEndOfFile(call.handle);
        };
        WithFailures({}, [&] { RotateImage(path.c_str(), 90); });
        beforeCall = nullptr;
        ASSERT_EQ(flushes, 2);
        expect(Kept, "the result cut short on the disk");
        // The page set aside back in its place (the batch tool does it when the page is named), the
        // next operation sweeps what the failed run left and turns it with a second backup.
        for (const std::string& entry : FolderEntries(folder)) {
            if (entry.find("lumivex-original") != entry.npos) MoveFileA((folder + "\\" + entry).c_str(), path.c_str());
        }
        ClearMessages();
        RotateImage(path.c_str(), 90);
        ASSERT_EQ(Messages().size(), 1u);
        EXPECT_EQ(Messages()[0].caption, "Success");
        EXPECT_EQ(FolderEntries(folder), (std::vector<std::string>{page, "page1" + extension, "page2" + extension}));
    }
    std::string path = folder + "\\page.png";
    auto reset = [&] {
        for (const std::string& entry : FolderEntries(folder)) DeleteFileA((folder + "\\" + entry).c_str());
        SaveImageFile(*noise, path, L"image/png");
        ClearMessages();
    };
    reset();
    std::vector<unsigned char> original = ReadBytes(path);
    // What a killed run left of this page goes with the next operation on it; other names stay.
    reset();
    const std::vector<std::string> others = {"~page.png.lumivex", "~page.png.x.png.0A1B.lumivex"};
    for (const std::string& name : {others[0], others[1], std::string("~page.png.0A1B.lumivex")}) {
        WriteBytes(folder + "\\" + name, {1});
    }
    RotateImage(path.c_str(), 90);
    EXPECT_EQ(FolderEntries(folder), (std::vector<std::string>{"page.png", "page1.png", others[0], others[1]}));

    // Refused before the backup (read-only, held), or with a backup made (cut short); the page as it was.
    const std::tuple<const char*, void (*)(const char*), bool> kept[] = {
        {"read-only", [](const char* page) {
             SetFileAttributesA(page, FILE_ATTRIBUTE_READONLY);
             RotateImage(page, 90);
             SetFileAttributesA(page, FILE_ATTRIBUTE_NORMAL);
         }, false},
        {"held by another program", [](const char* page) {
             HANDLE other = CreateFileA(page, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
             RotateImage(page, 90);
             CloseHandle(other);
         }, false},
        {"cut short", [](const char* page) {
             realSave = __imp_GdipSaveImageToStream;
             ImportSwap swap(&__imp_GdipSaveImageToStream, reinterpret_cast<void*>(&SaveCutShort));
             RotateImage(page, 90);
         }, true},
    };
    for (const char* name : {"page.png", "page.gif", "page.bmp"}) {  // PNG content, written as each
        for (const auto& [what, run, backedUp] : kept) {
            SCOPED_TRACE(std::string(name) + " " + what);
            reset();
            std::string named = folder + "\\" + name;
            MoveFileA(path.c_str(), named.c_str());
            run(named.c_str());
            ASSERT_EQ(Messages().size(), 1u);
            EXPECT_EQ(Messages()[0].caption, "Error");
            EXPECT_EQ(ReadBytes(named), original);
            std::vector<std::string> expected = {name};
            if (backedUp) expected.push_back(std::string(name).insert(4, "1"));
            std::sort(expected.begin(), expected.end());
            EXPECT_EQ(FolderEntries(folder), expected);
            DeleteFileA(named.c_str());
        }
    }
}

// A page read where it lies is held: while the operation runs nobody may write or delete it, and a
// page that changed between its header check and the map is checked again from the mapped bytes. A
// page on a share or a removable drive is not mapped but decoded, with the same result. A name that
// only the folder's listing shows (a link that leads nowhere) is taken.
TEST(SafeSave, MappedPagesAreHeldAndOthersDecoded)
{
    std::string folder = ScratchFolder();
    std::string path = folder + "\\page.bmp";
    BitmapPtr noise = MakeRgbImage(64, 40, [](int x, int y) { return (x * 2654435761u) ^ (y * 40503u); });
    SaveImageFile(*noise, path, L"image/bmp");
    std::vector<unsigned char> original = ReadBytes(path);
    auto reset = [&] {
        for (const std::string& entry : FolderEntries(folder)) DeleteFileA((folder + "\\" + entry).c_str());
        WriteBytes(path, original);
        ClearMessages();
    };
    reset();
    int tries = 0;
    beforeCall = [&](const RecordedCall& call) {
        if (call.call != "writeFile" || tries++ > 0) return;  // the backup's copy, while the page is loaded
        HANDLE writer = CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                    nullptr, OPEN_EXISTING, 0, nullptr);
        EXPECT_EQ(writer, INVALID_HANDLE_VALUE) << "opened for writing";
        if (writer != INVALID_HANDLE_VALUE) CloseHandle(writer);
        EXPECT_FALSE(DeleteFileA(path.c_str()));
    };
    WithFailures({}, [&] { RotateImage(path.c_str(), 90); });
    beforeCall = nullptr;
    ASSERT_GT(tries, 0);
    ASSERT_EQ(Messages().size(), 1u);
    EXPECT_EQ(Messages()[0].caption, "Success");
    std::vector<unsigned char> mapped = ReadBytes(path);

    for (UINT type : {DRIVE_REMOTE, DRIVE_REMOVABLE, DRIVE_UNKNOWN}) {
        SCOPED_TRACE(type);
        reset();
        driveType = type;
        std::vector<RecordedCall> calls = WithFailures({}, [&] { RotateImage(path.c_str(), 90); });
        driveType = DRIVE_FIXED;
        EXPECT_EQ(std::count_if(calls.begin(), calls.end(), [](auto& c) { return c.call == "mapFile"; }), 0);
        EXPECT_EQ(ReadBytes(path), mapped);
    }

    // Cut by one row after its header was read: the mapped bytes no longer hold every row.
    reset();
    bool cut = false;
    beforeCall = [&](const RecordedCall& call) {
        if (cut || call.call != "createFile" || call.path != path || call.attributes != FILE_FLAG_SEQUENTIAL_SCAN) return;
        WriteBytes(path, std::vector<unsigned char>(original.begin(), original.end() - 64 * 3));
        cut = true;
    };
    WithFailures({}, [&] { RotateImage(path.c_str(), 90); });
    beforeCall = nullptr;
    ASSERT_EQ(Messages().size(), 1u);
    EXPECT_EQ(Messages()[0].text, texts->msgProcessingError);
    EXPECT_EQ(FolderEntries(folder), std::vector<std::string>{"page.bmp"});

    reset();
    listed = {folder + "\\page1.bmp"};
    WithFailures({}, [&] { RotateImage(path.c_str(), 90); });
    listed.clear();
    EXPECT_EQ(FolderEntries(folder), (std::vector<std::string>{"page.bmp", "page2.bmp"}));
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
