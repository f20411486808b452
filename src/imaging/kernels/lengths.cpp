// Rounding of lengths to whole pixels and of resolutions to whole DPI: add 0.5, truncate toward zero.
#include "imaging/kernels/lengths.h"

#include <cmath>
#include <limits>

int MMToPixels(int tenthsMM, int dpi)
{
    double pixels = tenthsMM / 254.0 * dpi + 0.5;
    // Converting a double beyond int's range is undefined; such lengths are far beyond any page anyway.
    if (pixels >= std::numeric_limits<int>::max()) return std::numeric_limits<int>::max();
    if (pixels <= std::numeric_limits<int>::min()) return std::numeric_limits<int>::min();
    return static_cast<int>(pixels);
}

int ScaledLength(int length, double factor)
{
    double scaled = length * factor + 0.5;
    if (!std::isfinite(scaled) || scaled >= std::numeric_limits<int>::max()) {
        return -1;
    }
    int pixels = static_cast<int>(scaled);
    return pixels < 1 ? 1 : pixels;
}

float WholeDpi(float dpi)
{
    return std::trunc(dpi + 0.5f);
}
