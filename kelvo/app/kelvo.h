#pragma once

#include <memory>
#include <vector>

#include "kelvo/scene/ObstacleSphere.h"
#include "kelvo/scene/PointLight.h"
#include "kelvo/scene/Surface.h"
#include "kelvo/view/Observer.h"
#include "kelvo/world/World.h"
#include "velllib/vell_list.h"

namespace kelvo {

// Makes a sphere of the given level and, below level 0, its children on every
// axis direction but the one back to its parent (axis -1: a root, all six).
// Every sphere is pushed at the front of list, depth first.
void addFlake(vell::ListNode*& list, const Surface* const surfaces[3], int level,
              const Vec3& centre, double radius, int axis, int side);

// The program's one scene: three surfaces, 37 spheres, one white light, and the
// World over them with its tree built. Owns all of it.
struct Scene {
    Scene();
    ~Scene();
    Scene(const Scene&) = delete;
    Scene& operator=(const Scene&) = delete;

    // The observer the view starts from.
    static Observer makeObserver();

    std::unique_ptr<Surface> surfaces[3];
    std::vector<std::unique_ptr<ObstacleSphere>> spheres;  // in creation order
    PointLight light;
    // Newest first; kept, like the spheres, for the scene's whole life.
    vell::ListNode* sphereList = nullptr;
    World world;
};

}  // namespace kelvo
