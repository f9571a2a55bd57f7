#pragma once

#include "kelvo/scene/Vec3.h"

namespace kelvo {

// Origin, then direction. The direction need not have unit length: a distance t
// names the point origin + t * direction.
struct Ray {
    Vec3 origin;
    Vec3 direction;

    constexpr Vec3 at(double t) const {
        return {origin.x + t * direction.x, origin.y + t * direction.y,
                origin.z + t * direction.z};
    }
};

}  // namespace kelvo
