// The safe save: the result is readied for its encoder, encoded and patched in memory, written to a
// hidden temporary file beside the dropped one, flushed, checked whole and only then put in its place.
#include "imaging/jpeg_output.h"
#include "imaging/kernels/monochrome.h"
#include "imaging/kernels/palette.h"
#include "imaging/page_files.h"
#include "imaging/save.h"
#include "messages/report.h"

#include <shlwapi.h>

#include <cstdio>
#include <cwchar>
#include <vector>

using namespace Gdiplus;

struct ReleaseStream {
    void operator()(IStream* stream) const { stream->Release(); }
};

// Unlocks the memory of a stream on global memory, locked for its bytes.
struct UnlockGlobal {
    void operator()(std::uint8_t* bytes) const { GlobalUnlock(GlobalHandle(bytes)); }
};

// `image` as 8-bit indexed colour on the fixed palette, with its resolution; null when it cannot be
// made or locked.
static BitmapPtr ToFixedPalette(Bitmap& image)
{
    int width = static_cast<int>(image.GetWidth()), height = static_cast<int>(image.GetHeight());
    BitmapPtr indexed = NewBitmap(width, height, PixelFormat8bppIndexed, image.GetHorizontalResolution(),
                                  image.GetVerticalResolution());
    if (!indexed) return nullptr;
    std::vector<ARGB> palette(kFixedPaletteCount);
    for (int index = 0; index < kFixedPaletteCount; ++index) palette[index] = FixedPaletteEntry(index);
    if (SetPaletteEntries(*indexed, palette) != Ok) return nullptr;
    auto [bgra, indices] = LockFromTo(image, PixelFormat32bppARGB, *indexed, PixelFormat8bppIndexed);
    if (!indices) return nullptr;
    for (int y = 0; y < height; ++y) QuantiseRow(PixelRow(*bgra, y), width, PixelRow(*indices, y));
    return indexed;
}

// The image the encoder gets. Some GIF encoders write an unreadable file from 24- and 32-bit images
// while reporting success: GIF results go to the fixed palette first. Returns `result` itself or the
// copy kept in `reduced`; null when the copy cannot be made.
static Bitmap* ReadyForEncoder(Bitmap& result, const OutputFormat& format, BitmapPtr& reduced)
{
    if (std::wcscmp(format.mimeType, L"image/gif") != 0) return &result;
    reduced = ToFixedPalette(result);
    return reduced.get();
}

// A 1-bit BMP is checked from its bytes: header, colour table and a length that holds every row.
static Status CheckMonochromeBmp(const char* path, UINT width, UINT height)
{
    std::uint8_t head[kMonochromeBmpHeaderSize];
    std::uint64_t length = 0;
    return ReadHead(path, head, sizeof head, length) && IsMonochromeBmp(head, length, width, height) ? Ok
                                                                                                      : GenericError;
}

// Any other result is decoded completely, every pixel, at the size meant. The lock in the file's own
// format makes the decoder deliver all pixels without a conversion; formats that cannot be locked as
// they are go through 32-bit ARGB.
static Status CheckDecodes(const wchar_t* path, UINT width, UINT height)
{
    Bitmap written(path);
    Status decoded = written.GetLastStatus();  // read once: reading it sets it back to Ok
    if (decoded != Ok) return decoded;
    if (written.GetWidth() != width || written.GetHeight() != height) return GenericError;
    LockedPixels pixels = LockPixels(written, ImageLockModeRead, written.GetPixelFormat());
    if (!pixels) pixels = LockPixels(written, ImageLockModeRead, PixelFormat32bppARGB);
    return pixels ? Ok : GenericError;
}

Status CheckWrittenFile(const char* path, UINT width, UINT height, bool monochromeBmp)
{
    if (monochromeBmp) return CheckMonochromeBmp(path, width, height);
    WidePath widePath(AnsiToWide(path), &std::free);
    return widePath ? CheckDecodes(widePath.get(), width, height) : OutOfMemory;
}

// Writes `size` bytes to a new hidden temporary file beside the page, flushed, checks it with
// `check` (given the temporary's path) and puts it in the page's place.
template <class Check>
static Status SaveWrittenOver(const char* path, const std::uint8_t* bytes, std::size_t size, Check check)
{
    char full[MAX_PATH], temporary[MAX_PATH];
    WIN32_FILE_ATTRIBUTE_DATA original;
    if (!FullPathForSave(path, full) || !GetFileAttributesExA(full, GetFileExInfoStandard, &original) ||
        !CanReplace(full) || !WriteTemporary(full, bytes, size, temporary)) {
        return Win32Error;
    }
    TemporaryOwner owner(temporary);
    Status status = check(temporary);
    if (status != Ok) return status;
    bool keepTemporary = false;
    bool replaced = ReplacePage(full, temporary, original, keepTemporary);
    if (replaced || keepTemporary) owner.release();
    return replaced ? Ok : Win32Error;
}

Status SaveJpegResultOver(const char* path, const JpegResult& result)
{
    if (result.status != Ok) return result.status;
    // The bytes were decoded whole as they were made: the file must hold them, each one.
    return SaveWrittenOver(path, result.bytes.data(), result.bytes.size(), [&](const char* temporary) {
        std::vector<std::uint8_t> written;
        if (!ReadWholeFile(temporary, written)) return Win32Error;
        return written == result.bytes ? Ok : GenericError;
    });
}

// A JPEG result of pixels: encoded with the tables and metadata of the source's bytes, then saved.
static Status EncodeJpegAndSaveOver(char const* path, Bitmap& result, const std::vector<std::uint8_t>& source)
{
    LockedPixels bgr = LockPixels(result, ImageLockModeRead, PixelFormat24bppRGB);
    if (!bgr) return GenericError;
    JpegResult encoded =
        EncodedBgr(source, PixelRow(*bgr, 0), bgr->Stride, static_cast<int>(bgr->Width), static_cast<int>(bgr->Height),
                   result.GetHorizontalResolution(), result.GetVerticalResolution());
    bgr.reset();
    return SaveJpegResultOver(path, encoded);
}

// The encoder writes to memory (the file on disk is written by the program itself, hidden until it is
// whole and flushed), and its bytes are written from where it left them: a page's worth of fresh
// memory costs more than the copy would.
Status SaveOver(char const* path, Bitmap& result, const OutputFormat& format,
                const std::vector<std::uint8_t>& jpegSource)
{
    if (format.jpeg) return EncodeJpegAndSaveOver(path, result, jpegSource);
    CLSID encoder;
    if (GetEncoderClsid(format.mimeType, &encoder) < 0) return GenericError;
    BitmapPtr reduced;
    Bitmap* image = ReadyForEncoder(result, format, reduced);
    if (!image) return GenericError;
    IStream* created = nullptr;
    if (CreateStreamOnHGlobal(nullptr, TRUE, &created) != S_OK) return OutOfMemory;
    std::unique_ptr<IStream, ReleaseStream> stream(created);
    Status status = image->Save(stream.get(), &encoder, nullptr);
    if (status != Ok) return status;
    HGLOBAL memory = nullptr;
    STATSTG described{};
    if (GetHGlobalFromStream(stream.get(), &memory) != S_OK || stream->Stat(&described, STATFLAG_NONAME) != S_OK) {
        return Win32Error;
    }
    std::unique_ptr<std::uint8_t, UnlockGlobal> bytes(static_cast<std::uint8_t*>(GlobalLock(memory)));
    if (!bytes) return OutOfMemory;
    auto size = static_cast<std::size_t>(described.cbSize.QuadPart);
    if (format.monochromeBmp && size >= 54) PatchMonochromeHeader(bytes.get(), static_cast<std::uint32_t>(size));
    UINT width = image->GetWidth(), height = image->GetHeight();
    return SaveWrittenOver(path, bytes.get(), size, [&](const char* temporary) {
        return CheckWrittenFile(temporary, width, height, format.monochromeBmp);
    });
}

void SaveMonochromeBmp(const char* path, const char* backupName, Bitmap& page, const char* successFormat)
{
    CLSID encoder;  // asked first for the report of its own; the safe save finds it again
    if (GetEncoderClsid(L"image/bmp", &encoder) < 0) {
        ReportFailure("Failed to get BMP encoder");
        return;
    }
    // The safe save also patches the BMP header, in memory before the file is written.
    Status status = SaveOver(path, page, {L"image/bmp", true}, {});
    if (status != Ok) {
        ReportSaveStatus(status);
        return;
    }
    ReportSaved(successFormat, backupName);
}

OutputFormat OutputFormatFor(char const* path)
{
    const char* extension = PathFindExtensionA(path);
    if (_stricmp(extension, ".png") == 0) return {L"image/png", false};
    if (_stricmp(extension, ".bmp") == 0) return {L"image/bmp", true};
    if (_stricmp(extension, ".gif") == 0) return {L"image/gif", false};
    return {L"image/jpeg", false, true};
}
