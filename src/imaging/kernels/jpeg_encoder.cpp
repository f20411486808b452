// Pixels to quantised coefficients: JFIF colour conversion, box downsampling, the separable DCT of
// the standard's definition in floating point, rounding quantisation.
#include "imaging/kernels/jpeg_encoder.h"

#include <algorithm>
#include <cmath>

namespace {

// The example tables of the standard (Annex K.1), natural order.
const std::uint8_t kLumaExample[64] = {
    16, 11, 10, 16, 24,  40,  51,  61,  12, 12, 14, 19, 26,  58,  60,  55,  14, 13, 16, 24, 40,  57,
    69, 56, 14, 17, 22,  29,  51,  87,  80, 62, 18, 22, 37,  56,  68,  109, 103, 77, 24, 35, 55,  64,
    81, 104, 113, 92, 49, 64, 78,  87,  103, 121, 120, 101, 72, 92, 95,  98,  112, 100, 103, 99,
};
const std::uint8_t kChromaExample[64] = {
    17, 18, 24, 47, 99, 99, 99, 99, 18, 21, 26, 66, 99, 99, 99, 99, 24, 26, 56, 99, 99, 99,
    99, 99, 47, 66, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99,
    99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99,
};

std::array<std::uint16_t, 64> Scaled(const std::uint8_t* example, int quality)
{
    int scale = quality < 50 ? 5000 / quality : 200 - 2 * quality;
    std::array<std::uint16_t, 64> table{};
    for (int k = 0; k < 64; ++k) table[k] = static_cast<std::uint16_t>(std::clamp((example[k] * scale + 50) / 100, 1, 255));
    return table;
}

// basis[u][x] = C(u) / 2 x cos((2x + 1) u pi / 16), C(0) = 1 / sqrt 2, C(u) = 1 otherwise.
struct Basis {
    float at[8][8];
    Basis()
    {
        for (int u = 0; u < 8; ++u) {
            for (int x = 0; x < 8; ++x) {
                double c = u == 0 ? std::sqrt(0.5) : 1.0;
                at[u][x] = static_cast<float>(c / 2 * std::cos((2 * x + 1) * u * 3.14159265358979323846 / 16));
            }
        }
    }
};

void ForwardDct(const float* samples, float* coefficients)
{
    static const Basis basis;
    float rows[64];
    for (int y = 0; y < 8; ++y) {
        for (int u = 0; u < 8; ++u) {
            float sum = 0;
            for (int x = 0; x < 8; ++x) sum += basis.at[u][x] * samples[y * 8 + x];
            rows[y * 8 + u] = sum;
        }
    }
    for (int v = 0; v < 8; ++v) {
        for (int u = 0; u < 8; ++u) {
            float sum = 0;
            for (int y = 0; y < 8; ++y) sum += basis.at[v][y] * rows[y * 8 + u];
            coefficients[v * 8 + u] = sum;
        }
    }
}

// The weights of blue, green and red in Y, Cb and Cr, and what is added: JFIF's conversion, level-shifted
// by 128.
const float kConversion[3][4] = {
    {0.114f, 0.587f, 0.299f, -128.0f},
    {0.5f, -0.331264f, -0.168736f, 0.0f},
    {-0.081312f, -0.418688f, 0.5f, 0.0f},
};

float Convert(const std::uint8_t* bgr, const float* weights)
{
    return weights[0] * bgr[0] + weights[1] * bgr[1] + weights[2] * bgr[2] + weights[3];
}

// The 64 samples of one block of a component: means of the pixels each sample covers, clamped to
// the image so that the padding repeats its last row and column.
void GatherBlock(const std::uint8_t* bgr, std::ptrdiff_t stride, const JpegImage& image, int index, int stepX,
                 int stepY, int blockX, int blockY, float* samples)
{
    for (int y = 0; y < 8; ++y) {
        for (int x = 0; x < 8; ++x) {
            float sum = 0;
            for (int j = 0; j < stepY; ++j) {
                int py = std::min((blockY * 8 + y) * stepY + j, image.heightPx - 1);
                const std::uint8_t* row = bgr + py * stride;
                for (int i = 0; i < stepX; ++i) {
                    int px = std::min((blockX * 8 + x) * stepX + i, image.widthPx - 1);
                    sum += Convert(row + 3 * px, kConversion[index]);
                }
            }
            samples[y * 8 + x] = sum / static_cast<float>(stepX * stepY);
        }
    }
}

}  // namespace

int EstimateJpegQuality(const std::array<std::uint16_t, 64>& luma)
{
    double ratio = 0;
    for (int k = 0; k < 64; ++k) ratio += static_cast<double>(luma[k]) / kLumaExample[k];
    double scale = ratio / 64 * 100;
    double quality = scale <= 100 ? (200 - scale) / 2 : 5000 / scale;
    return std::clamp(static_cast<int>(std::lround(quality)), 1, 100);
}

JpegImage JpegLayoutFor(int widthPx, int heightPx, int quality)
{
    JpegImage image;
    image.quant[0] = Scaled(kLumaExample, quality);
    image.quant[1] = Scaled(kChromaExample, quality);
    image.quantDefined = {true, true, false, false};
    for (std::uint8_t id = 1; id <= 3; ++id) {
        JpegComponent component;
        component.id = id;
        component.table = id == 1 ? 0 : 1;
        image.components.push_back(component);
    }
    SetJpegSize(image, widthPx, heightPx);
    return image;
}

bool EncodesFromPixels(const JpegImage& image)
{
    std::size_t count = image.components.size();
    if (count != 1 && count != 3) return false;
    int maxH = MaxH(image), maxV = MaxV(image);
    return std::all_of(image.components.begin(), image.components.end(), [&](const JpegComponent& component) {
        return maxH % component.h == 0 && maxV % component.v == 0 && image.quantDefined[component.table];
    });
}

void EncodeBgr(const std::uint8_t* bgr, std::ptrdiff_t stride, JpegImage& image)
{
    int maxH = MaxH(image), maxV = MaxV(image);
    for (std::size_t index = 0; index < image.components.size(); ++index) {
        JpegComponent& component = image.components[index];
        const std::array<std::uint16_t, 64>& table = image.quant[component.table];
        ClearBlocks(component);
        float samples[64], coefficients[64], reciprocal[64];
        for (int k = 0; k < 64; ++k) reciprocal[k] = 1.0f / table[k];
        std::int16_t block[64];
        for (int blockY = 0; blockY < component.blocksHigh; ++blockY) {
            for (int blockX = 0; blockX < component.blocksWide; ++blockX) {
                GatherBlock(bgr, stride, image, static_cast<int>(index), maxH / component.h, maxV / component.v, blockX,
                            blockY, samples);
                ForwardDct(samples, coefficients);
                for (int k = 0; k < 64; ++k) {
                    float scaled = coefficients[k] * reciprocal[k];  // rounded half away from zero
                    int quantised = scaled >= 0 ? static_cast<int>(scaled + 0.5f) : -static_cast<int>(0.5f - scaled);
                    block[k] = static_cast<std::int16_t>(std::clamp(quantised, k ? -1023 : -1024, 1023));
                }
                StoreBlock(component, static_cast<std::size_t>(blockY) * component.blocksWide + blockX, block);
            }
        }
    }
}
