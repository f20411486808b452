// Margins in tenths of a millimetre to pixels, and scaled sides, at their worked values.
#include "imaging/kernels/lengths.h"

#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <limits>

TEST(MMToPixels, RoundsHalvesUpAndNegativesTowardZero)
{
    struct Case { int tenths, dpi, pixels; };
    for (Case c : {Case{10, 600, 24}, Case{-10, 600, -23}, Case{1, 600, 2}, Case{-1, 600, -1}, Case{0, 600, 0},
                   Case{254, 600, 600}, Case{-254, 600, -599}, Case{500, 600, 1181}, Case{-500, 600, -1180},
                   Case{500, 599, 1179}, Case{-500, 599, -1178}, Case{10, 599, 24}, Case{-10, 599, -23}}) {
        EXPECT_EQ(MMToPixels(c.tenths, c.dpi), c.pixels) << c.tenths << " tenths at " << c.dpi << " DPI";
    }
}

TEST(MMToPixels, SaturatesLengthsBeyondIntRange)
{
    EXPECT_EQ(MMToPixels(INT_MAX, 600), INT_MAX);
    EXPECT_EQ(MMToPixels(INT_MIN, 600), INT_MIN);
    // The largest length that still fits converts normally.
    EXPECT_EQ(MMToPixels(900000000, 600), 2125984252);
}

TEST(ScaledLength, RoundsHalvesUpAndKeepsAtLeastOnePixel)
{
    EXPECT_EQ(ScaledLength(1000, 0.0001), 1);
    EXPECT_EQ(ScaledLength(5, 0.1), 1);
    EXPECT_EQ(ScaledLength(5, 0.3), 2);
    EXPECT_EQ(ScaledLength(4961, 0.5), 2481);
    EXPECT_EQ(ScaledLength(4961, 2.0), 9922);
}

TEST(ScaledLength, RefusesWhatDoesNotFitAnInt)
{
    EXPECT_EQ(ScaledLength(INT_MAX, 2.0), -1);
    EXPECT_EQ(ScaledLength(100000, 30000.0), -1);
    EXPECT_EQ(ScaledLength(10, std::numeric_limits<double>::infinity()), -1);
    EXPECT_EQ(ScaledLength(10, std::nan("")), -1);
    EXPECT_EQ(ScaledLength(1000000, 2000.0), 2000000000);
}

TEST(WholeDpi, RoundsHalvesUp)
{
    // 599.9988 is what 23622 pixels per metre read back as.
    EXPECT_EQ(WholeDpi(599.9988f), 600.0f);
    EXPECT_EQ(WholeDpi(599.5f), 600.0f);
    EXPECT_EQ(WholeDpi(599.4f), 599.0f);
    EXPECT_EQ(WholeDpi(600.0f), 600.0f);
    EXPECT_EQ(WholeDpi(600.49f), 600.0f);
    EXPECT_EQ(WholeDpi(600.5f), 601.0f);
}
