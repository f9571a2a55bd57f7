#pragma once

#include "kelvo/scene/Ray.h"
#include "kelvo/scene/Vec3.h"
#include "kelvo/tree/STNode.h"

namespace kelvo {

// Walks a ray through the leaves of a space tree in the order the ray meets
// them. A small value made anew for every query; it must not outlive the tree.
class STNodeIterator {
public:
    explicit STNodeIterator(STNode* node) : current(node) {}

    // Moves to the leaf that contains the point, from any node of the tree.
    void locate(const Vec3& point);
    // Steps to the leaf beyond the face through which the ray leaves the current
    // one; false when that face is the domain's boundary (current unchanged).
    bool next(const Ray& ray);

    STNode* current;

private:
    void descend(const Vec3& point);
};

}  // namespace kelvo
