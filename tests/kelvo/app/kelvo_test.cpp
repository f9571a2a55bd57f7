#include "kelvo/app/kelvo.h"

#include <gtest/gtest.h>

#include "tests/kelvo/tree/tree_helpers.h"

namespace kelvo {
namespace {

TEST(Scene, SphereflakeInCreationOrder) {
    const Scene& scene = testing::sharedScene();
    ASSERT_EQ(scene.spheres.size(), 37u);
    const struct {
        int index;
        Vec3 centre;
        double radius;
    } expected[] = {{0, {0, 0, 0}, 2.0},    {1, {-2, 0, 0}, 1.0},  {2, {-3, 0, 0}, 0.5},
                    {3, {-2, -1, 0}, 0.5},  {6, {-2, 0, 1}, 0.5},  {7, {2, 0, 0}, 1.0},
                    {8, {3, 0, 0}, 0.5},    {13, {0, -2, 0}, 1.0}, {14, {-1, -2, 0}, 0.5},
                    {19, {0, 2, 0}, 1.0},   {25, {0, 0, -2}, 1.0}, {30, {0, 0, -3}, 0.5},
                    {31, {0, 0, 2}, 1.0},   {36, {0, 0, 3}, 0.5}};
    for (const auto& e : expected) {
        EXPECT_EQ(scene.spheres[e.index]->centre, e.centre) << "sphere " << e.index;
        EXPECT_EQ(scene.spheres[e.index]->radius, e.radius) << "sphere " << e.index;
    }
    // The World's list runs in creation order.
    int i = 0;
    for (const vell::ListNode* n = scene.world.obstacles; n != nullptr; n = n->next, ++i) {
        ASSERT_EQ(n->item, scene.spheres[i].get());
    }
    EXPECT_EQ(i, 37);

    int perLevel[3] = {0, 0, 0};
    for (const auto& s : scene.spheres) {
        for (int level = 0; level < 3; ++level) {
            perLevel[level] += s->getSurface() == scene.surfaces[level].get();
        }
        // No child sits between its parent and grandparent.
        EXPECT_FALSE(s->centre == Vec3(1, 0, 0) || s->centre == Vec3(-1, 0, 0));
        for (const auto& other : scene.spheres) {
            EXPECT_TRUE(s == other || !(s->centre == other->centre)) << "no two alike";
        }
    }
    EXPECT_EQ(perLevel[0], 30);
    EXPECT_EQ(perLevel[1], 6);
    EXPECT_EQ(perLevel[2], 1);
    // The children of (2, 0, 0).
    for (int k = 8; k <= 12; ++k) {
        EXPECT_EQ((scene.spheres[k]->centre - Vec3(2, 0, 0)).length(), 1.0);
    }
}

TEST(Scene, SurfacesAndLight) {
    const Scene& scene = testing::sharedScene();
    const float reflectivity[3] = {0.0f, 0.5f, 1.0f};
    const float green[3] = {0.25f, 0.5f, 1.0f};
    for (int level = 0; level < 3; ++level) {
        const Surface& s = *scene.surfaces[level];
        EXPECT_EQ(s.reflectivity, reflectivity[level]);
        EXPECT_EQ(s.diffuse, vell::Colour(0.0f, green[level], 0.0f));
        EXPECT_EQ(s.emission, vell::black);
    }
    EXPECT_EQ(scene.light.position, Vec3(5, 10, -7));
    EXPECT_EQ(scene.light.colour, vell::white);
    EXPECT_EQ(scene.world.lights->item, &scene.light);
    EXPECT_EQ(scene.world.transmission, 1.0f);
}

TEST(Scene, FlakeOfLevelZeroIsOneSphere) {
    const Surface s{vell::green, vell::black, 0.0f};
    const Surface* table[3] = {&s, &s, &s};
    vell::ListNode* list = nullptr;
    addFlake(list, table, 0, {1, 2, 3}, 0.5, 1, -1);
    ASSERT_NE(list, nullptr);
    EXPECT_EQ(list->next, nullptr);
    auto* sphere = static_cast<ObstacleSphere*>(list->item);
    EXPECT_EQ(sphere->centre, Vec3(1, 2, 3));
    delete sphere;
    vell::freeList(list);

    // A level-1 sphere placed on -y of its parent gets no child on +y.
    addFlake(list, table, 1, {0, -2, 0}, 1.0, 1, -1);
    int count = 0;
    for (vell::ListNode* n = list; n != nullptr; n = n->next, ++count) {
        auto* child = static_cast<ObstacleSphere*>(n->item);
        EXPECT_FALSE(child->centre == Vec3(0, -1, 0));
        delete child;
    }
    EXPECT_EQ(count, 6);
    vell::freeList(list);
}

}  // namespace
}  // namespace kelvo

namespace kelvo {
namespace {

TEST(Scene, FlakesOfEveryDepthKeepTheRuleAndTheSurfacesOfRootMiddleAndSmallest) {
    const long long counts[] = {1, 7, 37, 187, 937, 4687, 23437, 117187};
    for (int levels = 0; levels <= 7; ++levels) {
        EXPECT_EQ(flakeSpheres(levels), counts[levels]);
    }
    EXPECT_GT(flakeBytes(8, 1), flakeBytes(7, 1));
    EXPECT_GT(flakeBytes(7, 2), flakeBytes(7, 1));
    for (int levels = 0; levels <= 4; ++levels) {
        const Scene flake(levels);
        ASSERT_EQ(static_cast<long long>(flake.spheres.size()), counts[levels]);
        const double smallest = 2.0 / (1 << levels);
        for (const auto& s : flake.spheres) {
            // The root's surface for the root, the smallest spheres' for the
            // smallest, the middle one between.
            const Surface* expected = s->radius == 2.0      ? flake.surfaces[2].get()
                                      : s->radius == smallest ? flake.surfaces[0].get()
                                                              : flake.surfaces[1].get();
            ASSERT_EQ(s->getSurface(), expected) << levels << " levels, radius " << s->radius;
        }
        // Each sphere but the root sits on the surface of one twice its size,
        // on an axis: the construction rule of the program's scene.
        for (const auto& s : flake.spheres) {
            int parents = 0;
            for (const auto& p : flake.spheres) {
                const Vec3 offset = s->centre - p->centre;
                const int zeros = (offset.x == 0.0) + (offset.y == 0.0) + (offset.z == 0.0);
                parents += p->radius == 2.0 * s->radius && zeros == 2 &&
                           offset.length() == p->radius;
            }
            ASSERT_EQ(parents, s->radius == 2.0 ? 0 : 1) << levels << " levels";
        }
        EXPECT_EQ(flake.world.builtBy, levels <= SCENE_LEVELS ? TreeBuild::TRIAL
                                                              : TreeBuild::SURFACE_AREA);
    }
}

}  // namespace
}  // namespace kelvo
