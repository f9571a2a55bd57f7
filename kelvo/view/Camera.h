#pragma once

#include <optional>

#include "kelvo/scene/Ray.h"
#include "kelvo/scene/Vec3.h"

namespace kelvo {

// Maps normalised image points to primary rays. (0, 0) is the image plane's
// upper left corner, (1, 1) its lower right; v grows downwards.
class Camera {
public:
    Camera(const Vec3& position, const Vec3& right, const Vec3& up, const Vec3& forward,
           const Vec3& screen);
    virtual ~Camera() = default;
    Camera(const Camera&) = default;
    Camera& operator=(const Camera&) = default;

    // Each field given replaces its own; absent ones stay.
    void set(std::optional<Vec3> newPosition, std::optional<Vec3> newRight,
             std::optional<Vec3> newUp, std::optional<Vec3> newForward,
             std::optional<Vec3> newScreen);
    void setScreen(const Vec3& newScreen);
    void updateMapping();
    // The ray starts on the image plane, not at the eye.
    Ray& rayThrough(const double point[2], Ray& out) const;

    Vec3 position;
    Vec3 right;
    Vec3 up;
    Vec3 forward;
    // Width, height, and distance from the eye along forward.
    Vec3 screen;
    Vec3 screenOrigin;
    double screenAxes[3][3] = {};

protected:
    // For the Observer, which derives its basis itself.
    Camera(const Vec3& position, const Vec3& screen);
};

}  // namespace kelvo
