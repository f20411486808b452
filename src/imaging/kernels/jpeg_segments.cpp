// One walk over a JPEG's segments serves both the header check and the EXIF resolution.
#include "imaging/kernels/jpeg_segments.h"

#include "imaging/kernels/bytes.h"

#include <algorithm>
#include <cstring>

namespace {

// The walk's view of the file: small reads served from a block read ahead, since segments mostly lie
// a few bytes apart and a hostile file may hold millions of them.
struct Source {
    const ReadAt& read;
    std::uint64_t length;
    std::vector<std::uint8_t> block;
    std::uint64_t blockStart = 0;
};

const std::size_t kReadAhead = 4096;

// Copies `count` bytes at `at` into `into`; false when the file ends (or cannot be read) before.
bool Get(Source& source, std::uint64_t at, std::uint8_t* into, std::size_t count)
{
    if (at > source.length || count > source.length - at) return false;
    bool inBlock = at >= source.blockStart && at - source.blockStart + count <= source.block.size();
    if (!inBlock) {
        std::size_t wanted = static_cast<std::size_t>(std::min<std::uint64_t>(std::max(count, kReadAhead),
                                                                                source.length - at));
        source.block.resize(wanted);
        source.block.resize(std::min(source.read(at, source.block.data(), wanted), wanted));
        source.blockStart = at;
        if (count > source.block.size()) return false;
    }
    std::memcpy(into, source.block.data() + (at - source.blockStart), count);
    return true;
}

// Finds the next marker from `at` on: 0xFF followed by a byte that is neither 0x00 (stuffing) nor
// 0xFF (fill). Leaves `at` just after it.
bool NextMarker(Source& source, std::uint64_t& at, std::uint8_t& marker)
{
    bool afterFF = false;
    std::uint8_t byte = 0;
    while (Get(source, at, &byte, 1)) {
        ++at;
        if (afterFF && byte != 0x00 && byte != 0xFF) {
            marker = byte;
            return true;
        }
        afterFF = byte == 0xFF;
    }
    return false;
}

void ReadFrame(Source& source, std::uint64_t payload, std::uint32_t payloadLength, JpegLayout& layout)
{
    std::uint8_t frame[6];  // precision, height, width, component count
    if (payloadLength < sizeof frame || !Get(source, payload, frame, sizeof frame)) return;
    layout.hasFrame = true;
    layout.heightPx = ReadBe16(frame + 1);
    layout.widthPx = ReadBe16(frame + 3);
}

void ReadJfif(Source& source, std::uint64_t payload, std::uint32_t payloadLength, JpegLayout& layout)
{
    std::uint8_t jfif[14];  // "JFIF\0", version, unit, densities, thumbnail size
    if (payloadLength < sizeof jfif || !Get(source, payload, jfif, sizeof jfif) ||
        std::memcmp(jfif, "JFIF", 5) != 0) {
        return;
    }
    layout.hasJfif = true;
    layout.jfifUnit = jfif[7];
    layout.jfifDensityX = ReadBe16(jfif + 8);
    layout.jfifDensityY = ReadBe16(jfif + 10);
}

void ReadExif(Source& source, std::uint64_t payload, std::uint32_t payloadLength, JpegLayout& layout)
{
    std::uint8_t name[6];
    if (payloadLength <= sizeof name || !Get(source, payload, name, sizeof name) ||
        std::memcmp(name, "Exif\0\0", sizeof name) != 0) {
        return;
    }
    std::vector<std::uint8_t> tiff(payloadLength - sizeof name);
    if (Get(source, payload + sizeof name, tiff.data(), tiff.size())) layout.exif = std::move(tiff);
}

}  // namespace

JpegLayout WalkJpegSegments(const ReadAt& read, std::uint64_t length)
{
    JpegLayout layout;
    Source source{read, length, {}};
    std::uint8_t bytes[2];
    if (!Get(source, 0, bytes, 2) || bytes[0] != 0xFF || bytes[1] != 0xD8) return layout;
    std::uint64_t at = 2;
    std::uint8_t marker = 0;
    while (NextMarker(source, at, marker)) {
        if (StandsAlone(marker)) continue;
        // A scan, the end of the image or a second image before any frame header: there is no frame.
        if (marker == 0xDA || marker == 0xD9 || marker == 0xD8) break;
        if (!Get(source, at, bytes, 2)) break;
        std::uint32_t segmentLength = ReadBe16(bytes);
        if (segmentLength < 2 || segmentLength > length - at) break;
        std::uint64_t payload = at + 2;
        std::uint32_t payloadLength = segmentLength - 2;
        if (IsFrameHeader(marker)) {
            ReadFrame(source, payload, payloadLength, layout);
            break;
        }
        if (marker == 0xE0 && !layout.hasJfif) ReadJfif(source, payload, payloadLength, layout);
        if (marker == 0xE1 && layout.exif.empty()) ReadExif(source, payload, payloadLength, layout);
        at += segmentLength;
    }
    return layout;
}
