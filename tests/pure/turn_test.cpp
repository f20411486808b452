// Own quarter turns against a per-pixel reference, for every bit depth the images come in.
#include "imaging/kernels/turn.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

namespace {

struct Image {
    int width, height, bits, stride;
    std::vector<std::uint8_t> bytes;
};

Image RandomImage(std::mt19937& random, int width, int height, int bits)
{
    int stride = (width * bits + 7) / 8 + static_cast<int>(random() % 5);
    Image image{width, height, bits, stride, std::vector<std::uint8_t>(static_cast<size_t>(stride) * height)};
    for (auto& byte : image.bytes) byte = static_cast<std::uint8_t>(random());
    return image;
}

// Pixel value as an integer, read the slow obvious way.
unsigned long long Pixel(const Image& image, int x, int y)
{
    unsigned long long value = 0;
    for (int bit = 0; bit < image.bits; ++bit) {
        int at = x * image.bits + bit;
        int byte = image.bytes[static_cast<size_t>(y) * image.stride + at / 8];
        value = (value << 1) | ((byte >> (7 - at % 8)) & 1);
    }
    return value;
}

Image Turned(const Image& source, Turn turn, std::uint8_t fill)
{
    int width = turn == Turn::None ? source.width : source.height;
    int height = turn == Turn::None ? source.height : source.width;
    int stride = (width * source.bits + 7) / 8 + 3;
    Image target{width, height, source.bits, stride, std::vector<std::uint8_t>(static_cast<size_t>(stride) * height, fill)};
    TurnPixels(source.bytes.data(), source.stride, source.width, source.height, source.bits, target.bytes.data(),
               target.stride, turn);
    return target;
}

}  // namespace

TEST(TurnPixels, MatchesThePixelMappingAtEveryDepth)
{
    std::mt19937 random(7);
    for (int bits : {1, 4, 8, 16, 24, 32, 48, 64}) {
        for (int round = 0; round < 40; ++round) {
            Image source = RandomImage(random, 1 + random() % 45, 1 + random() % 37, bits);
            Image clockwise = Turned(source, Turn::Clockwise, 0);
            Image counter = Turned(source, Turn::CounterClockwise, 0);
            Image copy = Turned(source, Turn::None, 0);
            for (int y = 0; y < source.width; ++y) {
                for (int x = 0; x < source.height; ++x) {
                    ASSERT_EQ(Pixel(clockwise, x, y), Pixel(source, y, source.height - 1 - x)) << bits;
                    ASSERT_EQ(Pixel(counter, x, y), Pixel(source, source.width - 1 - y, x)) << bits;
                }
            }
            for (int y = 0; y < source.height; ++y) {
                for (int x = 0; x < source.width; ++x) {
                    ASSERT_EQ(Pixel(copy, x, y), Pixel(source, x, y)) << bits;
                }
            }
        }
    }
}

TEST(TurnPixels, CornersLandWhereAQuarterTurnPutsThem)
{
    // 3 x 2 bytes: a b c / d e f. Clockwise: d a / e b / f c. Counter-clockwise: c f / b e / a d.
    std::vector<std::uint8_t> source = {'a', 'b', 'c', 'd', 'e', 'f'};
    std::vector<std::uint8_t> target(6);
    TurnPixels(source.data(), 3, 3, 2, 8, target.data(), 2, Turn::Clockwise);
    EXPECT_EQ(std::string(target.begin(), target.end()), "daebfc");
    TurnPixels(source.data(), 3, 3, 2, 8, target.data(), 2, Turn::CounterClockwise);
    EXPECT_EQ(std::string(target.begin(), target.end()), "cfbead");
}

TEST(TurnPixels, FourClockwiseTurnsGiveTheImageBack)
{
    std::mt19937 random(11);
    Image image = RandomImage(random, 37, 13, 1);
    Image turned = image;
    for (int i = 0; i < 4; ++i) turned = Turned(turned, Turn::Clockwise, 0);
    for (int y = 0; y < image.height; ++y) {
        for (int x = 0; x < image.width; ++x) {
            ASSERT_EQ(Pixel(turned, x, y), Pixel(image, x, y));
        }
    }
}

TEST(TurnPixels, LeavesBytesBeyondTheRowsAlone)
{
    std::mt19937 random(3);
    Image source = RandomImage(random, 9, 5, 1);
    Image target = Turned(source, Turn::Clockwise, 0x5A);
    // Target rows are 5 pixels: one byte of pixels, then the 3 spare bytes of the stride.
    for (int y = 0; y < target.height; ++y) {
        for (int spare = 1; spare < target.stride; ++spare) {
            EXPECT_EQ(target.bytes[static_cast<size_t>(y) * target.stride + spare], 0x5A);
        }
    }
}
