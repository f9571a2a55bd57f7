#include "kelvo/fast/LightBlockers.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

#include "kelvo/app/kelvo.h"
#include "kelvo/fast/PacketWalk.h"
#include "kelvo/world/World.h"
#include "tests/kelvo/tree/tree_helpers.h"

namespace kelvo {
namespace {

// The literal shadow query: the nearest hit from p's leaf towards the light,
// blocking when 0 < u < 1.
bool literalBlocked(const World& world, const Vec3& p, const Vec3& l) {
    STNodeIterator walker(world.tree.root);
    walker.locate(p);
    double u = 0.0;
    const Obstacle* blocker = World::nearestHit({p, l}, u, walker, nullptr);
    return blocker != nullptr && u > 0.0 && u < 1.0;
}

// Shadow queries from points on every sphere (where the shadow rays start),
// from points between them and from points on the tree's split planes, to
// each light: answered as the literal query answers them. Returns the number
// of queries the blockers answered.
int expectLiteralAnswers(const World& world, const std::vector<Vec3>& lights, std::uint32_t seed) {
    const FastWalk walk(world);
    EXPECT_TRUE(walk.usable());
    std::mt19937 random(seed);
    std::uniform_real_distribution<double> unit(-1.0, 1.0);
    std::vector<Vec3> points;
    for (int s = 0; s < walk.obstacleCount(); ++s) {
        const FastWalk::Sphere& sphere = walk.sphere(s);
        const Vec3 centre{sphere.centre[0], sphere.centre[1], sphere.centre[2]};
        const double radius = std::sqrt(sphere.radiusSquared);
        for (int k = 0; k < 24; ++k) {
            Vec3 d{unit(random), unit(random), unit(random)};
            d = d * (1.0 / d.length());
            points.push_back(centre + d * radius);
            points.push_back(centre + d * (radius * (1.0 + 0.5 * std::fabs(unit(random)))));
        }
        // The poles, on the planes the builds like to split at.
        for (int a = 0; a < 3; ++a) {
            Vec3 pole = centre;
            (a == 0 ? pole.x : a == 1 ? pole.y : pole.z) += radius;
            points.push_back(pole);
        }
    }
    std::vector<const STNode*> leaves;
    testing::collectLeaves(world.tree.root, leaves);
    for (const STNode* leaf : leaves) {
        const Box box = testing::regionOf(leaf);
        // A corner of the leaf where it is bounded, and the middle of a face.
        Vec3 corner, face;
        for (int a = 0; a < 3; ++a) {
            const double lo = std::max(box.min(a), -50.0), hi = std::min(box.max(a), 50.0);
            (a == 0 ? corner.x : a == 1 ? corner.y : corner.z) = lo;
            (a == 0 ? face.x : a == 1 ? face.y : face.z) = a == 0 ? lo : 0.5 * (lo + hi);
        }
        points.push_back(corner);
        points.push_back(face);
    }

    int answered = 0;
    for (const Vec3& light : lights) {
        const LightBlockers blockers(walk, light);
        // Every query one by one, and all together in lanes.
        std::vector<double> point[3], towards[3];
        for (const Vec3& p : points) {
            const Vec3 l = light - p;
            const double pc[3] = {p.x, p.y, p.z}, lc[3] = {l.x, l.y, l.z};
            for (int c = 0; c < 3; ++c) {
                point[c].push_back(pc[c]);
                towards[c].push_back(lc[c]);
            }
        }
        const double* pointLanes[3] = {point[0].data(), point[1].data(), point[2].data()};
        const double* towardsLanes[3] = {towards[0].data(), towards[1].data(), towards[2].data()};
        // In lanes on every instruction set this CPU runs.
        std::vector<std::vector<LightBlockers::Answer>> together;
#if defined(KELVO_PACKETS)
        for (int set = 0; set < PacketWalk::compiledSets(); ++set) {
            PacketWalk::useOnly(set);
#else
        {
#endif
            together.emplace_back(points.size());
            blockers.blockedAll(pointLanes, towardsLanes, static_cast<int>(points.size()),
                                together.back().data());
        }
#if defined(KELVO_PACKETS)
        PacketWalk::useAll();
#endif
        int blocked = 0;
        for (std::size_t q = 0; q < points.size(); ++q) {
            const Vec3& p = points[q];
            const Vec3 l = light - p;
            const LightBlockers::Answer answer = blockers.blocked(p, l);
            for (const std::vector<LightBlockers::Answer>& lanes : together) {
                if (lanes[q] != answer) {
                    ADD_FAILURE() << "in lanes " << int{lanes[q]} << ", alone " << int{answer}
                                  << ": point " << p.x << "," << p.y << "," << p.z;
                    return answered;
                }
            }
            if (answer == LightBlockers::ASK_THE_WALK) {
                continue;
            }
            ++answered;
            const bool expected = literalBlocked(world, p, l);
            blocked += expected;
            if ((answer == LightBlockers::BLOCKED) != expected) {
                ADD_FAILURE() << "light " << light.x << "," << light.y << "," << light.z
                              << " point " << p.x << "," << p.y << "," << p.z << ": literal "
                              << (expected ? "blocked" : "reaches");
                return answered;
            }
        }
        // Both answers must have been given, or the scene tests nothing.
        EXPECT_GT(blocked, 0) << "light " << light.x << "," << light.y << "," << light.z;
        EXPECT_LT(blocked, static_cast<int>(points.size()));
    }
    return answered;
}

TEST(LightBlockers, AnswerEveryShadowQueryAsTheLiteralWalkDoes) {
    // The scene and a deeper flake from the surface-area build, with the
    // scene's light, a light among the spheres, one on a sphere's surface
    // (queries from across it meet it at u = 1) and one on a split plane.
    for (const int levels : {2, 3}) {
        SCOPED_TRACE(levels);
        const Scene scene(levels, levels == 2 ? TreeBuild::TRIAL : TreeBuild::SURFACE_AREA);
        const ObstacleSphere& root = *scene.spheres.front();
        const Vec3 top = root.centre + Vec3{0.0, root.radius, 0.0};
        const STNode* split = scene.world.tree.root;
        const double plane =
            split->isLeaf() ? 0.0 : testing::regionOf(split->children[1]).min(split->axis);
        Vec3 onPlane = root.centre + Vec3{root.radius * 1.5, root.radius * 0.3, root.radius * 0.2};
        if (!split->isLeaf()) {
            (split->axis == 0 ? onPlane.x : split->axis == 1 ? onPlane.y : onPlane.z) = plane;
        }
        const std::vector<Vec3> lights = {
            scene.light.position, root.centre + Vec3{0.2, 1.1, 0.3} * root.radius, top, onPlane};
        EXPECT_GT(expectLiteralAnswers(scene.world, lights, 7u + levels), 1000);
    }

    // A few hundred random spheres, some overlapping, the light inside their
    // box: cells of every size of list.
    testing::SphereWorld spheres(testing::randomSpheres(300, 11));
    spheres.world.buildTree(TreeBuild::SURFACE_AREA);
    EXPECT_GT(expectLiteralAnswers(spheres.world, {{0.5, 0.25, -0.125}, {30, 20, -25}}, 5u), 1000);
}

}  // namespace
}  // namespace kelvo
