// The fixed palette of GIF results and the nearest-colour reduction, cross-checked against a search
// over all 256 entries.
#include "imaging/kernels/palette.h"

#include <gtest/gtest.h>

#include <random>
#include <set>
#include <vector>

// The plain search: every entry's squared distance, the first of the smallest.
static std::uint8_t NearestByFullSearch(int red, int green, int blue)
{
    int best = 0;
    long bestDistance = -1;
    for (int index = 0; index < kFixedPaletteCount; ++index) {
        std::uint32_t entry = FixedPaletteEntry(index);
        long dr = red - static_cast<int>(entry >> 16 & 255), dg = green - static_cast<int>(entry >> 8 & 255),
             db = blue - static_cast<int>(entry & 255);
        long distance = dr * dr + dg * dg + db * db;
        if (bestDistance < 0 || distance < bestDistance) {
            best = index;
            bestDistance = distance;
        }
    }
    return static_cast<std::uint8_t>(best);
}

TEST(FixedPalette, HoldsTheCubeAndFortyFurtherGreysEachOnce)
{
    std::set<std::uint32_t> entries;
    for (int index = 0; index < kFixedPaletteCount; ++index) entries.insert(FixedPaletteEntry(index));
    EXPECT_EQ(entries.size(), 256u);
    EXPECT_EQ(FixedPaletteEntry(0), 0xFF000000u);
    EXPECT_EQ(FixedPaletteEntry(36 * 5 + 6 * 2 + 1), 0xFFFF6633u);
    EXPECT_EQ(FixedPaletteEntry(215), 0xFFFFFFFFu);
    EXPECT_EQ(FixedPaletteEntry(216), 0xFF060606u);  // the ramp's step 1: 17/3 rounded
    EXPECT_EQ(FixedPaletteEntry(255), 0xFFF9F9F9u);  // step 44
}

TEST(QuantiseRow, MatchesTheFullSearchOnRandomAndGreyPixels)
{
    std::mt19937 random(7);
    std::vector<std::uint8_t> row;
    for (int i = 0; i < 200000; ++i) {
        std::uint32_t bits = random();
        row.insert(row.end(), {static_cast<std::uint8_t>(bits), static_cast<std::uint8_t>(bits >> 8),
                               static_cast<std::uint8_t>(bits >> 16), 255});
    }
    // Greys and near-greys, where the cube and the ramp compete.
    for (int level = 0; level < 256; ++level) {
        for (int offset : {-2, -1, 0, 1, 2}) {
            int blue = std::min(255, std::max(0, level + offset));
            row.insert(row.end(), {static_cast<std::uint8_t>(blue), static_cast<std::uint8_t>(level),
                                   static_cast<std::uint8_t>(level), 255});
        }
    }
    int width = static_cast<int>(row.size() / 4);
    std::vector<std::uint8_t> indices(static_cast<size_t>(width));
    QuantiseRow(row.data(), width, indices.data());
    int wrong = 0;
    for (int x = 0; x < width; ++x) {
        const std::uint8_t* pixel = &row[4 * static_cast<size_t>(x)];
        wrong += indices[x] != NearestByFullSearch(pixel[2], pixel[1], pixel[0]);
    }
    EXPECT_EQ(wrong, 0);
}

TEST(QuantiseRow, PaletteColoursMapToThemselvesAndTransparencyToWhite)
{
    std::vector<std::uint8_t> row;
    for (int index = 0; index < kFixedPaletteCount; ++index) {
        std::uint32_t entry = FixedPaletteEntry(index);
        row.insert(row.end(), {static_cast<std::uint8_t>(entry), static_cast<std::uint8_t>(entry >> 8),
                               static_cast<std::uint8_t>(entry >> 16), 255});
    }
    // Red fully transparent, red at alpha 128 over white (255, 127, 127: cube 255, 102, 102), black opaque.
    row.insert(row.end(), {0, 0, 255, 0, 0, 0, 255, 128, 0, 0, 0, 255});
    std::vector<std::uint8_t> indices(row.size() / 4);
    QuantiseRow(row.data(), static_cast<int>(indices.size()), indices.data());
    for (int index = 0; index < kFixedPaletteCount; ++index) EXPECT_EQ(indices[index], index);
    EXPECT_EQ(indices[256], 215);
    EXPECT_EQ(indices[257], 36 * 5 + 6 * 2 + 2);
    EXPECT_EQ(indices[258], 0);
}
