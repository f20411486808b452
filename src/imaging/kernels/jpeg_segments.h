// The segments of a JPEG file up to its frame header, walked by their lengths without reading their data.
#pragma once

#include "imaging/kernels/image_header.h"

#include <cstdint>
#include <vector>

struct JpegLayout {
    bool hasFrame = false;      // a complete frame header (SOFn) came before any scan
    std::uint16_t widthPx = 0;  // as the frame header states them
    std::uint16_t heightPx = 0;
    bool hasJfif = false;       // a JFIF APP0 segment came before the frame header
    std::uint8_t jfifUnit = 0;  // its density unit: 0 aspect ratio only, 1 per inch, 2 per centimetre
    std::uint16_t jfifDensityX = 0;  // its densities, in that unit
    std::uint16_t jfifDensityY = 0;
    std::vector<std::uint8_t> exif;  // the first EXIF block's TIFF data (after "Exif\0\0"); empty if none
};

// SOF0 to SOF15 but for DHT (C4), JPG (C8) and DAC (CC), which share the range.
inline bool IsFrameHeader(std::uint8_t marker)
{
    return marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC;
}

// Markers that stand alone, without a length: TEM and the restart markers.
inline bool StandsAlone(std::uint8_t marker)
{
    return marker == 0x01 || (marker >= 0xD0 && marker <= 0xD7);
}

// Walks from the start-of-image marker to the first frame header; stops early at a scan, an end of
// image, a second start of image, a segment longer than the file, or the end of the file. Bytes
// between segments are skipped up to the next marker, as decoders skip them.
JpegLayout WalkJpegSegments(const ReadAt& read, std::uint64_t fileLength);
