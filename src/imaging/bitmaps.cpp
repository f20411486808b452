// The GDI+ helpers every part of the imaging folder shares: wide paths, encoders, bitmaps, locks and
// palettes.
#include "imaging/bitmaps.h"

#include "imaging/file_calls.h"
#include "imaging/kernels/image_header.h"
#include "imaging/kernels/palette.h"
#include "imaging/page_files.h"

#include <algorithm>
#include <cstddef>
#include <cwchar>

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

std::pair<LockedPixels, LockedPixels> LockFromTo(Bitmap& from, PixelFormat fromFormat, Bitmap& to,
                                                 PixelFormat toFormat)
{
    LockedPixels read = LockPixels(from, ImageLockModeRead, fromFormat);
    LockedPixels written = read ? LockPixels(to, ImageLockModeWrite, toFormat) : nullptr;
    if (!written) return {};
    return {std::move(read), std::move(written)};
}

void DeleteBitmap::operator()(Bitmap* bitmap)
{
    delete bitmap;
    if (view) UnmapViewOfFile(view);
    if (file) CloseHandle(file);
    view = nullptr;  // a bitmap the owner takes next has pixels of its own
    file = nullptr;
}

bool IsUsable(const BitmapPtr& bitmap)
{
    return bitmap && bitmap->GetLastStatus() == Ok;
}

bool FitsPixelBuffers(long long width, long long height)
{
    return width > 0 && height > 0 && width <= kMaxSidePx && height <= kMaxSidePx && width * height * 3 < (1LL << 31);
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

bool HasTransparency(Bitmap& bitmap)
{
    if (IsAlphaPixelFormat(bitmap.GetPixelFormat())) return true;
    std::vector<ARGB> palette = PaletteOf(bitmap);
    return std::any_of(palette.begin(), palette.end(), [](ARGB entry) { return entry >> 24 != 255; });
}

void SetMonochromePalette(Bitmap& bitmap)
{
    // White first, black second; alpha 0 as the files have always carried it.
    SetPaletteEntries(bitmap, {0x00FFFFFF, 0x00000000});
}

bool IsOnLocalDisk(const char* path)
{
    char root[MAX_PATH];
    return GetVolumePathNameA(path, root, MAX_PATH) && Files().driveType(root) == DRIVE_FIXED;
}

// The header check again, on the bytes mapped: what the pixels are read by is what was checked.
static ImageHeader CheckedHeader(const std::uint8_t* view, std::uint64_t length)
{
    return CheckImageHeader(
        [&](std::uint64_t offset, std::uint8_t* into, std::size_t count) {
            std::size_t got = static_cast<std::size_t>(std::min<std::uint64_t>(count, length - offset));
            std::copy(view + offset, view + offset + got, into);
            return got;
        },
        length);
}

BitmapPtr MapBmp(const char* path)
{
    // Held for as long as the view lives: others may read the page, nobody may write or delete it, so
    // no change shows through the pages of the view not yet read.
    FileHandle file = Opened(Files().createFile(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                                FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    LARGE_INTEGER length{};
    if (!file || !GetFileSizeEx(file.get(), &length) || length.QuadPart <= 0) return nullptr;
    HANDLE mapping = Files().mapFile(file.get(), nullptr, PAGE_WRITECOPY, 0, 0, nullptr);
    if (!mapping) return nullptr;
    std::unique_ptr<std::uint8_t, decltype(&UnmapViewOfFile)> view(
        static_cast<std::uint8_t*>(Files().mapView(mapping, FILE_MAP_COPY, 0, 0, 0)), &UnmapViewOfFile);
    CloseHandle(mapping);
    if (!view) return nullptr;
    ImageHeader header = CheckedHeader(view.get(), static_cast<std::uint64_t>(length.QuadPart));
    const BmpPixels& layout = header.bmp;
    if (header.kind != ImageKind::Bmp || !header.sound || layout.rowsOffset == 0 ||
        !FitsPixelBuffers(header.widthPx, header.heightPx)) {
        return nullptr;
    }
    int width = static_cast<int>(header.widthPx), height = static_cast<int>(header.heightPx);
    INT stride = static_cast<INT>(layout.stride);
    std::uint8_t* top = view.get() + layout.rowsOffset;
    if (!layout.topDown) {  // the bottom row comes first: the top one is the last stored
        top += static_cast<std::uint64_t>(layout.stride) * static_cast<std::uint64_t>(height - 1);
        stride = -stride;
    }
    PixelFormat format = layout.bitsPerPixel == 1   ? PixelFormat1bppIndexed
                         : layout.bitsPerPixel == 4 ? PixelFormat4bppIndexed
                         : layout.bitsPerPixel == 8 ? PixelFormat8bppIndexed
                                                    : PixelFormat24bppRGB;
    BitmapPtr bitmap(new Bitmap(width, height, stride, format, top));
    const std::uint8_t* palette = view.get() + layout.paletteOffset;
    bitmap.get_deleter().view = view.release();
    bitmap.get_deleter().file = file.release();
    if (!IsUsable(bitmap)) return nullptr;
    if (IsIndexedPixelFormat(format)) {
        std::vector<ARGB> entries(std::size_t{1} << layout.bitsPerPixel);
        for (std::size_t i = 0; i < entries.size(); ++i, palette += 4) {
            entries[i] = 0xFF000000u | static_cast<ARGB>(palette[2]) << 16 | static_cast<ARGB>(palette[1]) << 8 | palette[0];
        }
        if (SetPaletteEntries(*bitmap, entries) != Ok) return nullptr;
    }
    const double inchesPerMetre = 0.0254;
    if (bitmap->SetResolution(static_cast<REAL>(layout.pixelsPerMetreX * inchesPerMetre),
                              static_cast<REAL>(layout.pixelsPerMetreY * inchesPerMetre)) != Ok) {
        return nullptr;
    }
    return bitmap;
}

bool HasIndicesInPalette(Bitmap& bitmap)
{
    PixelFormat format = bitmap.GetPixelFormat();
    if (!IsIndexedPixelFormat(format)) return true;
    int bits = static_cast<int>(GetPixelFormatSize(format));
    std::size_t count = PaletteOf(bitmap).size();
    if (count >= (std::size_t{1} << bits)) return true;  // every index a pixel can hold has a colour
    LockedPixels indices = LockPixels(bitmap, ImageLockModeRead, format);
    if (!indices) return false;
    for (int y = 0; y < static_cast<int>(indices->Height); ++y) {
        if (LargestIndex(PixelRow(*indices, y), static_cast<int>(indices->Width), bits) >= count) return false;
    }
    return true;
}
