#pragma once

#include "kelvo/scene/Vec3.h"
#include "velllib/colour.h"

namespace kelvo {

// Light from one point in all directions. The World refers to it, never owns it.
struct PointLight {
    Vec3 position;
    vell::Colour colour;

    constexpr PointLight(const Vec3& p, const vell::Colour& c) : position(p), colour(c) {}
};

}  // namespace kelvo
