#include "kelvo/app/kelvo.h"

#include <cmath>

namespace kelvo {

void addFlake(vell::ListNode*& list, const Surface* const* surfaces, int level,
              const Vec3& centre, double radius, int axis, int side) {
    vell::pushFront(list, new ObstacleSphere({radius, centre}, surfaces[level]));
    if (level == 0) {
        return;
    }
    const double childRadius = 0.5 * radius;
    for (int i = 0; i < 3; ++i) {
        if (i != axis || side == -1) {
            Vec3 c = centre;
            c[i] = centre[i] + -1.0 * radius;
            addFlake(list, surfaces, level - 1, c, childRadius, i, -1);
        }
        if (i != axis || side == 1) {
            Vec3 c = centre;
            c[i] = centre[i] + 1.0 * radius;
            addFlake(list, surfaces, level - 1, c, childRadius, i, 1);
        }
    }
}

long long flakeSpheres(int levels) {
    long long power = 1;
    for (int i = 0; i < levels; ++i) {
        power *= 5;
    }
    return 1 + 6 * (power - 1) / 4;
}

std::uint64_t flakeBytes(int levels, int threads) {
    // Per sphere about 0.8 leaves, 1.6 nodes and 3 leaf entries, in the tree
    // and again in the fast walk; a thread's next-leaf table takes six slots
    // per leaf. Rounded up, with room for the picture and the program.
    constexpr std::uint64_t SHARED_BYTES_PER_SPHERE = 1024;
    constexpr std::uint64_t THREAD_BYTES_PER_SPHERE = 320;
    constexpr std::uint64_t BASE_BYTES = std::uint64_t{64} << 20;
    const auto spheres = static_cast<std::uint64_t>(flakeSpheres(levels));
    return BASE_BYTES + spheres * (SHARED_BYTES_PER_SPHERE +
                                   THREAD_BYTES_PER_SPHERE * static_cast<std::uint64_t>(threads));
}

Scene::Scene(int levels, TreeBuild build) : light({5.0, 10.0, -7.0}, vell::white), world(0.0f) {
    world.addLight(&light);

    // Level 2 is the root, level 0 the smallest spheres.
    const float reflectivity[3] = {0.0f, 0.5f, 1.0f};
    for (int level = 2; level >= 0; --level) {
        const float k = static_cast<float>(std::pow(0.5, 2 - level));
        surfaces[level] = std::make_unique<Surface>(vell::green * k,
                                                    vell::black * (0.5f * (1.0f - k)),
                                                    reflectivity[level]);
    }
    // The root keeps the root's surface and the smallest spheres theirs; every
    // level between takes the middle one.
    std::vector<const Surface*> table(static_cast<std::size_t>(levels) + 1, surfaces[1].get());
    table.front() = surfaces[0].get();
    table.back() = surfaces[2].get();

    addFlake(sphereList, table.data(), levels, {0.0, 0.0, 0.0}, 2.0, -1, 0);
    // The sphere list runs newest first; pushing each at the World's front
    // leaves the World's list in creation order, root first.
    for (vell::ListNode* n = sphereList; n != nullptr; n = n->next) {
        world.addObstacle(static_cast<const Obstacle*>(n->item));
    }
    for (vell::ListNode* n = world.obstacles; n != nullptr; n = n->next) {
        spheres.emplace_back(static_cast<ObstacleSphere*>(n->item));
    }
    vell::compactNodes();
    world.buildTree(build);
    vell::compactNodes();
}

Scene::~Scene() { vell::freeList(sphereList); }

Observer Scene::makeObserver() {
    const double rate = static_cast<double>(0.08f);
    return Observer({0.0, 0.0, -10.0}, {0.5, 0.5, 0.66}, {0.0, 0.0, 0.0}, 0.5f,
                    {10.0, 10.0, 10.0}, {rate, rate, rate}, {0.0, 0.0, 0.0});
}

}  // namespace kelvo
