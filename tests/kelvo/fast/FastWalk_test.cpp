#include "kelvo/fast/FastWalk.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>
#include <sstream>

#include "kelvo/fast/PacketWalk.h"
#include "tests/kelvo/tree/tree_helpers.h"
#include "tests/kelvo/tree/walk_oracle.h"

namespace kelvo {
namespace {

using testing::AwkwardRays;
using testing::LiteralHit;
using testing::literalHit;
using testing::sameHit;
using testing::SphereWorld;

// About 20 s under the sanitizers, 2 s optimised.
constexpr long SCENE_RAYS = 1'000'000;

std::string describe(const Ray& r, const char* path) {
    char text[256];
    std::snprintf(text, sizeof text, "%s: origin (%.17g, %.17g, %.17g) direction (%.17g, %.17g, %.17g)",
                  path, r.origin.x, r.origin.y, r.origin.z, r.direction.x, r.direction.y,
                  r.direction.z);
    return text;
}

// Every query answered by the literal code and by each fast way of asking it.
class Differential {
public:
    Differential(const World& world) : world_(world), walk_(world) {
        predictions_.resize(walk_.predictionSlots());
        mailbox_.resize(walk_.obstacleCount());
    }
    const FastWalk& walk() const { return walk_; }

    // guess: a leaf the fast path may start from (the leaf that confirmed the
    // hit a secondary ray leaves from), or -1.
    LiteralHit check(const Ray& ray, int guess) {
        const LiteralHit literal = literalHit(world_, ray);
        ++queries;
        const int start = walk_.locate(ray.origin);
        expect(ray, literal, walk_.nearestHit(ray, start, nullptr, mailbox_), "descent");
        expect(ray, literal, walk_.nearestHit(ray, start, predictions_.data(), mailbox_),
               "predicted");
        if (walk_.obstacleCount() <= 64) {
            expect(ray, literal, walk_.nearestHit(ray, start, predictions_.data()), "64-bit set");
        }
        if (guess >= 0) {
            const int near = walk_.locateNear(guess, ray.origin);
            expect(ray, literal, walk_.nearestHit(ray, near, predictions_.data(), mailbox_),
                   "reused");
        }
        return literal;
    }

    LiteralHit add(const Ray& ray, int guess) {
        const LiteralHit literal = check(ray, guess);
        chunk_.push_back(ray);
        starts_.push_back(guess >= 0 ? walk_.locateNear(guess, ray.origin) : walk_.locate(ray.origin));
        answers_.push_back(literal);
        return literal;
    }

    void packets() {
#if defined(KELVO_PACKETS)
        std::vector<FastWalk::Hit> hits(chunk_.size());
        for (int set = 0; set < PacketWalk::compiledSets(); ++set) {
            PacketWalk::useOnly(set);
            long& wrong = packetMismatches[PacketWalk::instructionSet()];
            // Packets of two vectors, and of one as deep trees walk them.
            for (const int vectors : {2, 1}) {
                std::fill(hits.begin(), hits.end(), FastWalk::Hit{});
                PacketWalk::nearestHits(walk_, chunk_.data(), starts_.data(),
                                        static_cast<int>(chunk_.size()), hits.data(),
                                        predictions_.data(), vectors);
                for (std::size_t i = 0; i < chunk_.size(); ++i) {
                    if (!sameHit(walk_, answers_[i], hits[i])) {
                        ++wrong;
                        if (mismatches++ == 0) {
                            first = describe(chunk_[i], PacketWalk::instructionSet()) +
                                    (vectors == 1 ? ", one vector" : "");
                        }
                    }
                }
                packetQueries += static_cast<long>(chunk_.size());
            }
            // The first two halves as two rows, walked in tiles.
            const int half = static_cast<int>(chunk_.size() / 2);
            std::vector<double> lanes(6 * static_cast<std::size_t>(2 * half));
            PacketWalk::RayLanes rows{};
            for (int c = 0; c < 3; ++c) {
                double* origin = lanes.data() + static_cast<std::ptrdiff_t>(c) * 2 * half;
                double* direction = lanes.data() + static_cast<std::ptrdiff_t>(3 + c) * 2 * half;
                for (int i = 0; i < 2 * half; ++i) {
                    origin[i] = chunk_[static_cast<std::size_t>(i)].origin[c];
                    direction[i] = chunk_[static_cast<std::size_t>(i)].direction[c];
                }
                rows.origin[c] = origin;
                rows.direction[c] = direction;
            }
            std::fill(hits.begin(), hits.end(), FastWalk::Hit{});
            PacketWalk::nearestHitsInRows(walk_, rows, starts_.data(), half, hits.data(),
                                          predictions_.data());
            for (std::size_t i = 0; i < static_cast<std::size_t>(2 * half); ++i) {
                if (!sameHit(walk_, answers_[i], hits[i])) {
                    ++wrong;
                    if (mismatches++ == 0) {
                        first = describe(chunk_[i], "tiles");
                    }
                }
            }
            packetQueries += 2 * half;
        }
        PacketWalk::useAll();
#endif
    }

    // The base rays, then from each hit its mirrored ray and its ray towards
    // every light, the secondaries starting from the confirming leaf; every
    // chunk of them also in packets, on every instruction set compiled in
    // that this CPU runs.
    void run(AwkwardRays& rays, long count) {
        std::vector<Ray> batch;
        while (queries < count) {
            chunk_.clear();
            starts_.clear();
            answers_.clear();
            while (chunk_.size() < 61) {  // not a multiple of any packet width
                batch.clear();
                rays.batch(batch, 3);
                for (const Ray& ray : batch) {
                    const LiteralHit hit = add(ray, lastLeaf_);
                    lastLeaf_ = walk_.locate(ray.origin);
                    if (hit.obstacle == nullptr) {
                        continue;
                    }
                    const Vec3 p = ray.at(hit.t);
                    Vec3 n;
                    hit.obstacle->normalAt(ray, p, n);
                    const Vec3& d = ray.direction;
                    const double k = d.dot(n) * -2.0;
                    const int leaf = walk_.leafIndexOf(hit.leaf);
                    add({p, {d.x + k * n.x, d.y + k * n.y, d.z + k * n.z}}, leaf);
                    for (const vell::ListNode* l = world_.lights; l != nullptr; l = l->next) {
                        add({p, static_cast<const PointLight*>(l->item)->position - p}, leaf);
                    }
                }
            }
            packets();
        }
    }

    // Queries answered in packets, lane by lane, per instruction set.
    std::map<std::string, long> packetMismatches;
    long packetQueries = 0;

    long queries = 0;
    long mismatches = 0;
    std::string first;

private:
    void expect(const Ray& ray, const LiteralHit& literal, const FastWalk::Hit& fast,
                const char* path) {
        if (!sameHit(walk_, literal, fast)) {
            if (mismatches++ == 0) {
                first = describe(ray, path);
            }
        }
    }

    const World& world_;
    FastWalk walk_;
    std::vector<FastWalk::Prediction> predictions_;
    FastWalk::Mailbox mailbox_;
    int lastLeaf_ = 0;
    std::vector<Ray> chunk_;
    std::vector<int> starts_;
    std::vector<LiteralHit> answers_;
};

TEST(FastWalk, FlattensTheSceneAndRefusesWhatItCannotFlatten) {
    const World& world = testing::sharedScene().world;
    const FastWalk walk(world);
    ASSERT_TRUE(walk.usable());
    EXPECT_EQ(walk.obstacleCount(), 37);
    std::vector<const STNode*> leaves;
    testing::collectLeaves(world.tree.root, leaves);
    ASSERT_EQ(walk.leafCount(), static_cast<int>(leaves.size()));
    for (int i = 0; i < walk.leafCount(); ++i) {
        EXPECT_EQ(walk.leafNode(i), leaves[i]);
        EXPECT_EQ(walk.leafIndexOf(leaves[i]), i);
    }

    World unbuilt(0.0f);
    EXPECT_FALSE(FastWalk(unbuilt).usable());

    // A subclass may intersect differently: it is not flattened.
    struct OtherSphere final : ObstacleSphere {
        using ObstacleSphere::ObstacleSphere;
    };
    OtherSphere other({1.0, {0, 0, 0}}, &testing::plainSurface);
    World mixed(0.0f);
    mixed.addObstacle(&other);
    mixed.buildTree();
    EXPECT_FALSE(FastWalk(mixed).usable());

    std::vector<SphereGeometry> many;
    for (int i = 0; i < 65; ++i) {
        many.push_back({0.25, {i * 1.0, 0, 0}});
    }
    SphereWorld crowded(many);
    crowded.world.buildTree();
    EXPECT_TRUE(FastWalk(crowded.world).usable()) << "no limit on obstacles";
}

TEST(FastWalk, AnswersEveryAwkwardQueryOfTheSceneAsTheLiteralWalk) {
    Differential differential(testing::sharedScene().world);
    AwkwardRays rays(testing::sharedScene().world, 20261209);
    differential.run(rays, SCENE_RAYS);
    std::printf("scene: %ld queries, %ld mismatches; %ld in packets:", differential.queries,
                differential.mismatches, differential.packetQueries);
    for (const auto& [set, wrong] : differential.packetMismatches) {
        std::printf(" %s %ld", set.c_str(), wrong);
    }
    std::printf("\n");
    EXPECT_EQ(differential.mismatches, 0) << "first: " << differential.first;
}

// Touching, nested and coincident spheres on a coarse grid share split
// coordinates and put obstacles into many leaves.
TEST(FastWalk, AnswersEveryAwkwardQueryOfCrowdedScenesAsTheLiteralWalk) {
    std::mt19937_64 random(77);
    long queries = 0;
    for (int scene = 0; scene < 12; ++scene) {
        std::vector<SphereGeometry> spheres;
        const int count = 2 + static_cast<int>(random() % 5);
        for (int i = 0; i < count; ++i) {
            auto grid = [&] { return 0.5 * static_cast<double>(static_cast<int>(random() % 9) - 4); };
            spheres.push_back({0.5 * static_cast<double>(1 + random() % 4), {grid(), grid(), grid()}});
        }
        if (scene % 3 == 0) {
            spheres.push_back(spheres.front());  // an exact twin
        }
        SphereWorld s(spheres);
        PointLight light{{3, 7, -5}, vell::white};
        s.world.addLight(&light);
        s.world.buildTree();
        Differential differential(s.world);
        AwkwardRays rays(s.world, 1000 + scene);
        differential.run(rays, SCENE_RAYS / 40);
        queries += differential.queries;
        EXPECT_EQ(differential.mismatches, 0) << "scene " << scene << ", first: " << differential.first;
    }
    std::printf("crowded scenes: %ld queries\n", queries);
}

// Trees of hundreds and thousands of spheres from both builds: no limit on
// obstacles or on a leaf's list.
TEST(FastWalk, AnswersEveryAwkwardQueryOfLargeTreesFromBothBuildsAsTheLiteralWalk) {
    struct Case {
        std::string name;
        std::unique_ptr<Scene> flake;
        std::unique_ptr<SphereWorld> scattered;
        const World& world() const { return flake ? flake->world : scattered->world; }
    };
    std::vector<Case> cases;
    cases.push_back({"flake of 187, trial build", std::make_unique<Scene>(3, TreeBuild::TRIAL), {}});
    cases.push_back({"flake of 187", std::make_unique<Scene>(3, TreeBuild::SURFACE_AREA), {}});
    cases.push_back({"flake of 937", std::make_unique<Scene>(4, TreeBuild::SURFACE_AREA), {}});
    std::mt19937_64 random(3);
    for (int scene = 0; scene < 2; ++scene) {
        std::vector<SphereGeometry> spheres;
        for (int i = 0; i < 300; ++i) {
            auto place = [&] { return 0.25 * static_cast<double>(static_cast<int>(random() % 61) - 30); };
            spheres.push_back({0.25 * static_cast<double>(1 + random() % 6), {place(), place(), place()}});
        }
        auto s = std::make_unique<SphereWorld>(spheres);
        static const PointLight light{{3, 9, -5}, vell::white};
        s->world.addLight(&light);
        s->world.buildTree();
        cases.push_back({"300 scattered spheres", {}, std::move(s)});
    }
    for (const Case& c : cases) {
        Differential differential(c.world());
        ASSERT_TRUE(differential.walk().flattened()) << c.name;
        AwkwardRays rays(c.world(), 99);
        differential.run(rays, SCENE_RAYS / 20);
        EXPECT_EQ(differential.mismatches, 0) << c.name << ", first: " << differential.first;
    }
}

// The distinct obstacles of the leaves a query crosses, by the literal walk.
int distinctObstacles(const World& world, const Ray& ray, const STNode* last) {
    STNodeIterator walker(world.tree.root);
    walker.locate(ray.origin);
    std::set<const void*> seen;
    for (;;) {
        for (const vell::ListNode* n = walker.current->obstacles; n != nullptr; n = n->next) {
            seen.insert(n->item);
        }
        if (walker.current == last || !walker.next(ray)) {
            return static_cast<int>(seen.size());
        }
    }
}

TEST(FastWalk, IntersectsAnObstacleListedInSeveralLeavesOncePerQuery) {
    // The root sphere of the scene is listed in many leaves.
    const World& world = testing::sharedScene().world;
    const FastWalk walk(world);
    AwkwardRays rays(world, 5);
    std::vector<Ray> batch;
    int multiLeaf = 0;
    for (int i = 0; i < 3000; ++i) {
        batch.clear();
        rays.batch(batch, 0);
        const Ray& ray = batch.front();
        const LiteralHit literal = literalHit(world, ray);
        const FastWalk::Hit fast = walk.nearestHit(ray, walk.locate(ray.origin), nullptr);
        ASSERT_TRUE(sameHit(walk, literal, fast));
        EXPECT_EQ(fast.tests, distinctObstacles(world, ray, literal.leaf));
        multiLeaf += literal.leaves > 1;
    }
    EXPECT_GT(multiLeaf, 300);
}

class UnitSphereTree : public ::testing::Test {
protected:
    void SetUp() override { s.world.buildTree(); }
    SphereWorld s{{{1.0, {0, 0, 0}}}};
};

TEST_F(UnitSphereTree, LocateReuseKeepsALeafOnlyWhereTheDescentFromTheRootEndsInIt) {
    const FastWalk walk(s.world);
    const STNode* root = s.world.tree.root;
    // The box [-1, 1]^3 that lists the sphere, and its low neighbour in x.
    const int box = walk.leafIndexOf([&] {
        STNodeIterator w(const_cast<STNode*>(root));
        w.locate({0, 0, 0});
        return w.current;
    }());
    const Vec3 onLowFace{-1, 0.25, 0.5};
    const Vec3 onHighFace{1, 0.25, 0.5};

    // The literal locate started from the leaf keeps a point on its own low
    // face (faces belong to the node while climbing) ...
    STNodeIterator fromLeaf(const_cast<STNode*>(walk.leafNode(box)));
    fromLeaf.locate(onLowFace);
    EXPECT_EQ(fromLeaf.current, walk.leafNode(box));
    // ... while the descent from the root sends it to the low side.
    STNodeIterator fromRoot(const_cast<STNode*>(root));
    fromRoot.locate(onLowFace);
    EXPECT_NE(fromRoot.current, walk.leafNode(box));

    // Every query starts from the root: reuse must give the root's answer.
    EXPECT_EQ(walk.leafNode(walk.locateNear(box, onLowFace)), fromRoot.current);
    EXPECT_EQ(walk.locateNear(box, onHighFace), box);
    EXPECT_EQ(walk.locate(onHighFace), box);
}

}  // namespace
}  // namespace kelvo
