#pragma once

#include "kelvo/scene/Box.h"
#include "kelvo/scene/Ray.h"
#include "kelvo/scene/Surface.h"
#include "kelvo/scene/Vec3.h"

namespace kelvo {

// The coordinate of an obstacle's unbounded box: the largest finite float, held
// as a double. Kept apart from the space tree's own, smaller infinity.
inline constexpr double OBSTACLE_UNBOUNDED = 3.4028234663852886e38;

// Everything a ray can hit. All operations only read the obstacle, so any
// number of rays may ask it at once.
class Obstacle {
public:
    virtual ~Obstacle() = default;

    // Both distances of the ray's passage, written only on a hit; returns the
    // obstacle hit or null.
    virtual const Obstacle* intersectInterval(const Ray& ray, double& tNear,
                                              double& tFar) const = 0;
    // The nearer distance, whatever its sign, written only on a hit.
    virtual const Obstacle* intersect(const Ray& ray, double& t) const = 0;
    virtual bool contains(const Vec3& point) const;
    virtual void normalAt(const Ray& ray, const Vec3& point, Vec3& normal) const = 0;
    virtual double distanceToLine(const Ray& ray) const = 0;
    virtual const Surface* getSurface() const = 0;
    // Whether the obstacle may reach into box. clipped receives the bounding box
    // clipped to box (the general test) or is left alone where a subclass can
    // answer without it.
    virtual bool touchesBox(const Box& box, Box& clipped) const;
    virtual Box& boundingBox(Box& out) const;
};

}  // namespace kelvo
