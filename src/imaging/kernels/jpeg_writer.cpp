// The JPEG writer: metadata with the result's resolution, tables, frame, and scans Huffman-coded in two
// passes, the first counting symbols for the optimal tables, the second writing the codes.
#include "imaging/kernels/jpeg_writer.h"

#include "imaging/kernels/exif.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>

namespace {

// Tables 0 and 1 code DC differences, 2 and 3 AC run-size symbols; 0 and 2 serve the first component.
constexpr int kTables = 4;

struct HuffmanTable {
    std::uint8_t counts[16] = {};  // codes of each length 1 to 16
    std::vector<std::uint8_t> values;
    std::uint16_t code[256] = {};
    std::uint8_t length[256] = {};
};

// Counts the symbols of the first pass.
struct SymbolCounter {
    long long frequency[kTables][257] = {};
    void Symbol(int table, int symbol) { ++frequency[table][symbol]; }
    void Bits(std::uint32_t, int) {}
};

// Appends codes and bits to the file, a zero byte stuffed after each 0xFF.
struct CodeWriter {
    std::vector<std::uint8_t>& out;
    const HuffmanTable* tables;
    std::uint64_t buffer = 0;
    int count = 0;

    void Bits(std::uint32_t value, int bits)
    {
        buffer = (buffer << bits) | (value & ((1u << bits) - 1));
        count += bits;
        while (count >= 8) {
            count -= 8;
            std::uint8_t byte = static_cast<std::uint8_t>(buffer >> count);
            out.push_back(byte);
            if (byte == 0xFF) out.push_back(0);
        }
    }
    void Symbol(int table, int symbol) { Bits(tables[table].code[symbol], tables[table].length[symbol]); }
    // The last byte is padded with one bits, as the format asks.
    void Flush()
    {
        if (count > 0) Bits(0x7F, 8 - count);
    }
};

// A value coded as its size category and then its bits, negative values one less (Annex F.1.2.1).
template <class Sink>
void Value(Sink& sink, int value, int table, int run)
{
    int size = static_cast<int>(std::bit_width(static_cast<unsigned>(value < 0 ? -value : value)));
    sink.Symbol(table, run << 4 | size);
    sink.Bits(static_cast<std::uint32_t>(value < 0 ? value - 1 : value), size);
}

// The place in zig-zag order of each coefficient in natural order.
const std::array<std::uint8_t, 64> kZigZagPlace = [] {
    std::array<std::uint8_t, 64> place{};
    for (std::uint8_t k = 0; k < 64; ++k) place[kZigZag[k]] = k;
    return place;
}();

// A block's coefficients in zig-zag order and the mask of the nonzero ones (bit k for the k-th); only
// the places the mask names are written.
std::uint64_t ZigZagBlock(const JpegComponent& component, std::size_t block, std::int16_t* zigzag)
{
    std::uint64_t nonzero = 0;
    for (std::uint32_t i = component.first[block], end = i + component.count[block]; i < end; ++i) {
        int k = kZigZagPlace[component.places[i]];
        zigzag[k] = component.values[i];
        nonzero |= std::uint64_t{1} << k;
    }
    return nonzero;
}

// One block: the DC difference, then each nonzero AC coefficient after its run of zeros (runs over 15
// as ZRL symbols), then EOB unless the last coefficient is nonzero.
template <class Sink>
void CodeBlock(Sink& sink, const JpegComponent& component, std::size_t block, int& predictor, int tableOffset)
{
    std::int16_t zigzag[64];
    std::uint64_t nonzero = ZigZagBlock(component, block, zigzag);
    int dc = nonzero & 1 ? zigzag[0] : 0;
    Value(sink, dc - predictor, tableOffset, 0);
    predictor = dc;
    int last = 0;
    for (std::uint64_t ac = nonzero & ~std::uint64_t{1}; ac; ac &= ac - 1) {
        int k = std::countr_zero(ac);
        int run = k - last - 1;
        for (; run > 15; run -= 16) sink.Symbol(2 + tableOffset, 0xF0);
        Value(sink, zigzag[k], 2 + tableOffset, run);
        last = k;
    }
    if (last < 63) sink.Symbol(2 + tableOffset, 0x00);
}

// The components of one scan: all of them interleaved in MCUs, or one alone in its used blocks.
template <class Sink>
void CodeScan(Sink& sink, const JpegImage& image, const std::vector<int>& scan)
{
    bool interleaved = scan.size() > 1;
    const JpegComponent& first = image.components[scan[0]];
    int mcusWide = interleaved ? first.blocksWide / first.h : UsedBlocksWide(image, first);
    int mcusHigh = interleaved ? first.blocksHigh / first.v : UsedBlocksHigh(image, first);
    int predictors[4] = {};
    for (int mcuY = 0; mcuY < mcusHigh; ++mcuY) {
        for (int mcuX = 0; mcuX < mcusWide; ++mcuX) {
            for (std::size_t i = 0; i < scan.size(); ++i) {
                const JpegComponent& component = image.components[scan[i]];
                int wide = interleaved ? component.h : 1, high = interleaved ? component.v : 1;
                for (int y = 0; y < high; ++y) {
                    for (int x = 0; x < wide; ++x) {
                        std::size_t block = static_cast<std::size_t>(mcuY * high + y) * component.blocksWide +
                                            mcuX * wide + x;
                        CodeBlock(sink, component, block, predictors[i], scan[i] == 0 ? 0 : 1);
                    }
                }
            }
        }
    }
}

std::vector<std::vector<int>> Scans(const JpegImage& image)
{
    int blocksPerMcu = 0;
    for (const JpegComponent& component : image.components) blocksPerMcu += component.h * component.v;
    std::vector<std::vector<int>> scans;
    int count = static_cast<int>(image.components.size());
    if (count > 1 && blocksPerMcu <= 10) {
        scans.emplace_back();
        for (int i = 0; i < count; ++i) scans.back().push_back(i);
    } else {
        for (int i = 0; i < count; ++i) scans.push_back({i});
    }
    return scans;
}

// Code lengths of at most 16 bits from symbol frequencies (Annex K.2, figures K.1 to K.4), for a table
// with at least one symbol counted. Symbol 256 is reserved with frequency 1, so that no code is all ones; its code is removed at the end.
void OptimalTable(const long long* counted, HuffmanTable& table)
{
    long long frequency[257];
    std::copy(counted, counted + 256, frequency);
    frequency[256] = 1;
    int codeSize[257] = {}, others[257];
    std::fill(others, others + 257, -1);
    for (;;) {
        int c1 = -1, c2 = -1;  // the least frequent, then the next; ties go to the larger symbol
        for (int i = 0; i <= 256; ++i) {
            if (frequency[i] == 0) continue;
            if (c1 < 0 || frequency[i] <= frequency[c1]) {
                c2 = c1;
                c1 = i;
            } else if (c2 < 0 || frequency[i] <= frequency[c2]) {
                c2 = i;
            }
        }
        if (c2 < 0) break;
        frequency[c1] += frequency[c2];
        frequency[c2] = 0;
        for (++codeSize[c1]; others[c1] >= 0; ++codeSize[c1]) c1 = others[c1];
        others[c1] = c2;
        for (++codeSize[c2]; others[c2] >= 0; ++codeSize[c2]) c2 = others[c2];
    }
    int bits[33] = {};
    for (int i = 0; i <= 256; ++i) {
        if (codeSize[i]) ++bits[std::min(codeSize[i], 32)];
    }
    for (int i = 32; i > 16; --i) {
        while (bits[i] > 0) {
            int j = i - 2;
            while (bits[j] == 0) --j;
            bits[i] -= 2;
            bits[i - 1] += 1;
            bits[j + 1] += 2;
            bits[j] -= 1;
        }
    }
    int longest = 16;
    while (bits[longest] == 0) --longest;
    --bits[longest];  // the reserved symbol's code, the longest
    std::copy(bits + 1, bits + 17, table.counts);
    for (int size = 1; size <= 32; ++size) {
        for (int symbol = 0; symbol < 256; ++symbol) {
            if (codeSize[symbol] == size) table.values.push_back(static_cast<std::uint8_t>(symbol));
        }
    }
    std::uint16_t code = 0;
    std::size_t index = 0;
    for (int length = 1; length <= 16; ++length, code <<= 1) {
        for (int i = 0; i < table.counts[length - 1]; ++i, ++code, ++index) {
            table.code[table.values[index]] = code;
            table.length[table.values[index]] = static_cast<std::uint8_t>(length);
        }
    }
}

void PutBe16(std::vector<std::uint8_t>& out, std::size_t value)
{
    out.push_back(static_cast<std::uint8_t>(value >> 8));
    out.push_back(static_cast<std::uint8_t>(value));
}

void PutSegment(std::vector<std::uint8_t>& out, std::uint8_t marker, const std::vector<std::uint8_t>& payload)
{
    out.push_back(0xFF);
    out.push_back(marker);
    PutBe16(out, payload.size() + 2);
    out.insert(out.end(), payload.begin(), payload.end());
}

bool IsJfif(const std::vector<std::uint8_t>& segment)
{
    return segment.size() >= 18 && segment[1] == 0xE0 && std::memcmp(&segment[4], "JFIF", 5) == 0;
}

bool IsExif(const std::vector<std::uint8_t>& segment)
{
    return segment.size() > 10 && segment[1] == 0xE1 && std::memcmp(&segment[4], "Exif\0\0", 6) == 0;
}

// The metadata with the result's resolution; a JFIF header of version 1.02 first when there is none
// (nor an Adobe segment).
void PutMetadata(std::vector<std::uint8_t>& out, const JpegImage& image, std::uint16_t dpiX, std::uint16_t dpiY)
{
    std::uint8_t density[5] = {1, static_cast<std::uint8_t>(dpiX >> 8), static_cast<std::uint8_t>(dpiX),
                               static_cast<std::uint8_t>(dpiY >> 8), static_cast<std::uint8_t>(dpiY)};
    if (std::none_of(image.metadata.begin(), image.metadata.end(), IsJfif) &&
        std::none_of(image.metadata.begin(), image.metadata.end(), IsAdobeSegment)) {
        std::vector<std::uint8_t> jfif = {'J', 'F', 'I', 'F', 0, 1, 2};
        jfif.insert(jfif.end(), density, density + 5);
        jfif.insert(jfif.end(), {0, 0});
        PutSegment(out, 0xE0, jfif);
    }
    for (const std::vector<std::uint8_t>& segment : image.metadata) {
        std::size_t start = out.size();
        out.insert(out.end(), segment.begin(), segment.end());
        if (IsJfif(segment)) std::copy(density, density + 5, &out[start + 11]);
        if (IsExif(segment)) SetExifResolution(&out[start + 10], segment.size() - 10, dpiX, dpiY);
    }
}

void PutTablesAndFrame(std::vector<std::uint8_t>& out, const JpegImage& image)
{
    bool wide = false;
    for (int t = 0; t < 4; ++t) {
        bool used = std::any_of(image.components.begin(), image.components.end(),
                                [&](const JpegComponent& component) { return component.table == t; });
        if (!used) continue;
        bool sixteen = std::any_of(image.quant[t].begin(), image.quant[t].end(), [](int q) { return q > 255; });
        wide = wide || sixteen;
        std::vector<std::uint8_t> payload = {static_cast<std::uint8_t>((sixteen ? 0x10 : 0) | t)};
        for (int k = 0; k < 64; ++k) {
            std::uint16_t q = image.quant[t][kZigZag[k]];
            if (sixteen) payload.push_back(static_cast<std::uint8_t>(q >> 8));
            payload.push_back(static_cast<std::uint8_t>(q));
        }
        PutSegment(out, 0xDB, payload);
    }
    std::vector<std::uint8_t> frame = {8};
    PutBe16(frame, static_cast<std::size_t>(image.heightPx));
    PutBe16(frame, static_cast<std::size_t>(image.widthPx));
    frame.push_back(static_cast<std::uint8_t>(image.components.size()));
    for (const JpegComponent& component : image.components) {
        frame.insert(frame.end(), {component.id, static_cast<std::uint8_t>(component.h << 4 | component.v), component.table});
    }
    PutSegment(out, wide ? 0xC1 : 0xC0, frame);
}

bool Used(const SymbolCounter& counter, int table)
{
    return std::any_of(counter.frequency[table], counter.frequency[table] + 256, [](long long n) { return n > 0; });
}

void PutHuffmanTables(std::vector<std::uint8_t>& out, const HuffmanTable* tables, const SymbolCounter& counter)
{
    for (int t = 0; t < kTables; ++t) {
        if (!Used(counter, t)) continue;
        std::vector<std::uint8_t> payload = {static_cast<std::uint8_t>((t >= 2 ? 0x10 : 0) | (t & 1))};
        payload.insert(payload.end(), tables[t].counts, tables[t].counts + 16);
        payload.insert(payload.end(), tables[t].values.begin(), tables[t].values.end());
        PutSegment(out, 0xC4, payload);
    }
}

void PutScanHeader(std::vector<std::uint8_t>& out, const JpegImage& image, const std::vector<int>& scan)
{
    std::vector<std::uint8_t> header = {static_cast<std::uint8_t>(scan.size())};
    for (int index : scan) header.insert(header.end(), {image.components[index].id, static_cast<std::uint8_t>(index == 0 ? 0x00 : 0x11)});
    header.insert(header.end(), {0, 63, 0});
    PutSegment(out, 0xDA, header);
}

}  // namespace

bool IsAdobeSegment(const std::vector<std::uint8_t>& segment)
{
    return segment.size() >= 9 && segment[1] == 0xEE && std::memcmp(&segment[4], "Adobe", 5) == 0;
}

std::vector<std::uint8_t> WriteJpeg(const JpegImage& image, std::uint16_t dpiX, std::uint16_t dpiY)
{
    std::vector<std::uint8_t> out = {0xFF, 0xD8};
    PutMetadata(out, image, dpiX, dpiY);
    PutTablesAndFrame(out, image);
    std::vector<std::vector<int>> scans = Scans(image);
    SymbolCounter counter;
    for (const std::vector<int>& scan : scans) CodeScan(counter, image, scan);
    HuffmanTable tables[kTables];
    for (int t = 0; t < kTables; ++t) {
        if (Used(counter, t)) OptimalTable(counter.frequency[t], tables[t]);
    }
    PutHuffmanTables(out, tables, counter);
    for (const std::vector<int>& scan : scans) {
        PutScanHeader(out, image, scan);
        CodeWriter writer{out, tables};
        CodeScan(writer, image, scan);
        writer.Flush();
    }
    out.insert(out.end(), {0xFF, 0xD9});
    return out;
}
