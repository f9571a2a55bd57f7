#include "kelvo/tree/SpaceTreeSahBuild.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "tests/kelvo/tree/tree_helpers.h"
#include "tests/kelvo/tree/walk_oracle.h"

namespace kelvo {
namespace {

// Everything wrong with a tree, as text: splits outside their regions, border
// links that are not the parent's with the one face replaced, and leaves that
// list other obstacles than those whose surface reaches into them.
class TreeCheck {
public:
    TreeCheck(const World& world) {
        for (const vell::ListNode* n = world.obstacles; n != nullptr; n = n->next) {
            obstacles_.push_back(static_cast<const Obstacle*>(n->item));
        }
        visit(world.tree.root, STBorderNodes{});
    }

    std::string problems;
    int leaves = 0;

private:
    void report(const std::string& what) {
        if (problems.size() < 2000) {
            problems += what + "\n";
        }
    }

    void visit(const STNode* node, const STBorderNodes& expected) {
        for (int f = 0; f < 6; ++f) {
            if (node->border.link(f / 3, f % 3) != expected.link(f / 3, f % 3)) {
                report("border link " + std::to_string(f) + " is not the parent's");
            }
        }
        const Box region = node->border.bounds();
        if (node->isLeaf()) {
            ++leaves;
            if (node->children[1] != nullptr) {
                report("a leaf with one child");
            }
            std::multiset<const void*> listed;
            for (const vell::ListNode* n = node->obstacles; n != nullptr; n = n->next) {
                listed.insert(n->item);
            }
            for (const Obstacle* o : obstacles_) {
                Box clipped;
                const std::size_t count = listed.count(o);
                const bool touches = o->touchesBox(region, clipped);
                if (count != (touches ? 1u : 0u)) {
                    report("a leaf lists an obstacle " + std::to_string(count) +
                           " times, its surface " + (touches ? "reaches" : "does not reach") +
                           " into the leaf");
                }
            }
            if (listed.size() > obstacles_.size()) {
                report("a leaf lists an obstacle the World does not hold");
            }
            return;
        }
        if (node->children[1] == nullptr || node->axis < 0 || node->axis > 2) {
            report("an interior node without two children or an axis");
            return;
        }
        if (!(region.min(node->axis) < node->split && node->split < region.max(node->axis))) {
            report("a split plane outside its node's region");
        }
        for (int j = 0; j < 2; ++j) {
            STBorderNodes child = node->border;
            child.link(1 - j, node->axis) = const_cast<STNode*>(node);
            visit(node->children[j], child);
        }
    }

    std::vector<const Obstacle*> obstacles_;
};

// The nearest hit over all spheres of the World, in its list order (the
// first of equally near ones wins).
const Obstacle* bruteForceHit(const World& world, const Ray& ray, double& t) {
    const Obstacle* best = nullptr;
    t = NO_HIT_DISTANCE;
    for (const vell::ListNode* n = world.obstacles; n != nullptr; n = n->next) {
        double u = 0.0;
        const Obstacle* hit = static_cast<const Obstacle*>(n->item)->intersect(ray, u);
        if (hit != nullptr && u > 0.0 && u < t) {
            t = u;
            best = hit;
        }
    }
    return best;
}

// Rays from around and inside the scene, and from the spheres' surfaces.
int bruteForceMismatches(const World& world, std::uint64_t seed, int rays, double reach) {
    std::mt19937_64 random(seed);
    std::uniform_real_distribution<double> inside(-reach, reach);
    std::uniform_real_distribution<double> unit(-1.0, 1.0);
    std::vector<const ObstacleSphere*> spheres;
    for (const vell::ListNode* n = world.obstacles; n != nullptr; n = n->next) {
        spheres.push_back(static_cast<const ObstacleSphere*>(n->item));
    }
    int wrong = 0;
    for (int i = 0; i < rays; ++i) {
        Ray ray{{inside(random), inside(random), inside(random)},
                {unit(random), unit(random), unit(random)}};
        if (i % 3 == 0) {
            // From a sphere's surface outwards, as mirrored and shadow rays go.
            const ObstacleSphere& s = *spheres[random() % spheres.size()];
            const Vec3 n = ray.direction * (1.0 / ray.direction.length());
            ray.origin = s.centre + n * s.radius;
        }
        double expected = 0.0;
        const Obstacle* truth = bruteForceHit(world, ray, expected);
        const testing::LiteralHit walked = testing::literalHit(world, ray);
        if (walked.obstacle != truth || (truth != nullptr && !testing::sameBits(walked.t, expected))) {
            ++wrong;
        }
    }
    return wrong;
}

std::vector<SphereGeometry> randomSpheres(std::uint64_t seed, int count, bool twins = true) {
    std::mt19937_64 random(seed);
    std::uniform_real_distribution<double> place(-10.0, 10.0);
    std::uniform_real_distribution<double> size(0.05, 1.5);
    std::vector<SphereGeometry> spheres;
    for (int i = 0; i < count; ++i) {
        spheres.push_back({size(random), {place(random), place(random), place(random)}});
        if (twins && i % 50 == 7) {
            spheres.push_back(spheres.back());  // an exact twin
        }
    }
    return spheres;
}

TEST(SpaceTreeSahBuild, BuildsValidTreesWhoseWalkFindsTheNearestOfAllSpheres) {
    const Scene flake(3, TreeBuild::SURFACE_AREA);
    ASSERT_EQ(flake.world.builtBy, TreeBuild::SURFACE_AREA);
    TreeCheck flakeCheck(flake.world);
    EXPECT_EQ(flakeCheck.problems, "") << "flake of 187 spheres";
    // Leaves of a few spheres each: a walk crosses many of them.
    EXPECT_GT(flakeCheck.leaves, 20);
    EXPECT_EQ(bruteForceMismatches(flake.world, 21, 4000, 5.0), 0);

    for (int scene = 0; scene < 3; ++scene) {
        testing::SphereWorld s(randomSpheres(400 + scene, 150 + 100 * scene));
        s.world.buildTree(TreeBuild::SURFACE_AREA);
        TreeCheck check(s.world);
        EXPECT_EQ(check.problems, "") << "random scene " << scene;
        EXPECT_EQ(bruteForceMismatches(s.world, 31 + scene, 3000, 12.0), 0) << "random scene " << scene;
    }

    // No obstacles: one empty leaf, as the trial build makes it.
    World empty(0.0f);
    empty.buildTree(TreeBuild::SURFACE_AREA);
    ASSERT_NE(empty.tree.root, nullptr);
    EXPECT_TRUE(empty.tree.root->isLeaf());
    EXPECT_EQ(empty.nodeCount, 1);
}

TEST(SpaceTreeSahBuild, IsChosenForLargeScenesOnly) {
    // The program's scene keeps the trial build's tree.
    EXPECT_EQ(testing::sharedScene().world.builtBy, TreeBuild::TRIAL);
    EXPECT_EQ(testing::sharedScene().world.nodeCount, 833);

    testing::SphereWorld large(randomSpheres(5, TRIAL_BUILD_LIMIT + 1, false));
    large.world.buildTree();
    EXPECT_EQ(large.world.builtBy, TreeBuild::SURFACE_AREA);
}

}  // namespace
}  // namespace kelvo
