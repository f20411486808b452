// The frame shared by the four operations: load, gate, backup, 1-bit conversion, safe save, reports.
#include "imaging/pipeline.h"

#include "messages/report.h"
#include "messages/texts.h"
#include "imaging/kernels/monochrome.h"
#include "imaging/file_calls.h"
#include "imaging/jpeg_output.h"
#include "imaging/page_files.h"

#include <shlwapi.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <functional>
#include <new>
#include <iterator>
#include <string>
#include <vector>

using namespace Gdiplus;

bool DpiRefusal(REAL horizontal, REAL vertical, char* message, std::size_t size)
{
    if (std::fabs(horizontal - 600.0f) <= 0.5f && std::fabs(vertical - 600.0f) <= 0.5f) {
        return false;
    }
    std::snprintf(message, size, texts->msgDpiRequired, static_cast<double>(horizontal), static_cast<double>(vertical));
    return true;
}

bool IsValidDPI(Bitmap* image)
{
    char message[256];
    if (!DpiRefusal(image->GetHorizontalResolution(), image->GetVerticalResolution(), message, sizeof message)) {
        return true;
    }
    ReportFailure(message);
    return false;
}

ImageHeader ReadImageHeader(char const* path)
{
    FileHandle file = OpenForReading(path);
    LARGE_INTEGER length{};
    if (!file || !GetFileSizeEx(file.get(), &length)) return {};
    auto read = [&](std::uint64_t offset, std::uint8_t* into, std::size_t count) -> std::size_t {
        LARGE_INTEGER at{};
        at.QuadPart = static_cast<LONGLONG>(offset);
        DWORD got = 0;
        if (!SetFilePointerEx(file.get(), at, nullptr, FILE_BEGIN) ||
            !Files().readFile(file.get(), into, static_cast<DWORD>(count), &got, nullptr)) {
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

// Refuses what cannot be decoded or would not fit 32-bit pixel buffers. A known format whose header
// is broken never reaches the decoder: some decoders fault on such headers inside the load, before
// any check of ours could run. An uncompressed BMP on a local disk is read where it lies, checked
// again from the mapped bytes; a JPEG file (but CMYK) is decoded by libjpeg-turbo, so that its pixels
// are the same on every platform; the platform's decoder reads every other file.
bool LoadSource(char const* path, SourceImage& source, SourceNeeds needs)
{
    source.path = path;
    ImageHeader header = ReadImageHeader(source.path);
    bool refused = header.kind != ImageKind::Unknown &&
                   (!header.sound || !FitsPixelBuffers(header.widthPx, header.heightPx));
    source.widePath.reset(AnsiToWide(source.path));
    if (!refused && header.kind == ImageKind::Jpeg && !ReadWholeFile(source.path, source.jpegFile)) return false;
    if (!refused && needs == SourceNeeds::JpegBytes && header.kind == ImageKind::Jpeg) {
        source.dpiX = static_cast<REAL>(header.jpegDpiX);
        source.dpiY = static_cast<REAL>(header.jpegDpiY);
        source.widthPx = static_cast<int>(header.widthPx);
        source.heightPx = static_cast<int>(header.heightPx);
        return true;
    }
    if (!refused && header.kind == ImageKind::Jpeg) {
        source.bitmap = DecodedJpeg(source.jpegFile, static_cast<REAL>(header.jpegDpiX),
                                    static_cast<REAL>(header.jpegDpiY));
    }
    if (!refused && header.bmp.rowsOffset != 0 && IsOnLocalDisk(source.path)) {
        source.bitmap = MapBmp(source.path);
    } else if (!refused && !source.bitmap && source.widePath) {
        source.bitmap.reset(new Bitmap(source.widePath.get()));
    }
    if (!IsUsable(source.bitmap) || !FitsPixelBuffers(source.bitmap->GetWidth(), source.bitmap->GetHeight()) ||
        !HasIndicesInPalette(*source.bitmap)) {
        source.bitmap.reset();
        return false;
    }
    UseExifResolution(header, *source.bitmap);
    source.dpiX = source.bitmap->GetHorizontalResolution();
    source.dpiY = source.bitmap->GetVerticalResolution();
    source.widthPx = static_cast<int>(source.bitmap->GetWidth());
    source.heightPx = static_cast<int>(source.bitmap->GetHeight());
    return true;
}

bool SweepAndBackUp(SourceImage& source)
{
    char full[MAX_PATH], backupPath[MAX_PATH] = "";
    if (FullPathForSave(source.path, full)) {
        RemoveLeftovers(full);
        GetBackupFilename(full, backupPath, MAX_PATH);
    }
    if (backupPath[0] == '\0' || !WriteBackup(full, backupPath)) {
        ReportFailure("Failed to create backup");
        return false;
    }
    char name[256] = "", extension[256] = "";
    _splitpath_s(backupPath, nullptr, 0, nullptr, 0, name, sizeof name, extension, sizeof extension);
    std::snprintf(source.backupName, sizeof source.backupName, "%s%s", name, extension);
    return true;
}

Verdict LoadAndJudge(char const* path, SourceImage& source, char* refusal, std::size_t size, SourceNeeds needs)
{
    // What the safe save could not put in the file's place is refused before anything is written: a
    // folder too long for the temporary name; a read-only file, or one another program holds. Asked
    // before the load, which keeps the file open.
    char full[MAX_PATH];
    bool room = FullPathForSave(path, full);
    DWORD attributes = room ? GetFileAttributesA(full) : INVALID_FILE_ATTRIBUTES;
    bool file = attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
    bool replaceable = !file || CanReplace(full);
    bool loaded = LoadSource(path, source, needs);
    if (!room) return Verdict::NoRoom;
    if (!loaded) return Verdict::Unreadable;
    if (DpiRefusal(source.dpiX, source.dpiY, refusal, size)) {
        ForgetFileError();  // the gate's refusal says why by itself
        return Verdict::WrongResolution;
    }
    return replaceable ? Verdict::Taken : Verdict::Unreplaceable;
}

bool LoadAndGate(char const* path, SourceImage& source, void (*reportSaveFailure)(int status), SourceNeeds needs)
{
    char refusal[256];
    switch (LoadAndJudge(path, source, refusal, sizeof refusal, needs)) {
    case Verdict::Taken: return true;
    case Verdict::WrongResolution: ReportFailure(refusal); break;
    case Verdict::Unreplaceable:
        if (reportSaveFailure) {
            reportSaveFailure(Win32Error);
            break;
        }
        [[fallthrough]];
    case Verdict::NoRoom:
    case Verdict::Unreadable: ReportFailure(texts->msgProcessingError); break;
    }
    source.bitmap.reset();
    return false;
}

bool LoadGateSweepAndBackUp(char const* path, SourceImage& source, void (*reportSaveFailure)(int status),
                            SourceNeeds needs)
{
    return LoadAndGate(path, source, reportSaveFailure, needs) && SweepAndBackUp(source);
}

void GuardMemory(const std::function<void()>& work)
{
    try {
        work();
    } catch (const std::bad_alloc&) {
        ReportFailure(texts->msgProcessingError);
    }
}

// Fills `mono` from the source's own palette indices (1, 4 or 8 bits) without widening them to 24
// bits: each palette entry is judged once by the blue of its colour, as its 24-bit form would be.
// Indices beyond the palette read as black. False when the palette cannot be read or a lock fails.
static bool PackIndexed(Bitmap& source, Bitmap& mono, int width, int height)
{
    std::vector<ARGB> palette = PaletteOf(source);
    if (palette.empty()) return false;
    std::uint8_t black[256];
    std::fill(std::begin(black), std::end(black), std::uint8_t{1});
    for (std::size_t i = 0; i < palette.size(); ++i) black[i] = (palette[i] & 0xFF) < kWhiteThreshold;
    PixelFormat format = source.GetPixelFormat();
    auto [indices, bits] = LockFromTo(source, format, mono, PixelFormat1bppIndexed);
    if (!bits) return false;
    int bitsPerPixel = static_cast<int>(GetPixelFormatSize(format));
    for (int y = 0; y < height; ++y) {
        PackIndexedRow(PixelRow(*indices, y), width, bitsPerPixel, black, PixelRow(*bits, y));
    }
    return true;
}

// Fills `mono` by the blue threshold on the source's pixels: 24- and 32-bit colour read as they are
// stored, any other format widened to 24 bits by the lock.
static bool PackThresholded(Bitmap& source, Bitmap& mono, int width, int height)
{
    PixelFormat format = source.GetPixelFormat() == PixelFormat32bppRGB ? PixelFormat32bppRGB : PixelFormat24bppRGB;
    auto [colour, bits] = LockFromTo(source, format, mono, PixelFormat1bppIndexed);
    if (!bits) return false;
    int bytesPerPixel = static_cast<int>(GetPixelFormatSize(format) / 8);
    for (int y = 0; y < height; ++y) {
        PackMonochromeRow(PixelRow(*colour, y), width, bytesPerPixel, PixelRow(*bits, y));
    }
    return true;
}

// The formats whose pixels the program reads as they are stored.
static bool IsOwnIndexedFormat(PixelFormat format)
{
    return format == PixelFormat1bppIndexed || format == PixelFormat4bppIndexed || format == PixelFormat8bppIndexed;
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
    // Scanned pages arrive as 1-bit or 8-bit grey; widening 35 megapixels to 24 bits costs far more.
    bool indexed = IsOwnIndexedFormat(source.GetPixelFormat()) && PackIndexed(source, *mono, width, height);
    return indexed || PackThresholded(source, *mono, width, height) ? std::move(mono) : nullptr;
}

