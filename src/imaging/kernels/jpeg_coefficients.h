// The quantised DCT coefficients of a sequential Huffman-coded JPEG, read from the file's bytes, and
// their quarter turns; the writer (jpeg_writer.h) codes them again.
#pragma once

#include "imaging/kernels/turn.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <utility>
#include <vector>

// An allocator whose new elements are left uninitialised: a page holds hundreds of megabytes of
// coefficients, every one of which is written before it is read, and clearing them first would cost
// a quarter of a turn's time.
template <class T>
struct UninitialisedAllocator : std::allocator<T> {
    template <class U>
    struct rebind {
        using other = UninitialisedAllocator<U>;
    };
    UninitialisedAllocator() = default;
    template <class U>
    UninitialisedAllocator(const UninitialisedAllocator<U>&) {}
    template <class U>
    void construct(U* at) { ::new (static_cast<void*>(at)) U; }
    template <class U, class... Arguments>
    void construct(U* at, Arguments&&... arguments) { ::new (static_cast<void*>(at)) U(std::forward<Arguments>(arguments)...); }
};
using Coefficients = std::vector<std::int16_t, UninitialisedAllocator<std::int16_t>>;

struct JpegComponent {
    std::uint8_t id = 0;
    std::uint8_t h = 1, v = 1;  // sampling factors, 1 to 4
    std::uint8_t table = 0;     // quantisation table, 0 to 3
    int blocksWide = 0;         // the grid of blocks stored: whole MCUs of the frame
    int blocksHigh = 0;
    Coefficients blocks;  // 64 coefficients a block in natural (row by row) order; blocks row by row
};

struct JpegImage {
    int widthPx = 0;
    int heightPx = 0;
    std::vector<JpegComponent> components;
    std::array<std::array<std::uint16_t, 64>, 4> quant{};  // natural order
    std::array<bool, 4> quantDefined{};
    // APPn and COM segments as the file holds them (marker, length, payload), in the file's order.
    std::vector<std::vector<std::uint8_t>> metadata;
};

enum class JpegContent {
    Coefficients,  // a sequential Huffman-coded 8-bit JPEG: frame, tables, metadata and every coefficient read
    OtherCoding,   // a sound frame (progressive, arithmetic, 12-bit...): frame, tables and metadata, no coefficients
    Malformed,     // not a JPEG, or one this reader cannot follow; `image` holds nothing to rely on
};

// The most blocks of all components together that the reader holds (2 bytes a coefficient: 1 GiB).
constexpr long long kMaxJpegBlocks = 1LL << 23;

// Reads `length` bytes of a JPEG file. Every length and count read from the file is checked against
// the bytes that remain and the limits of the format; a Huffman code longer than 16 bits, a scan that
// ends early, a DQT changed between scans or more than kMaxJpegBlocks blocks stop the coefficient read.
JpegContent ReadJpeg(const std::uint8_t* bytes, std::size_t length, JpegImage& image);

// Block rows and columns of a component that hold pixels (the rest of the grid pads to whole MCUs).
int UsedBlocksWide(const JpegImage& image, const JpegComponent& component);
int UsedBlocksHigh(const JpegImage& image, const JpegComponent& component);

// Gives the image a new size: each component's grid of whole MCUs for it, no coefficients.
void SetJpegSize(JpegImage& image, int widthPx, int heightPx);

// True when `turn` moves only whole blocks: the edge that becomes the result's left (clockwise) or top
// (counter-clockwise) edge falls on whole MCUs. None always can.
bool TurnsLosslessly(const JpegImage& image, Turn turn);

// The image turned in the coefficient domain: blocks moved, each transposed with the signs the turn
// needs, sampling factors and quantisation tables transposed. Clockwise, result pixel (x, y) is source
// pixel (y, height - 1 - x), as TurnPixels turns. Requires TurnsLosslessly(image, turn).
JpegImage TurnJpeg(const JpegImage& image, Turn turn);

// The frame, tables and metadata of TurnJpeg(image, turn), without coefficients and without copying any.
JpegImage TurnedLayout(const JpegImage& image, Turn turn);

// The index in natural order of the k-th coefficient in zig-zag order.
extern const std::uint8_t kZigZag[64];
