#pragma once

// Small scenes for the tree, walk and tracing tests.

#include <cstdint>
#include <memory>
#include <random>
#include <vector>

#include "kelvo/scene/ObstacleBase.h"
#include "kelvo/scene/ObstacleSphere.h"
#include "kelvo/world/World.h"

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

// count random spheres, some overlapping, centred in [-10, 10] on each axis,
// radii 0.05 to 1.5.
inline std::vector<SphereGeometry> randomSpheres(int count, std::uint32_t seed) {
    std::mt19937 random(seed);
    std::uniform_real_distribution<double> at(-10.0, 10.0), size(0.05, 1.5);
    std::vector<SphereGeometry> geometry;
    for (int i = 0; i < count; ++i) {
        geometry.push_back({size(random), {at(random), at(random), at(random)}});
    }
    return geometry;
}

inline Box regionOf(const STNode* node) { return node->border.bounds(); }

inline void collectLeaves(const STNode* node, std::vector<const STNode*>& out) {
    if (node->isLeaf()) {
        out.push_back(node);
        return;
    }
    collectLeaves(node->children[0], out);
    collectLeaves(node->children[1], out);
}

// An obstacle that only has faces on x: its box spans all of y and z beyond
// the tree's domain, so only x offers candidates.
class Slab final : public ObstacleBase {
public:
    Slab(double lo, double hi) : ObstacleBase(&plainSurface), lo_(lo), hi_(hi) {}
    const Obstacle* intersectInterval(const Ray&, double&, double&) const override { return nullptr; }
    const Obstacle* intersect(const Ray&, double&) const override { return nullptr; }
    void normalAt(const Ray&, const Vec3&, Vec3&) const override {}
    double distanceToLine(const Ray&) const override { return 0.0; }
    Box& boundingBox(Box& out) const override {
        Obstacle::boundingBox(out);
        out.min(0) = lo_;
        out.max(0) = hi_;
        return out;
    }

private:
    double lo_, hi_;
};

}  // namespace kelvo::testing

#include "kelvo/app/kelvo.h"

namespace kelvo::testing {

// The literal build takes seconds; tests that only read share one scene.
inline const Scene& sharedScene() {
    static const Scene scene;
    return scene;
}

}  // namespace kelvo::testing
