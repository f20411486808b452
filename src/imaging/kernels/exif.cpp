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

}  // namespace

ExifResolution ReadExifResolution(const std::uint8_t* bytes, std::size_t length)
{
    ExifResolution resolution;
    if (length < 8) return resolution;
    bool little = bytes[0] == 'I' && bytes[1] == 'I';
    bool big = bytes[0] == 'M' && bytes[1] == 'M';
    Tiff tiff{bytes, length, big};
    if ((!little && !big) || tiff.U16(2) != 42) return resolution;
    std::uint32_t ifd = tiff.U32(4);
    if (!tiff.Holds(ifd, 2) || !tiff.Holds(ifd + 2ull, kEntrySize * tiff.U16(ifd))) return resolution;
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
