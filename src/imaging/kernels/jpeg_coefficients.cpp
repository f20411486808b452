// A bounds-checked reader of sequential Huffman-coded JPEG files down to their quantised coefficients,
// and the turn of those coefficients: no inverse DCT, no quantisation, nothing lost.
#include "imaging/kernels/jpeg_coefficients.h"

#include "imaging/kernels/bytes.h"
#include "imaging/kernels/jpeg_segments.h"

#include <algorithm>

const std::uint8_t kZigZag[64] = {
    0,  1,  8,  16, 9,  2,  3,  10, 17, 24, 32, 25, 18, 11, 4,  5,  12, 19, 26, 33, 40, 48,
    41, 34, 27, 20, 13, 6,  7,  14, 21, 28, 35, 42, 49, 56, 57, 50, 43, 36, 29, 22, 15, 23,
    30, 37, 44, 51, 58, 59, 52, 45, 38, 31, 39, 46, 53, 60, 61, 54, 47, 55, 62, 63,
};

namespace {

// A Huffman table for decoding: the codes of up to 9 bits looked up at once, longer ones by length.
struct DecodeTable {
    bool defined = false;
    std::uint8_t values[256] = {};
    std::int32_t maxCode[18] = {};  // the largest code of each length, -1 when none
    std::int32_t offset[17] = {};   // values index of a length's first code, less that code
    std::uint16_t fast[512] = {};   // length << 8 | value for codes of at most 9 bits, 0 otherwise
};

struct Reader {
    const std::uint8_t* bytes;
    std::size_t length;
    JpegImage& image;
    DecodeTable dc[4], ac[4];
    int restartInterval = 0;
    long long totalBlocks = 0;  // of all components
    bool frameRead = false, sequential = false, scanned = false;
    std::vector<bool> decoded;  // per component: its scan has been read

    Reader(const std::uint8_t* file, std::size_t fileLength, JpegImage& into) : bytes(file), length(fileLength), image(into) {}
};

int CeilDiv(long long a, long long b)
{
    return static_cast<int>((a + b - 1) / b);
}

bool ReadQuantTables(Reader& reader, const std::uint8_t* at, std::size_t size)
{
    while (size > 0) {
        int precision = at[0] >> 4, index = at[0] & 15;
        std::size_t tableSize = 1 + 64 * (precision + 1);
        if (precision > 1 || index > 3 || size < tableSize) return false;
        std::array<std::uint16_t, 64> table{};
        for (int k = 0; k < 64; ++k) {
            table[kZigZag[k]] = precision ? ReadBe16(at + 1 + 2 * k) : at[1 + k];
            if (table[kZigZag[k]] == 0) return false;
        }
        // Tables changed after the coefficients of a scan were read would make the single table
        // written for each component wrong.
        if (reader.scanned && (!reader.image.quantDefined[index] || reader.image.quant[index] != table)) return false;
        reader.image.quant[index] = table;
        reader.image.quantDefined[index] = true;
        at += tableSize;
        size -= tableSize;
    }
    return true;
}

// Canonical codes from the counts per length (Annex C); false for counts no prefix code can have.
bool BuildDecodeTable(const std::uint8_t* counts, const std::uint8_t* values, int total, DecodeTable& table)
{
    table = DecodeTable{};
    std::copy(values, values + total, table.values);
    std::int32_t code = 0;
    int index = 0;
    for (int bits = 1; bits <= 16; ++bits) {
        table.offset[bits] = index - code;
        table.maxCode[bits] = counts[bits - 1] ? code + counts[bits - 1] - 1 : -1;
        if (code + counts[bits - 1] > (1 << bits)) return false;
        for (int i = 0; i < counts[bits - 1]; ++i, ++code, ++index) {
            if (bits <= 9) {
                int shift = 9 - bits;
                for (int fill = 0; fill < (1 << shift); ++fill) {
                    table.fast[(code << shift) | fill] = static_cast<std::uint16_t>(bits << 8 | values[index]);
                }
            }
        }
        code <<= 1;
    }
    table.maxCode[17] = 0x7FFFFFFF;  // stops the length search of a code that never ends
    table.defined = true;
    return true;
}

bool ReadHuffmanTables(Reader& reader, const std::uint8_t* at, std::size_t size)
{
    while (size >= 17) {
        int kind = at[0] >> 4, index = at[0] & 15;
        int total = 0;
        for (int i = 0; i < 16; ++i) total += at[1 + i];
        if (kind > 1 || index > 3 || total > 256 || size < 17u + total) return false;
        DecodeTable& table = kind ? reader.ac[index] : reader.dc[index];
        if (!BuildDecodeTable(at + 1, at + 17, total, table)) return false;
        at += 17 + total;
        size -= 17 + total;
    }
    return size == 0;
}

bool ReadFrame(Reader& reader, std::uint8_t marker, const std::uint8_t* at, std::size_t size)
{
    if (reader.frameRead || size < 6) return false;
    JpegImage& image = reader.image;
    image.heightPx = ReadBe16(at + 1);
    image.widthPx = ReadBe16(at + 3);
    std::size_t count = at[5];
    if (image.widthPx == 0 || image.heightPx == 0 || count < 1 || count > 4 || size != 6 + 3 * count) return false;
    long long blocks = 0;
    for (std::size_t i = 0; i < count; ++i) {
        const std::uint8_t* field = at + 6 + 3 * i;
        JpegComponent component;
        component.id = field[0];
        component.h = field[1] >> 4;
        component.v = field[1] & 15;
        component.table = field[2];
        if (component.h < 1 || component.h > 4 || component.v < 1 || component.v > 4 || component.table > 3) return false;
        for (const JpegComponent& other : image.components) {
            if (other.id == component.id) return false;
        }
        image.components.push_back(component);
    }
    SetJpegSize(image, image.widthPx, image.heightPx);
    for (const JpegComponent& component : image.components) {
        blocks += static_cast<long long>(component.blocksWide) * component.blocksHigh;
    }
    reader.frameRead = true;
    reader.totalBlocks = blocks;
    reader.decoded.assign(count, false);
    // Baseline and extended sequential, Huffman-coded, 8-bit samples: the coefficients are read.
    reader.sequential = (marker == 0xC0 || marker == 0xC1) && at[0] == 8 && blocks <= kMaxJpegBlocks;
    return true;
}

// The entropy-coded bits of a scan. Stuffed zero bytes are dropped; at a marker the bits run out, and a
// code that reads past them marks the scan as broken rather than reading beyond.
struct BitReader {
    const std::uint8_t* bytes;
    std::size_t length;
    std::size_t at;
    std::uint64_t buffer = 0;  // bits from the top
    int count = 0;             // bits in the buffer
    int padding = 0;           // of which zero bits past the data
    bool atMarker = false;
    bool overrun = false;

    void Fill()
    {
        while (count <= 56) {
            std::uint8_t byte = 0;
            if (!atMarker && at < length && bytes[at] != 0xFF) {
                byte = bytes[at++];
            } else if (!atMarker && at + 1 < length && bytes[at + 1] == 0x00) {
                byte = 0xFF;
                at += 2;
            } else {
                atMarker = true;
                padding += 8;
            }
            buffer |= static_cast<std::uint64_t>(byte) << (56 - count);
            count += 8;
        }
    }

    std::uint32_t Peek16()
    {
        if (count < 16) Fill();
        return static_cast<std::uint32_t>(buffer >> 48);
    }

    void Skip(int bits)
    {
        if (bits > count - padding) overrun = true;
        buffer <<= bits;
        count -= bits;
        padding = std::min(padding, count);
    }

    std::uint32_t Take(int bits)
    {
        if (bits == 0) return 0;
        if (count < bits) Fill();
        std::uint32_t value = static_cast<std::uint32_t>(buffer >> (64 - bits));
        Skip(bits);
        return value;
    }

    // After a restart interval: the bits left in the current byte are padding; the marker follows.
    bool Restart(int expected)
    {
        buffer = 0;
        count = padding = 0;
        if (at + 1 >= length || bytes[at] != 0xFF || bytes[at + 1] != 0xD0 + expected) return false;
        at += 2;
        atMarker = false;
        return true;
    }
};

// One Huffman-coded value; -1 for a code that is not in the table.
int Decode(BitReader& bits, const DecodeTable& table)
{
    std::uint32_t peek = bits.Peek16();
    std::uint16_t fast = table.fast[peek >> 7];
    if (fast) {
        bits.Skip(fast >> 8);
        return fast & 0xFF;
    }
    int length = 10;
    while (static_cast<std::int32_t>(peek >> (16 - std::min(length, 16))) > table.maxCode[length]) ++length;
    if (length > 16) return -1;
    bits.Skip(length);
    return table.values[table.offset[length] + static_cast<std::int32_t>(peek >> (16 - length))];
}

// The signed value of `size` bits as Annex F extends it.
int Extend(std::uint32_t raw, int size)
{
    return raw < (1u << (size - 1)) ? static_cast<int>(raw) - (1 << size) + 1 : static_cast<int>(raw);
}

struct ScanComponent {
    int index;
    const DecodeTable* dc;
    const DecodeTable* ac;
    int predictor = 0;
};

// Decodes one block into the entries of block `block` of `target`.
bool DecodeBlock(BitReader& bits, ScanComponent& scan, JpegComponent& target, std::size_t block)
{
    int size = Decode(bits, *scan.dc);
    if (size < 0 || size > 11) return false;
    scan.predictor += size ? Extend(bits.Take(size), size) : 0;
    // Level-shifted 8-bit samples give DC values from -1024 to 1016 at the finest quantisation; the
    // range kept makes every difference the writer forms fit the format's 11 bits.
    if (scan.predictor < -1024 || scan.predictor > 1023) return false;
    std::size_t first = target.values.size();
    target.first[block] = static_cast<std::uint32_t>(first);
    if (scan.predictor != 0) {
        target.places.push_back(0);
        target.values.push_back(static_cast<std::int16_t>(scan.predictor));
    }
    for (int k = 1; k < 64; ++k) {
        int symbol = Decode(bits, *scan.ac);
        if (symbol < 0) return false;
        int run = symbol >> 4, bitsize = symbol & 15;
        if (bitsize == 0) {
            if (run != 15) break;
            k += 15;
            continue;
        }
        k += run;
        if (k > 63 || bitsize > 10) return false;
        target.places.push_back(kZigZag[k]);
        target.values.push_back(static_cast<std::int16_t>(Extend(bits.Take(bitsize), bitsize)));
    }
    target.count[block] = static_cast<std::uint8_t>(target.values.size() - first);
    return !bits.overrun;
}

// Reads the MCUs of one scan; `at` moves past its entropy-coded data.
bool DecodeScan(Reader& reader, std::vector<ScanComponent>& scan, std::size_t& at)
{
    JpegImage& image = reader.image;
    bool interleaved = scan.size() > 1;
    const JpegComponent& first = image.components[scan[0].index];
    int mcusWide = interleaved ? first.blocksWide / first.h : UsedBlocksWide(image, first);
    int mcusHigh = interleaved ? first.blocksHigh / first.v : UsedBlocksHigh(image, first);
    BitReader bits{reader.bytes, reader.length, at, 0, 0, 0, false, false};
    long long mcus = static_cast<long long>(mcusWide) * mcusHigh;
    for (long long mcu = 0; mcu < mcus; ++mcu) {
        if (reader.restartInterval && mcu > 0 && mcu % reader.restartInterval == 0) {
            if (!bits.Restart(static_cast<int>(mcu / reader.restartInterval - 1) & 7)) return false;
            for (ScanComponent& component : scan) component.predictor = 0;
        }
        int mcuX = static_cast<int>(mcu % mcusWide), mcuY = static_cast<int>(mcu / mcusWide);
        for (ScanComponent& component : scan) {
            JpegComponent& target = image.components[component.index];
            int wide = interleaved ? target.h : 1, high = interleaved ? target.v : 1;
            for (int y = 0; y < high; ++y) {
                for (int x = 0; x < wide; ++x) {
                    std::size_t block = static_cast<std::size_t>(mcuY * high + y) * target.blocksWide + mcuX * wide + x;
                    if (!DecodeBlock(bits, component, target, block)) return false;
                }
            }
        }
    }
    at = bits.at;
    return true;
}

// The scan header: its components, each with defined tables, none read before, then a sequential
// scan's spectral range; a component's blocks are cleared as it is first met.
bool ReadScan(Reader& reader, const std::uint8_t* header, std::size_t size, std::size_t& at)
{
    JpegImage& image = reader.image;
    std::size_t count = size ? header[0] : 0;
    if (count < 1 || count > 4 || size != 4 + 2 * count) return false;
    std::vector<ScanComponent> scan;
    int blocksPerMcu = 0;
    for (std::size_t i = 0; i < count; ++i) {
        const std::uint8_t* field = header + 1 + 2 * i;
        auto found = std::find_if(image.components.begin(), image.components.end(),
                                  [&](const JpegComponent& component) { return component.id == field[0]; });
        int dc = field[1] >> 4, ac = field[1] & 15;
        if (found == image.components.end() || dc > 3 || ac > 3) return false;
        int index = static_cast<int>(found - image.components.begin());
        if (reader.decoded[index] || !reader.dc[dc].defined || !reader.ac[ac].defined ||
            !image.quantDefined[found->table]) {
            return false;
        }
        reader.decoded[index] = true;
        ClearBlocks(*found);
        // About two entries a byte of the file, shared by the components as their blocks are: growing
        // the entries of a page step by step would copy them again and again.
        std::size_t entries = std::min(reader.length * 2 * found->first.size() / static_cast<std::size_t>(reader.totalBlocks),
                                       found->first.size() * 64);
        found->places.reserve(entries);
        found->values.reserve(entries);
        scan.push_back({index, &reader.dc[dc], &reader.ac[ac]});
        blocksPerMcu += found->h * found->v;
    }
    const std::uint8_t* spectral = header + 1 + 2 * count;
    if (spectral[0] != 0 || spectral[1] != 63 || spectral[2] != 0 || (count > 1 && blocksPerMcu > 10)) return false;
    reader.scanned = true;
    return DecodeScan(reader, scan, at);
}

// One marker segment at `at` (just past its marker); false when the coefficients cannot be read.
bool ReadSegment(Reader& reader, std::uint8_t marker, std::size_t& at)
{
    if (at + 2 > reader.length) return false;
    std::size_t segmentLength = ReadBe16(reader.bytes + at);
    if (segmentLength < 2 || segmentLength > reader.length - at) return false;
    const std::uint8_t* payload = reader.bytes + at + 2;
    std::size_t size = segmentLength - 2;
    std::size_t next = at + segmentLength;
    bool sound = true;
    if ((marker >= 0xE0 && marker <= 0xEF) || marker == 0xFE) {
        reader.image.metadata.emplace_back(reader.bytes + at - 2, reader.bytes + next);
    } else if (marker == 0xDB) {
        sound = ReadQuantTables(reader, payload, size);
    } else if (marker == 0xC4) {
        sound = ReadHuffmanTables(reader, payload, size);
    } else if (marker == 0xDD) {
        sound = size == 2;
        if (sound) reader.restartInterval = ReadBe16(payload);
    } else if (IsFrameHeader(marker)) {
        sound = ReadFrame(reader, marker, payload, size);
    } else if (marker == 0xDA) {
        sound = reader.frameRead && reader.sequential && ReadScan(reader, payload, size, next);
    } else if (marker == 0xDC || marker == 0xCC) {
        sound = false;  // a height given after the scan, or arithmetic coding
    }
    at = next;
    return sound;
}

bool AllDecoded(const Reader& reader)
{
    return reader.frameRead && std::all_of(reader.decoded.begin(), reader.decoded.end(), [](bool done) { return done; });
}

}  // namespace

int MaxH(const JpegImage& image)
{
    int most = 1;
    for (const JpegComponent& component : image.components) most = std::max(most, int{component.h});
    return most;
}

int MaxV(const JpegImage& image)
{
    int most = 1;
    for (const JpegComponent& component : image.components) most = std::max(most, int{component.v});
    return most;
}

int UsedBlocksWide(const JpegImage& image, const JpegComponent& component)
{
    return CeilDiv(CeilDiv(static_cast<long long>(image.widthPx) * component.h, MaxH(image)), 8);
}

int UsedBlocksHigh(const JpegImage& image, const JpegComponent& component)
{
    return CeilDiv(CeilDiv(static_cast<long long>(image.heightPx) * component.v, MaxV(image)), 8);
}

void ClearBlocks(JpegComponent& component)
{
    std::size_t blocks = static_cast<std::size_t>(component.blocksWide) * component.blocksHigh;
    component.first.assign(blocks, 0);
    component.count.assign(blocks, 0);
    component.places.clear();
    component.values.clear();
}

bool HasBlocks(const JpegComponent& component)
{
    return !component.first.empty();
}

void StoreBlock(JpegComponent& component, std::size_t block, const std::int16_t* coefficients)
{
    component.first[block] = static_cast<std::uint32_t>(component.values.size());
    std::uint8_t stored = 0;
    for (std::uint8_t place = 0; place < 64; ++place) {
        if (coefficients[place] == 0) continue;
        component.places.push_back(place);
        component.values.push_back(coefficients[place]);
        ++stored;
    }
    component.count[block] = stored;
}

void LoadBlock(const JpegComponent& component, std::size_t block, std::int16_t* coefficients)
{
    std::fill(coefficients, coefficients + 64, 0);
    for (std::uint32_t i = component.first[block], end = i + component.count[block]; i < end; ++i) {
        coefficients[component.places[i]] = component.values[i];
    }
}

JpegContent ReadJpeg(const std::uint8_t* bytes, std::size_t length, JpegImage& image)
{
    image = JpegImage{};
    if (length < 4 || bytes[0] != 0xFF || bytes[1] != 0xD8) return JpegContent::Malformed;
    Reader reader(bytes, length, image);
    std::size_t at = 2;
    bool sound = true;
    while (at + 1 < length) {
        if (bytes[at] != 0xFF) {
            ++at;  // bytes between segments are skipped, as decoders skip them
            continue;
        }
        std::uint8_t marker = bytes[at + 1];
        at += 2;
        if (marker == 0xFF) {
            --at;  // fill byte
            continue;
        }
        if (marker == 0xD9) break;
        if (StandsAlone(marker)) continue;
        if (marker == 0xD8 || !ReadSegment(reader, marker, at)) {
            sound = false;
            break;
        }
    }
    bool framed = reader.frameRead && image.widthPx > 0;
    if (sound && reader.sequential && AllDecoded(reader)) return JpegContent::Coefficients;
    for (JpegComponent& component : image.components) component = {component.id, component.h, component.v, component.table,
                                                                      component.blocksWide, component.blocksHigh, {}, {}, {}, {}};
    bool tabled = framed && std::all_of(image.components.begin(), image.components.end(),
                                        [&](const JpegComponent& c) { return image.quantDefined[c.table]; });
    return tabled ? JpegContent::OtherCoding : JpegContent::Malformed;
}

bool TurnsLosslessly(const JpegImage& image, Turn turn)
{
    if (turn == Turn::Clockwise) return image.heightPx % (8 * MaxV(image)) == 0;
    if (turn == Turn::CounterClockwise) return image.widthPx % (8 * MaxH(image)) == 0;
    return true;
}

void SetJpegSize(JpegImage& image, int widthPx, int heightPx)
{
    image.widthPx = widthPx;
    image.heightPx = heightPx;
    int mcusWide = CeilDiv(widthPx, 8 * MaxH(image)), mcusHigh = CeilDiv(heightPx, 8 * MaxV(image));
    for (JpegComponent& component : image.components) {
        component.blocksWide = mcusWide * component.h;
        component.blocksHigh = mcusHigh * component.v;
        component.first.clear();
        component.count.clear();
        component.places.clear();
        component.values.clear();
    }
}

JpegImage TurnedLayout(const JpegImage& image, Turn turn)
{
    JpegImage turned;
    turned.metadata = image.metadata;
    turned.quantDefined = image.quantDefined;
    turned.quant = image.quant;
    bool quarter = turn != Turn::None;
    for (int t = 0; t < 4 && quarter; ++t) {
        for (int k = 0; k < 64; ++k) turned.quant[t][(k % 8) * 8 + k / 8] = image.quant[t][k];
    }
    for (const JpegComponent& component : image.components) {
        turned.components.push_back({component.id, quarter ? component.v : component.h, quarter ? component.h : component.v,
                                     component.table, 0, 0, {}, {}, {}, {}});
    }
    SetJpegSize(turned, quarter ? image.heightPx : image.widthPx, quarter ? image.widthPx : image.heightPx);
    return turned;
}

namespace {

// Appends the entries of block `block` of `from`, turned, as block `target` of `to`: each place
// transposed, and the value negated where the turn flips the block across that frequency (the odd
// columns of the result clockwise, its odd rows counter-clockwise).
void TurnEntries(const JpegComponent& from, std::size_t block, Turn turn, JpegComponent& to, std::size_t target)
{
    to.first[target] = static_cast<std::uint32_t>(to.values.size());
    to.count[target] = from.count[block];
    for (std::uint32_t i = from.first[block], end = i + from.count[block]; i < end; ++i) {
        int row = from.places[i] >> 3, column = from.places[i] & 7;
        bool negate = (turn == Turn::Clockwise ? row : column) & 1;
        to.places.push_back(static_cast<std::uint8_t>(column * 8 + row));
        to.values.push_back(static_cast<std::int16_t>(negate ? -from.values[i] : from.values[i]));
    }
}

}  // namespace

JpegImage TurnJpeg(const JpegImage& image, Turn turn)
{
    if (turn == Turn::None) return image;
    JpegImage turned = TurnedLayout(image, turn);
    for (std::size_t c = 0; c < image.components.size(); ++c) {
        const JpegComponent& from = image.components[c];
        JpegComponent& to = turned.components[c];
        if (!HasBlocks(from)) continue;
        ClearBlocks(to);
        to.places.reserve(from.places.size());
        to.values.reserve(from.values.size());
        // The turned edge falls on whole blocks, so every used block of the result has a source block;
        // the MCU padding beyond them stays empty.
        int usedWide = UsedBlocksWide(image, from), usedHigh = UsedBlocksHigh(image, from);
        for (int y = 0; y < usedWide; ++y) {
            for (int x = 0; x < usedHigh; ++x) {
                int sourceX = turn == Turn::Clockwise ? y : usedWide - 1 - y;
                int sourceY = turn == Turn::Clockwise ? usedHigh - 1 - x : x;
                TurnEntries(from, static_cast<std::size_t>(sourceY) * from.blocksWide + sourceX, turn, to,
                            static_cast<std::size_t>(y) * to.blocksWide + x);
            }
        }
    }
    return turned;
}
