// The checks that keep broken and hostile headers away from the decoders: some decoders compute
// sizes in 32 bits and fault on headers whose sizes wrap, before the program could look at them.
#include "imaging/kernels/image_header.h"

#include "imaging/kernels/bytes.h"
#include "imaging/kernels/exif.h"
#include "imaging/kernels/jpeg_segments.h"

#include <algorithm>
#include <cstring>

namespace {

const std::size_t kFileHeaderSize = 14;
const std::size_t kLargestBmpHead = kFileHeaderSize + 124;  // the file header and a BITMAPV5HEADER
const std::int64_t kLargestSide = 0x7FFFFFFF;

const std::uint32_t kBiRgb = 0, kBiRle8 = 1, kBiRle4 = 2, kBiBitfields = 3;

struct BmpFields {
    std::uint32_t infoSize;
    std::int64_t width;
    std::int64_t height;  // negative: rows stored top-down
    unsigned planes;
    unsigned bitCount;
    std::uint32_t compression;
    std::uint64_t offBits;
};

// Core (12), OS/2 2.x (64) and the Windows info headers of 40, 52, 56, 108 and 124 bytes.
bool IsBmpInfoSize(std::uint32_t size)
{
    return size == 12 || size == 40 || size == 52 || size == 56 || size == 64 || size == 108 || size == 124;
}

BmpFields ReadBmpFields(const std::uint8_t* head)
{
    BmpFields bmp{};
    bmp.offBits = ReadLe32(head + 10);
    bmp.infoSize = ReadLe32(head + 14);
    if (bmp.infoSize == 12) {  // BITMAPCOREHEADER: 16-bit unsigned sizes, rows bottom-up, no compression
        bmp.width = ReadLe16(head + 18);
        bmp.height = ReadLe16(head + 20);
        bmp.planes = ReadLe16(head + 22);
        bmp.bitCount = ReadLe16(head + 24);
        bmp.compression = kBiRgb;
        return bmp;
    }
    bmp.width = static_cast<std::int32_t>(ReadLe32(head + 18));
    bmp.height = static_cast<std::int32_t>(ReadLe32(head + 22));
    bmp.planes = ReadLe16(head + 26);
    bmp.bitCount = ReadLe16(head + 28);
    bmp.compression = ReadLe32(head + 30);
    return bmp;
}

// The bit counts and compressions that decoders are meant to read. Run-length rows are bottom-up
// only; bit fields in an OS/2 header mean its Huffman coding instead, which nothing reads.
bool IsBmpPixelFormat(const BmpFields& bmp)
{
    unsigned bits = bmp.bitCount;
    if (bmp.infoSize == 12) return bits == 1 || bits == 4 || bits == 8 || bits == 24;
    switch (bmp.compression) {
    case kBiRgb: return bits == 1 || bits == 4 || bits == 8 || bits == 16 || bits == 24 || bits == 32;
    case kBiRle8: return bits == 8 && bmp.height > 0;
    case kBiRle4: return bits == 4 && bmp.height > 0;
    case kBiBitfields: return (bits == 16 || bits == 32) && bmp.infoSize != 64;
    default: return false;
    }
}

// Where the pixel data may start at the earliest: after the headers, and after the three masks
// that follow a 40-byte header with bit fields.
std::uint64_t BmpHeadersEnd(const BmpFields& bmp)
{
    bool masksFollow = bmp.infoSize == 40 && bmp.compression == kBiBitfields;
    return kFileHeaderSize + bmp.infoSize + (masksFollow ? 12 : 0);
}

// Uncompressed rows: each padded to 4 bytes, all of them present after offBits, computed in 64 bits.
// A row's bit length must also fit 32 bits, as decoders compute it so.
bool HasBmpRows(const BmpFields& bmp, std::uint64_t fileLength)
{
    std::uint64_t rowBits = static_cast<std::uint64_t>(bmp.width) * bmp.bitCount;
    if (rowBits > 0xFFFFFFFFull - 31) return false;
    std::uint64_t rowLength = (rowBits + 31) / 32 * 4;
    std::uint64_t rows = static_cast<std::uint64_t>(bmp.height < 0 ? -bmp.height : bmp.height);
    return bmp.offBits <= fileLength && rowLength * rows <= fileLength - bmp.offBits;
}

// Width from 1 and height (either sign) up to 2^31 - 1, one plane, a defined pixel format, the
// headers inside the file and the pixel data after them.
bool IsSoundBmp(const BmpFields& bmp, std::uint64_t fileLength)
{
    std::uint64_t headersEnd = BmpHeadersEnd(bmp);
    bool sized = bmp.width > 0 && bmp.width <= kLargestSide && bmp.height != 0 && bmp.height >= -kLargestSide &&
                 bmp.height <= kLargestSide;
    if (!sized || bmp.planes != 1 || !IsBmpPixelFormat(bmp) || fileLength < headersEnd || bmp.offBits < headersEnd) {
        return false;
    }
    bool uncompressed = bmp.compression == kBiRgb || bmp.compression == kBiBitfields;
    return uncompressed ? HasBmpRows(bmp, fileLength) : bmp.offBits < fileLength;
}

// The layout of a sound BMP's pixels, for the uncompressed formats of 1, 4, 8 and 24 bits with a
// Windows info header; the palette, which follows that header, must be whole (the count it states,
// or 0 for all, equal to 1 << bits) and end before the rows, and both resolutions be stated.
BmpPixels StoredPixels(const BmpFields& bmp, const std::uint8_t* head)
{
    unsigned bits = bmp.bitCount;
    if (bmp.infoSize < 40 || bmp.compression != kBiRgb || (bits != 1 && bits != 4 && bits != 8 && bits != 24)) return {};
    BmpPixels pixels;
    pixels.pixelsPerMetreX = ReadLe32(head + 38);
    pixels.pixelsPerMetreY = ReadLe32(head + 42);
    std::uint32_t colours = ReadLe32(head + 46);
    pixels.paletteOffset = kFileHeaderSize + bmp.infoSize;
    std::uint64_t paletteEnd = pixels.paletteOffset + (bits <= 8 ? 4ull << bits : 0);
    bool wholePalette = bits > 8 || colours == 0 || colours == 1u << bits;
    if (!wholePalette || paletteEnd > bmp.offBits || pixels.pixelsPerMetreX == 0 || pixels.pixelsPerMetreX > kLargestSide ||
        pixels.pixelsPerMetreY == 0 || pixels.pixelsPerMetreY > kLargestSide) {
        return {};
    }
    pixels.rowsOffset = bmp.offBits;
    pixels.stride = static_cast<std::uint32_t>((static_cast<std::uint64_t>(bmp.width) * bits + 31) / 32 * 4);
    pixels.topDown = bmp.height < 0;
    pixels.bitsPerPixel = bits;
    return pixels;
}

ImageHeader CheckBmp(const std::uint8_t* head, std::size_t got, std::uint64_t fileLength)
{
    ImageHeader header;
    header.kind = ImageKind::Bmp;
    if (got < kFileHeaderSize + 4) return header;
    std::uint32_t infoSize = ReadLe32(head + 14);
    if (!IsBmpInfoSize(infoSize) || got < kFileHeaderSize + infoSize) return header;
    BmpFields bmp = ReadBmpFields(head);
    header.sound = IsSoundBmp(bmp, fileLength);
    header.widthPx = bmp.width;
    header.heightPx = bmp.height < 0 ? -bmp.height : bmp.height;
    if (header.sound) header.bmp = StoredPixels(bmp, head);
    return header;
}

// The CRC-32 of PNG chunks (ISO 3309), bit by bit: the check covers 17 bytes.
std::uint32_t Crc32(const std::uint8_t* bytes, std::size_t count)
{
    std::uint32_t crc = 0xFFFFFFFFu;
    for (std::size_t i = 0; i < count; ++i) {
        crc ^= bytes[i];
        for (int bit = 0; bit < 8; ++bit) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
    }
    return crc ^ 0xFFFFFFFFu;
}

// The signature, then IHDR first: length 13, its CRC right, width and height from 1 to 2^31 - 1.
ImageHeader CheckPng(const std::uint8_t* head, std::size_t got)
{
    ImageHeader header;
    header.kind = ImageKind::Png;
    const std::size_t ihdrEnd = 8 + 4 + 4 + 13 + 4;
    if (got < ihdrEnd || ReadBe32(head + 8) != 13 || std::memcmp(head + 12, "IHDR", 4) != 0 ||
        Crc32(head + 12, 4 + 13) != ReadBe32(head + 29)) {
        return header;
    }
    header.widthPx = ReadBe32(head + 16);
    header.heightPx = ReadBe32(head + 20);
    header.sound = header.widthPx > 0 && header.widthPx <= kLargestSide && header.heightPx > 0 &&
                   header.heightPx <= kLargestSide;
    return header;
}

// The logical screen descriptor after the signature: a non-zero size.
ImageHeader CheckGif(const std::uint8_t* head, std::size_t got)
{
    ImageHeader header;
    header.kind = ImageKind::Gif;
    if (got < 6 + 7) return header;
    header.widthPx = ReadLe16(head + 6);
    header.heightPx = ReadLe16(head + 8);
    header.sound = header.widthPx > 0 && header.heightPx > 0;
    return header;
}

// A frame header with a non-zero size before the scan. The EXIF resolution is kept only where the
// JFIF header states no unit, since a JFIF unit wins wherever both are read.
ImageHeader CheckJpeg(const ReadAt& read, std::uint64_t fileLength)
{
    ImageHeader header;
    header.kind = ImageKind::Jpeg;
    JpegLayout layout = WalkJpegSegments(read, fileLength);
    header.widthPx = layout.widthPx;
    header.heightPx = layout.heightPx;
    header.sound = layout.hasFrame && layout.widthPx > 0 && layout.heightPx > 0;
    if (layout.hasJfif && layout.jfifUnit != 0) {
        bool known = layout.jfifUnit == 1 || layout.jfifUnit == 2;  // another unit states nothing usable
        double perInch = layout.jfifUnit == 2 ? 2.54 : 1.0;
        header.jpegDpiX = known ? layout.jfifDensityX * perInch : 96;
        header.jpegDpiY = known ? layout.jfifDensityY * perInch : 96;
        return header;
    }
    ExifResolution exif = ReadExifResolution(layout.exif.data(), layout.exif.size());
    if (exif.found) {
        header.exifDpiX = exif.dpiX;
        header.exifDpiY = exif.dpiY;
    }
    header.jpegDpiX = exif.found ? exif.dpiX : 96;
    header.jpegDpiY = exif.found ? exif.dpiY : 96;
    return header;
}

}  // namespace

ImageHeader CheckImageHeader(const ReadAt& read, std::uint64_t fileLength)
{
    std::uint8_t head[kLargestBmpHead] = {};
    std::size_t wanted = static_cast<std::size_t>(std::min<std::uint64_t>(sizeof head, fileLength));
    std::size_t got = wanted == 0 ? 0 : std::min(read(0, head, wanted), wanted);
    if (got >= 2 && head[0] == 'B' && head[1] == 'M') return CheckBmp(head, got, fileLength);
    if (got >= 8 && std::memcmp(head, "\x89PNG\r\n\x1A\n", 8) == 0) return CheckPng(head, got);
    if (got >= 3 && head[0] == 0xFF && head[1] == 0xD8 && head[2] == 0xFF) return CheckJpeg(read, fileLength);
    if (got >= 6 && (std::memcmp(head, "GIF87a", 6) == 0 || std::memcmp(head, "GIF89a", 6) == 0)) {
        return CheckGif(head, got);
    }
    return ImageHeader{};
}
