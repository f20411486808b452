// Times the search for specks and black edges on the A4 page of dusty_page.h (letters, dots beside them,
// 2,000 specks and three edge bands), against one memcpy of an A4 24-bit page timed alternately with
// it. Prints the best of a few calls in milliseconds and as multiples of the memcpy.
#include "dusty_page.h"
#include "imaging/kernels/ink_groups.h"
#include "pure_timing.h"

#include <algorithm>
#include <cstdio>
#include <random>
#include <vector>

constexpr int kRuns = 7;

int main()
{
    const int kWidth = 4961, kHeight = 7016, stride = (kWidth + 7) / 8;
    std::vector<std::uint8_t> page = DustyLetter(kWidth, kHeight, stride, 0);
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
