#include "kelvo/scene/ObstacleSphere.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>

namespace kelvo {
namespace {

const Surface plain{vell::green, vell::black, 0.0f};

ObstacleSphere sphere(double r, Vec3 c = {}) { return ObstacleSphere({r, c}, &plain); }

Box box(Vec3 lo, Vec3 hi) { return Box{{lo.x, lo.y, lo.z, hi.x, hi.y, hi.z}}; }

TEST(ObstacleSphere, RootsOfTheQuadratic) {
    const ObstacleSphere unit = sphere(1.0);
    double t = 99.0, tNear = 99.0, tFar = 99.0;

    // Tangent: disc is exactly 0.0 and counts as a hit.
    const Ray graze{{1, 0, -5}, {0, 0, 1}};
    EXPECT_EQ(unit.intersect(graze, t), &unit);
    EXPECT_EQ(t, 5.0);
    EXPECT_EQ(unit.intersectInterval(graze, tNear, tFar), &unit);
    EXPECT_EQ(tNear, 5.0);
    EXPECT_EQ(tFar, 5.0);

    const Ray fromCentre{{0, 0, 0}, {1, 0, 0}};
    EXPECT_EQ(unit.intersect(fromCentre, t), &unit);
    EXPECT_EQ(t, -1.0);
    unit.intersectInterval(fromCentre, tNear, tFar);
    EXPECT_EQ(tNear, -1.0);
    EXPECT_EQ(tFar, 1.0);

    // Distances are in units of the direction's length.
    unit.intersect({{0, 0, -5}, {0, 0, 2}}, t);
    EXPECT_EQ(t, 2.0);

    // Leaving the surface outwards: the near root is negative.
    unit.intersect({{0.6, 0.8, 0}, {0.6, 0.8, 0.1}}, t);
    EXPECT_LT(t, 0.0);

    t = 42.0;
    EXPECT_EQ(unit.intersect({{1.0000001, 0, -5}, {0, 0, 1}}, t), nullptr);
    EXPECT_EQ(unit.intersectInterval({{0, 2, -5}, {0, 0, 1}}, tNear, tFar), nullptr);
    EXPECT_EQ(t, 42.0) << "a miss writes nothing";
}

TEST(ObstacleSphere, GridOfParallelRaysHitsExactlyTheDisc) {
    const ObstacleSphere s = sphere(1.0, {0.5, -0.25, 3});
    // Multiples of 1/8 keep every square exact, so the disc's rim is decided exactly.
    for (int i = -12; i <= 12; ++i) {
        for (int j = -12; j <= 12; ++j) {
            const double x = i / 8.0, y = j / 8.0;
            double t = 0.0;
            const bool hit = s.intersect({{0.5 + x, -0.25 + y, -10}, {0, 0, 1}}, t) != nullptr;
            ASSERT_EQ(hit, x * x + y * y <= 1.0) << "x " << x << " y " << y;
            if (hit) {
                EXPECT_NEAR(t, 13.0 - std::sqrt(1.0 - x * x - y * y), 1e-12);
            }
        }
    }
}

TEST(ObstacleSphere, PointsNormalsBoxesAndLines) {
    const ObstacleSphere unit = sphere(1.0);
    EXPECT_FALSE(unit.contains({1, 0, 0})) << "the surface is not inside";
    EXPECT_TRUE(unit.contains({0.5, 0.5, 0.5}));

    const ObstacleSphere s = sphere(2.0, {1, 2, 3});
    Box b;
    EXPECT_EQ(&s.boundingBox(b), &b);
    EXPECT_EQ(b, box({-1, 0, 1}, {3, 4, 5}));
    Vec3 n;
    s.normalAt({}, {1, 2, 5}, n);
    EXPECT_EQ(n, Vec3(0, 0, 1));
    EXPECT_EQ(s.inverseRadius, 0.5);

    EXPECT_DOUBLE_EQ(unit.distanceToLine({{-5, 3, 0}, {1, 0, 0}}), 2.0);
    EXPECT_DOUBLE_EQ(unit.distanceToLine({{-5, 0.5, 0}, {1, 0, 0}}), -0.5);
}

TEST(ObstacleSphere, TouchesBoxAnswersForTheSixCasesOfTheUnitSphere) {
    const ObstacleSphere unit = sphere(1.0);
    const Box untouched = box({9, 9, 9}, {9, 9, 9});
    Box clipped = untouched;
    EXPECT_FALSE(unit.touchesBox(box({-0.5, -0.5, -0.5}, {0.5, 0.5, 0.5}), clipped));
    EXPECT_EQ(clipped, untouched) << "all corners inside: clipped is not written";

    EXPECT_TRUE(unit.touchesBox(box({0, 0, 0}, {2, 2, 2}), clipped));
    EXPECT_EQ(clipped, box({0, 0, 0}, {1, 1, 1}));
    EXPECT_TRUE(unit.touchesBox(box({-2, -2, -0.5}, {2, 2, 0.5}), clipped));
    EXPECT_FALSE(unit.touchesBox(box({0.8, 0.8, 0.8}, {2, 2, 2}), clipped));
    EXPECT_TRUE(unit.touchesBox(box({0.8, 0.8, -0.5}, {2, 2, 0.5}), clipped))
        << "conservative: the centre lies within the z extent";
    EXPECT_FALSE(unit.touchesBox(box({1, -1, -1}, {3, 1, 1}), clipped)) << "a shared face only";
}

// An obstacle with the general operations only.
class Everywhere final : public ObstacleBase {
public:
    Everywhere() : ObstacleBase(&plain) {}
    const Obstacle* intersectInterval(const Ray&, double&, double&) const override { return nullptr; }
    const Obstacle* intersect(const Ray&, double&) const override { return nullptr; }
    void normalAt(const Ray&, const Vec3&, Vec3&) const override {}
    double distanceToLine(const Ray&) const override { return 0.0; }
};

TEST(Obstacle, GeneralTouchesBoxClipsTheWholeSpaceToAnyFiniteBox) {
    const Everywhere all;
    EXPECT_EQ(all.getSurface(), &plain);
    EXPECT_FALSE(all.contains({0, 0, 0}));
    Box b;
    all.boundingBox(b);
    EXPECT_EQ(b, box({-OBSTACLE_UNBOUNDED, -OBSTACLE_UNBOUNDED, -OBSTACLE_UNBOUNDED},
                     {OBSTACLE_UNBOUNDED, OBSTACLE_UNBOUNDED, OBSTACLE_UNBOUNDED}));
    const double st = 8.5070586659632215e+37;
    for (const Box& query : {box({-st, -st, -st}, {st, st, st}), box({1, 2, 3}, {4, 5, 6}),
                             box({-3e38, 0, 0}, {3e38, 1e-300, 1})}) {
        Box clipped;
        EXPECT_TRUE(all.touchesBox(query, clipped));
        EXPECT_EQ(clipped, query);
    }
    Box clipped;
    EXPECT_FALSE(all.touchesBox(box({OBSTACLE_UNBOUNDED, 0, 0}, {3.5e38, 1, 1}), clipped));
}

TEST(ObstacleSphere, TouchesBoxIsTrueWheneverTheSurfaceReachesIntoTheBox) {
    std::mt19937_64 rng(20261208);
    std::uniform_real_distribution<double> unit(-1.0, 1.0);
    std::uniform_real_distribution<double> len(0.01, 2.0);
    int touching = 0;
    for (int trial = 0; trial < 4000; ++trial) {
        const ObstacleSphere s = sphere(len(rng), {unit(rng), unit(rng), unit(rng)});
        Box q;
        for (int a = 0; a < 3; ++a) {
            q.min(a) = 2.0 * unit(rng);
            q.max(a) = q.min(a) + len(rng);
        }
        Box clipped;
        const bool answer = s.touchesBox(q, clipped);
        // Sample the surface; a point strictly inside the box proves contact.
        bool reaches = false;
        for (int k = 0; k < 200 && !reaches; ++k) {
            Vec3 d{unit(rng), unit(rng), unit(rng)};
            if (d.dot(d) < 1e-6) {
                continue;
            }
            const Vec3 p = s.centre + d.normalised() * s.radius;
            reaches = p.x > q.min(0) && p.x < q.max(0) && p.y > q.min(1) && p.y < q.max(1) &&
                      p.z > q.min(2) && p.z < q.max(2);
        }
        if (reaches) {
            ++touching;
            ASSERT_TRUE(answer) << "trial " << trial;
        }
    }
    EXPECT_GT(touching, 500);
}

}  // namespace
}  // namespace kelvo
