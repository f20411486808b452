// Turns by three shears: for 1-bit pages the three whole-pixel shears are composed into one gather
// of bit runs per target row; for grey and colour each shear is a cubic resampling of rows or
// columns by a fraction of a pixel.
#include "imaging/kernels/shear.h"

#include "imaging/kernels/resample.h"

#include <emmintrin.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <numbers>
#include <vector>

namespace {

constexpr int kRunBits = 56;  // bits one 64-bit load can move whatever their phase in the first byte

// The slopes of the three shears about the centre of a width x height image.
struct Shears {
    double across;  // -tan(a/2): the first and the last shear move row r across by across x (r - centreY)
    double down;    // sin(a): the second moves column c down by down x (c - centreX)
    double centreX, centreY;
    Shears(double degrees, int width, int height)
        : across(-std::tan(degrees * std::numbers::pi / 360)), down(std::sin(degrees * std::numbers::pi / 180)),
          centreX((width - 1) / 2.0), centreY((height - 1) / 2.0)
    {
    }
    double Across(double r) const { return across * (r - centreY); }
    double Down(double c) const { return down * (c - centreX); }
};

int Round(double value)
{
    return static_cast<int>(std::floor(value + 0.5));
}

// Eight bytes as one number, the first byte most significant: bit order of the rows.
std::uint64_t LoadBits(const std::uint8_t* bytes)
{
    std::uint64_t bits = 0;
    for (int i = 0; i < 8; ++i) bits = bits << 8 | bytes[i];
    return bits;
}

void StoreBits(std::uint8_t* bytes, std::uint64_t bits)
{
    for (int i = 7; i >= 0; --i, bits >>= 8) bytes[i] = static_cast<std::uint8_t>(bits);
}

// Adds (ORs) `count` bits from bit `from` of `source` to bit `to` of `target`; both rows have 8
// bytes of room after the bits touched.
void OrBits(const std::uint8_t* source, int from, std::uint8_t* target, int to, int count)
{
    for (int moved = 0; count > 0; count -= moved, from += moved, to += moved) {
        moved = std::min(count, kRunBits);
        std::uint64_t run = LoadBits(source + from / 8) << (from % 8) & ~std::uint64_t{0} << (64 - moved);
        std::uint8_t* into = target + to / 8;
        StoreBits(into, LoadBits(into) | run >> (to % 8));
    }
}

// Columns [first, last) that the second shear moves down by the same whole number of rows.
struct ColumnRun {
    int first, last, down;
};

// The runs of columns from `first` to `last`, in order.
std::vector<ColumnRun> ColumnRuns(const Shears& shears, int first, int last)
{
    std::vector<ColumnRun> runs;
    for (int c = first; c < last; ++c) {
        int down = Round(shears.Down(c));
        if (runs.empty() || runs.back().down != down) runs.push_back({c, c, down});
        runs.back().last = c + 1;
    }
    return runs;
}

}  // namespace

void TurnBitsByShears(const std::uint8_t* source, std::ptrdiff_t sourceStride, int width, int height,
                      double degrees, std::uint8_t* target, std::ptrdiff_t targetStride)
{
    if (width <= 0 || height <= 0) return;
    std::size_t rowBytes = (static_cast<std::size_t>(width) + 7) / 8, padded = rowBytes + 8;
    if (degrees == 0) {  // no shear moves a pixel: the rows as they are (the clean-up's unturned pages)
        for (int y = 0; y < height; ++y) {
            std::uint8_t* to = target + y * targetStride;
            std::memcpy(to, source + y * sourceStride, rowBytes);
            to[rowBytes - 1] &= static_cast<std::uint8_t>(0xFF << (rowBytes * 8 - static_cast<std::size_t>(width)));
        }
        return;
    }
    Shears shears(degrees, width, height);
    std::vector<std::uint8_t> rows(padded * height + padded);  // the last padded row is the target row
    for (int y = 0; y < height; ++y) std::memcpy(&rows[y * padded], source + y * sourceStride, rowBytes);
    std::uint8_t* row = &rows[padded * height];
    std::vector<int> across(height);
    for (int y = 0; y < height; ++y) across[y] = Round(shears.Across(y));
    int most = std::max(std::abs(across.front()), std::abs(across.back()));
    std::vector<ColumnRun> runs = ColumnRuns(shears, -most, width + most);
    // Target (x, y) is, shear by shear backwards, (x - across[y], y), then that column's run moves
    // it up to row r, then source column x - across[y] - across[r] of row r.
    for (int y = 0; y < height; ++y) {
        std::memset(row, 0, padded);
        int lastShift = across[y];
        for (const ColumnRun& run : runs) {
            int r = y - run.down;
            if (r < 0 || r >= height) continue;
            int shift = lastShift + across[r];
            int from = std::max({run.first - across[r], -lastShift - across[r], 0});
            int to = std::min({run.last - across[r], width - lastShift - across[r], width});
            if (from < to) OrBits(&rows[r * padded], from, row, from + shift, to - from);
        }
        std::memcpy(target + y * targetStride, row, rowBytes);
    }
}

namespace {

// The four weights (units of 2^-14, adding up to exactly 2^14) of pixels -1, 0, 1 and 2 for a sample
// `fraction` (0 to 1) past pixel 0.
void ShiftWeights(double fraction, std::int16_t weights[4])
{
    double exact[4] = {Cubic(fraction + 1), Cubic(fraction), Cubic(1 - fraction), Cubic(2 - fraction)};
    QuantiseWeights(exact, 4, weights);
}

// Four taps' weights for each output byte j, as pairs: first[2j] and first[2j + 1] weigh taps 0 and 1,
// second[2j] and second[2j + 1] taps 2 and 3.
struct TapWeights {
    std::vector<std::int16_t> first, second;
};

std::uint8_t Level(int sum)
{
    return static_cast<std::uint8_t>(std::clamp((sum + (1 << (kWeightBits - 1))) >> kWeightBits, 0, 255));
}

// 16-bit pairs of the taps a and b of eight bytes each: a0 b0 a1 b1 ... in two vectors.
inline void Pairs(const std::uint8_t* a, const std::uint8_t* b, __m128i& low, __m128i& high)
{
    __m128i zero = _mm_setzero_si128();
    __m128i wideA = _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(a)), zero);
    __m128i wideB = _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(b)), zero);
    low = _mm_unpacklo_epi16(wideA, wideB);
    high = _mm_unpackhi_epi16(wideA, wideB);
}

// out[j] = Level(w0 tap0[j] + w1 tap1[j] + w2 tap2[j] + w3 tap3[j]) for j in [0, count); the weights
// of byte j are at 2j in `first` and `second` when `each` is true, else the same for every byte.
void FourTaps(const std::uint8_t* const taps[4], const std::int16_t* first, const std::int16_t* second, bool each,
              std::uint8_t* out, int count)
{
    __m128i round = _mm_set1_epi32(1 << (kWeightBits - 1));
    auto pair = [](const std::int16_t* w) {
        std::uint32_t low = static_cast<std::uint16_t>(w[0]), high = static_cast<std::uint16_t>(w[1]);
        return _mm_set1_epi32(static_cast<int>(low | high << 16));
    };
    __m128i same01 = pair(first), same23 = pair(second);
    auto eight = [&](int j) {
        __m128i w01Low = same01, w01High = same01, w23Low = same23, w23High = same23;
        if (each) {
            w01Low = _mm_loadu_si128(reinterpret_cast<const __m128i*>(first + 2 * j));
            w01High = _mm_loadu_si128(reinterpret_cast<const __m128i*>(first + 2 * j + 8));
            w23Low = _mm_loadu_si128(reinterpret_cast<const __m128i*>(second + 2 * j));
            w23High = _mm_loadu_si128(reinterpret_cast<const __m128i*>(second + 2 * j + 8));
        }
        __m128i t01Low, t01High, t23Low, t23High;
        Pairs(taps[0] + j, taps[1] + j, t01Low, t01High);
        Pairs(taps[2] + j, taps[3] + j, t23Low, t23High);
        __m128i low = _mm_add_epi32(_mm_madd_epi16(t01Low, w01Low), _mm_madd_epi16(t23Low, w23Low));
        __m128i high = _mm_add_epi32(_mm_madd_epi16(t01High, w01High), _mm_madd_epi16(t23High, w23High));
        low = _mm_srai_epi32(_mm_add_epi32(low, round), kWeightBits);
        high = _mm_srai_epi32(_mm_add_epi32(high, round), kWeightBits);
        __m128i words = _mm_packs_epi32(low, high);
        _mm_storel_epi64(reinterpret_cast<__m128i*>(out + j), _mm_packus_epi16(words, words));
    };
    int j = 0;
    for (; j + 8 <= count; j += 8) eight(j);
    if (j < count && count >= 8) {
        eight(count - 8);  // the last eight again, overlapping: the same bytes come out
        return;
    }
    for (; j < count; ++j) {
        const std::int16_t* w01 = each ? first + 2 * j : first;
        const std::int16_t* w23 = each ? second + 2 * j : second;
        out[j] = Level(w01[0] * taps[0][j] + w01[1] * taps[1][j] + w23[0] * taps[2][j] + w23[1] * taps[3][j]);
    }
}

// out[x] for x in [0, count) is `line` (length pixels of `channels` bytes) sampled at x - shift,
// taps beyond its ends taking its end pixels. `spread` is scratch room.
void ShiftLine(const std::uint8_t* line, int length, int channels, double shift, int count, std::uint8_t* out,
               std::vector<std::uint8_t>& spread)
{
    int whole = static_cast<int>(std::floor(-shift));
    std::int16_t weights[4];
    ShiftWeights(-shift - whole, weights);
    // spread holds line pixels whole - 1 to whole + count + 1, clamped, so that the taps have no edges.
    int first = whole - 1, spreadLength = count + 3;
    spread.resize(static_cast<std::size_t>(spreadLength) * channels);
    int inFrom = std::clamp(first, 0, length), inTo = std::clamp(first + spreadLength, inFrom, length);
    for (int j = 0; j < spreadLength; ++j) {
        int x = first + j;
        if (x >= inFrom && x < inTo) {
            j = inTo - first - 1;
            continue;
        }
        std::memcpy(&spread[static_cast<std::size_t>(j) * channels],
                    line + static_cast<std::ptrdiff_t>(std::clamp(x, 0, length - 1)) * channels,
                    static_cast<std::size_t>(channels));
    }
    if (inFrom < inTo) {
        std::memcpy(&spread[static_cast<std::size_t>(inFrom - first) * channels],
                    line + static_cast<std::ptrdiff_t>(inFrom) * channels,
                    static_cast<std::size_t>(inTo - inFrom) * channels);
    }
    const std::uint8_t* taps[4] = {&spread[0], &spread[channels], &spread[2 * channels], &spread[3 * channels]};
    FourTaps(taps, weights, weights + 2, false, out, count * channels);
}

// The image after the first shear, over the columns and rows that the other two reach, made a row
// at a time as the second shear comes to need it and kept only while it may still be read.
class FirstShear {
public:
    FirstShear(const std::uint8_t* source, std::ptrdiff_t sourceStride, int width, int height, int channels,
               const Shears& shears)
        : source_(source), sourceStride_(sourceStride), sourceWidth_(width), sourceHeight_(height),
          channels_(channels), shears_(shears)
    {
        int across = static_cast<int>(std::ceil(std::fabs(shears.across) * (height / 2.0 + 1))) + 3;
        left = -across;
        this->width = width + 2 * across;
        int down = static_cast<int>(std::ceil(std::fabs(shears.down) * (this->width / 2.0 + 1))) + 3;
        top = -down;
        this->height = height + 2 * down;
        stride_ = static_cast<std::size_t>(this->width) * channels;
    }
    // Keeps `rows` rows: those the taps of one target row reach.
    void Keep(int rows)
    {
        ring_ = std::min(rows, height);
        pixels_ = std::make_unique_for_overwrite<std::uint8_t[]>(static_cast<std::size_t>(ring_) * stride_);
    }
    // Row j (0 to height - 1), made with every row before it; rows more than Keep's count back are gone.
    const std::uint8_t* Row(int j)
    {
        for (; made_ <= j; ++made_) {
            int r = top + made_;
            const std::uint8_t* line = source_ + std::clamp(r, 0, sourceHeight_ - 1) * sourceStride_;
            ShiftLine(line, sourceWidth_, channels_, shears_.Across(r) - left, width, Slot(made_), spread_);
        }
        return Slot(j);
    }
    int left = 0, top = 0;  // coordinates of its first column and row in the source's frame
    int width = 0, height = 0;

private:
    std::uint8_t* Slot(int j) { return &pixels_[static_cast<std::size_t>(j % ring_) * stride_]; }
    const std::uint8_t* source_;
    std::ptrdiff_t sourceStride_;
    int sourceWidth_, sourceHeight_, channels_;
    const Shears& shears_;
    std::size_t stride_ = 0;
    int ring_ = 1, made_ = 0;
    std::unique_ptr<std::uint8_t[]> pixels_;
    std::vector<std::uint8_t> spread_;
};

// Columns `from` to `to` of row y after the second shear: column i of `a` sampled from its rows
// y + firstTap[i] to 3 below (clamped to its rows) with that column's weights.
void SecondShearRow(FirstShear& a, int channels, int y, int from, int to, const std::vector<int>& firstTap,
                    const TapWeights& weights, std::uint8_t* out)
{
    for (int i = from; i < to;) {
        int end = i;
        while (end < to && firstTap[end] == firstTap[i]) ++end;
        std::size_t at = static_cast<std::size_t>(i) * channels;
        const std::uint8_t* taps[4];
        for (int k = 3; k >= 0; --k) taps[k] = a.Row(std::clamp(y + firstTap[i] + k, 0, a.height - 1)) + at;
        FourTaps(taps, &weights.first[2 * at], &weights.second[2 * at], true, out + at, (end - i) * channels);
        i = end;
    }
}

// The columns from `first` to `last` of row y whose centre, turned back exactly, lies in the source.
void InsideColumns(const Shears& shears, double degrees, int width, int height, int y, int& first, int& last)
{
    double radians = degrees * std::numbers::pi / 180, c = std::cos(radians), s = std::sin(radians);
    double dy = y - shears.centreY;
    double low = 0, high = width - 1;
    // Source x = centreX + c dx + s dy and source y = centreY - s dx + c dy, dx = x - centreX.
    auto limit = [&](double slope, double offset, double from, double to) {
        if (std::fabs(slope) < 1e-12) {
            if (offset < from || offset > to) low = 1, high = 0;
            return;
        }
        double a = (from - offset) / slope, b = (to - offset) / slope;
        low = std::max(low, std::min(a, b) + shears.centreX);
        high = std::min(high, std::max(a, b) + shears.centreX);
    };
    limit(c, shears.centreX + s * dy, -0.5, width - 0.5);
    limit(-s, shears.centreY + c * dy, -0.5, height - 0.5);
    first = static_cast<int>(std::ceil(low));
    last = static_cast<int>(std::floor(high)) + 1;
}

}  // namespace

void TurnPixelsByShears(const std::uint8_t* source, std::ptrdiff_t sourceStride, int width, int height,
                        int channels, double degrees, std::uint8_t* target, std::ptrdiff_t targetStride)
{
    if (width <= 0 || height <= 0 || (channels != 1 && channels != 3)) return;
    if (degrees == 0) {  // no shear moves a pixel: the rows as they are (the clean-up's unturned pages)
        for (int y = 0; y < height; ++y) {
            std::memcpy(target + y * targetStride, source + y * sourceStride, static_cast<std::size_t>(width) * channels);
        }
        return;
    }
    Shears shears(degrees, width, height);
    FirstShear a(source, sourceStride, width, height, channels, shears);
    // Column i of `a` samples its rows at y - Down: taps from row y + firstTap[i], the same weights on every row.
    std::vector<int> firstTap(a.width);
    TapWeights weights;
    weights.first.resize(static_cast<std::size_t>(a.width) * channels * 2);
    weights.second.resize(weights.first.size());
    for (int i = 0; i < a.width; ++i) {
        double position = -shears.Down(a.left + i) - a.top;
        int whole = static_cast<int>(std::floor(position));
        firstTap[i] = whole - 1;
        std::int16_t w[4];
        ShiftWeights(position - whole, w);
        for (int c = 0; c < channels; ++c) {
            std::size_t at = (static_cast<std::size_t>(i) * channels + c) * 2;
            std::copy(w, w + 2, &weights.first[at]);
            std::copy(w + 2, w + 4, &weights.second[at]);
        }
    }
    auto taps = std::minmax_element(firstTap.begin(), firstTap.end());
    a.Keep(*taps.second - *taps.first + 4);
    std::vector<std::uint8_t> second(static_cast<std::size_t>(a.width) * channels), spread;
    for (int y = 0; y < height; ++y) {
        // Only the columns that the last shear reads for this row.
        double shift = shears.Across(y) + a.left;
        int from = std::max(0, static_cast<int>(std::floor(-shift)) - 1);
        int to = std::min(a.width, static_cast<int>(std::floor(width - 1 - shift)) + 3);
        SecondShearRow(a, channels, y, from, to, firstTap, weights, second.data());
        std::uint8_t* out = target + y * targetStride;
        ShiftLine(second.data() + static_cast<std::size_t>(from) * channels, to - from, channels, shift + from, width,
                  out, spread);
        int first = 0, last = 0;
        InsideColumns(shears, degrees, width, height, y, first, last);
        first = std::clamp(first, 0, width);
        last = std::clamp(last, first, width);
        std::memset(out, 255, static_cast<std::size_t>(first) * channels);
        std::memset(out + static_cast<std::size_t>(last) * channels, 255,
                    static_cast<std::size_t>(width - last) * channels);
    }
}
