// The safe save: the result is written to a temporary file beside the dropped one, readied for its
// encoder, patched, checked whole, given the dropped file's identity and only then put in its place.
#include "imaging/kernels/lengths.h"
#include "imaging/kernels/monochrome.h"
#include "imaging/kernels/palette.h"
#include "imaging/operations.h"
#include "imaging/pipeline.h"
#include "messages/report.h"

#include <shlwapi.h>

#include <cstdio>
#include <cwchar>
#include <functional>
#include <vector>

using namespace Gdiplus;

// Temporary names are "~" and one to four hex digits: never longer than the shortest backup name
// ("1.png"), so a temporary name fits wherever the backup's does.
constexpr unsigned kLastTemporary = 0xFFFF;
constexpr size_t kTemporaryNameLength = 5;

using File = std::unique_ptr<FILE, decltype(&std::fclose)>;

static File OpenFile(char const* path, const char* mode)
{
    FILE* opened = nullptr;
    if (fopen_s(&opened, path, mode) != 0) opened = nullptr;
    return File(opened, &std::fclose);
}

// Reads the file's first `size` bytes and finds its length from the end, without reading the rest.
static bool ReadHead(FILE* file, std::uint8_t* head, size_t size, long& length)
{
    if (std::fread(head, 1, size, file) != size || std::fseek(file, 0, SEEK_END) != 0) return false;
    length = std::ftell(file);
    return length >= 0;
}

void FixBMPHeader(char const* path)
{
    File file = OpenFile(path, "r+b");
    std::uint8_t header[54];
    long length = 0;
    if (!file || !ReadHead(file.get(), header, sizeof header, length) ||
        !PatchMonochromeHeader(header, static_cast<std::uint32_t>(length))) {
        return;
    }
    std::fseek(file.get(), 0, SEEK_SET);
    std::fwrite(header, 1, sizeof header, file.get());
}

bool FullPathForSave(char const* path, char* full)
{
    DWORD length = GetFullPathNameA(path, MAX_PATH, full, nullptr);
    if (length == 0 || length >= MAX_PATH) return false;
    size_t folderLength = static_cast<size_t>(PathFindFileNameA(full) - full);  // with its separator
    return folderLength + kTemporaryNameLength < MAX_PATH;
}

// Creates an empty temporary file beside the dropped one (`full`), so that the replace stays on one
// volume. It is created only where no file is, so nothing of the user's is ever replaced by it.
static bool CreateTemporary(const char* full, char* temporary)
{
    int folderLength = static_cast<int>(PathFindFileNameA(full) - full);
    for (unsigned n = 1; n <= kLastTemporary; ++n) {
        std::snprintf(temporary, MAX_PATH, "%.*s~%X", folderLength, full, n);
        HANDLE file = CreateFileA(temporary, GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file != INVALID_HANDLE_VALUE) {
            CloseHandle(file);
            return true;
        }
        if (GetLastError() != ERROR_FILE_EXISTS && GetLastError() != ERROR_ALREADY_EXISTS) return false;
    }
    return false;
}

static void DeleteTemporary(char* path)
{
    DeleteFileA(path);
}

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
    LockedPixels bgra = LockPixels(image, ImageLockModeRead, PixelFormat32bppARGB);
    LockedPixels indices = bgra ? LockPixels(*indexed, ImageLockModeWrite, PixelFormat8bppIndexed) : nullptr;
    if (!indices) return nullptr;
    for (int y = 0; y < height; ++y) QuantiseRow(PixelRow(*bgra, y), width, PixelRow(*indices, y));
    return indexed;
}

// The image the encoder gets. JPEG stores whole DPI and some encoders truncate 599.9988 to 599, which
// the DPI gate would then refuse: the pair is rounded here. Some GIF encoders write an unreadable file
// from 24- and 32-bit images while reporting success: GIF results go to the fixed palette first.
// Returns `result` itself or the copy kept in `reduced`; null when the copy cannot be made.
static Bitmap* ReadyForEncoder(Bitmap& result, const OutputFormat& format, BitmapPtr& reduced)
{
    if (std::wcscmp(format.mimeType, L"image/jpeg") == 0) {
        REAL dpiX = WholeDpi(result.GetHorizontalResolution()), dpiY = WholeDpi(result.GetVerticalResolution());
        return result.SetResolution(dpiX, dpiY) == Ok ? &result : nullptr;
    }
    if (std::wcscmp(format.mimeType, L"image/gif") != 0) return &result;
    reduced = ToFixedPalette(result);
    return reduced.get();
}

// A 1-bit BMP is checked from its bytes: header, colour table and a length that holds every row.
static Status CheckMonochromeBmp(const char* path, UINT width, UINT height)
{
    File file = OpenFile(path, "rb");
    std::uint8_t head[kMonochromeBmpHeaderSize];
    long length = 0;
    return file && ReadHead(file.get(), head, sizeof head, length) &&
                   IsMonochromeBmp(head, static_cast<std::uint64_t>(length), width, height)
               ? Ok
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

// Saves `image` to the temporary file, patches a BMP header there and checks the whole file.
static Status WriteChecked(const char* temporary, Bitmap& image, const CLSID& encoder, bool monochromeBmp)
{
    WidePath wideTemporary(AnsiToWide(temporary), &std::free);
    if (!wideTemporary) return OutOfMemory;
    Status status = image.Save(wideTemporary.get(), &encoder, nullptr);
    if (status != Ok) return status;
    if (monochromeBmp) FixBMPHeader(temporary);
    return CheckWrittenFile(temporary, image.GetWidth(), image.GetHeight(), monochromeBmp);
}

// Gives the temporary file the dropped file's attributes and creation time before it takes its place:
// ReplaceFileA carries them on Windows, but elsewhere it is a plain rename, and the move is one anyway.
static void CarryIdentity(const char* temporary, const WIN32_FILE_ATTRIBUTE_DATA& original)
{
    HANDLE file = CreateFileA(temporary, FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_EXISTING, 0, nullptr);
    if (file != INVALID_HANDLE_VALUE) {
        SetFileTime(file, &original.ftCreationTime, nullptr, nullptr);
        CloseHandle(file);
    }
    const DWORD carried = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE |
                          FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;
    DWORD attributes = original.dwFileAttributes & carried;
    SetFileAttributesA(temporary, attributes ? attributes : FILE_ATTRIBUTE_NORMAL);
}

// Where the volume refuses ReplaceFileA, the move finishes the job: ERROR_INVALID_FUNCTION and
// ERROR_NOT_SUPPORTED (a file system or share without the operation), ERROR_UNABLE_TO_MOVE_REPLACEMENT
// and ERROR_UNABLE_TO_MOVE_REPLACEMENT_2 (the dropped file already moved aside, the result still under
// its temporary name). Every other failure leaves the dropped file as it was.
static bool VolumeRefusedReplace(DWORD error)
{
    return error == ERROR_INVALID_FUNCTION || error == ERROR_NOT_SUPPORTED ||
           error == ERROR_UNABLE_TO_MOVE_REPLACEMENT || error == ERROR_UNABLE_TO_MOVE_REPLACEMENT_2;
}

// ReplaceFileA keeps the dropped file's identity: creation time, attributes, permissions, streams.
// It is given a name of ours to move the old content aside to: without one, some platforms leave an
// empty file of their own beside the user's when the replace fails. The old content is in the numbered
// backup, so the aside copy goes, unless a failure left nothing at the dropped path.
static bool ReplaceWithTemporary(const char* full, const char* temporary)
{
    char aside[MAX_PATH];
    if (!CreateTemporary(full, aside)) return false;
    bool replaced = ReplaceFileA(full, temporary, aside, REPLACEFILE_IGNORE_MERGE_ERRORS, nullptr, nullptr) ||
                    (VolumeRefusedReplace(GetLastError()) &&
                     MoveFileExA(temporary, full, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH));
    if (GetFileAttributesA(full) != INVALID_FILE_ATTRIBUTES) DeleteFileA(aside);
    return replaced;
}

// The frame of every save: the dropped file's identity read, a temporary file beside it that `write`
// fills and checks, the identity carried over, then the replace; the temporary file goes on failure.
static Status SaveThrough(char const* path, const std::function<Status(const char* temporary)>& write)
{
    char full[MAX_PATH], temporary[MAX_PATH];
    WIN32_FILE_ATTRIBUTE_DATA original;
    if (!FullPathForSave(path, full) || !GetFileAttributesExA(full, GetFileExInfoStandard, &original)) {
        return Win32Error;
    }
    // A read-only file is the user's "do not change"; not every platform refuses the rename over it.
    if (original.dwFileAttributes & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_DIRECTORY)) return Win32Error;
    if (!CreateTemporary(full, temporary)) return Win32Error;
    std::unique_ptr<char, decltype(&DeleteTemporary)> cleanup(temporary, &DeleteTemporary);
    Status status = write(temporary);
    if (status != Ok) return status;
    CarryIdentity(temporary, original);
    if (!ReplaceWithTemporary(full, temporary)) return Win32Error;
    cleanup.release();
    return Ok;
}

Status SaveOver(char const* path, Bitmap& result, const CLSID& encoder, const OutputFormat& format)
{
    BitmapPtr reduced;
    Bitmap* image = ReadyForEncoder(result, format, reduced);
    if (!image) return GenericError;
    return SaveThrough(path, [&](const char* temporary) {
        return WriteChecked(temporary, *image, encoder, format.monochromeBmp);
    });
}

Status SaveBytesOver(char const* path, const std::vector<std::uint8_t>& bytes, UINT width, UINT height)
{
    return SaveThrough(path, [&](const char* temporary) {
        File file = OpenFile(temporary, "wb");
        bool written = file && std::fwrite(bytes.data(), 1, bytes.size(), file.get()) == bytes.size() &&
                       std::fclose(file.release()) == 0;
        return written ? CheckWrittenFile(temporary, width, height, false) : Win32Error;
    });
}

void SaveMonochromeBmp(const SourceImage& source, Bitmap& page, const char* successFormat)
{
    CLSID encoder;
    if (GetEncoderClsid(L"image/bmp", &encoder) < 0) {
        ReportFailure("Failed to get BMP encoder");
        return;
    }
    // The safe save also patches the BMP header, on its temporary file before the replace.
    Status status = SaveOver(source.path, page, encoder, {L"image/bmp", true});
    if (status != Ok) {
        ReportSaveStatus(status);
        return;
    }
    ReportSaved(successFormat, source.backupName);
}
