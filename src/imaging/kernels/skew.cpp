// The projection-profile search for a page's skew: strip counts once, then one sheared profile and
// its score per angle tried.
#include "imaging/kernels/skew.h"

#include "imaging/kernels/bytes.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <numbers>
#include <vector>

namespace {

constexpr int kStripBits = 32;
constexpr int kBandRows = 256;
constexpr int kBandPlanes = 9;  // counts up to 256
constexpr double kCoarseStep = 0.2;   // degrees
constexpr double kFineStep = 0.01;
constexpr int kFineSteps = 15;
constexpr double kTopShare = 0.9;
constexpr double kBaselineDegrees = 5;

// The page as black counts: counts[strip * height + y] for the strip's 32 pixels of row y, or of
// rows 2y and 2y + 1 when each entry holds two rows.
struct StripCounts {
    int strips = 0;
    int height = 0;
    std::vector<std::uint8_t> counts;
    long long black = 0;
    int rowsPerEntry = 1;
};

StripCounts CountStrips(const std::uint8_t* bits, std::ptrdiff_t stride, int width, int height)
{
    StripCounts page;
    page.strips = (width + kStripBits - 1) / kStripBits;
    page.height = height;
    page.counts.resize(static_cast<std::size_t>(page.strips) * height);
    int rowBytes = (width + 7) / 8;
    for (int y = 0; y < height; ++y) {
        const std::uint8_t* row = bits + y * stride;
        for (int strip = 0; strip < page.strips; ++strip) {
            int first = strip * (kStripBits / 8), last = std::min(first + kStripBits / 8, rowBytes);
            std::uint64_t word = 0;
            for (int byte = first; byte < last; ++byte) word = word << 8 | row[byte];
            word <<= 8 * (8 - (last - first));
            int pixels = std::min(kStripBits, width - strip * kStripBits);
            word &= ~std::uint64_t{0} << (64 - pixels);
            int count = std::popcount(word);
            page.counts[static_cast<std::size_t>(strip) * height + y] = static_cast<std::uint8_t>(count);
            page.black += count;
        }
    }
    return page;
}

// The counts of two rows at a time: the coarse search sees the lines as well in half the additions.
StripCounts Halved(const StripCounts& page)
{
    StripCounts half{page.strips, page.height / 2, {}, page.black, 2};
    half.counts.resize(static_cast<std::size_t>(half.strips) * half.height);
    for (int strip = 0; strip < page.strips; ++strip) {
        const std::uint8_t* from = page.counts.data() + static_cast<std::size_t>(strip) * page.height;
        std::uint8_t* to = half.counts.data() + static_cast<std::size_t>(strip) * half.height;
        for (int y = 0; y < half.height; ++y) to[y] = static_cast<std::uint8_t>(from[2 * y] + from[2 * y + 1]);
    }
    return half;
}

// The mean squared difference of neighbouring sums of profile[first] up to profile[last - 1].
double MeanSquaredStep(const std::vector<int>& profile, int first, int last)
{
    long long score = 0;
    for (int i = first + 1; i < last; ++i) {
        long long step = profile[static_cast<std::size_t>(i)] - profile[static_cast<std::size_t>(i) - 1];
        score += step * step;
    }
    return last - first > 1 ? static_cast<double>(score) / (last - first - 1) : 0;
}

// The page as black counts down its columns, two columns together: counts[band * columns + x / 2]
// for the band's 256 rows of columns x and x + 1, summed 64 columns at a time in nine bit planes.
struct BandCounts {
    int bands = 0;
    int columns = 0;
    std::vector<std::uint16_t> counts;
};

BandCounts CountBands(const std::uint8_t* bits, std::ptrdiff_t stride, int width, int height)
{
    BandCounts page{(height + kBandRows - 1) / kBandRows, (width + 1) / 2, {}};
    page.counts.resize(static_cast<std::size_t>(page.bands) * page.columns);
    for (int band = 0; band < page.bands; ++band) {
        int top = band * kBandRows, bottom = std::min(height, top + kBandRows);
        for (int x = 0; x < width; x += 64) {
            std::uint64_t planes[kBandPlanes] = {};
            for (int y = top; y < bottom; ++y) {
                std::uint64_t carry = RowBits64(bits + y * stride, x, width);
                for (int plane = 0; carry != 0 && plane < kBandPlanes; ++plane) {
                    std::uint64_t next = planes[plane] & carry;
                    planes[plane] ^= carry;
                    carry = next;
                }
            }
            std::uint16_t* counts = page.counts.data() + static_cast<std::size_t>(band) * page.columns + x / 2;
            for (int plane = 0; plane < kBandPlanes; ++plane) {
                for (std::uint64_t word = planes[plane]; word != 0; word &= word - 1) {
                    counts[std::countl_zero(word) / 2] += static_cast<std::uint16_t>(1 << plane);
                }
            }
        }
    }
    return page;
}

// The mean squared step of the column sums with each band shifted across by its distance from the
// centre times tan(degrees), as the page's vertical lines lean when its rows fall by that angle;
// over the columns that every band reaches.
double ColumnScore(const BandCounts& page, int margin, double degrees, std::vector<int>& profile)
{
    profile.assign(static_cast<std::size_t>(page.columns) + 2 * static_cast<std::size_t>(margin), 0);
    double slope = std::tan(degrees * std::numbers::pi / 180) / 2;  // in pairs of columns
    int first = 0, last = static_cast<int>(profile.size());
    for (int band = 0; band < page.bands; ++band) {
        double y = (band + 0.5 - page.bands / 2.0) * kBandRows;
        int shift = margin + static_cast<int>(std::floor(y * slope + 0.5));
        first = std::max(first, shift), last = std::min(last, shift + page.columns);
        int* into = profile.data() + shift;
        const std::uint16_t* counts = page.counts.data() + static_cast<std::size_t>(band) * page.columns;
        for (int x = 0; x < page.columns; ++x) into[x] += counts[x];
    }
    return MeanSquaredStep(profile, first, last);
}

// The score of the profile with each strip shifted by its distance from the centre times
// tan(degrees): the mean squared step between neighbouring row sums, over the rows that every strip
// reaches at this angle (the page's own top and bottom edges would otherwise score as the sharpest
// line of all at 0 degrees, while a band or rule just inside them must count).
double Score(const StripCounts& page, int margin, double degrees, std::vector<int>& profile)
{
    profile.assign(static_cast<std::size_t>(page.height) + 2 * static_cast<std::size_t>(margin), 0);
    double slope = std::tan(degrees * std::numbers::pi / 180) / page.rowsPerEntry;
    double centre = page.strips * kStripBits / 2.0;
    int first = 0, last = static_cast<int>(profile.size());
    for (int strip = 0; strip < page.strips; ++strip) {
        double x = (strip + 0.5) * kStripBits - centre;
        int shift = margin - static_cast<int>(std::floor(x * slope + 0.5));
        first = std::max(first, shift), last = std::min(last, shift + page.height);
        int* into = profile.data() + shift;
        const std::uint8_t* counts = page.counts.data() + static_cast<std::size_t>(strip) * page.height;
        for (int y = 0; y < page.height; ++y) into[y] += counts[y];
    }
    return MeanSquaredStep(profile, first, last);
}

// The centre of the peak of scores around the best coarse angle: the angles every 0.01 degree up to
// 0.15 either side, each weighted by how far its score stands above 90% of the best. Near its top
// the score moves in steps and often stays level over several hundredths, so the middle of the top
// is a steadier estimate than the first angle that reaches the best score.
double PeakCentre(const StripCounts& page, int margin, double coarse, double maxDegrees, std::vector<int>& profile)
{
    std::vector<std::pair<double, double>> scores;
    double best = 0;
    for (int step = -kFineSteps; step <= kFineSteps; ++step) {
        double degrees = coarse + step * kFineStep;
        if (std::fabs(degrees) > maxDegrees + 1e-9) continue;
        scores.push_back({degrees, Score(page, margin, degrees, profile)});
        best = std::max(best, scores.back().second);
    }
    double weights = 0, sum = 0;
    for (const auto& [degrees, score] : scores) {
        double weight = std::max(0.0, score - kTopShare * best);
        weights += weight;
        sum += weight * degrees;
    }
    return weights > 0 ? sum / weights : coarse;  // rows of the same score at every angle: columns chose
}

double Median(std::vector<double> scores)
{
    std::nth_element(scores.begin(), scores.begin() + static_cast<std::ptrdiff_t>(scores.size() / 2), scores.end());
    return scores[scores.size() / 2];
}

}  // namespace

Skew FindSkew(const std::uint8_t* bits, std::ptrdiff_t stride, int width, int height, double maxDegrees)
{
    if (width <= 0 || height <= 0) return {};
    maxDegrees = std::clamp(maxDegrees, 0.0, 10.0);
    StripCounts page = CountStrips(bits, stride, width, height);
    if (page.black * 2000 < static_cast<long long>(width) * height) return {};
    double searched = std::max(maxDegrees, kBaselineDegrees);
    // Rows a strip may move by at the widest angle: the profile's room above and below the page.
    double reach = page.strips * kStripBits / 2.0 * std::tan(searched * std::numbers::pi / 180);
    int margin = static_cast<int>(std::ceil(reach)) + 1;
    if (page.height <= 2 * margin + 2) return {};
    // Vertical lines and rules count too, in the coarse search: a drawing's rules say it is straight.
    BandCounts columns = CountBands(bits, stride, width, height);
    int columnMargin =
        static_cast<int>(std::ceil(columns.bands * kBandRows / 4.0 * std::tan(searched * std::numbers::pi / 180))) + 1;
    StripCounts coarse = Halved(page);
    std::vector<int> profile;
    int steps = static_cast<int>(std::floor(searched / kCoarseStep + 1e-9));
    std::vector<double> rowScores, columnScores, degreesTried;
    for (int step = -steps; step <= steps; ++step) {
        degreesTried.push_back(step * kCoarseStep);
        rowScores.push_back(Score(coarse, margin / 2 + 1, degreesTried.back(), profile));
        columnScores.push_back(ColumnScore(columns, columnMargin, degreesTried.back(), profile));
    }
    // Rows and columns each count by how many times their median a score stands above it, so that
    // neither outweighs the other by its scale (the columns of a text page score high at every
    // angle); a median below 1, less than a pixel's step per row on average, counts as 1.
    double rowMedian = Median(rowScores), columnMedian = Median(columnScores);
    double best = -1, bestDegrees = 0;
    for (std::size_t i = 0; i < degreesTried.size(); ++i) {
        double contrast = (rowScores[i] - rowMedian) / std::max(rowMedian, 1.0) +
                          (columnScores[i] - columnMedian) / std::max(columnMedian, 1.0);
        if (std::fabs(degreesTried[i]) <= maxDegrees + 1e-9 && contrast > best) best = contrast, bestDegrees = degreesTried[i];
    }
    if (best < kMinimumContrast - 1) return {};
    return {true, PeakCentre(page, margin, bestDegrees, maxDegrees, profile)};
}
