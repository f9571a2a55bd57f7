#include "kelvo/view/Observer.h"

#include <cmath>

namespace kelvo {

Observer::Observer(const Vec3& p, const Vec3& s, const Vec3& a, float f, const Vec3& acc,
                   const Vec3& rate, const Vec3& v)
    : Camera(p, s), friction(f), acceleration(acc), velocity(v), angles(a), rotationRate(rate) {
    updateBasis();
    updateMapping();
}

Observer::Observer(const Observer& other)
    : Camera(other),
      friction(other.friction),
      acceleration(other.acceleration),
      velocity(other.velocity),
      angles(other.angles),
      rotationRate(other.rotationRate) {
    updateBasis();
    updateMapping();
}

void Observer::updateBasis() {
    const double sp = std::sin(angles.x), cp = std::cos(angles.x);
    const double sy = std::sin(angles.y), cy = std::cos(angles.y);
    const double sr = std::sin(angles.z), cr = std::cos(angles.z);
    // The columns of Ry(yaw) * Rx(pitch) * Rz(roll).
    forward = {sy * cp, -sp, cp * cy};
    right = {cy * cr + sp * sy * sr, cp * sr, sp * cy * sr - sy * cr};
    up = {sp * sy * cr - cy * sr, cp * cr, sp * cy * cr + sy * sr};
}

void Observer::move(float dt) {
    // A NaN step would poison position and velocity for good.
    if (dt == 0.0f || std::isnan(dt)) {
        return;
    }
    angles.x += turn.x * rotationRate.x;
    angles.y += turn.y * rotationRate.y;
    angles.z += turn.z * rotationRate.z;
    updateBasis();
    const double a0 = thrust.x * acceleration.x * dt;
    const double a1 = thrust.y * acceleration.y * dt;
    const double a2 = thrust.z * acceleration.z * dt;
    for (int i = 0; i < 3; ++i) {
        velocity[i] += a0 * right[i] + a1 * up[i] + a2 * forward[i];
    }
    velocity *= std::pow(static_cast<double>(friction), static_cast<double>(dt));
    for (int i = 0; i < 3; ++i) {
        position[i] += velocity[i] * dt;
    }
    updateMapping();
}

}  // namespace kelvo
