// Times the search for specks and black edges on an A4 page at 600 DPI of letters, dots beside them,
// 2,000 specks and three edge bands, against one memcpy of an A4 24-bit page timed alternately with
// it. Prints the best of a few calls in milliseconds and as multiples of the memcpy.
#include "imaging/kernels/ink_groups.h"
#include "pure_timing.h"

#include <algorithm>
#include <cstdio>
#include <random>
#include <vector>

constexpr int kWidth = 4961, kHeight = 7016;
constexpr int kRuns = 7;

// Lines of "letters" 40 rows high every 90 rows inside 2.5 cm margins: a stem, a bar and now and
// then a dot of 25 pixels above; specks of 1 to 30 pixels scattered over the page; a ragged band
// down the left edge, one along the bottom, a dark top-right corner.
static std::vector<std::uint8_t> DustyLetter(int stride)
{
    std::vector<std::uint8_t> bits(static_cast<size_t>(stride) * kHeight, 0);
    auto set = [&](int x, int y) { bits[static_cast<size_t>(y) * stride + x / 8] |= 0x80 >> x % 8; };
    std::mt19937 random(7);
    for (int line = 590; line + 60 < kHeight - 590; line += 90) {
        for (int x = 590; x + 40 < kWidth - 590; x += 28 + static_cast<int>(random() % 20)) {
            for (int y = line + 10; y < line + 50; ++y)
                for (int dx = 0; dx < 4; ++dx) set(x + dx, y);
            int bar = line + 10 + static_cast<int>(random() % 30);
            for (int y = bar; y < bar + 4; ++y)
                for (int dx = 0; dx < 18; ++dx) set(x + dx, y);
            if (random() % 5 == 0)
                for (int y = line; y < line + 5; ++y)
                    for (int dx = 0; dx < 5; ++dx) set(x + dx, y);
        }
    }
    for (int speck = 0; speck < 2000; ++speck) {
        int x = static_cast<int>(random() % (kWidth - 8)), y = static_cast<int>(random() % (kHeight - 8));
        for (int i = 1 + static_cast<int>(random() % 30); i > 0; --i) {  // a walk: one group
            set(x, y);
            x = std::clamp(x + static_cast<int>(random() % 3) - 1, 0, kWidth - 1);
            y = std::clamp(y + static_cast<int>(random() % 3) - 1, 0, kHeight - 1);
        }
    }
    int depth = 150;
    for (int y = 0; y < kHeight; ++y) {
        depth = std::max(40, std::min(300, depth + static_cast<int>(random() % 13) - 6));
        for (int x = 0; x < depth; ++x) set(x, y);
        if (y > kHeight - depth / 2) for (int x = 600; x < kWidth; ++x) set(x, y);
        if (y < 250) for (int x = kWidth - 250 + y; x < kWidth; ++x) set(x, y);
    }
    return bits;
}

int main()
{
    int stride = (kWidth + 7) / 8;
    std::vector<std::uint8_t> page = DustyLetter(stride);
    std::vector<std::uint8_t> colour(static_cast<size_t>(kWidth) * kHeight * 3, 0x80), copy(colour.size());
    std::printf("A4 page %d x %d at 600 DPI, 1-bit; memcpy of an A4 24-bit page (%.0f MB) after each call; "
                "best of %d, one thread\n", kWidth, kHeight, colour.size() / 1e6, kRuns);
    std::printf("%-38s %10s %11s %10s\n", "kernel", "ms", "memcpy ms", "x memcpy");
    auto print = [](const char* what, Times times) {
        std::printf("%-38s %10.1f %11.1f %10.2f\n", what, times.work, times.copy, times.work / times.copy);
    };
    CleanupFound found;
    print("find specks and edges together", BestAgainstMemcpy(kRuns, [&] {
        found = FindSpecksAndEdges(page.data(), stride, kWidth, kHeight, CleanupRulesAt(600, 0, true, true));
    }, colour, copy));
    std::printf("  %d specks and %d edge regions, %zu runs to whiten\n", found.specks, found.edges, found.runs.size());
    print("find specks only", BestAgainstMemcpy(kRuns, [&] {
        found = FindSpecksAndEdges(page.data(), stride, kWidth, kHeight, CleanupRulesAt(600, 0, true, false));
    }, colour, copy));
    print("find edges only", BestAgainstMemcpy(kRuns, [&] {
        found = FindSpecksAndEdges(page.data(), stride, kWidth, kHeight, CleanupRulesAt(600, 0, false, true));
    }, colour, copy));
    return 0;
}
