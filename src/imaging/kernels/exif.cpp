// A bounds-checked reader of the three resolution tags of IFD0; everything else in the block is skipped.
#include "imaging/kernels/exif.h"

#include "imaging/kernels/bytes.h"

namespace {

const std::uint16_t kTagXResolution = 0x011A;
const std::uint16_t kTagYResolution = 0x011B;
const std::uint16_t kTagResolutionUnit = 0x0128;
const std::uint16_t kTypeShort = 3;
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

// Writes value / 1 into a rational entry that RationalAt would read.
void SetRational(const Tiff& tiff, std::uint8_t* bytes, std::size_t entry, std::uint32_t value)
{
    if (tiff.U16(entry + 2) != kTypeRational || tiff.U32(entry + 4) < 1) return;
    std::uint32_t offset = tiff.U32(entry + 8);
    if (!tiff.Holds(offset, 8)) return;
    WriteU32(tiff, bytes + offset, value);
    WriteU32(tiff, bytes + offset + 4, 1);
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
            bytes[entry + 8] = tiff.bigEndian ? 0 : 2;
            bytes[entry + 9] = tiff.bigEndian ? 2 : 0;
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
