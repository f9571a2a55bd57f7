#include "kelvo/scene/ObstacleSphere.h"

#include <cmath>

namespace kelvo {

ObstacleSphere::ObstacleSphere(const SphereGeometry& geometry, const Surface* s)
    : ObstacleBase(s) {
    setGeometry(geometry);
}

void ObstacleSphere::setGeometry(const SphereGeometry& geometry) {
    centre = geometry.centre;
    radius = geometry.radius;
    inverseRadius = 1.0 / radius;
}

bool ObstacleSphere::solve(const Ray& ray, double& a, double& b, double& disc) const {
    const Vec3 e = ray.origin - centre;
    a = ray.direction.dot(ray.direction);
    b = e.dot(ray.direction);
    const double k = e.dot(e) - radius * radius;
    disc = b * b - a * k;
    return !(disc < 0.0);
}

const Obstacle* ObstacleSphere::intersectInterval(const Ray& ray, double& tNear,
                                                  double& tFar) const {
    double a, b, disc;
    if (!solve(ray, a, b, disc)) {
        return nullptr;
    }
    const double s = std::sqrt(disc);
    const double w = 1.0 / a;
    tNear = -(b + s) * w;
    tFar = (s - b) * w;
    return this;
}

const Obstacle* ObstacleSphere::intersect(const Ray& ray, double& t) const {
    double a, b, disc;
    if (!solve(ray, a, b, disc)) {
        return nullptr;
    }
    // Always the smaller root, also when negative: a ray from inside or from
    // the surface outwards never finds the sphere it starts in.
    t = -(b + std::sqrt(disc)) / a;
    return this;
}

bool ObstacleSphere::inside(const Vec3& point) const {
    const Vec3 e = point - centre;
    return radius * radius > e.dot(e);
}

bool ObstacleSphere::contains(const Vec3& point) const { return inside(point); }

void ObstacleSphere::normalAt(const Ray&, const Vec3& point, Vec3& normal) const {
    normal = (point - centre) * inverseRadius;
}

double ObstacleSphere::distanceToLine(const Ray& ray) const {
    const Vec3& o = ray.origin;
    const Vec3& d = ray.direction;
    const double m = (centre - o).dot(d);
    const Vec3 q = o + d * m - centre;
    return q.length() - radius;
}

Box& ObstacleSphere::boundingBox(Box& out) const {
    for (int a = 0; a < 3; ++a) {
        out.min(a) = centre[a] - radius;
        out.max(a) = centre[a] + radius;
    }
    return out;
}

bool ObstacleSphere::touchesBox(const Box& box, Box& clipped) const {
    unsigned insideCorners = 0;
    for (int corner = 0; corner < 8; ++corner) {
        const Vec3 p{(corner & 1) ? box.max(0) : box.min(0), (corner & 2) ? box.max(1) : box.min(1),
                     (corner & 4) ? box.max(2) : box.min(2)};
        if (inside(p)) {
            insideCorners |= 1u << corner;
        }
    }
    // The box lies within the solid sphere: the surface does not reach into it.
    if (insideCorners == 0xffu) {
        return false;
    }
    if (!Obstacle::touchesBox(box, clipped)) {
        return false;
    }
    if (insideCorners != 0) {
        return true;
    }
    // No corner inside: the surface may still pass through when the centre lies
    // strictly between the clipped faces on some axis. Conservative: a box the
    // sphere does not reach can answer true here.
    for (int a = 0; a < 3; ++a) {
        if ((clipped.min(a) - centre[a]) * (clipped.max(a) - centre[a]) < 0.0) {
            return true;
        }
    }
    return false;
}

}  // namespace kelvo
