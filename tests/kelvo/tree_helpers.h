#pragma once

// Small scenes for the tree, walk and tracing tests.

#include <memory>
#include <vector>

#include "kelvo/ObstacleSphere.h"
#include "kelvo/World.h"

namespace kelvo::testing {

inline const Surface plainSurface{vell::green, vell::black, 0.0f};

// A World over spheres it owns, added in the given order.
struct SphereWorld {
    explicit SphereWorld(const std::vector<SphereGeometry>& geometry,
                         const Surface* surface = &plainSurface, float absorption = 0.0f)
        : world(absorption) {
        for (const SphereGeometry& g : geometry) {
            spheres.push_back(std::make_unique<ObstacleSphere>(g, surface));
            world.addObstacle(spheres.back().get());
        }
    }
    World world;
    std::vector<std::unique_ptr<ObstacleSphere>> spheres;
};

inline Box regionOf(const STNode* node) { return node->border.bounds(); }

inline void collectLeaves(const STNode* node, std::vector<const STNode*>& out) {
    if (node->isLeaf()) {
        out.push_back(node);
        return;
    }
    collectLeaves(node->children[0], out);
    collectLeaves(node->children[1], out);
}

}  // namespace kelvo::testing

#include "kelvo/kelvo.h"

namespace kelvo::testing {

// The literal build takes seconds; tests that only read share one scene.
inline const Scene& sharedScene() {
    static const Scene scene;
    return scene;
}

}  // namespace kelvo::testing
