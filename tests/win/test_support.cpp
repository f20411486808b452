// The Windows tests' shared helpers and their main: GDI+ is started once and every message
// box is recorded instead of shown.
#include "test_support.h"

#include "messages/report.h"
#include "imaging/operations.h"

#include <shlobj.h>
#include <shlwapi.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>

static std::vector<ShownMessage> shownMessages;

static int RecordMessage(HWND owner, const char* text, const char* caption, UINT type)
{
    shownMessages.push_back({owner, text ? text : "", caption ? caption : "", type});
    return IDOK;
}

std::vector<ShownMessage>& Messages() { return shownMessages; }
void ClearMessages() { shownMessages.clear(); }

static void RemoveTree(const std::string& folder)
{
    WIN32_FIND_DATAA entry;
    HANDLE find = FindFirstFileA((folder + "\\*").c_str(), &entry);
    if (find == INVALID_HANDLE_VALUE) return;
    do {
        std::string name = entry.cFileName;
        if (name == "." || name == "..") continue;
        std::string path = folder + "\\" + name;
        if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            RemoveTree(path);
            RemoveDirectoryA(path.c_str());
        } else {
            SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
            DeleteFileA(path.c_str());
        }
    } while (FindNextFileA(find, &entry));
    FindClose(find);
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
    RemoveTree(folder);
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

bool IsBlack(Gdiplus::Bitmap& bitmap, int x, int y) { return PixelRgb(bitmap, x, y) == 0; }

static unsigned Read32(const std::vector<unsigned char>& bytes, size_t at)
{
    return bytes[at] | (bytes[at + 1] << 8) | (bytes[at + 2] << 16) | (unsigned(bytes[at + 3]) << 24);
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
    header.bitCount = file[28] | (file[29] << 8);
    header.sizeImage = Read32(file, 34);
    header.clrUsed = Read32(file, 46);
    header.clrImportant = Read32(file, 50);
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
    JpegFacts facts{-1, 0, 0, 0, 0};
    size_t at = 2;
    while (at + 4 <= file.size() && file[at] == 0xFF && file[at + 1] != 0xDA) {
        size_t length = Read16Be(file, at + 2);
        const unsigned char* payload = file.data() + at + 4;
        if (at + 2 + length > file.size()) break;
        if (file[at + 1] == 0xE0 && length >= 16 && std::memcmp(payload, "JFIF", 5) == 0) {
            facts = {payload[7], static_cast<int>(Read16Be(file, at + 12)), static_cast<int>(Read16Be(file, at + 14)),
                     facts.width, facts.height};
        }
        if (file[at + 1] >= 0xC0 && file[at + 1] <= 0xC2 && length >= 8) {
            facts.height = static_cast<int>(Read16Be(file, at + 5));
            facts.width = static_cast<int>(Read16Be(file, at + 7));
        }
        at += 2 + length;
    }
    return facts;
}

void ExpectMonochromeBmp(const std::vector<unsigned char>& file, int width, int height)
{
    BmpHeader header = ReadBmpHeader(file);
    EXPECT_EQ(header.bitCount, 1);
    EXPECT_EQ(header.width, width);
    EXPECT_EQ(header.height, height);
    EXPECT_EQ(header.sizeImage, BmpRowBytes(width) * static_cast<unsigned>(height) + 2);
    EXPECT_EQ(header.clrUsed, 0u);
    EXPECT_EQ(header.clrImportant, 0u);
    EXPECT_EQ(BmpPalette(file), (std::vector<unsigned>{0xFFFFFF, 0x000000}));
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
