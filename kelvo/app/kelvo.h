#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "kelvo/scene/ObstacleSphere.h"
#include "kelvo/scene/PointLight.h"
#include "kelvo/scene/Surface.h"
#include "kelvo/view/Observer.h"
#include "kelvo/world/World.h"
#include "velllib/vell_list.h"

namespace kelvo {

// Makes a sphere of the given level and, above level 0, its children on every
// axis direction but the one back to its parent (axis -1: a root, all six).
// Every sphere is pushed at the front of list, depth first. surfaces holds
// one surface per level, 0 to level.
void addFlake(vell::ListNode*& list, const Surface* const* surfaces, int level,
              const Vec3& centre, double radius, int axis, int side);

// The flake of the program's own scene: two levels below the root.
inline constexpr int SCENE_LEVELS = 2;
// Levels whose sphere count still fits the counters of the tree and views.
inline constexpr int MAX_LEVELS = 11;

// Spheres of a flake with levels below the root: 1 + 6 (5^levels - 1) / 4.
long long flakeSpheres(int levels);
// What a flake's run takes at its peak, roughly: spheres, lists, the space
// tree of the surface-area build, the fast walk's copy of it, and each
// tracing thread's table of remembered next leaves.
std::uint64_t flakeBytes(int levels, int threads);

// The program's scene: three surfaces, a sphereflake (37 spheres at the
// scene's own levels), one white light, and the World over them with its tree
// built. Owns all of it.
struct Scene {
    explicit Scene(int levels = SCENE_LEVELS, TreeBuild build = TreeBuild::AUTOMATIC);
    ~Scene();
    Scene(const Scene&) = delete;
    Scene& operator=(const Scene&) = delete;

    // The observer the view starts from.
    static Observer makeObserver();

    // The smallest spheres', the middle levels' and the root's, in that order.
    std::unique_ptr<Surface> surfaces[3];
    std::vector<std::unique_ptr<ObstacleSphere>> spheres;  // in creation order
    PointLight light;
    // Newest first; kept, like the spheres, for the scene's whole life.
    vell::ListNode* sphereList = nullptr;
    World world;
};

}  // namespace kelvo
