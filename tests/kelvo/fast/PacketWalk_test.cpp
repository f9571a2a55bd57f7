#include "kelvo/fast/PacketWalk.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <limits>
#include <random>
#include <vector>

#include "tests/kelvo/tree/tree_helpers.h"
#include "tests/kelvo/tree/walk_oracle.h"

namespace kelvo {
namespace {

#if defined(KELVO_PACKETS)

// Equal bits; any NaN equals any NaN, as which operand's payload an
// operation passes on is the compiler's choice for the scalar code too.
bool sameBits(const Vec3& a, const Vec3& b) {
    auto same = [](double p, double q) {
        return (std::isnan(p) && std::isnan(q)) ||
               std::bit_cast<std::uint64_t>(p) == std::bit_cast<std::uint64_t>(q);
    };
    return same(a.x, b.x) && same(a.y, b.y) && same(a.z, b.z);
}

// Primary rays in lanes against the camera's own, bit for bit: random bases
// and positions, points on and off the image plane, and values whose rounding
// or NaN handling would show a reordered sum or a reciprocal square root.
TEST(PacketWalk, MakesEachCameraRayToTheBitOnEveryInstructionSet) {
    std::mt19937_64 random(20261209);
    std::uniform_real_distribution<double> unit(-1.0, 1.0);
    const double inf = std::numeric_limits<double>::infinity();
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double special[] = {0.0, -0.0, 1.0, 0.5, 1e-300, -1e300, 0.1, inf, nan};
    int mismatches = 0, checked = 0;
    for (int set = 0; set < PacketWalk::compiledSets(); ++set) {
        PacketWalk::useOnly(set);
        for (int trial = 0; trial < 200; ++trial) {
            const Vec3 position{unit(random) * 40, unit(random) * 40, unit(random) * 40};
            Camera camera(position, Vec3{unit(random), unit(random), unit(random)},
                          Vec3{unit(random), unit(random), unit(random)},
                          Vec3{unit(random), unit(random), unit(random)},
                          Vec3{1.0 + unit(random), 0.75 + unit(random) * 0.5, 1.0});
            if (trial % 10 == 0) {
                camera.screenAxes[trial / 10 % 3][2] = trial % 20 == 0 ? inf : -0.0;
            }
            const int count = 1 + trial % 67;  // whole packets and a ragged tail
            std::vector<double> u(count), v(count);
            for (int i = 0; i < count; ++i) {
                u[i] = i % 7 == 6 ? special[(trial + i) % 9] : unit(random);
                v[i] = i % 5 == 4 ? special[(trial + 2 * i) % 9] : unit(random);
            }
            std::vector<Ray> lanes(count);
            PacketWalk::raysThrough(camera, u.data(), v.data(), count, lanes.data());
            for (int i = 0; i < count; ++i) {
                const double point[2] = {u[i], v[i]};
                Ray scalar;
                camera.rayThrough(point, scalar);
                ++checked;
                if (!sameBits(scalar.origin, lanes[i].origin) ||
                    !sameBits(scalar.direction, lanes[i].direction)) {
                    ++mismatches;
                }
            }
        }
    }
    PacketWalk::useAll();
    EXPECT_GT(checked, 6000);
    EXPECT_EQ(mismatches, 0);
}

// Rays that leave their leaf by no face (a zero direction, of either sign)
// or by faces no comparison picks cleanly (infinite and NaN components), in
// packets beside ordinary rays, so that lanes part and rejoin: every answer
// the literal walk's, on every instruction set.
TEST(PacketWalk, AnswersZeroAndNonFiniteDirectionsAsTheLiteralWalk) {
    const World& world = testing::sharedScene().world;
    const FastWalk walk(world);
    ASSERT_TRUE(walk.usable());
    std::vector<FastWalk::Prediction> predictions(walk.predictionSlots());
    std::mt19937_64 random(4242);
    std::uniform_real_distribution<double> unit(-1.0, 1.0);
    const double inf = std::numeric_limits<double>::infinity();
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double odd[] = {0.0, -0.0, inf, -inf, nan};
    std::vector<Ray> rays;
    for (int i = 0; i < 3000; ++i) {
        const Vec3 origin{unit(random) * 8, unit(random) * 8, unit(random) * 8};
        Vec3 direction{unit(random), unit(random), unit(random)};
        switch (i % 4) {
        case 0:  // no direction at all
            direction = {odd[i / 4 % 2], odd[i / 8 % 2], odd[i / 16 % 2]};
            break;
        case 1:  // one odd component
            direction[i / 4 % 3] = odd[i / 12 % 5];
            break;
        case 2:  // two odd components
            direction[i / 4 % 3] = odd[i / 12 % 5];
            direction[(i / 4 + 1) % 3] = odd[i / 60 % 5];
            break;
        default:  // ordinary
            break;
        }
        rays.push_back({origin, direction});
    }
    std::vector<int> starts;
    std::vector<testing::LiteralHit> literal;
    for (const Ray& ray : rays) {
        starts.push_back(walk.locate(ray.origin));
        literal.push_back(testing::literalHit(world, ray));
    }
    int mismatches = 0, zeroDirections = 0;
    for (std::size_t i = 0; i < rays.size(); ++i) {
        zeroDirections += rays[i].direction == Vec3{} && literal[i].leaves > 0;
    }
    std::vector<FastWalk::Hit> hits(rays.size());
    for (int set = 0; set < PacketWalk::compiledSets(); ++set) {
        PacketWalk::useOnly(set);
        // Twice: with an empty table of predictions, then a filled one.
        for (int round = 0; round < 2; ++round) {
            PacketWalk::nearestHits(walk, rays.data(), starts.data(), static_cast<int>(rays.size()),
                                    hits.data(), predictions.data());
            for (std::size_t i = 0; i < rays.size(); ++i) {
                mismatches += !testing::sameHit(walk, literal[i], hits[i]);
            }
        }
    }
    PacketWalk::useAll();
    EXPECT_GT(zeroDirections, 100);
    EXPECT_EQ(mismatches, 0);
}

// Points along lines (so that neighbours mostly share a leaf, and whole
// packets pass or part), points on leaf faces and just beside them, and
// non-finite ones, located in lanes from every kind of guess: each the leaf
// the literal iterator reaches from the root, on every instruction set.
TEST(PacketWalk, LocatesPointsAsTheLiteralDescentFromAnyGuess) {
    const World& world = testing::sharedScene().world;
    const FastWalk walk(world);
    ASSERT_TRUE(walk.usable());
    std::mt19937_64 random(777);
    std::uniform_real_distribution<double> unit(-1.0, 1.0);
    const double inf = std::numeric_limits<double>::infinity();
    const double nan = std::numeric_limits<double>::quiet_NaN();
    std::vector<double> point[3];
    auto add = [&](const Vec3& p) {
        for (int c = 0; c < 3; ++c) {
            point[c].push_back(p[c]);
        }
    };
    for (int line = 0; line < 300; ++line) {
        const Vec3 from{unit(random) * 6, unit(random) * 6, unit(random) * 6};
        const Vec3 step = Vec3{unit(random), unit(random), unit(random)} * 0.02;
        for (int i = 0; i < 1 + line % 41; ++i) {
            add(from + step * static_cast<double>(i));
        }
        // A face of a leaf exactly, and the values either side of it.
        const FastWalk::Leaf& leaf = walk.leaf(line % walk.leafCount());
        const int f = line % 6;
        if (std::isfinite(leaf.bound[f])) {
            Vec3 p = from;
            for (const double towards : {-inf, 0.0, inf}) {
                p[f % 3] = towards == 0.0 ? leaf.bound[f] : std::nextafter(leaf.bound[f], towards);
                add(p);
            }
        }
        if (line % 7 == 0) {
            Vec3 odd = from;
            odd[line % 3] = line % 2 == 0 ? nan : -inf;
            add(odd);
        }
    }
    const int count = static_cast<int>(point[0].size());
    std::vector<int> literal(point[0].size());
    for (int i = 0; i < count; ++i) {
        STNodeIterator walker(world.tree.root);
        walker.locate({point[0][i], point[1][i], point[2][i]});
        literal[i] = walk.leafIndexOf(walker.current);
    }
    int mismatches = 0, calls = 0;
    std::vector<int> leaves(point[0].size());
    for (int set = 0; set < PacketWalk::compiledSets(); ++set) {
        PacketWalk::useOnly(set);
        // No guess, a fixed one, and the one the previous run left behind,
        // over runs of uneven lengths.
        for (const int first : {-1, 0, walk.leafCount() - 1}) {
            int guess = first;
            for (int begin = 0, length = 1; begin < count; begin += length, length = length % 29 + 3) {
                const int n = std::min(length, count - begin);
                const double* at[3] = {point[0].data() + begin, point[1].data() + begin,
                                       point[2].data() + begin};
                PacketWalk::locateAll(walk, at, n, guess, leaves.data() + begin);
                ++calls;
                mismatches += guess != literal[begin + n - 1];
                if (begin % 2 == 0) {
                    guess = first;
                }
            }
            for (int i = 0; i < count; ++i) {
                mismatches += leaves[i] != literal[i];
            }
        }
    }
    PacketWalk::useAll();
    EXPECT_GT(count, 6000);
    EXPECT_GT(calls, 500);
    EXPECT_EQ(mismatches, 0);
}

#endif

}  // namespace
}  // namespace kelvo
