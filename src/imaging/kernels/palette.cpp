// Colours over white, the fixed palette and its nearest-colour search: the nearest cube entry is found
// channel by channel, the nearest grey from the mean, and the closer of the two wins.
#include "imaging/kernels/palette.h"

#include <algorithm>

constexpr int kCubeStep = 51;
constexpr int kRampSteps = 45;  // a level every 17/3: the cube's greys fall on every ninth step
constexpr int kCubeCount = 216;

static int RampLevel(int step)
{
    return (34 * step + 3) / 6;  // round(step x 17 / 3)
}

// The cube holds the ramp's every ninth level; the other steps follow the cube in order.
static int RampIndex(int step)
{
    if (step % 9 == 0) return 43 * (step / 9);
    return kCubeCount + step - step / 9 - 1;
}

std::uint32_t FixedPaletteEntry(int index)
{
    int red, green, blue;
    if (index < kCubeCount) {
        red = index / 36 * kCubeStep;
        green = index / 6 % 6 * kCubeStep;
        blue = index % 6 * kCubeStep;
    } else {
        int extra = index - kCubeCount;
        red = green = blue = RampLevel(extra + 1 + extra / 8);
    }
    return 0xFF000000u | static_cast<std::uint32_t>(red << 16 | green << 8 | blue);
}

static int SquaredDistance(int red, int green, int blue, int toRed, int toGreen, int toBlue)
{
    return (red - toRed) * (red - toRed) + (green - toGreen) * (green - toGreen) + (blue - toBlue) * (blue - toBlue);
}

// The nearer of the two ramp steps around the pixel's mean, the darker on a tie.
static int NearestRampStep(int red, int green, int blue)
{
    int step = (red + green + blue) / 17;  // the mean's place on the ramp, rounded down
    if (step >= kRampSteps) return kRampSteps;
    int below = RampLevel(step), above = RampLevel(step + 1);
    int toAbove = SquaredDistance(red, green, blue, above, above, above);
    return toAbove < SquaredDistance(red, green, blue, below, below, below) ? step + 1 : step;
}

static std::uint8_t NearestIndex(int red, int green, int blue)
{
    int cubeRed = (red + kCubeStep / 2) / kCubeStep;
    int cubeGreen = (green + kCubeStep / 2) / kCubeStep;
    int cubeBlue = (blue + kCubeStep / 2) / kCubeStep;
    int cubeDistance = SquaredDistance(red, green, blue, cubeRed * kCubeStep, cubeGreen * kCubeStep,
                                       cubeBlue * kCubeStep);
    int step = NearestRampStep(red, green, blue);
    int level = RampLevel(step);
    // A cube entry always has the lower index, and a grey the cube holds is found by the cube too.
    if (cubeDistance <= SquaredDistance(red, green, blue, level, level, level)) {
        return static_cast<std::uint8_t>(36 * cubeRed + 6 * cubeGreen + cubeBlue);
    }
    return static_cast<std::uint8_t>(RampIndex(step));
}

void ComposeOverWhite(const std::uint8_t* bgra, int width, std::uint8_t* bgr)
{
    for (int x = 0; x < width; ++x) {
        unsigned alpha = bgra[4 * x + 3];
        for (int c = 0; c < 3; ++c) {
            unsigned clear = 255u - bgra[4 * x + c];  // how far from white, scaled by the coverage
            bgr[3 * x + c] = static_cast<std::uint8_t>(255u - (clear * alpha + 127u) / 255u);
        }
    }
}

void QuantiseRow(const std::uint8_t* bgra, int width, std::uint8_t* indices)
{
    for (int x = 0; x < width; ++x, bgra += 4) {
        std::uint8_t bgr[3];
        ComposeOverWhite(bgra, 1, bgr);
        indices[x] = NearestIndex(bgr[2], bgr[1], bgr[0]);
    }
}

unsigned LargestIndex(const std::uint8_t* indices, int width, int bitsPerPixel)
{
    unsigned largest = 0, mask = (1u << bitsPerPixel) - 1;
    int perByte = 8 / bitsPerPixel;
    for (int x = 0; x < width; ++x) {
        int shift = 8 - bitsPerPixel * (x % perByte + 1);
        largest = std::max(largest, (indices[x / perByte] >> shift) & mask);
    }
    return largest;
}
