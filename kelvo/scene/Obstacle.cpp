#include "kelvo/scene/Obstacle.h"

namespace kelvo {

bool Obstacle::contains(const Vec3&) const { return false; }

Box& Obstacle::boundingBox(Box& out) const {
    for (int a = 0; a < 3; ++a) {
        out.min(a) = -OBSTACLE_UNBOUNDED;
        out.max(a) = OBSTACLE_UNBOUNDED;
    }
    return out;
}

bool Obstacle::touchesBox(const Box& box, Box& clipped) const {
    boundingBox(clipped);
    // Strict at every face: boxes that only share a face do not overlap.
    for (int a = 0; a < 3; ++a) {
        if (!(box.min(a) < clipped.max(a)) || !(box.max(a) > clipped.min(a))) {
            return false;
        }
    }
    for (int a = 0; a < 3; ++a) {
        if (box.min(a) > clipped.min(a)) {
            clipped.min(a) = box.min(a);
        }
        if (box.max(a) < clipped.max(a)) {
            clipped.max(a) = box.max(a);
        }
    }
    return true;
}

}  // namespace kelvo
