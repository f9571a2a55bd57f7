#include "kelvo/view/Camera.h"

#include <cmath>

namespace kelvo {

Camera::Camera(const Vec3& p, const Vec3& r, const Vec3& u, const Vec3& f, const Vec3& s) {
    set(p, r, u, f, s);
}

Camera::Camera(const Vec3& p, const Vec3& s) : position(p), screen(s) {}

void Camera::set(std::optional<Vec3> newPosition, std::optional<Vec3> newRight,
                 std::optional<Vec3> newUp, std::optional<Vec3> newForward,
                 std::optional<Vec3> newScreen) {
    if (newPosition) {
        position = *newPosition;
    }
    if (newRight) {
        right = *newRight;
    }
    if (newUp) {
        up = *newUp;
    }
    if (newForward) {
        forward = *newForward;
    }
    if (newScreen) {
        screen = *newScreen;
    }
    updateMapping();
}

void Camera::setScreen(const Vec3& newScreen) {
    screen = newScreen;
    updateMapping();
}

void Camera::updateMapping() {
    const double w = screen.x;
    const double h = screen.y;
    const double d = screen.z;
    for (int i = 0; i < 3; ++i) {
        screenOrigin[i] = position[i] + (-0.5 * w) * right[i] + (0.5 * h) * up[i] + d * forward[i];
        screenAxes[i][0] = w * right[i];
        screenAxes[i][1] = h * -1.0 * up[i];
        screenAxes[i][2] = forward[i];
    }
}

Ray& Camera::rayThrough(const double point[2], Ray& out) const {
    const double u = point[0];
    const double v = point[1];
    Vec3 q;
    for (int i = 0; i < 3; ++i) {
        q[i] = screenOrigin[i] +
               (screenAxes[i][0] * u + screenAxes[i][1] * v + screenAxes[i][2] * 0.0);
    }
    const Vec3 d = q - position;
    out.origin = q;
    out.direction = d * (1.0 / std::sqrt(d.x * d.x + d.y * d.y + d.z * d.z));
    return out;
}

}  // namespace kelvo
