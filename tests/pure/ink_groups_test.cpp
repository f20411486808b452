// The specks and edge regions against a plain flood fill and the rules applied pixel by pixel, on
// random pages; and on the fixture page of text from 6 to 12 points with dust and black edges.
#include "imaging/kernels/ink_groups.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

namespace {

// A page one byte per pixel for the reference, packed on demand for the kernel.
struct Grid {
    int width = 0, height = 0;
    std::vector<std::uint8_t> black;
    std::uint8_t& At(int x, int y) { return black[static_cast<size_t>(y) * width + x]; }
    std::uint8_t At(int x, int y) const { return black[static_cast<size_t>(y) * width + x]; }
};

std::vector<std::uint8_t> Packed(const Grid& grid, int stride, std::uint8_t padding)
{
    std::vector<std::uint8_t> bits(static_cast<size_t>(stride) * grid.height, padding);
    for (int y = 0; y < grid.height; ++y) {
        std::uint8_t* row = bits.data() + static_cast<size_t>(y) * stride;
        std::fill(row, row + (grid.width + 7) / 8, std::uint8_t{0});
        for (int x = 0; x < grid.width; ++x) row[x / 8] |= static_cast<std::uint8_t>(grid.At(x, y) << (7 - x % 8));
        if (grid.width % 8) row[grid.width / 8] |= padding >> (grid.width % 8);  // bits after the width
    }
    return bits;
}

// The page after the kernel: its runs whitened in the packed rows, read back.
Grid Cleaned(const Grid& page, const CleanupRules& rules, bool upsideDown, CleanupFound& found)
{
    int stride = (page.width + 7) / 8 + 2;
    std::vector<std::uint8_t> bits = Packed(page, stride, 0xA5);
    std::uint8_t* first = bits.data();
    std::ptrdiff_t step = stride;
    if (upsideDown) {  // the same rows given bottom-up: the kernel sees the page upside down
        first += static_cast<size_t>(page.height - 1) * stride;
        step = -stride;
    }
    found = FindSpecksAndEdges(first, step, page.width, page.height, rules);
    WhitenRuns(first, step, found.runs);
    Grid result = page;
    for (int y = 0; y < page.height; ++y)
        for (int x = 0; x < page.width; ++x)
            result.At(x, y) = bits[static_cast<size_t>(y) * stride + x / 8] >> (7 - x % 8) & 1;
    return result;
}

struct RefGroup {
    std::vector<std::pair<int, int>> pixels;
    int left, top, right, bottom;
};

// 8-connected groups by a plain flood fill.
std::vector<RefGroup> FloodFill(const Grid& page)
{
    std::vector<int> seen(page.black.size(), 0);
    std::vector<RefGroup> groups;
    for (int y0 = 0; y0 < page.height; ++y0) {
        for (int x0 = 0; x0 < page.width; ++x0) {
            if (!page.At(x0, y0) || seen[static_cast<size_t>(y0) * page.width + x0]) continue;
            RefGroup group{{{x0, y0}}, x0, y0, x0, y0};
            seen[static_cast<size_t>(y0) * page.width + x0] = 1;
            for (size_t next = 0; next < group.pixels.size(); ++next) {
                auto [x, y] = group.pixels[next];
                group.left = std::min(group.left, x), group.right = std::max(group.right, x);
                group.top = std::min(group.top, y), group.bottom = std::max(group.bottom, y);
                for (int dy = -1; dy <= 1; ++dy) {
                    for (int dx = -1; dx <= 1; ++dx) {
                        int u = x + dx, v = y + dy;
                        if (u < 0 || v < 0 || u >= page.width || v >= page.height || !page.At(u, v)) continue;
                        if (seen[static_cast<size_t>(v) * page.width + u]++) continue;
                        group.pixels.push_back({u, v});
                    }
                }
            }
            groups.push_back(group);
        }
    }
    return groups;
}

// The rules of ink_groups.h applied pixel by pixel to the flood fill's groups.
Grid Expected(const Grid& page, const CleanupRules& rules, int& specks, int& edges)
{
    std::vector<RefGroup> groups = FloodFill(page);
    int depth = std::min(rules.edgeDepth, std::min(page.width, page.height) / 4);
    enum { Kept, Small, Gone };
    std::vector<int> fate(groups.size(), Kept);
    specks = edges = 0;
    for (size_t g = 0; g < groups.size(); ++g) {
        bool touches = false, deep = false;
        for (auto [x, y] : groups[g].pixels) {
            touches |= x == 0 || y == 0 || x == page.width - 1 || y == page.height - 1;
            deep |= x >= depth && y >= depth && x < page.width - depth && y < page.height - depth;
        }
        if (depth > 0 && touches && !deep) fate[g] = Gone, ++edges;
        else if (static_cast<int>(groups[g].pixels.size()) <= rules.speckPixels) fate[g] = Small;
    }
    Grid owner{page.width, page.height, std::vector<std::uint8_t>(page.black.size(), 0)};  // 1 where kept ink lies
    auto mark = [&](size_t g) { for (auto [x, y] : groups[g].pixels) owner.At(x, y) = 1; };
    for (size_t g = 0; g < groups.size(); ++g)
        if (fate[g] == Kept) mark(g);
    for (bool changed = true; changed;) {
        changed = false;
        for (size_t g = 0; g < groups.size(); ++g) {
            if (fate[g] != Small) continue;
            const RefGroup& s = groups[g];
            bool near = false;
            for (int y = std::max(0, s.top - rules.speckReach); y <= std::min(page.height - 1, s.bottom + rules.speckReach); ++y)
                for (int x = std::max(0, s.left - rules.speckReach); x <= std::min(page.width - 1, s.right + rules.speckReach); ++x)
                    near |= owner.At(x, y) == 1;
            if (near) fate[g] = Kept, mark(g), changed = true;
        }
    }
    Grid result = page;
    for (size_t g = 0; g < groups.size(); ++g) {
        if (fate[g] == Kept) continue;
        specks += fate[g] == Small;
        for (auto [x, y] : groups[g].pixels) result.At(x, y) = 0;
    }
    return result;
}

Grid ReadPbm(const std::string& name)
{
    std::ifstream file(std::string(LUMIVEX_FIXTURES) + "/" + name, std::ios::binary);
    std::string magic;
    Grid grid;
    file >> magic >> grid.width >> grid.height;
    file.get();
    std::vector<char> bits{std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
    grid.black.resize(static_cast<size_t>(grid.width) * grid.height);
    size_t rowBytes = (static_cast<size_t>(grid.width) + 7) / 8;
    if (magic != "P4" || bits.size() != rowBytes * grid.height) return {};
    for (int y = 0; y < grid.height; ++y)
        for (int x = 0; x < grid.width; ++x)
            grid.At(x, y) = static_cast<std::uint8_t>(bits[y * rowBytes + x / 8] >> (7 - x % 8) & 1);
    return grid;
}

}  // namespace

TEST(FindSpecksAndEdges, IsTheFloodFillAndTheRulesOnRandomPages)
{
    std::mt19937 random(28);
    for (int round = 0; round < 60; ++round) {
        Grid page{1 + static_cast<int>(random() % 260), 1 + static_cast<int>(random() % 140), {}};
        page.black.assign(static_cast<size_t>(page.width) * page.height, 0);
        // Blobs of every size, lines, and sometimes a dense noise that joins them.
        unsigned density = random() % 4;
        for (int i = 0; i < page.width * page.height / 60; ++i) {
            int x = static_cast<int>(random() % page.width), y = static_cast<int>(random() % page.height);
            int length = random() % 8 == 0 ? static_cast<int>(random() % 120) : static_cast<int>(random() % 4);
            bool across = random() % 2;
            for (int k = 0; k < length; ++k) {
                int u = across ? x + k : x, v = across ? y : y + k;
                if (u < page.width && v < page.height) page.At(u, v) = 1;
            }
        }
        for (auto& pixel : page.black) pixel |= density == 3 && random() % 3 == 0;
        CleanupRules rules{static_cast<int>(random() % 41), static_cast<int>(random() % 25),
                           static_cast<int>(random() % 3 ? random() % 70 : 0)};
        SCOPED_TRACE(std::to_string(page.width) + " x " + std::to_string(page.height) + ", round " + std::to_string(round));
        int specks = 0, edges = 0;
        Grid expected = Expected(page, rules, specks, edges);
        // Every fifth page given bottom-up through a negative stride: the rules look the same both ways up.
        CleanupFound found;
        Grid result = Cleaned(page, rules, round % 5 == 4, found);
        ASSERT_EQ(result.black, expected.black);
        EXPECT_EQ(found.specks, specks);
        EXPECT_EQ(found.edges, edges);
    }
}

// The fixture page (tests/fixtures/make_cleanup_fixtures.sh): every speck and edge region goes, and
// every mark of the text is kept, pixel for pixel; each kind alone takes only its own.
TEST(FindSpecksAndEdges, FixturePageLosesItsDustAndEdgesAndKeepsEveryMark)
{
    Grid text = ReadPbm("cleanup_text.pbm"), dusty = ReadPbm("cleanup_dusty.pbm");
    ASSERT_EQ(text.width, 2400);
    ASSERT_EQ(dusty.black.size(), text.black.size());
    int placedSpecks = 0, placedEdges = 0;
    std::ifstream counts(std::string(LUMIVEX_FIXTURES) + "/cleanup_counts.txt");
    std::string word;
    counts >> word >> placedSpecks >> word >> placedEdges;
    ASSERT_EQ(placedSpecks, 60);
    CleanupFound both, specks, edges;
    Grid cleaned = Cleaned(dusty, CleanupRulesAt(600, 0, true, true), false, both);
    EXPECT_EQ(both.specks, placedSpecks);
    EXPECT_EQ(both.edges, placedEdges);
    EXPECT_TRUE(cleaned.black == text.black);
    Grid despeckled = Cleaned(dusty, CleanupRulesAt(600, 0, true, false), false, specks);
    Grid bordered = Cleaned(dusty, CleanupRulesAt(600, 0, false, true), false, edges);
    EXPECT_EQ(specks.specks, placedSpecks);
    EXPECT_EQ(specks.edges, 0);
    EXPECT_EQ(edges.specks, 0);
    EXPECT_EQ(edges.edges, placedEdges);
    long long wrong = 0, edgeLeft = 0;
    for (size_t i = 0; i < dusty.black.size(); ++i) {
        bool dust = dusty.black[i] && !text.black[i];
        // Each pixel of dust taken by exactly one of the two; nothing else taken.
        wrong += (dusty.black[i] - despeckled.black[i]) + (dusty.black[i] - bordered.black[i]) != dust;
        edgeLeft += cleaned.black[i] && !text.black[i];
    }
    EXPECT_EQ(wrong, 0);
    int marks = 0;
    for (const RefGroup& group : FloodFill(text)) marks += group.pixels.size() <= 40;
    EXPECT_GT(marks, 50) << "the text's small marks: periods, commas, dots, accents of 6 points";
    std::printf("fixture page: %d of %d specks and %d of %d edge regions removed, %lld dust pixels left, "
                "all %d marks of at most 40 pixels kept\n",
                both.specks, placedSpecks, both.edges, placedEdges, edgeLeft, marks);
}
