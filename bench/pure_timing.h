// What the pure benchmarks share: timing a kernel against one memcpy of a page, alternately, so
// that both see the same machine.
#pragma once

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <vector>

template <class Work>
inline double Milliseconds(Work work)
{
    auto start = std::chrono::steady_clock::now();
    work();
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
}

struct Times {
    double work = 1e300, copy = 1e300;
};

// The best of `runs` calls of `work`, each followed by a memcpy of `page` into `copy`.
template <class Work>
inline Times BestAgainstMemcpy(int runs, Work work, const std::vector<std::uint8_t>& page, std::vector<std::uint8_t>& copy)
{
    Times best;
    for (int run = 0; run < runs; ++run) {
        best.work = std::min(best.work, Milliseconds(work));
        best.copy = std::min(best.copy, Milliseconds([&] { std::memcpy(copy.data(), page.data(), page.size()); }));
    }
    return best;
}
