// The quantised DCT coefficients of a sequential Huffman-coded JPEG, read from the file's bytes, and
// their quarter turns; the writer (jpeg_writer.h) codes them again.
#pragma once

#include "imaging/kernels/turn.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

struct JpegComponent {
    std::uint8_t id = 0;
    std::uint8_t h = 1, v = 1;  // sampling factors, 1 to 4
    std::uint8_t table = 0;     // quantisation table, 0 to 3
    int blocksWide = 0;         // the grid of blocks stored: whole MCUs of the frame
    int blocksHigh = 0;
    // The coefficients, only the nonzero ones: a page at 600 DPI has millions of blocks that hold a
    // few each. Block b (row by row in the grid) has count[b] entries from first[b] on, each its place
    // in natural (row by row) order and its value. The reader, the turn and the writer work on the
    // entries; other code goes through LoadBlock and StoreBlock.
    std::vector<std::uint32_t> first;
    std::vector<std::uint8_t> count;
    std::vector<std::uint8_t> places;
    std::vector<std::int16_t> values;
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

// The most blocks of all components together that the reader holds: with every coefficient nonzero,
// 197 bytes a block, 1.6 GB; a scanned page holds a few coefficients a block.
constexpr long long kMaxJpegBlocks = 1LL << 23;

// Reads `length` bytes of a JPEG file. Every length and count read from the file is checked against
// the bytes that remain and the limits of the format; a Huffman code longer than 16 bits, a scan that
// ends early, a DQT changed between scans or more than kMaxJpegBlocks blocks stop the coefficient read.
JpegContent ReadJpeg(const std::uint8_t* bytes, std::size_t length, JpegImage& image);

// Gives every block of the component's grid zero coefficients.
void ClearBlocks(JpegComponent& component);
// True when the component holds coefficients (ClearBlocks has been called on it).
bool HasBlocks(const JpegComponent& component);
// Stores the 64 coefficients (natural order) of block `block` of the grid; each block once.
void StoreBlock(JpegComponent& component, std::size_t block, const std::int16_t* coefficients);
// The 64 coefficients (natural order) of block `block` of the grid.
void LoadBlock(const JpegComponent& component, std::size_t block, std::int16_t* coefficients);

// The largest horizontal and vertical sampling factors of the image's components (1 when it has none).
int MaxH(const JpegImage& image);
int MaxV(const JpegImage& image);

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
