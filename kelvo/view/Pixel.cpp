#include "kelvo/view/Pixel.h"

#include <cmath>

namespace kelvo {

std::uint32_t packColour(const vell::Colour& colour) {
    auto channel = [](float c) -> std::uint32_t {
        const float t = c * 255.0f;
        // Negative and NaN components give 0; the default rounding mode rounds
        // halves to even.
        if (!(t > 0.0f)) {
            return 0;
        }
        const float n = std::nearbyint(t);
        return n < 255.0f ? static_cast<std::uint32_t>(n) : 255u;
    };
    return channel(colour.b) | channel(colour.g) << 8 | channel(colour.r) << 16;
}

}  // namespace kelvo
