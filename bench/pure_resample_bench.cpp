// Times the resampler on an A4 page at 600 DPI, in colour, as one grey channel, and as the 1-bit page's
// path (its bits turned into levels row by row, the result packed into 1-bit rows), against one memcpy
// of the colour page timed alternately with it, so that both see the same machine. Prints the best of
// a few calls in milliseconds and as multiples of the memcpy.
#include "imaging/kernels/resample.h"
#include "pure_timing.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <random>
#include <vector>

constexpr int kWidth = 4961, kHeight = 7016;
constexpr int kRuns = 5;

// A scanned-looking page: white paper, grey noise, and dark strokes on lines of text.
static std::vector<std::uint8_t> MakePage(int channels)
{
    std::vector<std::uint8_t> page(static_cast<size_t>(kWidth) * kHeight * channels);
    std::mt19937 random(42);
    for (int y = 0; y < kHeight; ++y) {
        bool textLine = y > 600 && y < kHeight - 600 && (y / 40) % 3 != 2 && y % 40 < 30;
        std::uint8_t* row = page.data() + static_cast<size_t>(y) * kWidth * channels;
        for (int x = 0; x < kWidth * channels; ++x) {
            unsigned r = random();
            bool ink = textLine && x > 600 && x < (kWidth - 600) * channels && r % 5 == 0;
            row[x] = static_cast<std::uint8_t>(ink ? r % 60 : 235 + r % 21);
        }
    }
    return page;
}

int main()
{
    std::vector<std::uint8_t> colour = MakePage(3), grey = MakePage(1), copy(colour.size());
    std::vector<std::uint8_t> result(static_cast<size_t>(kWidth * 1.7 + 1) * kHeight * 3);
    std::printf("A4 page %d x %d at 600 DPI; memcpy of the colour page (%.0f MB) after each call; best of %d\n",
                kWidth, kHeight, colour.size() / 1e6, kRuns);
    std::printf("%-8s %-20s %10s %11s %10s\n", "factors", "page", "kernel ms", "memcpy ms", "x memcpy");
    struct Case { double x, y; };
    for (Case factors : {Case{0.5, 0.5}, Case{0.3, 0.3}, Case{1.7, 0.6}}) {
        int newWidth = static_cast<int>(kWidth * factors.x + 0.5);
        int newHeight = static_cast<int>(kHeight * factors.y + 0.5);
        std::vector<std::uint8_t> bits((static_cast<size_t>(kWidth) + 7) / 8 * kHeight);
        for (size_t i = 0; i < bits.size(); ++i) bits[i] = static_cast<std::uint8_t>(grey[i * 8] < 128 ? 0x3C : 0);
        std::uint8_t levels[256] = {255, 0};
        Times best = BestAgainstMemcpy(kRuns, [&] {
            ResampleIndexed(bits.data(), (kWidth + 7) / 8, kWidth, kHeight, 1, levels, result.data(),
                            (newWidth + 7) / 8, newWidth, newHeight, ResampledRows::Bits);
        }, colour, copy);
        char label[32];
        std::snprintf(label, sizeof label, "%gx%g", factors.x, factors.y);
        std::printf("%-8s %-20s %10.1f %11.1f %10.2f\n", label, "1-bit, bits to bits", best.work, best.copy,
                    best.work / best.copy);
        for (int channels : {3, 1}) {
            const std::vector<std::uint8_t>& page = channels == 3 ? colour : grey;
            Times best = BestAgainstMemcpy(kRuns, [&] {
                ResampleBicubic(page.data(), kWidth * channels, kWidth, kHeight, channels, result.data(),
                                newWidth * channels, newWidth, newHeight);
            }, colour, copy);
            const char* kind = channels == 3 ? "colour, 3 channels" : "grey, one channel";
            std::printf("%-8s %-20s %10.1f %11.1f %10.2f\n", label, kind, best.work, best.copy, best.work / best.copy);
        }
    }
    return 0;
}
