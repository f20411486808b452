// A bounds-checked reader and writer of the few EXIF tags a result's size and resolution change; every
// other byte of the block is skipped.
#include "imaging/kernels/exif.h"

#include "imaging/kernels/bytes.h"

#include <algorithm>

namespace {

const std::uint16_t kTagXResolution = 0x011A;
const std::uint16_t kTagYResolution = 0x011B;
const std::uint16_t kTagResolutionUnit = 0x0128;
const std::uint16_t kTagExifIfd = 0x8769;
const std::uint16_t kTagPixelXDimension = 0xA002;
const std::uint16_t kTagPixelYDimension = 0xA003;
const std::uint16_t kTagThumbnailOffset = 0x0201;  // JPEGInterchangeFormat
const std::uint16_t kTagThumbnailLength = 0x0202;  // JPEGInterchangeFormatLength
const std::uint16_t kTypeShort = 3;
const std::uint16_t kTypeLong = 4;
const std::uint16_t kTypeRational = 5;
const std::size_t kEntrySize = 12;

struct Tiff {
    const std::uint8_t* bytes;
    std::size_t length;
    bool bigEndian;

    // False when `count` bytes at `offset` do not lie inside the block; 64-bit sums cannot wrap here.
    bool Holds(std::uint64_t offset, std::uint64_t count) const { return offset + count <= length; }
    std::uint16_t U16(std::size_t at) const { return bigEndian ? ReadBe16(bytes + at) : ReadLe16(bytes + at); }
    std::uint32_t U32(std::size_t at) const { return bigEndian ? ReadBe32(bytes + at) : ReadLe32(bytes + at); }
};

// One rational entry's value; 0 when it is not a single sound rational (wrong type, outside the
// block, zero denominator).
double RationalAt(const Tiff& tiff, std::size_t entry)
{
    if (tiff.U16(entry + 2) != kTypeRational || tiff.U32(entry + 4) < 1) return 0;
    std::uint32_t offset = tiff.U32(entry + 8);
    if (!tiff.Holds(offset, 8)) return 0;
    std::uint32_t denominator = tiff.U32(offset + 4);
    return denominator == 0 ? 0 : static_cast<double>(tiff.U32(offset)) / denominator;
}

// The ResolutionUnit entry's value, 0 when it is not a single short.
unsigned UnitAt(const Tiff& tiff, std::size_t entry)
{
    if (tiff.U16(entry + 2) != kTypeShort || tiff.U32(entry + 4) != 1) return 0;
    return tiff.U16(entry + 8);  // a single short sits in the first two bytes of the value field
}

// The block's byte order and the offset of IFD0 with all its entries inside the block; false when the
// block is not TIFF data or IFD0 does not fit.
bool OpenIfd0(const std::uint8_t* bytes, std::size_t length, Tiff& tiff, std::size_t& ifd)
{
    if (length < 8) return false;
    bool little = bytes[0] == 'I' && bytes[1] == 'I';
    bool big = bytes[0] == 'M' && bytes[1] == 'M';
    tiff = Tiff{bytes, length, big};
    if ((!little && !big) || tiff.U16(2) != 42) return false;
    ifd = tiff.U32(4);
    return tiff.Holds(ifd, 2) && tiff.Holds(ifd + 2ull, kEntrySize * tiff.U16(ifd));
}

void WriteU32(const Tiff& tiff, std::uint8_t* at, std::uint32_t value)
{
    for (int i = 0; i < 4; ++i) at[tiff.bigEndian ? 3 - i : i] = static_cast<std::uint8_t>(value >> (8 * i));
}

void WriteU16(const Tiff& tiff, std::uint8_t* at, std::uint16_t value)
{
    at[tiff.bigEndian ? 1 : 0] = static_cast<std::uint8_t>(value);
    at[tiff.bigEndian ? 0 : 1] = static_cast<std::uint8_t>(value >> 8);
}

// True when the IFD at `ifd` and its link to the next lie inside the block.
bool HoldsIfd(const Tiff& tiff, std::size_t ifd)
{
    return tiff.Holds(ifd, 2) && tiff.Holds(ifd + 2ull, kEntrySize * tiff.U16(ifd) + 4ull);
}

// Writes `value` into a single SHORT or LONG entry (the value field holds it); others stay.
void SetCount(const Tiff& tiff, std::uint8_t* bytes, std::size_t entry, std::uint32_t value)
{
    if (tiff.U32(entry + 4) != 1) return;
    if (tiff.U16(entry + 2) == kTypeLong) WriteU32(tiff, bytes + entry + 8, value);
    if (tiff.U16(entry + 2) == kTypeShort && value <= 0xFFFF) WriteU16(tiff, bytes + entry + 8, static_cast<std::uint16_t>(value));
}

// Writes value / 1 into a rational entry that RationalAt would read.
void SetRational(const Tiff& tiff, std::uint8_t* bytes, std::size_t entry, std::uint32_t value)
{
    if (tiff.U16(entry + 2) != kTypeRational || tiff.U32(entry + 4) < 1) return;
    std::uint32_t offset = tiff.U32(entry + 8);
    if (!tiff.Holds(offset, 8)) return;
    WriteU32(tiff, bytes + offset, value);
    WriteU32(tiff, bytes + offset + 4, 1);
}

// The end of the IFD at `ifd` with its link to the next (HoldsIfd true).
std::size_t IfdEnd(const Tiff& tiff, std::size_t ifd)
{
    return ifd + 2 + kEntrySize * tiff.U16(ifd) + 4;
}

// Where IFD1's JPEG thumbnail lies: true, with its offset and length, when IFD1 names one that lies
// whole inside the block after every IFD (`after`, the furthest end of IFD0's and the Exif IFD's).
bool FindThumbnail(const Tiff& tiff, std::size_t ifd1, std::size_t after, std::size_t& offset, std::size_t& size)
{
    if (ifd1 == 0 || !HoldsIfd(tiff, ifd1)) return false;
    std::uint64_t at = 0, count = 0;
    for (std::size_t i = 0, entries = tiff.U16(ifd1); i < entries; ++i) {
        std::size_t entry = ifd1 + 2 + kEntrySize * i;
        if (tiff.U16(entry + 2) != kTypeLong || tiff.U32(entry + 4) != 1) continue;
        if (tiff.U16(entry) == kTagThumbnailOffset) at = tiff.U32(entry + 8);
        if (tiff.U16(entry) == kTagThumbnailLength) count = tiff.U32(entry + 8);
    }
    if (count == 0 || at < std::max(after, IfdEnd(tiff, ifd1)) || !tiff.Holds(at, count)) return false;
    offset = static_cast<std::size_t>(at);
    size = static_cast<std::size_t>(count);
    return true;
}

}  // namespace

void SetExifResolution(std::uint8_t* bytes, std::size_t length, std::uint32_t dpiX, std::uint32_t dpiY)
{
    Tiff tiff{};
    std::size_t ifd = 0;
    if (!OpenIfd0(bytes, length, tiff, ifd)) return;
    for (std::size_t i = 0, count = tiff.U16(ifd); i < count; ++i) {
        std::size_t entry = ifd + 2 + kEntrySize * i;
        std::uint16_t tag = tiff.U16(entry);
        if (tag == kTagXResolution) SetRational(tiff, bytes, entry, dpiX);
        if (tag == kTagYResolution) SetRational(tiff, bytes, entry, dpiY);
        if (tag == kTagResolutionUnit && UnitAt(tiff, entry) != 0) {
            WriteU16(tiff, bytes + entry + 8, 2);
        }
    }
}

ExifResolution ReadExifResolution(const std::uint8_t* bytes, std::size_t length)
{
    ExifResolution resolution;
    Tiff tiff{};
    std::size_t ifd = 0;
    if (!OpenIfd0(bytes, length, tiff, ifd)) return resolution;
    double x = 0, y = 0;
    unsigned unit = 2;  // inch unless stated otherwise
    for (std::size_t i = 0, count = tiff.U16(ifd); i < count; ++i) {
        std::size_t entry = ifd + 2 + kEntrySize * i;
        switch (tiff.U16(entry)) {
        case kTagXResolution: x = RationalAt(tiff, entry); break;
        case kTagYResolution: y = RationalAt(tiff, entry); break;
        case kTagResolutionUnit: unit = UnitAt(tiff, entry); break;
        default: break;
        }
    }
    // Unit 1 states an aspect ratio only, like a JFIF density without unit.
    if (x <= 0 || y <= 0 || (unit != 2 && unit != 3)) return resolution;
    double perInch = unit == 3 ? 2.54 : 1.0;
    resolution.found = true;
    resolution.dpiX = x * perInch;
    resolution.dpiY = y * perInch;
    return resolution;
}

std::size_t SetExifPixelSizeDroppingThumbnail(std::uint8_t* bytes, std::size_t length, std::uint32_t widthPx,
                                              std::uint32_t heightPx)
{
    Tiff tiff{};
    std::size_t ifd0 = 0;
    if (!OpenIfd0(bytes, length, tiff, ifd0) || !HoldsIfd(tiff, ifd0)) return length;
    std::size_t count = tiff.U16(ifd0), link = ifd0 + 2 + kEntrySize * count;
    std::size_t ifd1 = tiff.U32(link), after = IfdEnd(tiff, ifd0);
    WriteU32(tiff, bytes + link, 0);
    for (std::size_t i = 0; i < count; ++i) {
        std::size_t entry = ifd0 + 2 + kEntrySize * i;
        if (tiff.U16(entry) != kTagExifIfd || tiff.U32(entry + 4) != 1) continue;
        std::size_t exif = tiff.U32(entry + 8);
        if (!HoldsIfd(tiff, exif)) return length;
        after = std::max(after, IfdEnd(tiff, exif));
        for (std::size_t j = 0, tags = tiff.U16(exif); j < tags; ++j) {
            std::size_t field = exif + 2 + kEntrySize * j;
            if (tiff.U16(field) == kTagPixelXDimension) SetCount(tiff, bytes, field, widthPx);
            if (tiff.U16(field) == kTagPixelYDimension) SetCount(tiff, bytes, field, heightPx);
        }
    }
    std::size_t thumbnail = 0, size = 0;
    if (!FindThumbnail(tiff, ifd1, after, thumbnail, size)) return length;
    std::fill(bytes + thumbnail, bytes + thumbnail + size, std::uint8_t{0});
    return thumbnail + size == length ? thumbnail : length;
}
