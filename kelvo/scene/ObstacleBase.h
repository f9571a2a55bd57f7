#pragma once

#include "kelvo/scene/Obstacle.h"

namespace kelvo {

// An obstacle with a surface. The surface is shared and never owned.
class ObstacleBase : public Obstacle {
public:
    explicit ObstacleBase(const Surface* s) : surface(s) {}

    const Surface* getSurface() const override;

    const Surface* const surface;
};

}  // namespace kelvo
