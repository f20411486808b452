// Erosion passes with the result of running them one after another: a separable bit-packed dilation
// of white for planes of pure 0 and 255, and the passes themselves, one by one, for any other plane.
#include "imaging/kernels/erosion.h"

#include "imaging/kernels/monochrome.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstddef>
#include <cstring>
#include <memory>
#include <utility>
#include <vector>

// The kernels are built for x86-64, where SSE2 is always there.
#include <emmintrin.h>

static_assert(std::endian::native == std::endian::little, "the packing reads eight pixels as one little-endian word");

using Word = std::uint64_t;
constexpr int kWordBits = 64;

// Packed rows hold pixel x at bit x % 64 of word x / 64.
static int WordsFor(int width)
{
    return (width + kWordBits - 1) / kWordBits;
}

static void Store8(std::uint8_t* at, Word value)
{
    std::memcpy(at, &value, sizeof value);
}

// Eight bytes of 0 or 255 from eight bits, bit i giving byte i.
static constexpr std::array<Word, 256> MakeByteMasks()
{
    std::array<Word, 256> masks{};
    for (unsigned bits = 0; bits < 256; ++bits) {
        for (int i = 0; i < 8; ++i) {
            if (bits & (1u << i)) masks[bits] |= Word{0xFF} << (8 * i);
        }
    }
    return masks;
}
static constexpr std::array<Word, 256> kByteMasks = MakeByteMasks();

// Packs the white of 64 pixels (255 has its top bit set, 0 has not) into `bits`, 16 pixels a
// little-endian 16-bit store. A byte that is neither 0 nor 255 differs from its own comparison with
// 255 (all ones where equal, zero elsewhere) and is left set in `stray`.
static void PackTopBits(const std::uint8_t* at, std::uint8_t* bits, __m128i& stray)
{
    const __m128i white = _mm_set1_epi8(-1);
    for (int k = 0; k < 4; ++k) {
        __m128i value = _mm_loadu_si128(reinterpret_cast<const __m128i*>(at + 16 * k));
        stray = _mm_or_si128(stray, _mm_xor_si128(value, _mm_cmpeq_epi8(value, white)));
        auto mask = static_cast<std::uint16_t>(_mm_movemask_epi8(value));
        std::memcpy(bits + 2 * k, &mask, sizeof mask);
    }
}

// Packs the white of a row into every word of `bits`, checking its values in the same read;
// false when a pixel is neither 0 nor 255. The work between rows hides the stream of rows from the
// hardware prefetcher, so each word packed asks for a line of the row at `next`, spread over the
// row rather than all at once.
static bool PackTwoToneRow(const std::uint8_t* row, const std::uint8_t* next, int width, Word* bits)
{
    __m128i stray = _mm_setzero_si128();
    int w = 0;
    for (; w < width / kWordBits; ++w) {
        _mm_prefetch(reinterpret_cast<const char*>(next + kWordBits * w), _MM_HINT_T0);
        PackTopBits(row + kWordBits * w, reinterpret_cast<std::uint8_t*>(bits + w), stray);
    }
    bool twoTone = _mm_movemask_epi8(_mm_cmpeq_epi8(stray, _mm_setzero_si128())) == 0xFFFF;
    if (w == WordsFor(width)) return twoTone;
    Word word = 0;
    for (int x = w * kWordBits; x < width; ++x) {
        twoTone = twoTone && (row[x] == 0 || row[x] == 255);
        word |= static_cast<Word>(row[x] >> 7) << (x % kWordBits);
    }
    bits[w] = word;
    return twoTone;
}

// row |= row moved `shift` pixels toward higher x. Descending, so each word read is not yet written.
static void OrMovedUp(Word* row, int words, int shift)
{
    int whole = shift / kWordBits, part = shift % kWordBits;
    for (int i = words - 1; i >= whole; --i) {
        Word moved = row[i - whole] << part;
        if (part != 0 && i > whole) moved |= row[i - whole - 1] >> (kWordBits - part);
        row[i] |= moved;
    }
}

// row |= row moved `shift` pixels toward lower x. Ascending, so each word read is not yet written.
static void OrMovedDown(Word* row, int words, int shift)
{
    int whole = shift / kWordBits, part = shift % kWordBits;
    for (int i = 0; i + whole < words; ++i) {
        Word moved = row[i + whole] >> part;
        if (part != 0 && i + whole + 1 < words) moved |= row[i + whole + 1] << (kWordBits - part);
        row[i] |= moved;
    }
}

// Sets every bit within `reach` pixels of a set bit, doubling the span covered each way. Exact
// for any reach: a pixel past an end is only ever needed as a step toward a pixel inside.
static void SpreadByDoubling(Word* row, int words, int reach)
{
    for (int covered = 1; covered <= reach;) {
        int step = std::min(covered, reach + 1 - covered);
        OrMovedUp(row, words, step);
        covered += step;
    }
    for (int covered = 1; covered <= reach;) {
        int step = std::min(covered, reach + 1 - covered);
        OrMovedDown(row, words, step);
        covered += step;
    }
}

// A row with no pixel set, or with every pixel set, stays as it is when spread (beyond the width
// the bits do not matter). Blank lines of a page are such rows.
static bool IsFlat(const Word* row, int words, int width)
{
    Word any = 0, all = ~Word{0};
    for (int w = 0; w + 1 < words; ++w) {
        any |= row[w];
        all &= row[w];
    }
    int tail = width % kWordBits;
    Word lastMask = tail == 0 ? ~Word{0} : (Word{1} << tail) - 1;
    Word last = row[words - 1] & lastMask;
    return (any | last) == 0 || (all == ~Word{0} && last == lastMask);
}

// out = in | in moved `shift` (1 to 63) pixels either way, over words 1 .. words + 2; words 0 and
// words + 3 are zero. No edge cases, so the loop vectorises.
static void SpreadStep(const Word* in, Word* out, int words, int shift)
{
    int back = kWordBits - shift;
    for (int i = 1; i <= words + 2; ++i) {
        Word here = in[i];
        out[i] = here | here << shift | in[i - 1] >> back | here >> shift | in[i + 1] << back;
    }
}

// Sets every bit within `reach` pixels of a set bit of the row at scratch + 2 and returns where the
// spread row is. A row covering c pixels either side, OR-ed with itself moved up to 2c + 1 either
// way, covers that much more: the span triples each step, in half the moves of doubling. Those
// steps need the pixels within c past either end, which the word on each side of the row holds
// while c is below 64; longer reaches double instead, in place. `scratch` holds two rows of
// words + 4 whose first and last words are zero. Bits past the width may be set; they are never
// read back.
static const Word* SpreadAlongRow(Word* scratch, int words, int reach)
{
    if (reach >= kWordBits) {
        SpreadByDoubling(scratch + 2, words, reach);
        return scratch + 2;
    }
    Word* in = scratch;
    Word* out = scratch + words + 4;
    in[1] = in[words + 2] = 0;
    for (int covered = 0; covered < reach;) {
        int step = std::min(2 * covered + 1, reach - covered);
        SpreadStep(in, out, words, step);
        std::swap(in, out);
        covered += step;
    }
    return in + 2;
}

static void OrInto(Word* into, const Word* from, int words)
{
    for (int i = 0; i < words; ++i) into[i] |= from[i];
}

// The sweep of a plane while it holds only 0 and 255. Packed rows live in two rings: row y in slot
// y % slots of the rows OR-ed down, and in slot y % kept of the rows as read.
struct Sweep {
    std::uint8_t* buffer;
    int width, height;
    std::ptrdiff_t stride;
    int across, down;          // reach along rows and down columns, cut to the image
    int words, slots, kept;
    long long loaded;          // rows packed so far, in order
    long long emitted;         // the last row written, 0 before the first
    std::vector<Word> white;   // the last rows packed, as read
    std::vector<Word> stacked; // the rows packed, OR-ed down in place within each block
    std::vector<Word> spread;  // one row's window spread along: two rows of words + 4, end words zero
    std::vector<Word> prefix;  // running OR down the next block of rows
    std::vector<Word> inner;   // the columns off the frame
    std::unique_ptr<int[]> changed;  // the words of one row to write
};

// Reaches beyond the image are cut to it, so huge pass counts cost no more. While row y is made,
// the rows in use run from y - down (its suffix) to y + down (the last packed), so a ring of
// 2 down + 1 rows never overwrites a row still needed. A value other than 0 and 255 found in row
// y + down + 1 means making rows y - down .. y again from the rows within down of them, as read:
// 3 down + 1 rows are kept.
static Sweep MakeSweep(std::uint8_t* buffer, int width, int height, std::ptrdiff_t stride, int passes)
{
    int words = WordsFor(width);
    int across = std::min(passes, width - 1), down = std::min(passes, height - 1);
    int slots = static_cast<int>(std::min<long long>(height, 2LL * down + 1));
    int kept = static_cast<int>(std::min<long long>(height, 3LL * down + 1));
    Sweep sweep{buffer, width, height, stride, across, down, words, slots, kept, 0, 0,
                std::vector<Word>(static_cast<std::size_t>(kept) * words),
                std::vector<Word>(static_cast<std::size_t>(slots) * words),
                std::vector<Word>(2 * (static_cast<std::size_t>(words) + 4)), std::vector<Word>(words),
                std::vector<Word>(words, ~Word{0}), std::make_unique<int[]>(words)};
    sweep.inner[0] &= ~Word{1};
    for (int x = width - 1; x < words * kWordBits; ++x) sweep.inner[x / kWordBits] &= ~(Word{1} << (x % kWordBits));
    return sweep;
}

static Word* Slot(Sweep& sweep, std::vector<Word>& ring, long long y)
{
    return ring.data() + (y % sweep.slots) * sweep.words;
}

static Word* WhiteRow(Sweep& sweep, long long y)
{
    return sweep.white.data() + (y % sweep.kept) * sweep.words;
}

// Packs the rows up to `last`, each once, in order. False at a row holding a value other than 0
// and 255; each row is packed into its OR-ed slot first, so such a row spoils no row kept as read.
static bool LoadRows(Sweep& sweep, long long last)
{
    for (; sweep.loaded <= last; ++sweep.loaded) {
        long long y = sweep.loaded;
        Word* stacked = Slot(sweep, sweep.stacked, y);
        const std::uint8_t* row = sweep.buffer + y * sweep.stride;
        if (!PackTwoToneRow(row, y + 1 < sweep.height ? row + sweep.stride : row, sweep.width, stacked)) return false;
        std::copy(stacked, stacked + sweep.words, WhiteRow(sweep, y));
    }
    return true;
}

// Writes rows `first` to `last` back as they were packed: each of their pixels was 0 or 255.
static void PutBack(Sweep& sweep, long long first, long long last)
{
    for (long long y = first; y <= last; ++y) {
        std::uint8_t* row = sweep.buffer + y * sweep.stride;
        const Word* white = WhiteRow(sweep, y);
        auto bits = [&](int x) { return white[x / kWordBits] >> (x % kWordBits); };
        int x = 0;
        for (; x + 8 <= sweep.width; x += 8) Store8(row + x, kByteMasks[bits(x) & 0xFF]);
        for (; x < sweep.width; ++x) row[x] = bits(x) & 1 ? 255 : 0;
    }
}

// Turns white the pixels of one row that lie black under `white` (the row as packed) and white under
// `reached` (its window spread along the row), never a frame column. The row holds only 0 and 255, so
// a changed word's 64 pixels are written whole from their bits, unread. Changes fall unpredictably
// along a row: the changed words are listed first, with no branch a word, then written.
static void WhitenFresh(std::uint8_t* row, const Sweep& sweep, const Word* white, const Word* reached)
{
    const Word* inner = sweep.inner.data();
    int* changed = sweep.changed.get();
    int words = sweep.words, count = 0;
    for (int w = 0; w < words; ++w) {
        changed[count] = w;
        count += (reached[w] & ~white[w] & inner[w]) != 0;
    }
    int whole = sweep.width / kWordBits;  // the words that lie within the row
    for (int i = 0; i < count; ++i) {
        int w = changed[i];
        std::uint8_t* pixels = row + w * kWordBits;
        if (w < whole) {
            Word after = white[w] | (reached[w] & inner[w]);
            if (after == ~Word{0}) {  // a word turned all white, as most do after a few passes
                std::memset(pixels, 255, kWordBits);
            } else {
                for (int shift = 0; shift < kWordBits; shift += 8) {
                    Store8(pixels + shift, kByteMasks[(after >> shift) & 0xFF]);
                }
            }
        } else {
            for (Word bits = reached[w] & ~white[w] & inner[w]; bits != 0; bits &= bits - 1) {
                pixels[std::countr_zero(bits)] = 255;
            }
        }
    }
}

// Row y off the frame turns white where the window a | b, spread along the row, holds white and the
// row was black. The square's dilation is the same in either order; spreading the window rather
// than each row skips rows with no black off the frame, and a window that takes in a blank line is
// all white, which the spread leaves as it is at once.
static void EmitRow(Sweep& sweep, long long y, const Word* a, const Word* b)
{
    const Word* white = WhiteRow(sweep, y);
    Word* window = sweep.spread.data() + 2;
    Word black = 0;
    for (int w = 0; w < sweep.words; ++w) {
        window[w] = a[w] | b[w];
        black |= ~white[w] & sweep.inner[w];
    }
    if (black != 0) {
        bool flat = IsFlat(window, sweep.words, sweep.width);
        const Word* reached = flat ? window : SpreadAlongRow(sweep.spread.data(), sweep.words, sweep.across);
        WhitenFresh(sweep.buffer + y * sweep.stride, sweep, white, reached);
    }
    sweep.emitted = y;
}

static bool HasWhiteNear(const std::uint8_t* row, int x)
{
    return row[x - 1] == 255 || row[x] == 255 || row[x + 1] == 255;
}

// Values other than 0 and 255 block the spread, so the passes run one by one as defined. Rows are
// changed top-down: the row above and the row itself are read from copies saved before their
// change (`above` and `row`, `width` bytes each), the row below is not changed yet. The passes stop
// once one whitens nothing, as every later one would too.
static void ErodeByPasses(std::uint8_t* buffer, int width, int height, std::ptrdiff_t stride, int passes,
                          std::vector<std::uint8_t>& above, std::vector<std::uint8_t>& row)
{
    for (int pass = 0; pass < passes; ++pass) {
        bool changed = false;
        std::copy(buffer, buffer + width, above.begin());
        for (int y = 1; y < height - 1; ++y) {
            std::uint8_t* pixels = buffer + y * stride;
            std::copy(pixels, pixels + width, row.begin());
            for (int x = 1; x < width - 1; ++x) {
                if (row[x] == 0 && (HasWhiteNear(above.data(), x) || HasWhiteNear(row.data(), x) ||
                                    HasWhiteNear(pixels + stride, x))) {
                    pixels[x] = 255;
                    changed = true;
                }
            }
            std::swap(above, row);
        }
        if (!changed) return;
    }
}

// A value other than 0 and 255 turned up in row `loaded` after rows 1 .. `emitted` were written.
// Those rows see only black and white within `down` rows, so they hold what the passes give. The
// passes run from row `top` = emitted - down, put back as read, to the bottom; that band's first row
// stands still as its frame, which reaches at most the `down` rows below it, so rows top .. emitted
// are then put back and made again from the rows kept.
static void FinishByPasses(Sweep& sweep, int passes, std::vector<std::uint8_t>& above, std::vector<std::uint8_t>& row)
{
    long long last = sweep.emitted, top = std::max(0LL, last - sweep.down), first = std::max(1LL, top);
    PutBack(sweep, first, last);
    ErodeByPasses(sweep.buffer + top * sweep.stride, sweep.width, static_cast<int>(sweep.height - top),
                  sweep.stride, passes, above, row);
    Word* window = sweep.prefix.data();
    for (long long y = first; y <= last; ++y) {
        PutBack(sweep, y, y);
        std::fill(window, window + sweep.words, 0);
        long long bottom = std::min<long long>(sweep.height - 1, y + sweep.down);
        for (long long source = std::max(0LL, y - sweep.down); source <= bottom; ++source) {
            OrInto(window, WhiteRow(sweep, source), sweep.words);
        }
        EmitRow(sweep, y, window, window);
    }
}

// Pure black and white: after n passes a pixel off the frame is white exactly when some pixel
// within n columns and n rows of it was white, so one dilation by a square replaces the passes.
// Down the columns, van Herk / Gil-Werman: the rows are cut into blocks of 2 down + 1 (counted from
// row -down); OR-ing suffixes in place within a block and a running prefix over the next block
// makes every window the OR of two rows, whatever its size.
// The plane is read once: its values are checked as each row is packed. At the first value other
// than 0 and 255 the passes take over, one by one, for the rows that value can reach.
static void ErodeTwoTone(std::uint8_t* buffer, int width, int height, std::ptrdiff_t stride, int passes,
                         std::vector<std::uint8_t>& above, std::vector<std::uint8_t>& row)
{
    Sweep sweep = MakeSweep(buffer, width, height, stride, passes);
    int words = sweep.words, reach = sweep.down;
    long long size = 2LL * reach + 1;
    Word* prefix = sweep.prefix.data();
    for (long long start = 0; start <= height - 2; start += size) {
        long long first = std::max(0LL, start - reach), last = std::min<long long>(height - 1, start + reach);
        if (!LoadRows(sweep, last)) return FinishByPasses(sweep, passes, above, row);
        for (long long y = last - 1; y >= first; --y) {
            OrInto(Slot(sweep, sweep.stacked, y), Slot(sweep, sweep.stacked, y + 1), words);
        }
        std::fill(prefix, prefix + words, 0);
        if (start >= 1) EmitRow(sweep, start, Slot(sweep, sweep.stacked, first), prefix);
        for (long long y = start + 1; y < start + size && y <= height - 2; ++y) {
            if (y + reach < height) {
                if (!LoadRows(sweep, y + reach)) return FinishByPasses(sweep, passes, above, row);
                OrInto(prefix, Slot(sweep, sweep.stacked, y + reach), words);
            }
            EmitRow(sweep, y, Slot(sweep, sweep.stacked, std::max(0LL, y - reach)), prefix);
        }
    }
}

void ErodeImageBinary(std::uint8_t* buffer, int width, int height, int stride, int passes)
{
    if (passes <= 0 || width < 3 || height < 3) return;
    // All the memory is taken before the first write, so running out leaves the buffer as it was.
    std::vector<std::uint8_t> above(width), row(width);
    ErodeTwoTone(buffer, width, height, stride, passes, above, row);
}

void PlaneToBgr(const std::uint8_t* plane, int width, int height, std::uint8_t* bgr, std::ptrdiff_t bgrStride)
{
    for (int y = 0; y < height; ++y) {
        const std::uint8_t* row = plane + static_cast<std::size_t>(y) * width;
        std::uint8_t* pixel = bgr + y * bgrStride;
        for (int x = 0; x < width; ++x) pixel[3 * x] = pixel[3 * x + 1] = pixel[3 * x + 2] = row[x];
    }
}

// The eight plane bytes of each byte of 1-bit pixels: the first pixel in its top bit, black (1) as 0.
static constexpr std::array<Word, 256> MakePlaneBytes()
{
    std::array<Word, 256> bytes{};
    for (unsigned bits = 0; bits < 256; ++bits) {
        for (int i = 0; i < 8; ++i) {
            if (!(bits & (0x80u >> i))) bytes[bits] |= Word{0xFF} << (8 * i);
        }
    }
    return bytes;
}
static constexpr std::array<Word, 256> kPlaneBytes = MakePlaneBytes();

void BitsToPlane(const std::uint8_t* bits, std::ptrdiff_t bitsStride, int width, int height, std::uint8_t* plane)
{
    for (int y = 0; y < height; ++y) {
        const std::uint8_t* packed = bits + y * bitsStride;
        std::uint8_t* row = plane + static_cast<std::size_t>(y) * width;
        int x = 0;
        for (; x + 8 <= width; x += 8) Store8(row + x, kPlaneBytes[packed[x >> 3]]);
        for (; x < width; ++x) row[x] = (packed[x >> 3] >> (7 - (x & 7)) & 1) ? 0 : 255;
    }
}

void PlaneToBits(const std::uint8_t* plane, int width, int height, std::uint8_t* bits, std::ptrdiff_t bitsStride)
{
    for (int y = 0; y < height; ++y) {
        PackGreyRow(plane + static_cast<std::size_t>(y) * width, width, bits + y * bitsStride);
    }
}
