#pragma once

#include "kelvo/view/Camera.h"

namespace kelvo {

// The camera the user flies: a basis from three angles, motion with inertia.
class Observer : public Camera {
public:
    Observer(const Vec3& position, const Vec3& screen, const Vec3& angles, float friction,
             const Vec3& acceleration, const Vec3& rotationRate, const Vec3& velocity);
    // Copies everything but the inputs, which the owner sets before each move.
    Observer(const Observer& other);
    Observer& operator=(const Observer&) = delete;

    void updateBasis();
    // Advances by one step of dt seconds. 0 and NaN change nothing.
    void move(float dt);

    // Along right, up, forward; each -1, 0 or +1 from the keys.
    Vec3 thrust;
    // Pitch, yaw, roll inputs.
    Vec3 turn;
    // Fraction of the velocity kept after one second.
    float friction;
    Vec3 acceleration;
    Vec3 velocity;
    // Pitch, yaw, roll in radians; never wrapped.
    Vec3 angles;
    // Radians per move per unit of turn input, whatever the time step.
    Vec3 rotationRate;
};

}  // namespace kelvo
