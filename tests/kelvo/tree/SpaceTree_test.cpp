#include "kelvo/tree/SpaceTree.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <sstream>

#include "kelvo/app/kelvo.h"
#include "tests/kelvo/tree/tree_helpers.h"

namespace kelvo {
namespace {

using testing::SphereWorld;

int listLength(const vell::ListNode* n) {
    int count = 0;
    for (; n != nullptr; n = n->next) {
        ++count;
    }
    return count;
}

TEST(SpaceTree, EmptyAndUnbuiltTrees) {
    World fresh(0.0f);
    EXPECT_EQ(fresh.nodeCount, 0);
    EXPECT_EQ(fresh.elementCount, 0);
    EXPECT_EQ(fresh.averageDepth, 0.0f);
    int nodes = -1, elements = -1;
    EXPECT_EQ(fresh.tree.statistics(nodes, elements), 0.0);
    EXPECT_EQ(nodes, 0);
    EXPECT_EQ(elements, 0);

    fresh.buildTree();
    ASSERT_NE(fresh.tree.root, nullptr);
    EXPECT_TRUE(fresh.tree.root->isLeaf());
    EXPECT_EQ(fresh.tree.root->children[1], nullptr);
    EXPECT_EQ(fresh.tree.root->obstacles, nullptr);
    EXPECT_EQ(fresh.nodeCount, 1);
    EXPECT_EQ(fresh.elementCount, 0);
    EXPECT_EQ(fresh.averageDepth, 1.0f);

    // An unbuilt World traces black instead of walking a missing tree.
    World unbuilt(0.0f);
    vell::Colour out{1, 1, 1};
    EXPECT_EQ(unbuilt.trace({{0, 0, 0}, {0, 0, 1}}, out, 10), NO_HIT_DISTANCE);
    EXPECT_EQ(out, vell::black);
}

TEST(SpaceTree, SingleUnitSphereIsAChainOfSixSplits) {
    SphereWorld s({{1.0, {0, 0, 0}}});
    s.world.buildTree();
    EXPECT_EQ(s.world.nodeCount, 13);
    EXPECT_EQ(s.world.elementCount, 1);
    EXPECT_EQ(s.world.averageDepth, 2.96875f);

    const int axes[6] = {0, 0, 1, 1, 2, 2};
    const double splits[6] = {-1, 1, -1, 1, -1, 1};
    const STNode* node = s.world.tree.root;
    for (int i = 0; i < 6; ++i) {
        ASSERT_FALSE(node->isLeaf()) << "split " << i;
        EXPECT_EQ(node->axis, axes[i]) << "split " << i;
        EXPECT_EQ(node->split, splits[i]) << "split " << i;
        // The empty leaf lies on the far side of the plane.
        const int empty = splits[i] < 0 ? 0 : 1;
        EXPECT_TRUE(node->children[empty]->isLeaf());
        EXPECT_EQ(node->children[empty]->obstacles, nullptr);
        node = node->children[1 - empty];
    }
    ASSERT_TRUE(node->isLeaf());
    EXPECT_EQ(listLength(node->obstacles), 1);
    EXPECT_EQ(node->obstacles->item, s.spheres[0].get());
    Box unit;
    for (int a = 0; a < 3; ++a) {
        unit.min(a) = -1;
        unit.max(a) = 1;
    }
    EXPECT_EQ(node->border.bounds(), unit);
}

TEST(SpaceTree, EqualCandidatesGoToTheFaceMetFirstInBuildOrder) {
    // The build list reverses the World's list, which reverses the order of
    // addition: the slab added first offers its faces first.
    const testing::Slab left(-3, -1), right(1, 3);
    for (const bool leftFirst : {true, false}) {
        World world(0.0f);
        world.addObstacle(leftFirst ? &left : &right);
        world.addObstacle(leftFirst ? &right : &left);
        world.buildTree();
        ASSERT_FALSE(world.tree.root->isLeaf());
        EXPECT_EQ(world.tree.root->axis, 0);
        EXPECT_EQ(world.tree.root->split, leftFirst ? -1.0 : 1.0);
    }
    // Min before max: a slab centred on the origin splits at its min.
    const testing::Slab centred(-2, 2);
    World world(0.0f);
    world.addObstacle(&centred);
    world.buildTree();
    EXPECT_EQ(world.tree.root->split, -2.0);
    // Unbounded on one side, every finite face is equally far from the huge mid
    // in double arithmetic, so the first face in list order wins.
    const STNode* high = world.tree.root->children[1];
    ASSERT_FALSE(high->isLeaf());
    EXPECT_EQ(high->split, 2.0);
    EXPECT_EQ(world.nodeCount, 5);
}

void checkInvariants(const STNode* node, std::vector<const STNode*>& ancestors) {
    const Box region = node->border.bounds();
    for (int s = 0; s < 2; ++s) {
        for (int a = 0; a < 3; ++a) {
            const STNode* link = node->border.link(s, a);
            if (link != nullptr) {
                EXPECT_NE(std::find(ancestors.begin(), ancestors.end(), link), ancestors.end())
                    << "a border link points to an ancestor";
            }
        }
    }
    if (node->isLeaf()) {
        EXPECT_EQ(node->children[1], nullptr);
        return;
    }
    EXPECT_EQ(node->obstacles, nullptr) << "interior nodes list nothing";
    EXPECT_LT(region.min(node->axis), node->split);
    EXPECT_LT(node->split, region.max(node->axis));
    for (int j = 0; j < 2; ++j) {
        const STBorderNodes& child = node->children[j]->border;
        for (int s = 0; s < 2; ++s) {
            for (int a = 0; a < 3; ++a) {
                const STNode* expected =
                    (a == node->axis && s == 1 - j) ? node : node->border.link(s, a);
                EXPECT_EQ(child.link(s, a), expected);
            }
        }
    }
    ancestors.push_back(node);
    checkInvariants(node->children[0], ancestors);
    checkInvariants(node->children[1], ancestors);
    ancestors.pop_back();
}

std::string describe(const STNode* node, const std::vector<const Obstacle*>& order) {
    std::ostringstream out;
    if (node->isLeaf()) {
        out << "[";
        for (const vell::ListNode* n = node->obstacles; n != nullptr; n = n->next) {
            out << (std::find(order.begin(), order.end(), n->item) - order.begin()) << ",";
        }
        out << "]";
    } else {
        out << "(" << node->axis << ":" << node->split << " " << describe(node->children[0], order)
            << " " << describe(node->children[1], order) << ")";
    }
    return out.str();
}

TEST(SpaceTree, SceneTreeKeepsItsInvariantsAndIsTheSameOnEveryBuild) {
    Scene scene;
    EXPECT_EQ(scene.world.nodeCount, 833);
    EXPECT_EQ(scene.world.elementCount, 406);
    EXPECT_FLOAT_EQ(scene.world.averageDepth, 7.335205078125f);
    std::vector<const STNode*> ancestors;
    checkInvariants(scene.world.tree.root, ancestors);

    // The leaves tile the domain: every point lies in exactly one leaf's
    // interior or on its faces, and locate finds one of those.
    std::vector<const STNode*> leaves;
    testing::collectLeaves(scene.world.tree.root, leaves);
    EXPECT_EQ(static_cast<int>(leaves.size()), (scene.world.nodeCount + 1) / 2);
    std::mt19937_64 rng(7);
    std::uniform_real_distribution<double> coordinate(-4.0, 4.0);
    for (int i = 0; i < 2000; ++i) {
        const Vec3 p{coordinate(rng), coordinate(rng), coordinate(rng)};
        int inside = 0;
        for (const STNode* leaf : leaves) {
            const Box b = leaf->border.bounds();
            inside += p.x > b.min(0) && p.x < b.max(0) && p.y > b.min(1) && p.y < b.max(1) &&
                      p.z > b.min(2) && p.z < b.max(2);
        }
        ASSERT_EQ(inside, 1) << "point " << i;
    }

    std::vector<const Obstacle*> order;
    for (const auto& sphere : scene.spheres) {
        order.push_back(sphere.get());
    }
    const std::string first = describe(scene.world.tree.root, order);
    scene.world.buildTree();
    EXPECT_EQ(describe(scene.world.tree.root, order), first) << "a rebuild gives the same tree";
    EXPECT_EQ(scene.world.nodeCount, 833);
}

TEST(SpaceTree, LeavesListEveryObstacleThatReachesThemOnlyOncePerLeaf) {
    const Scene& scene = testing::sharedScene();
    std::vector<const STNode*> leaves;
    testing::collectLeaves(scene.world.tree.root, leaves);
    int elements = 0;
    for (const STNode* leaf : leaves) {
        const Box region = leaf->border.bounds();
        std::vector<const void*> seen;
        for (const vell::ListNode* n = leaf->obstacles; n != nullptr; n = n->next) {
            EXPECT_EQ(std::count(seen.begin(), seen.end(), n->item), 0);
            seen.push_back(n->item);
            Box clipped;
            EXPECT_TRUE(static_cast<const Obstacle*>(n->item)->touchesBox(region, clipped));
            ++elements;
        }
    }
    EXPECT_EQ(elements, scene.world.elementCount);
    EXPECT_GT(elements, 37) << "spheres reaching into several leaves count in each";
}

}  // namespace
}  // namespace kelvo
