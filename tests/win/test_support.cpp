// The Windows tests' shared helpers and their main: GDI+ is started once and every message
// box is recorded instead of shown.
#include "test_support.h"

#include "messages/report.h"
#include "imaging/operations.h"

#include <shlobj.h>
#include <shlwapi.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <new>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <sstream>

static std::vector<ShownMessage> shownMessages;

static int RecordMessage(HWND owner, const char* text, const char* caption, UINT type)
{
    shownMessages.push_back({owner, text ? text : "", caption ? caption : "", type});
    return IDOK;
}

std::vector<ShownMessage>& Messages() { return shownMessages; }
void ClearMessages() { shownMessages.clear(); }

// Empties `folder`, a "\\?\" path, so that files beyond MAX_PATH that a test left go too.
static void RemoveTree(const std::wstring& folder)
{
    WIN32_FIND_DATAW entry;
    HANDLE find = FindFirstFileW((folder + L"\\*").c_str(), &entry);
    if (find == INVALID_HANDLE_VALUE) return;
    do {
        std::wstring name = entry.cFileName;
        if (name == L"." || name == L"..") continue;
        std::wstring path = folder + L"\\" + name;
        if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            RemoveTree(path);
            RemoveDirectoryW(path.c_str());
        } else {
            SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
            DeleteFileW(path.c_str());
        }
    } while (FindNextFileW(find, &entry));
    FindClose(find);
}

static std::atomic<std::size_t> failFrom{SIZE_MAX}, spared{0};

// The library's operator delete frees with free. Not inlined, so that the compiler pairs the
// blocks with operator delete rather than with malloc.
__attribute__((noinline)) void* operator new(std::size_t size)
{
    if (size >= failFrom && size != spared) throw std::bad_alloc();
    if (void* block = std::malloc(size ? size : 1)) return block;
    throw std::bad_alloc();
}

FailingAllocations::FailingAllocations(std::size_t from, std::size_t except)
{
    spared = except;
    failFrom = from;
}

FailingAllocations::~FailingAllocations()
{
    failFrom = SIZE_MAX;
    spared = 0;
}

std::string ScratchFolder()
{
    char temp[MAX_PATH];
    GetTempPathA(MAX_PATH, temp);
    const testing::TestInfo* info = testing::UnitTest::GetInstance()->current_test_info();
    CreateDirectoryA(temp, nullptr);  // a fresh Wine prefix may not have it yet
    std::string folder = std::string(temp) + "lumivex-tests";
    CreateDirectoryA(folder.c_str(), nullptr);
    folder += "\\" + std::string(info->test_suite_name()) + "." + info->name();
    std::replace(folder.begin() + static_cast<long>(std::string(temp).size()), folder.end(), '/', '_');
    WidePath wide(AnsiToWide(folder.c_str()), &std::free);
    RemoveTree(L"\\\\?\\" + std::wstring(wide.get()));
    CreateDirectoryA(folder.c_str(), nullptr);
    return folder;
}

std::string FixturePath(const std::string& name)
{
    std::string path = std::string(LUMIVEX_FIXTURES) + "/" + name;
    std::replace(path.begin(), path.end(), '/', '\\');
    return path;
}

std::string CopyFixture(const std::string& fixture, const std::string& folder, const std::string& name)
{
    std::string target = folder + "\\" + (name.empty() ? fixture : name);
    EXPECT_TRUE(CopyFileA(FixturePath(fixture).c_str(), target.c_str(), FALSE)) << fixture;
    return target;
}

HDROP MakeDrop(const std::vector<std::wstring>& paths)
{
    size_t chars = 1;
    for (const std::wstring& path : paths) chars += path.size() + 1;
    HGLOBAL memory = GlobalAlloc(GHND, sizeof(DROPFILES) + chars * sizeof(wchar_t));
    auto* header = static_cast<DROPFILES*>(GlobalLock(memory));
    header->pFiles = sizeof(DROPFILES);
    header->fWide = TRUE;
    auto* name = reinterpret_cast<wchar_t*>(header + 1);
    for (const std::wstring& path : paths) {
        std::memcpy(name, path.c_str(), (path.size() + 1) * sizeof(wchar_t));
        name += path.size() + 1;
    }
    *name = L'\0';
    GlobalUnlock(memory);
    return static_cast<HDROP>(memory);
}

HDROP MakeDrop(const std::vector<std::string>& paths)
{
    std::vector<std::wstring> wide;
    for (const std::string& path : paths) {
        WidePath converted(AnsiToWide(path.c_str()), &std::free);
        wide.emplace_back(converted.get());
    }
    return MakeDrop(wide);
}

std::vector<unsigned char> ReadBytes(const std::string& path)
{
    std::ifstream file(path, std::ios::binary);
    return std::vector<unsigned char>(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

void WriteBytes(const std::string& path, const std::vector<unsigned char>& bytes)
{
    std::ofstream file(path, std::ios::binary);
    file.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

bool FileExists(const std::string& path)
{
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::vector<std::string> FolderEntries(const std::string& folder)
{
    std::vector<std::string> names;
    WIN32_FIND_DATAA entry;
    HANDLE find = FindFirstFileA((folder + "\\*").c_str(), &entry);
    if (find == INVALID_HANDLE_VALUE) return names;
    do {
        std::string name = entry.cFileName;
        if (name != "." && name != "..") names.push_back(name);
    } while (FindNextFileA(find, &entry));
    FindClose(find);
    std::sort(names.begin(), names.end());
    return names;
}

BitmapPtr LoadImageFile(const std::string& path)
{
    // Decoded from a copy in memory, so the file itself is not held open.
    std::vector<unsigned char> bytes = ReadBytes(path);
    IStream* stream = SHCreateMemStream(bytes.data(), static_cast<UINT>(bytes.size()));
    if (!stream) return nullptr;
    BitmapPtr bitmap(new Gdiplus::Bitmap(stream));
    stream->Release();  // the bitmap keeps its own reference
    return IsUsable(bitmap) ? std::move(bitmap) : nullptr;
}

void SaveImageFile(Gdiplus::Bitmap& bitmap, const std::string& path, const wchar_t* mimeType)
{
    CLSID encoder;
    ASSERT_GE(GetEncoderClsid(mimeType, &encoder), 0);
    wchar_t* wide = AnsiToWide(path.c_str());
    Gdiplus::Status status = bitmap.Save(wide, &encoder, nullptr);
    free(wide);
    ASSERT_EQ(status, Gdiplus::Ok) << path;
}

unsigned PixelRgb(Gdiplus::Bitmap& bitmap, int x, int y)
{
    // The whole image is locked: Wine misreads 1-bit images through locks that start inside a byte.
    LockedPixels data = LockPixels(bitmap, Gdiplus::ImageLockModeRead, PixelFormat32bppARGB);
    EXPECT_TRUE(data) << "cannot read pixel " << x << "," << y;
    return data ? reinterpret_cast<const unsigned*>(PixelRow(*data, y))[x] & 0xFFFFFF : 0xDEADBEEF;
}

bool NearRgb(unsigned rgb, unsigned wanted, int tolerance)
{
    for (int shift : {0, 8, 16}) {
        if (std::abs(int((rgb >> shift) & 255) - int((wanted >> shift) & 255)) > tolerance) return false;
    }
    return true;
}

bool IsBlack(Gdiplus::Bitmap& bitmap, int x, int y) { return PixelRgb(bitmap, x, y) == 0; }

static unsigned Read32(const std::vector<unsigned char>& bytes, size_t at)
{
    return bytes[at] | (bytes[at + 1] << 8) | (bytes[at + 2] << 16) | (unsigned(bytes[at + 3]) << 24);
}

static unsigned Read16(const std::vector<unsigned char>& bytes, size_t at)
{
    return bytes[at] | (bytes[at + 1] << 8);
}

BmpHeader ReadBmpHeader(const std::vector<unsigned char>& file)
{
    BmpHeader header{};
    if (file.size() < 54 || file[0] != 'B' || file[1] != 'M') {
        ADD_FAILURE() << "not a BMP file";
        return header;
    }
    header.width = static_cast<int>(Read32(file, 18));
    header.height = static_cast<int>(Read32(file, 22));
    header.bitCount = static_cast<int>(Read16(file, 28));
    header.offBits = Read32(file, 10);
    return header;
}

std::vector<unsigned> BmpPalette(const std::vector<unsigned char>& file)
{
    std::vector<unsigned> palette;
    size_t start = 14 + Read32(file, 14);
    for (size_t at = start; at + 4 <= Read32(file, 10); at += 4) {
        palette.push_back((unsigned(file[at + 2]) << 16) | (file[at + 1] << 8) | file[at]);
    }
    return palette;
}

static unsigned Read16Be(const std::vector<unsigned char>& bytes, size_t at)
{
    return (bytes[at] << 8) | bytes[at + 1];
}

JpegFacts ReadJpegFacts(const std::vector<unsigned char>& file)
{
    JpegFacts facts{-1, 0, 0, 0, 0, {}, {}, {}, {}, {}};
    size_t at = 2;
    while (at + 4 <= file.size() && file[at] == 0xFF && file[at + 1] != 0xDA) {
        size_t length = Read16Be(file, at + 2);
        const unsigned char* payload = file.data() + at + 4;
        if (at + 2 + length > file.size()) break;
        if (file[at + 1] == 0xE0 && length >= 16 && std::memcmp(payload, "JFIF", 5) == 0) {
            facts.unit = payload[7];
            facts.densityX = static_cast<int>(Read16Be(file, at + 12));
            facts.densityY = static_cast<int>(Read16Be(file, at + 14));
        }
        bool metadata = (file[at + 1] >= 0xE0 && file[at + 1] <= 0xEF) || file[at + 1] == 0xFE;
        if (metadata || file[at + 1] == 0xDB || file[at + 1] == 0xC4) {
            (metadata ? facts.metadata : file[at + 1] == 0xDB ? facts.tables : facts.huffmanTables)
                .emplace_back(file.begin() + static_cast<long>(at), file.begin() + static_cast<long>(at + 2 + length));
        }
        if (file[at + 1] >= 0xC0 && file[at + 1] <= 0xCB && file[at + 1] != 0xC4 && file[at + 1] != 0xC8 && length >= 8) {
            facts.height = static_cast<int>(Read16Be(file, at + 5));
            facts.width = static_cast<int>(Read16Be(file, at + 7));
            for (size_t c = 0; c < file[at + 9] && 10 + 3 * c < length; ++c) facts.componentIds.push_back(file[at + 10 + 3 * c]);
        }
        at += 2 + length;
    }
    if (at + 1 < file.size() && file[at + 1] == 0xDA) facts.fromFirstScan.assign(file.begin() + static_cast<long>(at), file.end());
    return facts;
}

// The fixtures' EXIF segment as the result at width x height should carry it: the segment holds the
// marker, its length and "Exif\0\0" before the TIFF data; fixtures.py fixes where the pixel size (a
// little-endian SHORT and LONG) and IFD0's link to the thumbnail's IFD lie, and puts the thumbnail
// last, at 150: the result's block ends there.
static std::vector<unsigned char> ExifOfResult(std::vector<unsigned char> segment, int width, int height)
{
    const size_t tiff = 10, thumbnail = 150;
    for (int i = 0; i < 2; ++i) segment[tiff + 100 + i] = static_cast<unsigned char>(width >> (8 * i));
    for (int i = 0; i < 4; ++i) segment[tiff + 112 + i] = static_cast<unsigned char>(height >> (8 * i));
    for (int i = 0; i < 4; ++i) segment[tiff + 70 + i] = 0;
    segment.resize(tiff + thumbnail);
    segment[2] = static_cast<unsigned char>((segment.size() - 2) >> 8);
    segment[3] = static_cast<unsigned char>(segment.size() - 2);
    return segment;
}

void ExpectFixtureMetadata(const std::string& path, const std::string& fixture)
{
    JpegFacts source = ReadJpegFacts(ReadBytes(FixturePath(fixture))), result = ReadJpegFacts(ReadBytes(path));
    ASSERT_GE(source.metadata.size(), 4u) << fixture;
    EXPECT_EQ(result.metadata.size(), source.metadata.size()) << fixture;
    for (std::vector<unsigned char> segment : source.metadata) {
        if (segment[1] == 0xE1) segment = ExifOfResult(segment, result.width, result.height);
        EXPECT_NE(std::find(result.metadata.begin(), result.metadata.end(), segment), result.metadata.end())
            << fixture << ": segment FF " << std::hex << int(segment[1]);
    }
    std::string ids = fixture.find("cmyk") != std::string::npos  ? "YCCK"
                      : fixture.find("rgb") != std::string::npos ? "RGB"
                                                                 : "\1\2\3";
    EXPECT_EQ(result.componentIds, std::vector<unsigned char>(ids.begin(), ids.end())) << fixture;
}

// The 62 bytes before the rows, field by field.
static void ExpectMonochromeHeader(const std::vector<unsigned char>& file, int width, int height, int ppmX,
                                   int ppmY)
{
    EXPECT_EQ(file[0], 'B');
    EXPECT_EQ(file[1], 'M');
    EXPECT_EQ(Read32(file, 2), file.size()) << "bfSize";
    EXPECT_EQ(Read32(file, 10), 62u) << "bfOffBits";
    EXPECT_EQ(Read32(file, 14), 40u) << "information header size";
    EXPECT_EQ(static_cast<int>(Read32(file, 18)), width) << "width";
    EXPECT_EQ(static_cast<int>(Read32(file, 22)), height) << "height, rows bottom-up";
    EXPECT_EQ(Read16(file, 26), 1u) << "planes";
    EXPECT_EQ(Read16(file, 28), 1u) << "bits per pixel";
    EXPECT_EQ(Read32(file, 30), 0u) << "compression";
    EXPECT_EQ(Read32(file, 34), BmpRowBytes(width) * static_cast<unsigned>(height) + 2) << "biSizeImage";
    EXPECT_EQ(static_cast<int>(Read32(file, 38)), ppmX) << "horizontal pixels per metre";
    EXPECT_EQ(static_cast<int>(Read32(file, 42)), ppmY) << "vertical pixels per metre";
    EXPECT_EQ(Read32(file, 46), 0u) << "biClrUsed";
    EXPECT_EQ(Read32(file, 50), 0u) << "biClrImportant";
    EXPECT_EQ(Read32(file, 54) & 0xFFFFFF, 0xFFFFFFu) << "colour 0 white";
    EXPECT_EQ(Read32(file, 58) & 0xFFFFFF, 0x000000u) << "colour 1 black";
}

MonoPage ExpectMonochromeBmp(const std::string& path, int width, int height, int ppmX, int ppmY)
{
    SCOPED_TRACE(path);
    std::vector<unsigned char> file = ReadBytes(path);
    size_t rowLength = BmpRowBytes(width);
    EXPECT_EQ(file.size(), 62 + rowLength * static_cast<size_t>(height)) << "header and rows, nothing else";
    if (file.size() < 62) return {};
    ExpectMonochromeHeader(file, width, height, ppmX, ppmY);
    if (file.size() != 62 + rowLength * static_cast<size_t>(height)) return {};
    MonoPage page{width, height, std::vector<char>(static_cast<size_t>(width) * height)};
    int blackPadding = 0;
    for (int y = 0; y < height; ++y) {
        const unsigned char* row = &file[62 + static_cast<size_t>(height - 1 - y) * rowLength];
        for (int x = 0; x < (width + 7) / 8 * 8; ++x) {
            bool black = (row[x / 8] >> (7 - x % 8)) & 1;
            if (x < width) page.black[static_cast<size_t>(y) * width + x] = black;
            else blackPadding += black;
        }
    }
    EXPECT_EQ(blackPadding, 0) << "bits after a row's last pixel must be white";
    return page;
}

unsigned MagickImage::Rgb(int x, int y) const
{
    const unsigned char* pixel = &rgba[4 * (static_cast<size_t>(y) * width + x)];
    return unsigned(pixel[0]) << 16 | unsigned(pixel[1]) << 8 | pixel[2];
}

int MagickImage::Alpha(int x, int y) const
{
    return rgba[4 * (static_cast<size_t>(y) * width + x) + 3];
}

// The Unix path Wine maps a Windows path to; empty where there is none (not under Wine).
static std::string UnixPath(const std::string& path)
{
    using ToUnix = char*(__cdecl*)(const wchar_t*);
    FARPROC found = GetProcAddress(GetModuleHandleA("kernel32.dll"), "wine_get_unix_file_name");
    WidePath wide(AnsiToWide(path.c_str()), &std::free);
    char* unix = found && wide ? reinterpret_cast<ToUnix>(reinterpret_cast<void*>(found))(wide.get()) : nullptr;
    std::string result = unix ? unix : "";
    if (unix) HeapFree(GetProcessHeap(), 0, unix);
    return result;
}

// Runs a shell script as a Unix process and waits for it. A Unix program started by this process
// leaves its heap damaged under Wine, so Wine's start.exe starts it; there is no handle to wait on,
// so the script ends by creating `done`, next to the script file `base`.sh.
static bool RunUnix(const std::string& script, const std::string& base)
{
    std::string file = base + ".sh", done = base + ".done";
    std::string unixFile = UnixPath(file), unixDone = UnixPath(done);
    std::string text = script + "\ntouch '" + unixDone + "'\n";
    WriteBytes(file, std::vector<unsigned char>(text.begin(), text.end()));
    std::string command = "start.exe /unix /bin/sh " + unixFile;
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    if (unixFile.empty() || unixDone.empty() ||
        !CreateProcessA(nullptr, &command[0], nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr, nullptr, &startup,
                        &process)) {
        return false;
    }
    WaitForSingleObject(process.hProcess, 60000);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    for (int waited = 0; waited < 60000 && !FileExists(done); waited += 20) Sleep(20);
    bool ran = FileExists(done);
    DeleteFileA(done.c_str());
    DeleteFileA(file.c_str());
    return ran;
}

bool HasUnixImageMagick()
{
    return !UnixPath("C:\\").empty();
}

bool MakeDanglingLink(const std::string& path)
{
    // Wine answers CreateSymbolicLinkA with success and makes nothing: the link is made on its host.
    std::string unixPath = UnixPath(path);
    if (!unixPath.empty()) return RunUnix("ln -s nowhere '" + unixPath + "'", path + "-link");
    return CreateSymbolicLinkA(path.c_str(), "nowhere", SYMBOLIC_LINK_FLAG_ALLOW_UNPRIVILEGED_CREATE) != 0;
}

MagickImage ReadWithImageMagick(const std::string& path)
{
    static int runs = 0;
    char temp[MAX_PATH];
    GetTempPathA(MAX_PATH, temp);
    std::string base = std::string(temp) + "lumivex-magick-" + std::to_string(GetCurrentProcessId()) + "-" +
                       std::to_string(++runs);
    std::string info = base + ".info", pixels = base + ".rgba";
    std::string source = "'" + UnixPath(path) + "[0]'";
    std::string script = "/usr/bin/convert " + source + " -format '%m %w %h %x %y %U' info:'" + UnixPath(info) +
                         "' && /usr/bin/convert " + source + " -depth 8 RGBA:'" + UnixPath(pixels) + "'";
    MagickImage image;
    EXPECT_TRUE(RunUnix(script, base)) << "ImageMagick did not run on " << path;
    std::vector<unsigned char> described = ReadBytes(info);
    std::istringstream fields(std::string(described.begin(), described.end()));
    std::string units;
    fields >> image.format >> image.width >> image.height >> image.dpiX >> image.dpiY >> units;
    double toInch = units == "PixelsPerCentimeter" ? 2.54 : units == "PixelsPerInch" ? 1 : 0;
    image.dpiX *= toInch;
    image.dpiY *= toInch;
    image.rgba = ReadBytes(pixels);
    if (image.rgba.size() != 4 * static_cast<size_t>(image.width) * image.height) image.format.clear();
    for (const std::string& file : {info, pixels}) DeleteFileA(file.c_str());
    return image;
}

// Each test starts with no recorded messages.
struct ClearMessagesAtStart : testing::EmptyTestEventListener {
    void OnTestStart(const testing::TestInfo&) override { ClearMessages(); }
};

int main(int argc, char** argv)
{
    testing::InitGoogleTest(&argc, argv);
    testing::UnitTest::GetInstance()->listeners().Append(new ClearMessagesAtStart);
    Gdiplus::GdiplusStartupInput input;
    ULONG_PTR token = 0;
    Gdiplus::GdiplusStartup(&token, &input, nullptr);
    RedirectMessages(RecordMessage);
    int result = RUN_ALL_TESTS();
    Gdiplus::GdiplusShutdown(token);
    return result;
}
