#pragma once

#include "velllib/colour.h"

namespace kelvo {

// How a hit point looks. Shared by reference among the obstacles that use it.
struct Surface {
    // Lit by the point lights; exactly black means the lights are not evaluated.
    vell::Colour diffuse;
    // What every hit starts with, whatever the lights.
    vell::Colour emission;
    // Weight of the mirrored ray's colour; exactly 0.0 traces no mirrored ray.
    float reflectivity = 0.0f;

    constexpr Surface() = default;
    constexpr Surface(const vell::Colour& d, const vell::Colour& e, float reflect)
        : diffuse(d), emission(e), reflectivity(reflect) {}

    constexpr bool isLitByLights() const { return !(diffuse == vell::black); }
    constexpr bool reflects() const { return reflectivity != 0.0f; }
};

}  // namespace kelvo
