// The projection-profile search for a page's skew: strip counts once, then one sheared profile and
// its score per angle tried.
#include "imaging/kernels/skew.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <numbers>
#include <vector>

namespace {

constexpr int kStripBits = 32;
constexpr double kCoarseStep = 0.2;   // degrees
constexpr double kFineStep = 0.01;
constexpr int kFineSteps = 15;
constexpr double kTopShare = 0.9;
constexpr double kBaselineDegrees = 5;

// The page as black counts: counts[strip * height + y] for the strip's 32 pixels of row y.
struct StripCounts {
    int strips = 0;
    int height = 0;
    std::vector<std::uint8_t> counts;
    long long black = 0;
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

// The score of the profile with each strip shifted by its distance from the centre times tan(degrees).
double Score(const StripCounts& page, int margin, double degrees, std::vector<int>& profile)
{
    profile.assign(static_cast<std::size_t>(page.height) + 2 * static_cast<std::size_t>(margin), 0);
    double slope = std::tan(degrees * std::numbers::pi / 180);
    double centre = page.strips * kStripBits / 2.0;
    for (int strip = 0; strip < page.strips; ++strip) {
        double x = (strip + 0.5) * kStripBits - centre;
        int shift = margin - static_cast<int>(std::floor(x * slope + 0.5));
        int* into = profile.data() + shift;
        const std::uint8_t* counts = page.counts.data() + static_cast<std::size_t>(strip) * page.height;
        for (int y = 0; y < page.height; ++y) into[y] += counts[y];
    }
    // Only rows that every strip reaches at every angle tried count: the page's own top and bottom
    // edges would otherwise score as the sharpest line of all at 0 degrees.
    long long score = 0;
    for (int i = 2 * margin + 1; i < page.height; ++i) {
        long long step = profile[static_cast<std::size_t>(i)] - profile[static_cast<std::size_t>(i) - 1];
        score += step * step;
    }
    return static_cast<double>(score);
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
    return sum / weights;
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
    std::vector<int> profile;
    int steps = static_cast<int>(std::floor(searched / kCoarseStep + 1e-9));
    std::vector<double> scores;
    double best = -1, bestDegrees = 0;
    for (int step = -steps; step <= steps; ++step) {
        double degrees = step * kCoarseStep;
        double score = Score(page, margin, degrees, profile);
        scores.push_back(score);
        if (std::fabs(degrees) <= maxDegrees + 1e-9 && score > best) best = score, bestDegrees = degrees;
    }
    std::nth_element(scores.begin(), scores.begin() + scores.size() / 2, scores.end());
    double median = scores[scores.size() / 2];
    if (best <= 0 || best < kMinimumContrast * median) return {};
    return {true, PeakCentre(page, margin, bestDegrees, maxDegrees, profile)};
}
