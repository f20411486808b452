// Times the deskew's kernels on an A4 page at 600 DPI: the skew search and the 1-bit turn on a page of
// lines of words turned by 2.3 degrees, and the colour turn against the resampler at a scale of 1;
// each against one memcpy of the colour page timed alternately with it, so that both see the same
// machine. Prints the best of a few calls in milliseconds and as multiples of the memcpy.
#include "imaging/kernels/resample.h"
#include "imaging/kernels/shear.h"
#include "imaging/kernels/skew.h"
#include "pure_timing.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <numbers>
#include <random>
#include <vector>

constexpr int kWidth = 4961, kHeight = 7016;
constexpr int kRuns = 7;
constexpr double kSkew = 2.3;

// 1-bit rows of a letter turned clockwise by kSkew: lines of words 30 rows high every 90 rows inside
// 2.5 cm margins, each pixel turned back exactly and looked up in the straight page.
static std::vector<std::uint8_t> SkewedLetter(int stride)
{
    std::vector<std::uint8_t> bits(static_cast<size_t>(stride) * kHeight, 0);
    std::mt19937 random(7);
    std::vector<char> ink(kWidth);
    for (int x = 0; x < kWidth; ++x) ink[x] = (x / 23) % 7 != 6 && random() % 3 != 0;
    double c = std::cos(kSkew * std::numbers::pi / 180), s = std::sin(kSkew * std::numbers::pi / 180);
    for (int y = 0; y < kHeight; ++y) {
        for (int x = 0; x < kWidth; ++x) {
            double u = kWidth / 2.0 + c * (x - kWidth / 2.0) + s * (y - kHeight / 2.0);
            double v = kHeight / 2.0 - s * (x - kWidth / 2.0) + c * (y - kHeight / 2.0);
            if (u < 590 || u >= kWidth - 590 || v < 590 || v >= kHeight - 590) continue;
            int row = static_cast<int>(v), column = static_cast<int>(u);
            if (row % 90 < 30 && ink[(column + row / 90 * 101) % kWidth]) bits[y * stride + x / 8] |= 0x80 >> x % 8;
        }
    }
    return bits;
}

// A scanned-looking colour page: paper with grey noise and dark strokes on lines.
static std::vector<std::uint8_t> ColourPage()
{
    std::vector<std::uint8_t> page(static_cast<size_t>(kWidth) * kHeight * 3);
    std::mt19937 random(42);
    for (int y = 0; y < kHeight; ++y) {
        bool textLine = y > 600 && y < kHeight - 600 && (y / 40) % 3 != 2 && y % 40 < 30;
        std::uint8_t* row = page.data() + static_cast<size_t>(y) * kWidth * 3;
        for (int x = 0; x < kWidth * 3; ++x) {
            unsigned r = random();
            bool ink = textLine && x > 1800 && x < (kWidth - 600) * 3 && r % 5 == 0;
            row[x] = static_cast<std::uint8_t>(ink ? r % 60 : 235 + r % 21);
        }
    }
    return page;
}

int main()
{
    int stride = (kWidth + 7) / 8;
    std::vector<std::uint8_t> letter = SkewedLetter(stride), turned(letter.size());
    std::vector<std::uint8_t> colour = ColourPage(), result(colour.size()), copy(colour.size());
    std::printf("A4 page %d x %d at 600 DPI, lines turned by %.2f degrees; memcpy of the colour page (%.0f MB) "
                "after each call; best of %d, one thread\n", kWidth, kHeight, kSkew, colour.size() / 1e6, kRuns);
    std::printf("%-38s %10s %11s %10s\n", "kernel", "ms", "memcpy ms", "x memcpy");
    auto print = [](const char* what, Times times) {
        std::printf("%-38s %10.1f %11.1f %10.2f\n", what, times.work, times.copy, times.work / times.copy);
    };
    Skew skew;
    print("find the skew, 1-bit (--max 5)",
          BestAgainstMemcpy(kRuns, [&] { skew = FindSkew(letter.data(), stride, kWidth, kHeight, 5); }, colour, copy));
    std::printf("  found %s %.4f degrees (drawn at %.2f)\n", skew.found ? "" : "nothing,", skew.degrees, kSkew);
    print("turn the 1-bit page back", BestAgainstMemcpy(kRuns, [&] {
        TurnBitsByShears(letter.data(), stride, kWidth, kHeight, -skew.degrees, turned.data(), stride);
    }, colour, copy));
    auto resample = BestAgainstMemcpy(kRuns, [&] {
        ResampleBicubic(colour.data(), kWidth * 3, kWidth, kHeight, 3, result.data(), kWidth * 3, kWidth, kHeight);
    }, colour, copy);
    print("resample the colour page at 1 x 1", resample);
    auto turn = BestAgainstMemcpy(kRuns, [&] {
        TurnPixelsByShears(colour.data(), kWidth * 3, kWidth, kHeight, 3, -kSkew, result.data(), kWidth * 3);
    }, colour, copy);
    print("turn the colour page", turn);
    std::printf("  colour turn / resample at 1 x 1: %.2f\n", turn.work / resample.work);
    return 0;
}
