// The header of an image file checked from its own bytes before any decoder sees the file: BMP, PNG,
// JPEG and GIF are told by their signatures, whatever the file's name says.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>

// Reads up to `count` bytes at `offset` of the file into `into`; returns how many it read.
// The checks never ask for bytes at or beyond the length they were given.
using ReadAt = std::function<std::size_t(std::uint64_t offset, std::uint8_t* into, std::size_t count)>;

enum class ImageKind { Unknown, Bmp, Png, Jpeg, Gif };

// Where a sound, uncompressed BMP of 1, 4, 8 or 24 bits with a whole palette (indexed) and a stated
// resolution keeps its pixels, for reading them where they lie. rowsOffset is 0 for any other file.
struct BmpPixels {
    std::uint64_t rowsOffset = 0;     // the first row stored: the bottom one unless topDown
    std::uint32_t stride = 0;         // bytes from one stored row to the next, padded to 4
    bool topDown = false;
    unsigned bitsPerPixel = 0;
    std::uint64_t paletteOffset = 0;  // 1 << bitsPerPixel entries of blue, green, red and a spare byte
    std::uint32_t pixelsPerMetreX = 0;
    std::uint32_t pixelsPerMetreY = 0;
};

struct ImageHeader {
    ImageKind kind = ImageKind::Unknown;
    // True when the header is one the format defines, with a non-zero size and (BMP) the pixel rows
    // it promises present in the file. Meaningless for Unknown.
    bool sound = false;
    std::int64_t widthPx = 0;  // the size the header states, when sound
    std::int64_t heightPx = 0;
    // JPEG whose JFIF header states no unit, or that has none: the resolution its EXIF block states,
    // in dots per inch; 0 when there is none to be had.
    double exifDpiX = 0;
    double exifDpiY = 0;
    // JPEG: the resolution as Windows reads it from the headers, in dots per inch: the JFIF densities
    // where they state inch or centimetre (converted); 96 for another unit; else EXIF's, else 96.
    double jpegDpiX = 0;
    double jpegDpiY = 0;
    BmpPixels bmp;
};

// Checks the header of the file of `fileLength` bytes that `read` reads. Reads only what the checks
// need: the first bytes and, for JPEG, the segments up to the frame header, skipped by their lengths.
ImageHeader CheckImageHeader(const ReadAt& read, std::uint64_t fileLength);
