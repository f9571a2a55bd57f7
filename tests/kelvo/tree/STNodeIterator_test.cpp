#include "kelvo/tree/STNodeIterator.h"

#include <gtest/gtest.h>

#include <random>

#include "tests/kelvo/tree/tree_helpers.h"

namespace kelvo {
namespace {

using testing::regionOf;
using testing::SphereWorld;

Box box(Vec3 lo, Vec3 hi) { return Box{{lo.x, lo.y, lo.z, hi.x, hi.y, hi.z}}; }

class UnitSphereWalk : public ::testing::Test {
protected:
    void SetUp() override { s.world.buildTree(); }
    STNode* root() { return s.world.tree.root; }
    SphereWorld s{{{1.0, {0, 0, 0}}}};
    const double inf = ST_INFINITY;
};

TEST_F(UnitSphereWalk, DiagonalRayThroughAnEdgeVisitsAZeroLengthLeaf) {
    const Ray ray{{-5, -5, 0.5}, {1, 1, 0}};
    STNodeIterator walker(root());
    walker.locate(ray.origin);
    EXPECT_EQ(regionOf(walker.current), box({-inf, -inf, -inf}, {-1, inf, inf}));

    // Leaves x = -1 at t = 4, exactly on the edge with y = -1: the exit point
    // descends to the low side of y = -1.
    ASSERT_TRUE(walker.next(ray));
    EXPECT_EQ(regionOf(walker.current), box({-1, -inf, -inf}, {1, -1, inf}));
    ASSERT_TRUE(walker.next(ray));
    EXPECT_EQ(regionOf(walker.current), box({-1, -1, -1}, {1, 1, 1}));
    EXPECT_EQ(walker.current->obstacles->item, s.spheres[0].get());
    // x = 1 and y = 1 tie at t = 6; x wins, z is parallel and never chosen.
    ASSERT_TRUE(walker.next(ray));
    EXPECT_EQ(regionOf(walker.current), box({1, -inf, -inf}, {inf, inf, inf}));
    const STNode* last = walker.current;
    EXPECT_FALSE(walker.next(ray)) << "the domain's boundary ends the walk";
    EXPECT_EQ(walker.current, last);
}

TEST_F(UnitSphereWalk, AxisParallelRayLeavesOnlyThroughItsOwnAxis) {
    const Ray ray{{0.5, 0.5, -9}, {0, 0, 1}};
    STNodeIterator walker(root());
    walker.locate(ray.origin);
    std::vector<Box> seen{regionOf(walker.current)};
    while (walker.next(ray)) {
        seen.push_back(regionOf(walker.current));
    }
    ASSERT_EQ(seen.size(), 3u);
    EXPECT_EQ(seen[0], box({-1, -1, -inf}, {1, 1, -1}));
    EXPECT_EQ(seen[1], box({-1, -1, -1}, {1, 1, 1}));
    EXPECT_EQ(seen[2], box({-1, -1, 1}, {1, 1, inf}));

    // Pointing down an axis (d = 0 counts as the low side) walks backwards.
    const Ray back{{0.5, 0.5, 9}, {0, 0, -1}};
    walker.locate(back.origin);
    EXPECT_EQ(regionOf(walker.current), seen[2]);
    ASSERT_TRUE(walker.next(back));
    EXPECT_EQ(regionOf(walker.current), seen[1]);

    // A zero direction goes nowhere.
    EXPECT_FALSE(walker.next({{0, 0, 0}, {0, 0, 0}}));
}

TEST_F(UnitSphereWalk, LocateFindsTheLeafFromAnyStartAndPutsPlanesLow) {
    STNodeIterator walker(root());
    walker.locate({-1, 0, 0});
    EXPECT_EQ(regionOf(walker.current).max(0), -1.0) << "on a split plane: the low side";
    walker.locate({0, 0, 0});
    EXPECT_EQ(regionOf(walker.current), box({-1, -1, -1}, {1, 1, 1}));

    // From a leaf, a distant point is reached by climbing border links.
    walker.locate({7, 0, 0});
    EXPECT_EQ(regionOf(walker.current), box({1, -inf, -inf}, {inf, inf, inf}));
    walker.locate({0, 0, -7});
    EXPECT_EQ(regionOf(walker.current), box({-1, -1, -inf}, {1, 1, -1}));
    STNodeIterator fromRoot(root());
    fromRoot.locate({0, 0, -7});
    EXPECT_EQ(fromRoot.current, walker.current);

    // Beyond the domain: the walk stops at the unbounded face instead of
    // following a null link, and a ray going further out ends at once.
    walker.locate({0, -1e38, 0});
    EXPECT_TRUE(walker.current->isLeaf());
    EXPECT_EQ(regionOf(walker.current).min(1), -inf);
    EXPECT_FALSE(walker.next({{0, -1e38, 0}, {0, -1, 0}}));
    walker.locate({std::nan(""), 0, 0});
    EXPECT_TRUE(walker.current->isLeaf());
}

TEST(STNodeIterator, WalkVisitsContiguousLeavesAlongTheRayThroughTheScene) {
    const Scene& scene = testing::sharedScene();
    std::mt19937_64 rng(99);
    std::uniform_real_distribution<double> u(-1.0, 1.0);
    for (int i = 0; i < 300; ++i) {
        const Ray ray{{6 * u(rng), 6 * u(rng), 6 * u(rng)}, {u(rng), u(rng), u(rng)}};
        STNodeIterator walker(scene.world.tree.root);
        walker.locate(ray.origin);
        ASSERT_TRUE(walker.current->border.contains(&ray.origin.x));
        int steps = 0;
        const STNode* previous = walker.current;
        while (walker.next(ray)) {
            ASSERT_TRUE(walker.current->isLeaf());
            ASSERT_NE(walker.current, previous);
            // Consecutive leaves share the crossing point on their faces.
            const Box a = regionOf(previous), b = regionOf(walker.current);
            for (int k = 0; k < 3; ++k) {
                ASSERT_LE(b.min(k), a.max(k));
                ASSERT_LE(a.min(k), b.max(k));
            }
            previous = walker.current;
            ASSERT_LT(++steps, 1000);
        }
        // The last leaf is open on the side the ray leaves by.
        bool open = false;
        for (int k = 0; k < 3; ++k) {
            if (ray.direction[k] != 0.0) {
                open |= walker.current->border.link(ray.direction[k] > 0 ? 1 : 0, k) == nullptr;
            }
        }
        EXPECT_TRUE(open) << "ray " << i;
    }
}

}  // namespace
}  // namespace kelvo
