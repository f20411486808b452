// The prefiltered cubic resampler: weight tables built once per axis, a column pass into one 16-bit
// row, and a row pass into the result. The inner loops use SSE2, which every x86-64 processor has.
#include "imaging/kernels/resample.h"

#include <emmintrin.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

namespace {

constexpr int kWeightBits = 14;  // weights in units of 2^-14
constexpr int kRowBits = 6;      // the row between the passes in units of 2^-6 level
constexpr int kRowPadding = 16;  // values after the intermediate row that vector loads may read

// Keys' cubic convolution kernel with a = -0.5.
double Cubic(double t)
{
    t = std::fabs(t);
    if (t < 1) return (1.5 * t - 2.5) * t * t + 1;
    if (t < 2) return ((-0.5 * t + 2.5) * t - 4) * t + 2;
    return 0;
}

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
    int total = 0, largest = 0;
    for (int k = 0; k < span; ++k) {
        quantised[k] = static_cast<std::int16_t>(std::lround(folded[k] / sum * (1 << kWeightBits)));
        total += quantised[k];
        if (folded[k] > folded[largest]) largest = k;
    }
    quantised[largest] = static_cast<std::int16_t>(quantised[largest] + (1 << kWeightBits) - total);
}

// The taps of an axis of `length` pixels resampled to `newLength`, zero weights at both ends of the
// windows trimmed, `count` rounded up to a multiple of `step` for the vector loops.
Taps AxisTaps(int length, int newLength, int step)
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
    taps.count = (used + step - 1) / step * step;
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

// The four 32-bit sums of `sums` in units of 2^-20, rounded, as bytes clamped to 0..255.
std::uint32_t RoundToBytes(__m128i sums)
{
    constexpr int shift = kWeightBits + kRowBits;
    sums = _mm_srai_epi32(_mm_add_epi32(sums, _mm_set1_epi32(1 << (shift - 1))), shift);
    sums = _mm_packs_epi32(sums, sums);
    return static_cast<std::uint32_t>(_mm_cvtsi128_si32(_mm_packus_epi16(sums, sums)));
}

// The row pass, one channel: each output pixel's taps multiplied and added eight at a time.
void FilterRowGrey(const std::int16_t* row, const Taps& taps, int newWidth, std::uint8_t* result)
{
    for (int x = 0; x < newWidth; ++x) {
        const std::int16_t* pixels = row + taps.first[x];
        const std::int16_t* weights = &taps.weights[static_cast<size_t>(x) * taps.count];
        __m128i sums = _mm_setzero_si128();
        for (int k = 0; k < taps.count; k += 8) {
            sums = _mm_add_epi32(sums, _mm_madd_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(pixels + k)),
                                                      _mm_loadu_si128(reinterpret_cast<const __m128i*>(weights + k))));
        }
        sums = _mm_add_epi32(sums, _mm_shuffle_epi32(sums, _MM_SHUFFLE(1, 0, 3, 2)));
        sums = _mm_add_epi32(sums, _mm_shuffle_epi32(sums, _MM_SHUFFLE(2, 3, 0, 1)));
        result[x] = static_cast<std::uint8_t>(RoundToBytes(sums));
    }
}

// The row pass, three channels: two neighbouring pixels' channels side by side (b0 b1 g0 g1 r0 r1)
// meet the pair of their weights in one multiply-add.
void FilterRowBgr(const std::int16_t* row, const Taps& taps, int newWidth, std::uint8_t* result)
{
    for (int x = 0; x < newWidth; ++x) {
        const std::int16_t* pixels = row + 3 * taps.first[x];
        const std::int16_t* weights = &taps.weights[static_cast<size_t>(x) * taps.count];
        __m128i sums = _mm_setzero_si128();
        for (int k = 0; k < taps.count; k += 2) {
            __m128i two = _mm_loadu_si128(reinterpret_cast<const __m128i*>(pixels + 3 * k));
            __m128i sideBySide = _mm_unpacklo_epi16(two, _mm_srli_si128(two, 6));
            sums = _mm_add_epi32(sums, _mm_madd_epi16(sideBySide, WeightPair(weights + k)));
        }
        std::uint32_t bytes = RoundToBytes(sums);
        std::memcpy(result + 3 * x, &bytes, 3);  // little-endian: blue, green, red
    }
}

}  // namespace

void ResampleBicubic(const std::uint8_t* source, std::ptrdiff_t sourceStride, int width, int height,
                     int channels, std::uint8_t* result, std::ptrdiff_t resultStride, int newWidth, int newHeight)
{
    if (width < 1 || height < 1 || newWidth < 1 || newHeight < 1 || (channels != 1 && channels != 3)) return;
    Taps down = AxisTaps(height, newHeight, 2);
    Taps across = AxisTaps(width, newWidth, channels == 1 ? 8 : 2);
    int length = width * channels;
    std::vector<std::int16_t> row(static_cast<size_t>(length) + kRowPadding, 0);
    std::vector<const std::uint8_t*> rows(static_cast<size_t>(down.count));
    for (int y = 0; y < newHeight; ++y) {
        for (int k = 0; k < down.count; ++k) {
            rows[k] = source + std::min(down.first[y] + k, height - 1) * sourceStride;
        }
        FilterColumns(rows.data(), &down.weights[static_cast<size_t>(y) * down.count], down.count, length, row.data());
        std::uint8_t* target = result + y * resultStride;
        if (channels == 1) {
            FilterRowGrey(row.data(), across, newWidth, target);
        } else {
            FilterRowBgr(row.data(), across, newWidth, target);
        }
    }
}

void ComposeOverWhite(const std::uint8_t* bgra, int width, std::uint8_t* bgr)
{
    for (int x = 0; x < width; ++x) {
        unsigned alpha = bgra[4 * x + 3];
        for (int c = 0; c < 3; ++c) {
            unsigned clear = 255u - bgra[4 * x + c];  // how far from white, scaled by the coverage
            bgr[3 * x + c] = static_cast<std::uint8_t>(255u - (clear * alpha + 127u) / 255u);
        }
    }
}
