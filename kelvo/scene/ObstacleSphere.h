#pragma once

#include "kelvo/scene/ObstacleBase.h"

namespace kelvo {

struct SphereGeometry {
    double radius = 1.0;
    Vec3 centre;
};

// The one concrete obstacle. The radius must be positive; nothing checks it.
class ObstacleSphere : public ObstacleBase {
public:
    ObstacleSphere(const SphereGeometry& geometry, const Surface* s);

    void setGeometry(const SphereGeometry& geometry);

    const Obstacle* intersectInterval(const Ray& ray, double& tNear,
                                      double& tFar) const override;
    const Obstacle* intersect(const Ray& ray, double& t) const override;
    bool contains(const Vec3& point) const override;
    void normalAt(const Ray& ray, const Vec3& point, Vec3& normal) const override;
    double distanceToLine(const Ray& ray) const override;
    bool touchesBox(const Box& box, Box& clipped) const override;
    Box& boundingBox(Box& out) const override;

    double radius = 1.0;
    Vec3 centre;
    // Kept so that a normal costs multiplications only.
    double inverseRadius = 1.0;

private:
    // Half the linear coefficient and the discriminant of the ray's quadratic;
    // false for a miss. A tangent ray (disc exactly 0) is a hit.
    bool solve(const Ray& ray, double& a, double& b, double& disc) const;
    bool inside(const Vec3& point) const;
};

}  // namespace kelvo
