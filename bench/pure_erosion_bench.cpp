// Times the erosion kernel on an A4 page at 600 DPI against the passes done literally and against
// one memcpy of the plane timed in turn with it. Prints milliseconds and ratios; checks that both
// give the same page.
#include "imaging/kernels/erosion.h"
#include "pure_timing.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <random>
#include <vector>

using Plane = std::vector<std::uint8_t>;

constexpr int kWidth = 4961, kHeight = 7016;

static void FillBlack(Plane& page, int left, int top, int width, int height)
{
    for (int y = top; y < top + height && y < kHeight; ++y) {
        std::memset(page.data() + static_cast<size_t>(y) * kWidth + left, 0, std::min(width, kWidth - left));
    }
}

// A white page with 1-inch margins and lines of 12-point "text": glyphs of 6 to 8 pixel strokes.
static Plane MakePage()
{
    Plane page(static_cast<size_t>(kWidth) * kHeight, 255);
    std::mt19937 random(42);
    for (int base = 700; base + 120 < kHeight - 600; base += 100) {
        for (int x = 600; x < kWidth - 700;) {
            int glyphs = 2 + static_cast<int>(random() % 8);
            for (int g = 0; g < glyphs; ++g, x += 48) {
                int stroke = 6 + static_cast<int>(random() % 3);
                bool tall = random() % 3 == 0;
                int top = base - (tall ? 70 : 48);
                FillBlack(page, x, top, stroke, base - top);                      // stem
                if (random() % 2) FillBlack(page, x + 30, top + 10, stroke, base - top - 10);  // second stem
                if (random() % 2) FillBlack(page, x, top, 36, stroke);             // bar on top
                if (random() % 3) FillBlack(page, x, base - stroke, 36, stroke);   // bar below
            }
            x += 40;  // space between words
        }
    }
    return page;
}

// The passes as defined: a result and a snapshot buffer, one copy and one full scan per pass.
static void LiteralErosion(std::uint8_t* buffer, int width, int height, int stride, int passes)
{
    size_t size = static_cast<size_t>(height) * stride;
    Plane result(buffer, buffer + size), snapshot(size);
    for (int pass = 0; pass < passes; ++pass) {
        std::memcpy(snapshot.data(), result.data(), size);
        for (int y = 1; y < height - 1; ++y) {
            const std::uint8_t* above = snapshot.data() + static_cast<size_t>(y - 1) * stride;
            const std::uint8_t* row = above + stride;
            const std::uint8_t* below = row + stride;
            for (int x = 1; x < width - 1; ++x) {
                if (row[x] != 0) continue;
                if (above[x - 1] == 255 || above[x] == 255 || above[x + 1] == 255 || row[x - 1] == 255 ||
                    row[x + 1] == 255 || below[x - 1] == 255 || below[x] == 255 || below[x + 1] == 255) {
                    result[static_cast<size_t>(y) * stride + x] = 255;
                }
            }
        }
    }
    std::memcpy(buffer, result.data(), size);
}

struct Best {
    double kernel = 1e300, copy = 1e300;
};

// Best of `runs` kernel calls, each on a fresh copy of the page, and best of the memcpy that makes
// those copies: the reference, timed in turn with the kernel so that both see the same machine.
static Best KernelMilliseconds(const Plane& page, Plane& work, int passes, int runs)
{
    Best best;
    for (int run = 0; run < runs; ++run) {
        best.copy = std::min(best.copy, Milliseconds([&] { std::memcpy(work.data(), page.data(), page.size()); }));
        best.kernel = std::min(best.kernel,
                               Milliseconds([&] { ErodeImageBinary(work.data(), kWidth, kHeight, kWidth, passes); }));
    }
    return best;
}

static double MemcpyMilliseconds(const Plane& page, Plane& work, int runs)
{
    double best = 1e300;
    for (int run = 0; run < runs; ++run) {
        best = std::min(best, Milliseconds([&] { std::memcpy(work.data(), page.data(), page.size()); }));
    }
    return best;
}

// A few grey pixels send the kernel down its exact path for planes with other values.
static void MixedLine(const Plane& page, Plane& work, double copy)
{
    Plane grey = page;
    for (size_t at = 12345; at < grey.size(); at += 1000003) grey[at] = 128;
    double kernel = KernelMilliseconds(grey, work, 50, 3).kernel;
    Plane literal = grey;
    double slow = Milliseconds([&] { LiteralErosion(literal.data(), kWidth, kHeight, kWidth, 50); });
    std::printf("page with grey pixels, 50 passes (exact path): kernel %.1f ms = %.1f x memcpy, literal %.1f ms, "
                "same %s\n", kernel, kernel / copy, slow, work == literal ? "yes" : "NO");
}

int main()
{
    Plane page = MakePage(), work(page.size()), literal(page.size());
    double copy = MemcpyMilliseconds(page, work, 20);
    std::printf("A4 plane %d x %d (%.1f MB), one memcpy %.2f ms\n", kWidth, kHeight, page.size() / 1e6, copy);
    std::printf("%6s %10s %11s %14s %15s %5s\n", "passes", "kernel ms", "literal ms", "kernel/memcpy",
                "literal/kernel", "same");
    for (int passes : {1, 10, 50}) {
        Best best = KernelMilliseconds(page, work, passes, 20);
        literal = page;
        double slow = Milliseconds([&] { LiteralErosion(literal.data(), kWidth, kHeight, kWidth, passes); });
        std::printf("%6d %10.2f %11.1f %14.2f %15.0f %5s\n", passes, best.kernel, slow, best.kernel / best.copy,
                    slow / best.kernel, work == literal ? "yes" : "NO");
    }
    double worst = 0;
    int worstPasses = 0;
    for (int passes = 1; passes <= 50; ++passes) {
        Best best = KernelMilliseconds(page, work, passes, 16);
        if (best.kernel / best.copy > worst) worst = best.kernel / best.copy, worstPasses = passes;
    }
    std::printf("highest kernel/memcpy over passes 1..50 (each against the memcpy timed in turn with it): %.2f at "
                "%d passes\n", worst, worstPasses);
    MixedLine(page, work, copy);
    return 0;
}
