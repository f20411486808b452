// The frame shared by the four operations: load, gate, backup, 1-bit conversion, safe save, reports.
#include "imaging/pipeline.h"

#include "messages/report.h"
#include "messages/texts.h"
#include "imaging/kernels/monochrome.h"
#include "imaging/operations.h"

#include <shlwapi.h>

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <vector>

using namespace Gdiplus;

wchar_t* AnsiToWide(char const* path)
{
    int units = MultiByteToWideChar(CP_ACP, 0, path, -1, nullptr, 0);
    if (units <= 0) {
        return nullptr;
    }
    auto* wide = static_cast<wchar_t*>(std::malloc(sizeof(wchar_t) * static_cast<size_t>(units)));
    if (wide) {
        MultiByteToWideChar(CP_ACP, 0, path, -1, wide, units);
    }
    return wide;
}

bool IsValidDPI(Bitmap* image)
{
    REAL horizontal = image->GetHorizontalResolution();
    REAL vertical = image->GetVerticalResolution();
    if (std::fabs(horizontal - 600.0f) <= 0.5f && std::fabs(vertical - 600.0f) <= 0.5f) {
        return true;
    }
    char message[256];
    std::snprintf(message, sizeof message, texts->msgDpiRequired, static_cast<double>(horizontal),
                  static_cast<double>(vertical));
    ReportFailure(message);
    return false;
}

void GetBackupFilename(char const* path, char* backup, int size)
{
    char drive[3], directory[256], name[256], extension[256];
    backup[0] = '\0';
    if (_splitpath_s(path, drive, sizeof drive, directory, sizeof directory, name, sizeof name, extension,
                     sizeof extension) != 0) {
        return;
    }
    for (int n = 1; n <= 999; ++n) {
        int length = std::snprintf(backup, static_cast<size_t>(size), "%s%s%s%d%s", drive, directory, name, n,
                                   extension);
        if (length < 0 || length >= size) {
            break;  // longer numbers only get longer
        }
        if (GetFileAttributesA(backup) == INVALID_FILE_ATTRIBUTES) {
            return;
        }
    }
    // No free name: an empty name makes the copy fail instead of replacing backup 999.
    backup[0] = '\0';
}

int GetEncoderClsid(wchar_t const* mimeType, CLSID* clsid)
{
    UINT count = 0, bytes = 0;
    GetImageEncodersSize(&count, &bytes);
    if (bytes == 0) {
        return -1;
    }
    std::vector<BYTE> block(bytes);
    auto* encoders = reinterpret_cast<ImageCodecInfo*>(block.data());
    if (GetImageEncoders(count, bytes, encoders) != Ok) {
        return -1;
    }
    for (UINT i = 0; i < count; ++i) {
        if (std::wcscmp(encoders[i].MimeType, mimeType) == 0) {
            *clsid = encoders[i].Clsid;
            return static_cast<int>(i);
        }
    }
    return -1;
}

void UnlockPixels::operator()(BitmapData* pixels) const
{
    bitmap->UnlockBits(pixels);
    delete pixels;
}

LockedPixels LockPixels(Bitmap& bitmap, UINT mode, PixelFormat format)
{
    Rect all(0, 0, static_cast<INT>(bitmap.GetWidth()), static_cast<INT>(bitmap.GetHeight()));
    auto pixels = std::make_unique<BitmapData>();
    if (bitmap.LockBits(&all, mode, format, pixels.get()) != Ok) {
        return nullptr;
    }
    return LockedPixels(pixels.release(), UnlockPixels{&bitmap});
}

bool IsUsable(const BitmapPtr& bitmap)
{
    return bitmap && bitmap->GetLastStatus() == Ok;
}

bool FitsPixelBuffers(long long width, long long height)
{
    return width > 0 && height > 0 && width * height * 3 < (1LL << 31);
}

BitmapPtr NewBitmap(int width, int height, PixelFormat format, REAL dpiX, REAL dpiY)
{
    if (!FitsPixelBuffers(width, height)) {
        return nullptr;
    }
    BitmapPtr bitmap(new Bitmap(width, height, format));
    if (!IsUsable(bitmap) || bitmap->SetResolution(dpiX, dpiY) != Ok) {
        return nullptr;
    }
    return bitmap;
}

ImageHeader ReadImageHeader(char const* path)
{
    // Shared with every other reader and writer, so that the check fails nowhere the decoder would not.
    HANDLE opened = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (opened == INVALID_HANDLE_VALUE) return {};
    std::unique_ptr<void, decltype(&CloseHandle)> file(opened, &CloseHandle);
    LARGE_INTEGER length{};
    if (!GetFileSizeEx(file.get(), &length)) return {};
    auto read = [&](std::uint64_t offset, std::uint8_t* into, std::size_t count) -> std::size_t {
        LARGE_INTEGER at{};
        at.QuadPart = static_cast<LONGLONG>(offset);
        DWORD got = 0;
        if (!SetFilePointerEx(file.get(), at, nullptr, FILE_BEGIN) ||
            !ReadFile(file.get(), into, static_cast<DWORD>(count), &got, nullptr)) {
            return 0;
        }
        return got;
    };
    return CheckImageHeader(read, static_cast<std::uint64_t>(length.QuadPart));
}

// Some platforms' decoders read no EXIF and give a JPEG whose JFIF header states no unit the 96 DPI
// default, where Windows reads the EXIF resolution: the pair from the file's own EXIF block then stands in.
static void UseExifResolution(const ImageHeader& header, Bitmap& bitmap)
{
    if (header.exifDpiX <= 0 || header.exifDpiY <= 0) return;
    if (bitmap.GetHorizontalResolution() != 96.0f || bitmap.GetVerticalResolution() != 96.0f) return;
    bitmap.SetResolution(static_cast<REAL>(header.exifDpiX), static_cast<REAL>(header.exifDpiY));
}

// Loads the dropped file; refuses what cannot be decoded or would not fit 32-bit pixel buffers.
// A known format whose header is broken never reaches the decoder: some decoders fault on such
// headers inside the load, before any check of ours could run.
static bool LoadSource(SourceImage& source)
{
    ImageHeader header = ReadImageHeader(source.path);
    bool refused = header.kind != ImageKind::Unknown &&
                   (!header.sound || !FitsPixelBuffers(header.widthPx, header.heightPx));
    source.widePath.reset(AnsiToWide(source.path));
    if (!refused && source.widePath) {
        source.bitmap.reset(new Bitmap(source.widePath.get()));
    }
    if (!IsUsable(source.bitmap) || !FitsPixelBuffers(source.bitmap->GetWidth(), source.bitmap->GetHeight())) {
        ReportFailure(texts->msgProcessingError);
        return false;
    }
    UseExifResolution(header, *source.bitmap);
    return true;
}

// Copies the dropped file to the first free numbered name; never replaces an existing file.
static bool MakeBackup(SourceImage& source)
{
    char backupPath[MAX_PATH];
    GetBackupFilename(source.path, backupPath, MAX_PATH);
    if (backupPath[0] == '\0' || !CopyFileA(source.path, backupPath, TRUE)) {
        ReportFailure("Failed to create backup");
        return false;
    }
    char name[256] = "", extension[256] = "";
    _splitpath_s(backupPath, nullptr, 0, nullptr, 0, name, sizeof name, extension, sizeof extension);
    std::snprintf(source.backupName, sizeof source.backupName, "%s%s", name, extension);
    return true;
}

bool OpenSource(char const* path, SourceImage& source)
{
    source.path = path;
    if (!LoadSource(source) || !IsValidDPI(source.bitmap.get())) {
        return false;
    }
    // What the safe save cannot write beside the file is refused before the backup: nothing written.
    char full[MAX_PATH];
    if (!FullPathForSave(path, full)) {
        ReportFailure(texts->msgProcessingError);
        return false;
    }
    if (!MakeBackup(source)) {
        return false;
    }
    source.dpiX = source.bitmap->GetHorizontalResolution();
    source.dpiY = source.bitmap->GetVerticalResolution();
    return true;
}

std::vector<ARGB> PaletteOf(Bitmap& bitmap)
{
    int size = bitmap.GetPaletteSize();
    if (!IsIndexedPixelFormat(bitmap.GetPixelFormat()) || size < static_cast<int>(sizeof(ColorPalette))) return {};
    std::vector<BYTE> block(static_cast<std::size_t>(size));
    auto* palette = reinterpret_cast<ColorPalette*>(block.data());
    if (bitmap.GetPalette(palette, size) != Ok) return {};
    UINT room = static_cast<UINT>((static_cast<std::size_t>(size) - offsetof(ColorPalette, Entries)) / sizeof(ARGB));
    return std::vector<ARGB>(palette->Entries, palette->Entries + std::min({palette->Count, room, 256u}));
}

Status SetPaletteEntries(Bitmap& bitmap, const std::vector<ARGB>& entries)
{
    // ColorPalette ends in a one-entry array; the block holds all of them.
    std::vector<BYTE> block(sizeof(ColorPalette) + entries.size() * sizeof(ARGB));
    auto* palette = reinterpret_cast<ColorPalette*>(block.data());
    palette->Flags = 0;
    palette->Count = static_cast<UINT>(entries.size());
    std::copy(entries.begin(), entries.end(), palette->Entries);
    return bitmap.SetPalette(palette);
}

void SetMonochromePalette(Bitmap& bitmap)
{
    // White first, black second; alpha 0 as the files have always carried it.
    SetPaletteEntries(bitmap, {0x00FFFFFF, 0x00000000});
}

// A palette entry is black when its blue component is below the threshold, as its 24-bit form would be.
static bool IsBlackEntry(ARGB colour)
{
    return (colour & 0xFF) < kWhiteThreshold;
}

// Fills `mono` from a 1-bit source without widening it to 24 bits: each of the two palette entries
// is judged once. False when the palette cannot be read or a lock fails.
static bool PackIndexed(Bitmap& source, Bitmap& mono, int height)
{
    std::vector<ARGB> palette = PaletteOf(source);
    if (palette.size() < 2) return false;
    bool zeroIsBlack = IsBlackEntry(palette[0]);
    bool oneIsBlack = IsBlackEntry(palette[1]);
    LockedPixels indices = LockPixels(source, ImageLockModeRead, PixelFormat1bppIndexed);
    LockedPixels bits = indices ? LockPixels(mono, ImageLockModeWrite, PixelFormat1bppIndexed) : nullptr;
    if (!bits) return false;
    for (int y = 0; y < height; ++y) {
        MapIndexedRow(PixelRow(*indices, y), static_cast<int>(indices->Width), zeroIsBlack, oneIsBlack,
                      PixelRow(*bits, y));
    }
    return true;
}

// Fills `mono` by the blue threshold on the source's pixels widened to 24 bits.
static bool PackThresholded(Bitmap& source, Bitmap& mono, int width, int height)
{
    LockedPixels bgr = LockPixels(source, ImageLockModeRead, PixelFormat24bppRGB);
    LockedPixels bits = bgr ? LockPixels(mono, ImageLockModeWrite, PixelFormat1bppIndexed) : nullptr;
    if (!bits) return false;
    for (int y = 0; y < height; ++y) {
        PackMonochromeRow(PixelRow(*bgr, y), width, PixelRow(*bits, y));
    }
    return true;
}

BitmapPtr ToMonochrome(Bitmap& source, REAL dpiX, REAL dpiY)
{
    int width = static_cast<int>(source.GetWidth());
    int height = static_cast<int>(source.GetHeight());
    BitmapPtr mono = NewBitmap(width, height, PixelFormat1bppIndexed, dpiX, dpiY);
    if (!mono) {
        return nullptr;
    }
    SetMonochromePalette(*mono);
    // Scanned pages mostly arrive as 1-bit already; widening 35 megapixels to 24 bits costs far more.
    bool indexed = source.GetPixelFormat() == PixelFormat1bppIndexed && PackIndexed(source, *mono, height);
    return indexed || PackThresholded(source, *mono, width, height) ? std::move(mono) : nullptr;
}

OutputFormat OutputFormatFor(char const* path)
{
    const char* extension = PathFindExtensionA(path);
    if (_stricmp(extension, ".png") == 0) return {L"image/png", false};
    if (_stricmp(extension, ".bmp") == 0) return {L"image/bmp", true};
    if (_stricmp(extension, ".gif") == 0) return {L"image/gif", false};
    return {L"image/jpeg", false, true};
}
