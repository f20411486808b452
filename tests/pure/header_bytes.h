// Image headers built byte by byte for the header and EXIF tests: BMP, PNG, GIF, JPEG segments and
// the TIFF data of an EXIF block.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <vector>

using Bytes = std::vector<std::uint8_t>;

inline void PutUnsigned(Bytes& bytes, std::size_t at, std::uint64_t value, int width, bool bigEndian)
{
    for (int i = 0; i < width; ++i) {
        int shift = 8 * (bigEndian ? width - 1 - i : i);
        bytes[at + i] = static_cast<std::uint8_t>(value >> shift);
    }
}

inline void Append(Bytes& bytes, std::uint64_t value, int width, bool bigEndian)
{
    bytes.resize(bytes.size() + width);
    PutUnsigned(bytes, bytes.size() - width, value, width, bigEndian);
}

inline void Append(Bytes& bytes, const Bytes& more)
{
    bytes.insert(bytes.end(), more.begin(), more.end());
}

struct BmpFields {
    std::uint32_t infoSize = 40;
    std::int64_t width = 10;
    std::int64_t height = 7;  // negative: top-down
    std::uint16_t planes = 1;
    std::uint16_t bitCount = 1;
    std::uint32_t compression = 0;
    std::int64_t rowsPresent = -1;  // rows of pixel data written; -1 all that the header promises
};

// A BMP file: file header, info header, bit-field masks after a 40-byte header with compression 3,
// the full colour table, then the rows (or, run-length coded, an end-of-bitmap code).
inline Bytes MakeBmp(const BmpFields& fields)
{
    bool core = fields.infoSize == 12;
    std::uint64_t entries = fields.bitCount <= 8 ? 1u << fields.bitCount : 0;
    std::uint64_t masks = fields.infoSize == 40 && fields.compression == 3 ? 12 : 0;
    std::uint64_t offBits = 14 + fields.infoSize + masks + entries * (core ? 3 : 4);
    Bytes file(static_cast<std::size_t>(offBits), 0);
    file[0] = 'B';
    file[1] = 'M';
    PutUnsigned(file, 10, offBits, 4, false);
    PutUnsigned(file, 14, fields.infoSize, 4, false);
    int side = core ? 2 : 4;
    PutUnsigned(file, 18, static_cast<std::uint64_t>(fields.width), side, false);
    PutUnsigned(file, 18 + side, static_cast<std::uint64_t>(fields.height), side, false);
    PutUnsigned(file, 18 + 2 * side, fields.planes, 2, false);
    PutUnsigned(file, 20 + 2 * side, fields.bitCount, 2, false);
    if (!core) PutUnsigned(file, 30, fields.compression, 4, false);
    if (fields.compression == 1 || fields.compression == 2) {
        Append(file, Bytes{0, 1});
        PutUnsigned(file, 2, file.size(), 4, false);
        return file;
    }
    std::uint64_t rowLength = (static_cast<std::uint64_t>(fields.width) * fields.bitCount + 31) / 32 * 4;
    std::uint64_t rows = fields.rowsPresent >= 0 ? fields.rowsPresent : (fields.height < 0 ? -fields.height : fields.height);
    file.resize(file.size() + static_cast<std::size_t>(rowLength * rows), 0x5A);
    PutUnsigned(file, 2, file.size(), 4, false);
    return file;
}

inline std::uint32_t PngCrc(const std::uint8_t* bytes, std::size_t count)
{
    std::uint32_t crc = 0xFFFFFFFFu;
    for (std::size_t i = 0; i < count; ++i) {
        crc ^= bytes[i];
        for (int bit = 0; bit < 8; ++bit) crc = (crc & 1) ? (crc >> 1) ^ 0xEDB88320u : crc >> 1;
    }
    return ~crc;
}

// Signature and IHDR of a 1-bit greyscale PNG; the rest of the file does not matter to the check.
inline Bytes MakePngHead(std::uint32_t width, std::uint32_t height)
{
    Bytes file{0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    Append(file, 13, 4, true);
    Append(file, Bytes{'I', 'H', 'D', 'R'});
    Append(file, width, 4, true);
    Append(file, height, 4, true);
    Append(file, Bytes{1, 0, 0, 0, 0});
    Append(file, PngCrc(file.data() + 12, 17), 4, true);
    Append(file, Bytes{0, 0, 0, 0, 'I', 'E', 'N', 'D', 0xAE, 0x42, 0x60, 0x82});
    return file;
}

// Recomputes the IHDR CRC after a field of the chunk was changed.
inline void FixPngCrc(Bytes& file)
{
    PutUnsigned(file, 29, PngCrc(file.data() + 12, 17), 4, true);
}

inline Bytes MakeGifHead(std::uint16_t width, std::uint16_t height)
{
    Bytes file{'G', 'I', 'F', '8', '9', 'a'};
    Append(file, width, 2, false);
    Append(file, height, 2, false);
    Append(file, Bytes{0, 0, 0, 0x3B});
    return file;
}

// A JPEG segment: marker, big-endian length (payload + 2), payload.
inline Bytes Segment(std::uint8_t marker, const Bytes& payload)
{
    Bytes segment{0xFF, marker};
    Append(segment, payload.size() + 2, 2, true);
    Append(segment, payload);
    return segment;
}

inline Bytes JfifSegment(std::uint8_t unit, std::uint16_t x, std::uint16_t y)
{
    Bytes payload{'J', 'F', 'I', 'F', 0, 1, 2, unit};
    Append(payload, x, 2, true);
    Append(payload, y, 2, true);
    Append(payload, Bytes{0, 0});
    return Segment(0xE0, payload);
}

// A baseline frame header of three components.
inline Bytes FrameSegment(std::uint16_t width, std::uint16_t height)
{
    Bytes payload{8};
    Append(payload, height, 2, true);
    Append(payload, width, 2, true);
    Append(payload, Bytes{3, 1, 0x11, 0, 2, 0x11, 1, 3, 0x11, 1});
    return Segment(0xC0, payload);
}

inline Bytes ExifSegment(const Bytes& tiff)
{
    Bytes payload{'E', 'x', 'i', 'f', 0, 0};
    Append(payload, tiff);
    return Segment(0xE1, payload);
}

// SOI, the segments, a scan header and a few bytes of entropy-coded data, EOI.
inline Bytes MakeJpeg(std::initializer_list<Bytes> segments)
{
    Bytes file{0xFF, 0xD8};
    for (const Bytes& segment : segments) Append(file, segment);
    Append(file, Segment(0xDA, Bytes{3, 1, 0, 2, 0x11, 3, 0x11, 0, 63, 0}));
    Append(file, Bytes{0x12, 0xFF, 0x00, 0x34, 0xFF, 0xD9});
    return file;
}

// TIFF data as an EXIF block holds it: IFD0 at offset 8 with XResolution, YResolution and, when
// `unit` is not 0, ResolutionUnit; a next-IFD offset of 0; the two rationals after the IFD.
// Entry i starts at 10 + 12 i, its value field 8 bytes further; the rationals start at kTiffRationals.
inline Bytes MakeTiff(bool bigEndian, std::uint32_t xNumerator, std::uint32_t xDenominator,
                      std::uint32_t yNumerator, std::uint32_t yDenominator, std::uint16_t unit)
{
    std::uint16_t entries = unit ? 3 : 2;
    std::uint32_t rationals = 10 + 12 * entries + 4;
    Bytes tiff{bigEndian ? std::uint8_t('M') : std::uint8_t('I'), bigEndian ? std::uint8_t('M') : std::uint8_t('I')};
    Append(tiff, 42, 2, bigEndian);
    Append(tiff, 8, 4, bigEndian);
    Append(tiff, entries, 2, bigEndian);
    for (std::uint16_t tag : {0x011A, 0x011B}) {
        Append(tiff, tag, 2, bigEndian);
        Append(tiff, 5, 2, bigEndian);
        Append(tiff, 1, 4, bigEndian);
        Append(tiff, rationals + (tag == 0x011B ? 8 : 0), 4, bigEndian);
    }
    if (unit) {
        Append(tiff, 0x0128, 2, bigEndian);
        Append(tiff, 3, 2, bigEndian);
        Append(tiff, 1, 4, bigEndian);
        Append(tiff, unit, 2, bigEndian);
        Append(tiff, 0, 2, bigEndian);
    }
    Append(tiff, 0, 4, bigEndian);
    for (std::uint32_t value : {xNumerator, xDenominator, yNumerator, yDenominator}) Append(tiff, value, 4, bigEndian);
    return tiff;
}
