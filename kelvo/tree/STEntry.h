#pragma once

#include "kelvo/scene/Box.h"
#include "kelvo/scene/Obstacle.h"

namespace kelvo {

// A build-time element: an obstacle and its box.
struct STEntry {
    const Obstacle* obstacle;
    Box box;

    explicit STEntry(const Obstacle* o) : obstacle(o) { o->boundingBox(box); }
    STEntry(const Obstacle* o, const Box& b) : obstacle(o), box(b) {}
};

}  // namespace kelvo
