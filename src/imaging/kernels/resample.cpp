// The prefiltered cubic resampler: weight tables built once per axis; a column pass into blocks of
// eight 16-bit rows, turned so that one vector holds a column of all eight; a row pass over those
// vectors into the result. The inner loops use SSE2, which every x86-64 processor has.
#include "imaging/kernels/resample.h"

#include "imaging/kernels/monochrome.h"

#include <emmintrin.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

namespace {

constexpr int kRowBits = 6;      // the row between the passes in units of 2^-6 level
constexpr int kLanes = 8;        // output rows filtered across together, one in each 16-bit lane

// The taps of one axis: output x reads `count` consecutive source pixels from first[x] with the
// weights weights[x * count + k]. Windows lie inside the source where it is at least `count` long;
// otherwise they start at 0 and the taps beyond its end weigh 0.
struct Taps {
    int count = 0;
    std::vector<int> first;
    std::vector<std::int16_t> weights;
};

// Output x's weights over the `span` pixels from low[x]: the kernel at each source pixel of its
// support, pixels beyond the edges folded onto the edge pixel, normalised, rounded to units of
// 2^-14 with the rounding remainder on the largest weight so that they add up to exactly 2^14.
void OutputWeights(int length, double factor, int x, int span, int& low, std::int16_t* quantised)
{
    double stretch = factor < 1 ? 1 / factor : 1;
    double centre = (x + 0.5) / factor - 0.5;
    int from = static_cast<int>(std::floor(centre - 2 * stretch)) + 1;
    int to = static_cast<int>(std::ceil(centre + 2 * stretch)) - 1;
    low = std::clamp(from, 0, length - span);
    std::vector<double> folded(static_cast<size_t>(span), 0.0);
    double sum = 0;
    for (int j = from; j <= to; ++j) {
        double weight = Cubic((j - centre) / stretch);
        folded[static_cast<size_t>(std::clamp(j, 0, length - 1) - low)] += weight;
        sum += weight;
    }
    for (double& weight : folded) weight /= sum;
    QuantiseWeights(folded.data(), span, quantised);
}

// The taps of an axis of `length` pixels resampled to `newLength`, zero weights at both ends of the
// windows trimmed, `count` rounded up to even for the loops that take two taps at a time.
Taps AxisTaps(int length, int newLength)
{
    double factor = static_cast<double>(newLength) / length;
    double support = factor < 1 ? 2 / factor : 2;
    int span = std::min(length, static_cast<int>(std::ceil(2 * support)) + 1);
    std::vector<std::int16_t> wide(static_cast<size_t>(newLength) * span);
    std::vector<int> low(static_cast<size_t>(newLength)), nonZero(static_cast<size_t>(newLength));
    int used = 1;
    for (int x = 0; x < newLength; ++x) {
        std::int16_t* weights = &wide[static_cast<size_t>(x) * span];
        OutputWeights(length, factor, x, span, low[x], weights);
        int begin = 0, end = span;
        while (weights[begin] == 0) ++begin;  // the weights add up to 2^14: one is not 0
        while (weights[end - 1] == 0) --end;
        nonZero[x] = begin;
        used = std::max(used, end - begin);
    }
    Taps taps;
    taps.count = (used + 1) / 2 * 2;
    taps.first.resize(static_cast<size_t>(newLength));
    taps.weights.assign(static_cast<size_t>(newLength) * taps.count, 0);
    for (int x = 0; x < newLength; ++x) {
        int begin = low[x] + nonZero[x];
        taps.first[x] = std::min(begin, std::max(0, length - taps.count));
        int shift = begin - taps.first[x];
        int copied = std::min(span - nonZero[x], taps.count - shift);
        std::copy_n(&wide[static_cast<size_t>(x) * span + nonZero[x]], copied,
                    &taps.weights[static_cast<size_t>(x) * taps.count + shift]);
    }
    return taps;
}

// Two 16-bit weights as the pair that multiplies each 16-bit pair of a vector.
__m128i WeightPair(const std::int16_t* weights)
{
    std::int32_t pair;
    std::memcpy(&pair, weights, sizeof pair);
    return _mm_set1_epi32(pair);
}

// The column pass for one output row: the weighted sum of the `count` source rows at `rows`,
// `length` bytes each, in units of 2^-6. Sixteen bytes at a time, two rows at a time: their bytes
// interleaved into 16-bit pairs meet the pair of their weights in one multiply-add.
void FilterColumns(const std::uint8_t* const* rows, const std::int16_t* weights, int count, int length,
                   std::int16_t* row)
{
    const __m128i zero = _mm_setzero_si128();
    const __m128i half = _mm_set1_epi32(1 << (kWeightBits - kRowBits - 1));
    int j = 0;
    for (; j + 16 <= length; j += 16) {
        __m128i sum0 = half, sum1 = half, sum2 = half, sum3 = half;
        for (int k = 0; k < count; k += 2) {
            __m128i pair = WeightPair(weights + k);
            __m128i upper = _mm_loadu_si128(reinterpret_cast<const __m128i*>(rows[k] + j));
            __m128i lower = _mm_loadu_si128(reinterpret_cast<const __m128i*>(rows[k + 1] + j));
            __m128i low = _mm_unpacklo_epi8(upper, lower), high = _mm_unpackhi_epi8(upper, lower);
            sum0 = _mm_add_epi32(sum0, _mm_madd_epi16(_mm_unpacklo_epi8(low, zero), pair));
            sum1 = _mm_add_epi32(sum1, _mm_madd_epi16(_mm_unpackhi_epi8(low, zero), pair));
            sum2 = _mm_add_epi32(sum2, _mm_madd_epi16(_mm_unpacklo_epi8(high, zero), pair));
            sum3 = _mm_add_epi32(sum3, _mm_madd_epi16(_mm_unpackhi_epi8(high, zero), pair));
        }
        constexpr int shift = kWeightBits - kRowBits;
        __m128i* out = reinterpret_cast<__m128i*>(row + j);
        _mm_storeu_si128(out, _mm_packs_epi32(_mm_srai_epi32(sum0, shift), _mm_srai_epi32(sum1, shift)));
        _mm_storeu_si128(out + 1, _mm_packs_epi32(_mm_srai_epi32(sum2, shift), _mm_srai_epi32(sum3, shift)));
    }
    for (; j < length; ++j) {
        std::int32_t sum = 1 << (kWeightBits - kRowBits - 1);
        for (int k = 0; k < count; ++k) sum += weights[k] * rows[k][j];
        row[j] = static_cast<std::int16_t>(sum >> (kWeightBits - kRowBits));
    }
}

// Turns eight vectors of eight 16-bit values around: lane j of vector i becomes lane i of vector j.
void Transpose8x8(__m128i* v)
{
    __m128i a[8], b[8];
    for (int i = 0; i < 8; i += 2) {
        a[i] = _mm_unpacklo_epi16(v[i], v[i + 1]);
        a[i + 1] = _mm_unpackhi_epi16(v[i], v[i + 1]);
    }
    for (int i = 0; i < 8; i += 4) {
        b[i] = _mm_unpacklo_epi32(a[i], a[i + 2]);
        b[i + 1] = _mm_unpackhi_epi32(a[i], a[i + 2]);
        b[i + 2] = _mm_unpacklo_epi32(a[i + 1], a[i + 3]);
        b[i + 3] = _mm_unpackhi_epi32(a[i + 1], a[i + 3]);
    }
    for (int i = 0; i < 4; ++i) {
        v[2 * i] = _mm_unpacklo_epi64(b[i], b[i + 4]);
        v[2 * i + 1] = _mm_unpackhi_epi64(b[i], b[i + 4]);
    }
}

// The eight rows of a block (`columns` values each, a multiple of 8, `stride` apart) as lanes:
// lanes[j * 8 + r] is column j of row r, so that one vector holds a column of all eight rows.
void RowsToLanes(const std::int16_t* block, std::ptrdiff_t stride, int columns, std::int16_t* lanes)
{
    for (int j = 0; j < columns; j += kLanes) {
        __m128i v[kLanes];
        for (int r = 0; r < kLanes; ++r) {
            v[r] = _mm_loadu_si128(reinterpret_cast<const __m128i*>(block + r * stride + j));
        }
        Transpose8x8(v);
        for (int r = 0; r < kLanes; ++r) {
            _mm_storeu_si128(reinterpret_cast<__m128i*>(lanes + (j + r) * kLanes), v[r]);
        }
    }
}

// The row pass for one output value of all eight rows of a block: the `count` lanes `step` values
// apart from `lanes`, weighted, rounded to levels (not yet clamped). Two taps at a time: the two
// columns' lanes side by side meet the pair of their weights in one multiply-add.
__m128i FilterLanes(const std::int16_t* lanes, const std::int16_t* weights, int count, int step)
{
    __m128i low = _mm_set1_epi32(1 << (kWeightBits + kRowBits - 1)), high = low;
    for (int k = 0; k < count; k += 2) {
        __m128i pair = WeightPair(weights + k);
        __m128i near = _mm_loadu_si128(reinterpret_cast<const __m128i*>(lanes + k * step));
        __m128i far = _mm_loadu_si128(reinterpret_cast<const __m128i*>(lanes + (k + 1) * step));
        low = _mm_add_epi32(low, _mm_madd_epi16(_mm_unpacklo_epi16(near, far), pair));
        high = _mm_add_epi32(high, _mm_madd_epi16(_mm_unpackhi_epi16(near, far), pair));
    }
    constexpr int shift = kWeightBits + kRowBits;
    return _mm_packs_epi32(_mm_srai_epi32(low, shift), _mm_srai_epi32(high, shift));
}

// The row pass for a block: eight output values at a time for all eight rows, turned back into
// rows, clamped to bytes and stored in the first `rows` result rows.
void FilterAcross(const std::int16_t* lanes, const Taps& taps, int channels, int newWidth, std::uint8_t* result,
                  std::ptrdiff_t stride, int rows)
{
    int values = newWidth * channels, x = 0, channel = 0;
    for (int j = 0; j < values; j += kLanes) {
        __m128i v[kLanes];
        for (int i = 0; i < kLanes; ++i) {
            const std::int16_t* column = lanes + (taps.first[x] * channels + channel) * kLanes;
            const std::int16_t* weights = &taps.weights[static_cast<size_t>(x) * taps.count];
            v[i] = FilterLanes(column, weights, taps.count, channels * kLanes);
            if (++channel == channels) {
                channel = 0;
                x = std::min(x + 1, newWidth - 1);  // past the last pixel: repeat it, it is not stored
            }
        }
        Transpose8x8(v);
        int stored = std::min(kLanes, values - j);
        for (int r = 0; r < rows; ++r) {
            __m128i bytes = _mm_packus_epi16(v[r], v[r]);
            std::uint8_t* target = result + r * stride + j;
            if (stored == kLanes) {
                _mm_storel_epi64(reinterpret_cast<__m128i*>(target), bytes);
            } else {
                alignas(16) std::uint8_t last[16];
                _mm_store_si128(reinterpret_cast<__m128i*>(last), bytes);
                std::memcpy(target, last, static_cast<size_t>(stored));
            }
        }
    }
}

// A 1-bit row goes a byte at a time: each byte value's eight levels, looked up whole.
struct IndexLevels {
    int bitsPerPixel;
    const std::uint8_t* levels;
    std::uint8_t eight[256][8];
};

IndexLevels MakeIndexLevels(int bitsPerPixel, const std::uint8_t* levels)
{
    IndexLevels table{bitsPerPixel, levels, {}};
    for (int byte = 0; bitsPerPixel == 1 && byte < 256; ++byte) {
        for (int i = 0; i < 8; ++i) table.eight[byte][i] = levels[(byte >> (7 - i)) & 1];
    }
    return table;
}

void IndexRowToLevels(const IndexLevels& table, const std::uint8_t* row, int width, std::uint8_t* grey)
{
    int bitsPerPixel = table.bitsPerPixel, x = 0;
    unsigned mask = (1u << bitsPerPixel) - 1;
    for (; bitsPerPixel == 1 && x + 8 <= width; x += 8) std::memcpy(grey + x, table.eight[row[x >> 3]], 8);
    for (; x < width; ++x) {
        int bit = x * bitsPerPixel;
        grey[x] = table.levels[(row[bit >> 3] >> (8 - bitsPerPixel - (bit & 7))) & mask];
    }
}

// The resampling itself: `sourceRow(y)` gives source row y (width x channels bytes), valid until the
// next call; `store(top, rows, block, stride)` takes result rows top .. top + rows - 1, the first
// `rows` of the eight rows in `block`, `stride` bytes apart, or null when `direct` is where they were
// written already (result rows resultStride apart).
template <class SourceRow, class Store>
void Resample(int width, int height, int channels, const Taps& down, int newWidth, int newHeight,
              SourceRow sourceRow, std::uint8_t* direct, std::ptrdiff_t resultStride, Store store)
{
    Taps across = AxisTaps(width, newWidth);
    int length = width * channels;
    // Whole vectors, and room for windows longer than a narrow source (their extra taps weigh 0).
    int columns = (std::max(length, across.count * channels) + kLanes - 1) / kLanes * kLanes;
    std::vector<std::int16_t> block(static_cast<size_t>(columns) * kLanes, 0), lanes(block.size(), 0);
    std::vector<const std::uint8_t*> rows(static_cast<size_t>(down.count));
    std::ptrdiff_t outStride = direct ? resultStride : newWidth * channels;
    std::vector<std::uint8_t> out(direct ? 0 : static_cast<size_t>(outStride) * kLanes);
    for (int top = 0; top < newHeight; top += kLanes) {
        for (int r = 0; r < kLanes; ++r) {
            int y = std::min(top + r, newHeight - 1);  // past the last row: repeat it, it is not stored
            for (int k = 0; k < down.count; ++k) rows[k] = sourceRow(std::min(down.first[y] + k, height - 1));
            FilterColumns(rows.data(), &down.weights[static_cast<size_t>(y) * down.count], down.count, length,
                          &block[static_cast<size_t>(r) * columns]);
        }
        RowsToLanes(block.data(), columns, columns, lanes.data());
        int stored = std::min(kLanes, newHeight - top);
        std::uint8_t* target = direct ? direct + top * resultStride : out.data();
        FilterAcross(lanes.data(), across, channels, newWidth, target, outStride, stored);
        if (!direct) store(top, stored, out.data(), outStride);
    }
}

}  // namespace

void QuantiseWeights(const double* exact, int count, std::int16_t* quantised)
{
    int total = 0, largest = 0;
    for (int k = 0; k < count; ++k) {
        quantised[k] = static_cast<std::int16_t>(std::lround(exact[k] * (1 << kWeightBits)));
        total += quantised[k];
        if (exact[k] > exact[largest]) largest = k;
    }
    quantised[largest] = static_cast<std::int16_t>(quantised[largest] + (1 << kWeightBits) - total);
}

double Cubic(double t)
{
    t = std::fabs(t);
    if (t < 1) return (1.5 * t - 2.5) * t * t + 1;
    if (t < 2) return ((-0.5 * t + 2.5) * t - 4) * t + 2;
    return 0;
}

void ResampleBicubic(const std::uint8_t* source, std::ptrdiff_t sourceStride, int width, int height,
                     int channels, std::uint8_t* result, std::ptrdiff_t resultStride, int newWidth, int newHeight)
{
    if (width < 1 || height < 1 || newWidth < 1 || newHeight < 1 || (channels != 1 && channels != 3)) return;
    auto sourceRow = [&](int y) { return source + y * sourceStride; };
    Resample(width, height, channels, AxisTaps(height, newHeight), newWidth, newHeight, sourceRow, result,
             resultStride, [](int, int, const std::uint8_t*, std::ptrdiff_t) {});
}

void IndicesToPlane(const std::uint8_t* indices, std::ptrdiff_t stride, int width, int height, int bitsPerPixel,
                    const std::uint8_t* levels, std::uint8_t* plane)
{
    if (bitsPerPixel != 1 && bitsPerPixel != 4 && bitsPerPixel != 8) return;
    IndexLevels table = MakeIndexLevels(bitsPerPixel, levels);
    for (int y = 0; y < height; ++y) {
        IndexRowToLevels(table, indices + y * stride, width, plane + static_cast<std::ptrdiff_t>(y) * width);
    }
}

void ResampleIndexed(const std::uint8_t* indices, std::ptrdiff_t stride, int width, int height, int bitsPerPixel,
                     const std::uint8_t* levels, std::uint8_t* result, std::ptrdiff_t resultStride, int newWidth,
                     int newHeight, ResampledRows kind)
{
    if (width < 1 || height < 1 || newWidth < 1 || newHeight < 1) return;
    if (bitsPerPixel != 1 && bitsPerPixel != 4 && bitsPerPixel != 8) return;
    // Source rows turned into levels as the resampler first asks for them, into a ring that holds
    // the taps of an output row and more: the rows of consecutive output rows overlap and go
    // forward, so each is turned once.
    Taps down = AxisTaps(height, newHeight);
    int slots = std::min(height, down.count + kLanes);
    std::vector<std::uint8_t> ring(static_cast<size_t>(slots) * width);
    std::vector<int> held(static_cast<size_t>(slots), -1);
    IndexLevels table = MakeIndexLevels(bitsPerPixel, levels);
    auto sourceRow = [&](int y) {
        std::uint8_t* grey = &ring[static_cast<size_t>(y % slots) * width];
        if (held[y % slots] != y) {
            IndexRowToLevels(table, indices + y * stride, width, grey);
            held[y % slots] = y;
        }
        return static_cast<const std::uint8_t*>(grey);
    };
    if (kind == ResampledRows::Grey) {
        Resample(width, height, 1, down, newWidth, newHeight, sourceRow, result, resultStride,
                 [](int, int, const std::uint8_t*, std::ptrdiff_t) {});
        return;
    }
    Resample(width, height, 1, down, newWidth, newHeight, sourceRow, nullptr, 0,
             [&](int top, int rows, const std::uint8_t* block, std::ptrdiff_t blockStride) {
                 for (int r = 0; r < rows; ++r) {
                     PackGreyRow(block + r * blockStride, newWidth, result + (top + r) * resultStride);
                 }
             });
}
