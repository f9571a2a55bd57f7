#include "kelvo/fast/FastTracer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cfenv>
#include <cmath>
#include <initializer_list>
#include <limits>
#include <random>
#include <vector>

#include "kelvo/fast/PacketWalk.h"
#include "kelvo/view/RayTracer.h"
#include "tests/kelvo/tree/tree_helpers.h"

namespace kelvo {
namespace {

using testing::SphereWorld;

// Frames of the scene by the view's literal loop and by the fast tracer,
// each running its own generator on from the same start.
TEST(FastTracer, PicturesAreByteIdenticalToTheLiteralLoopAtEverySizeAndFrame) {
    const Scene& scene = testing::sharedScene();
    const FastTracer tracer(scene.world);
    ASSERT_TRUE(tracer.walk().usable());
    FastTracer::Scratch scratch;  // kept across sizes and frames, as a worker does
    struct Size {
        int width, height, frames;
    };
#if defined(__SANITIZE_ADDRESS__)
    const Size sizes[] = {{1, 1, 3}, {37, 23, 3}, {240, 200, 1}, {1000, 3, 2}};
#else
    const Size sizes[] = {{1, 1, 3}, {37, 23, 3}, {240, 200, 3}, {1000, 3, 3}};
#endif
    for (const Size& size : sizes) {
        RayTracer view(&scene.world, Scene::makeObserver(), 0);
        const int client[2] = {size.width, size.height};
        view.onResize(client);
        const std::size_t n = static_cast<std::size_t>(size.width) * size.height;
        std::vector<std::uint32_t> literal(n), fast(n);
        std::uint32_t literalState = 0xffffffffu, fastState = 0xffffffffu;
        for (int frame = 0; frame < size.frames; ++frame) {
            view.traceRows(literal.data(), size.width, 0, size.height, literalState);
            RayCounts counts;
            const std::uint32_t start = fastState;
            tracer.traceRows(view.observer, view.pixelWidth, view.pixelHeight, fast.data(),
                             size.width, 0, size.height, fastState, scratch, &counts);
            EXPECT_EQ(fast, literal) << size.width << "x" << size.height << " frame " << frame;
            EXPECT_EQ(fastState, literalState);
            EXPECT_EQ(counts.primary, n);
            // Ray by ray, and in packets on every instruction set this CPU runs.
            std::uint32_t state = start;
            RayCounts single;
            tracer.traceRowsOneByOne(view.observer, view.pixelWidth, view.pixelHeight,
                                     fast.data(), size.width, 0, size.height, state, scratch,
                                     &single);
            EXPECT_EQ(fast, literal) << size.width << "x" << size.height << " one by one";
            EXPECT_EQ(state, literalState);
            EXPECT_EQ(single.reflected, counts.reflected);
            EXPECT_EQ(single.shadow, counts.shadow);
#if defined(KELVO_PACKETS)
            if (size.width * size.height < 10000) {
                for (int set = 0; set < PacketWalk::compiledSets(); ++set) {
                    PacketWalk::useOnly(set);
                    state = start;
                    tracer.traceRows(view.observer, view.pixelWidth, view.pixelHeight,
                                     fast.data(), size.width, 0, size.height, state, scratch,
                                     nullptr);
                    EXPECT_EQ(fast, literal) << PacketWalk::instructionSet();
                }
                PacketWalk::useAll();
            }
#endif
        }
        // Rows traced piecewise give the same picture as all at once.
        if (size.height > 1) {
            std::uint32_t state = 0xffffffffu;
            std::vector<std::uint32_t> whole(n), pieces(n);
            tracer.traceRows(view.observer, view.pixelWidth, view.pixelHeight, whole.data(),
                             size.width, 0, size.height, state, scratch, nullptr);
            state = 0xffffffffu;
            const int middle = size.height / 2;
            tracer.traceRows(view.observer, view.pixelWidth, view.pixelHeight, pieces.data(),
                             size.width, 0, middle, state, scratch, nullptr);
            tracer.traceRows(view.observer, view.pixelWidth, view.pixelHeight,
                             pieces.data() + static_cast<std::size_t>(middle) * size.width,
                             size.width, middle, size.height, state, scratch, nullptr);
            EXPECT_EQ(pieces, whole);
        }
    }
}

// The glow per leaf reaches the fast paths as it reaches the literal loop.
// So do flakes beyond the packet walk's 64 obstacles, walked ray by ray with
// the worker's mailbox.
TEST(FastTracer, PicturesWithAnotherGlowOrNoneAreByteIdenticalToTheLiteralLoop) {
    for (const int levels : {2, 3}) {
        Scene scene(levels);
        std::vector<std::uint32_t> designed;
        for (const double glow : {STEP_GLOW, 0.0, 0.013}) {
            scene.world.stepGlow = glow;
            const FastTracer tracer(scene.world);
            ASSERT_TRUE(tracer.walk().flattened());
            FastTracer::Scratch scratch;
            RayTracer view(&scene.world, Scene::makeObserver(), 0);
            const int client[2] = {96, 72};
            view.onResize(client);
            std::vector<std::uint32_t> literal(96 * 72), fast(96 * 72), single(96 * 72);
            std::uint32_t literalState = 0xffffffffu, fastState = 0xffffffffu, singleState = 0xffffffffu;
            view.traceRows(literal.data(), 96, 0, 72, literalState);
            tracer.traceRows(view.observer, view.pixelWidth, view.pixelHeight, fast.data(), 96, 0, 72,
                             fastState, scratch, nullptr);
            tracer.traceRowsOneByOne(view.observer, view.pixelWidth, view.pixelHeight, single.data(),
                                     96, 0, 72, singleState, scratch, nullptr);
            EXPECT_EQ(fast, literal) << levels << " levels, glow " << glow;
            EXPECT_EQ(single, literal) << levels << " levels, glow " << glow;
            // The colours before packing, which refinement sums, likewise.
            std::vector<vell::Colour> literalColours(96 * 72), fastColours(96 * 72);
            literalState = fastState = 0xffffffffu;
            view.traceColours(literalColours.data(), 96, 0, 72, literalState);
            tracer.traceColours(view.observer, view.pixelWidth, view.pixelHeight,
                                fastColours.data(), 96, 0, 72, fastState, scratch, nullptr);
            EXPECT_EQ(fastColours, literalColours) << levels << " levels, glow " << glow;
            if (glow == STEP_GLOW) {
                designed = literal;
            } else {
                EXPECT_NE(literal, designed) << "glow " << glow;
            }
        }
    }
}

// A cluster of mirrors that also take light and glow, under two lights (one
// inside the cluster, where most shadow rays are blocked) and with absorption:
// chains of reflections that run out of budget, lights facing away, blocked
// and reaching, and the distance factors, all through the batched waves.
TEST(FastTracer, PicturesOfAHallOfMirrorsAreByteIdenticalToTheLiteralLoop) {
    const Surface mirror{{0.3f, 0.5f, 0.2f}, {0.02f, 0.0f, 0.05f}, 0.85f};
    std::vector<SphereGeometry> cluster;
    for (int corner = 0; corner < 8; ++corner) {
        cluster.push_back({1.0, {corner & 1 ? 1.05 : -1.05, corner & 2 ? 1.05 : -1.05,
                                 corner & 4 ? 1.05 : -1.05}});
    }
    cluster.push_back({0.4, {0.0, 0.0, -2.2}});
    SphereWorld s(cluster, &mirror, 0.05f);
    PointLight inner{{0.0, 0.0, 0.0}, {0.9f, 0.8f, 1.0f}};
    PointLight outer{{4.0, 5.0, -6.0}, vell::white};
    s.world.addLight(&inner);
    s.world.addLight(&outer);
    s.world.buildTree();
    const FastTracer tracer(s.world);
    ASSERT_TRUE(tracer.walk().usable());
    FastTracer::Scratch scratch;

    RayTracer view(&s.world, Scene::makeObserver(), 0);
    const int width = 70, height = 41;
    const int client[2] = {width, height};
    view.onResize(client);
    // The cluster fills most of the picture.
    view.observer.setScreen({0.18, 0.18, 0.66});
    // Some chains run out of budget: nine mirrored rays, the tenth not walked.
    std::uint64_t longest = 0;
    for (int i = 0; i < 4000; ++i) {
        const double point[2] = {(i % 80 + 0.5) / 80.0, (i / 80 + 0.5) / 50.0};
        Ray ray;
        view.observer.rayThrough(point, ray);
        RayCounts chain;
        vell::Colour out;
        tracer.trace(ray, out, TRACE_DEPTH, scratch, &chain);
        longest = std::max(longest, chain.reflected);
    }
    EXPECT_EQ(longest, static_cast<std::uint64_t>(TRACE_DEPTH - 1));

    const std::size_t n = static_cast<std::size_t>(width) * height;
    std::vector<std::uint32_t> literal(n), fast(n);
    std::uint32_t literalState = 0xffffffffu, fastState = 0xffffffffu;
    for (int frame = 0; frame < 2; ++frame) {
        const std::uint32_t start = fastState;
        view.traceRows(literal.data(), width, 0, height, literalState);
        RayCounts counts;
        tracer.traceRows(view.observer, view.pixelWidth, view.pixelHeight, fast.data(), width, 0,
                         height, fastState, scratch, &counts);
        EXPECT_EQ(fast, literal) << "frame " << frame;
        EXPECT_EQ(fastState, literalState);
        EXPECT_GT(counts.reflected, n);
        EXPECT_GT(counts.shadow, n);
        RayCounts single;
        std::uint32_t state = start;
        tracer.traceRowsOneByOne(view.observer, view.pixelWidth, view.pixelHeight, fast.data(),
                                 width, 0, height, state, scratch, &single);
        EXPECT_EQ(fast, literal) << "one by one, frame " << frame;
        EXPECT_EQ(single.reflected, counts.reflected);
        EXPECT_EQ(single.shadow, counts.shadow);
#if defined(KELVO_PACKETS)
        for (int set = 0; set < PacketWalk::compiledSets(); ++set) {
            PacketWalk::useOnly(set);
            state = start;
            tracer.traceRows(view.observer, view.pixelWidth, view.pixelHeight, fast.data(),
                             width, 0, height, state, scratch, nullptr);
            EXPECT_EQ(fast, literal) << PacketWalk::instructionSet() << ", frame " << frame;
        }
        PacketWalk::useAll();
#endif
    }
}

// Random bit patterns (NaNs, infinities, subnormals, negatives included) and
// every float near each rounding tie and near full, in every rounding mode.
TEST(FastTracer, PacksEveryColourAsTheViewDoesInEveryRoundingMode) {
    std::vector<float> values;
    std::mt19937 random(11);
    for (int i = 0; i < 200000; ++i) {
        values.push_back(std::bit_cast<float>(static_cast<std::uint32_t>(random())));
    }
    for (int k = 0; k <= 256; ++k) {
        for (const float centre : {(k + 0.5f) / 255.0f, k / 255.0f}) {
            float c = centre;
            for (int i = 0; i < 40; ++i) {
                c = std::nextafter(c, -1.0f);
            }
            for (int i = 0; i < 80; ++i) {
                values.push_back(c);
                c = std::nextafter(c, 2.0f);
            }
        }
    }
    const float inf = std::numeric_limits<float>::infinity();
    for (const float v : {0.0f, -0.0f, inf, -inf, std::numeric_limits<float>::denorm_min(),
                          std::numeric_limits<float>::max(), 1.0f, 2.0f}) {
        values.push_back(v);
    }
    const int previous = std::fegetround();
    int mismatches = 0;
    for (const int mode : {FE_TONEAREST, FE_DOWNWARD, FE_UPWARD, FE_TOWARDZERO}) {
        ASSERT_EQ(std::fesetround(mode), 0);
        for (std::size_t i = 0; i < values.size(); ++i) {
            // Each value in every channel, beside its neighbours.
            const vell::Colour c{values[i], values[(i + 1) % values.size()],
                                 values[(i + 7) % values.size()]};
            mismatches += FastTracer::packColour(c) != RayTracer::packColour(c);
        }
    }
    std::fesetround(previous);
    EXPECT_EQ(mismatches, 0);
}

// The colours of rays that hit nothing are kept ready per worker; a worker
// that traced in one rounding mode must not hand them out in another.
TEST(FastTracer, PicturesFollowTheCallersRoundingModeFromFrameToFrame) {
    const Scene& scene = testing::sharedScene();
    const FastTracer tracer(scene.world);
    FastTracer::Scratch scratch;
    RayTracer view(&scene.world, Scene::makeObserver(), 0);
    const int width = 150, height = 40;
    const int client[2] = {width, height};
    view.onResize(client);
    const int previous = std::fegetround();
    std::vector<std::uint32_t> nearest;
    for (const int mode : {FE_TONEAREST, FE_UPWARD, FE_DOWNWARD, FE_TONEAREST}) {
        ASSERT_EQ(std::fesetround(mode), 0);
        std::vector<std::uint32_t> literal(width * height), fast(width * height);
        std::uint32_t literalState = 1u, fastState = 1u;
        view.traceRows(literal.data(), width, 0, height, literalState);
        tracer.traceRows(view.observer, view.pixelWidth, view.pixelHeight, fast.data(), width, 0,
                         height, fastState, scratch, nullptr);
        std::fesetround(previous);
        EXPECT_EQ(fast, literal) << "rounding mode " << mode;
        if (mode == FE_TONEAREST) {
            nearest = literal;
        } else {
            EXPECT_NE(literal, nearest) << "the test needs a mode that shows";
        }
    }
}

TEST(FastTracer, CountsTheRaysItWalks) {
    // A mirror above a lit floor sphere: every ray that hits the mirror walks
    // one reflected ray until the budget runs out.
    const Surface mirror{vell::black, vell::black, 1.0f};
    SphereWorld s({{1.0, {0, 0, 0}}}, &mirror);
    s.world.buildTree();
    const FastTracer tracer(s.world);
    FastTracer::Scratch scratch;
    RayCounts counts;
    vell::Colour out;
    // Straight at the sphere: hit, then the mirrored ray leaves it; 1 reflected.
    tracer.trace({{0, 0, -5}, {0, 0, 1}}, out, 10, scratch, &counts);
    EXPECT_EQ(counts.reflected, 1u);
    EXPECT_EQ(counts.shadow, 0u);
    // Depth 1: the mirrored ray has no budget and is not walked.
    tracer.trace({{0, 0, -5}, {0, 0, 1}}, out, 1, scratch, &counts);
    EXPECT_EQ(counts.reflected, 1u);

    SphereWorld lit({{1.0, {0, 0, 0}}});
    PointLight light{{0, 5, 0}, vell::white};
    lit.world.addLight(&light);
    lit.world.buildTree();
    const FastTracer litTracer(lit.world);
    RayCounts litCounts;
    litTracer.trace({{0, 3, 0}, {0, -1, 0}}, out, 10, scratch, &litCounts);  // faces the light
    litTracer.trace({{0, -3, 0}, {0, 1, 0}}, out, 10, scratch, &litCounts);  // behind
    EXPECT_EQ(litCounts.shadow, 1u);
    EXPECT_EQ(litCounts.reflected, 0u);
}

// A light exactly on a blocker's surface: the shadow ray meets the blocker
// at u = 1.0, the light itself, which does not shadow; a light just inside
// the blocker (u < 1) does.
TEST(FastTracer, ABlockerTouchingTheLightDoesNotShadow) {
    // From the top of the unit sphere (0, 1, 0) to a light at (0, 4, 0), the
    // blocker of radius 1 at (0, 5, 0) is met at exactly u = 1.0.
    SphereWorld s({{1.0, {0, 0, 0}}, {1.0, {0, 5, 0}}});
    PointLight touching{{0, 4, 0}, vell::white};
    s.world.addLight(&touching);
    s.world.buildTree();
    const Ray down{{0, 1.5, 0}, {0, -1, 0}};

    STNodeIterator walker(s.world.tree.root);
    walker.locate({0, 1, 0});
    double u = 0.0;
    ASSERT_EQ(World::nearestHit({{0, 1, 0}, {0, 3, 0}}, u, walker, nullptr), s.spheres[1].get());
    ASSERT_EQ(u, 1.0);

    vell::Colour literal, fast;
    s.world.trace(down, literal, 10);
    const FastTracer tracer(s.world);
    FastTracer::Scratch scratch;
    tracer.trace(down, fast, 10, scratch, nullptr);
    EXPECT_EQ(literal.g, 1.0f + 0.05f) << "lit";
    EXPECT_EQ(fast, literal);

    SphereWorld inside({{1.0, {0, 0, 0}}, {1.0, {0, 5, 0}}});
    PointLight within{{0, 4.5, 0}, vell::white};
    inside.world.addLight(&within);
    inside.world.buildTree();
    inside.world.trace(down, literal, 10);
    const FastTracer insideTracer(inside.world);
    insideTracer.trace(down, fast, 10, scratch, nullptr);
    EXPECT_EQ(literal.g, 0.05f) << "shadowed";
    EXPECT_EQ(fast, literal);
}

// A sphere that counts how often rays are intersected with it.
class CountedSphere final : public ObstacleSphere {
public:
    using ObstacleSphere::ObstacleSphere;
    const Obstacle* intersect(const Ray& ray, double& t) const override {
        ++calls;
        return ObstacleSphere::intersect(ray, t);
    }
    mutable int calls = 0;
};

TEST(FastTracer, TheLiteralQueryIntersectsAnObstacleListedInSeveralLeavesOnce) {
    // A large sphere cut by the planes of the small ones around it.
    const Surface& surface = testing::plainSurface;
    CountedSphere big({2.0, {0, 0, 0}}, &surface);
    ObstacleSphere a({0.5, {2, 0, 0}}, &surface), b({0.5, {0, 2, 0}}, &surface),
        c({0.5, {0, 0, -2}}, &surface);
    World world(0.0f);
    for (const Obstacle* o : std::initializer_list<const Obstacle*>{&big, &a, &b, &c}) {
        world.addObstacle(o);
    }
    world.buildTree();
    int listed = 0;
    std::vector<const STNode*> leaves;
    testing::collectLeaves(world.tree.root, leaves);
    for (const STNode* leaf : leaves) {
        for (const vell::ListNode* n = leaf->obstacles; n != nullptr; n = n->next) {
            listed += n->item == &big;
        }
    }
    ASSERT_GT(listed, 3);
    std::mt19937_64 random(3);
    std::uniform_real_distribution<double> any(-1.0, 1.0);
    int crossings = 0;
    for (int i = 0; i < 2000; ++i) {
        const Ray ray{{any(random) * 6, any(random) * 6, any(random) * 6},
                      {any(random), any(random), any(random)}};
        big.calls = 0;
        STNodeIterator walker(world.tree.root);
        walker.locate(ray.origin);
        double t = 0.0;
        int crossed = 0;
        World::nearestHit(ray, t, walker, &crossed);
        EXPECT_LE(big.calls, 1);
        crossings += crossed > 1 && big.calls == 1;
    }
    EXPECT_GT(crossings, 100);
}


namespace chosen {

// One chosen ray through the program's path, packets and waves included: a
// frame whose pixels have no size, so that every pixel's ray is the one that
// starts at the camera's screen corner. false when the pixels disagree.
bool tracedAlone(const FastTracer& tracer, const Ray& ray, FastTracer::Scratch& scratch,
                 std::uint32_t& pixel, FastWalk::Hit* primary = nullptr) {
    Observer observer = Scene::makeObserver();
    observer.position = ray.origin - ray.direction;
    observer.screenOrigin = ray.origin;
    constexpr int WIDTH = 9, HEIGHT = 4;
    std::vector<std::uint32_t> pixels(WIDTH * HEIGHT);
    std::uint32_t state = 1;
    tracer.traceRows(observer, 0.0, 0.0, pixels.data(), WIDTH, 0, HEIGHT, state, scratch, nullptr);
    if (primary != nullptr) {
        std::vector<FastWalk::Hit> hits(WIDTH * HEIGHT);
        state = 1;
        tracer.primaryHits(observer, 0.0, 0.0, hits.data(), WIDTH, 0, HEIGHT, state, scratch);
        *primary = hits[0];
    }
    pixel = pixels[0];
    return std::all_of(pixels.begin(), pixels.end(), [&](std::uint32_t p) { return p == pixel; });
}

std::uint32_t literalPixel(const World& world, const Ray& ray) {
    vell::Colour colour;
    world.trace(ray, colour, TRACE_DEPTH);
    return packColour(colour);
}

}  // namespace chosen

// Rays that meet the tree and the shading at their edges: a mirror chain
// straight up and down through two spheres' poles, each on a split plane
// (the mirrored ray's start leaf must be found anew: the hit's leaf lies on
// the other side of the plane), with one light exactly in the tangent plane
// at the lower pole (l . n is 0: not lit) and one above.
TEST(FastTracer, ChosenRaysOnSplitPlanesAndTangentLightsAreTheLiteralTrace) {
    const Surface mirror{{0.2f, 0.6f, 0.3f}, {0.01f, 0.02f, 0.0f}, 0.7f};
    SphereWorld s({{1.0, {0, 0, 0}}, {0.5, {0, 4, 0}}, {1.0, {3, 0, 0}}, {0.5, {-2, 2, 1}}},
                  &mirror);
    PointLight tangent{{5, 1, 0}, {0.9f, 0.7f, 0.5f}};
    PointLight above{{0.5, 3, -0.5}, {0.3f, 0.4f, 0.8f}};
    s.world.addLight(&tangent);
    s.world.addLight(&above);
    s.world.buildTree();
    const FastTracer tracer(s.world);
    ASSERT_TRUE(tracer.walk().usable());
    FastTracer::Scratch scratch;

    // The poles lie on split planes of the tree.
    std::vector<const STNode*> leaves;
    testing::collectLeaves(s.world.tree.root, leaves);
    for (const double y : {1.0, 3.5}) {
        EXPECT_TRUE(std::any_of(leaves.begin(), leaves.end(), [&](const STNode* leaf) {
            const Box box = testing::regionOf(leaf);
            return box.min(1) == y && box.min(0) <= 0.0 && box.max(0) >= 0.0 &&
                   box.min(2) <= 0.0 && box.max(2) >= 0.0;
        })) << "no leaf starts at y " << y << ": the scene no longer tests what it should";
    }

    const Ray rays[] = {
        {{0, 3, 0}, {0, -1, 0}},   // down onto the lower pole, then up and down the chain
        {{0, 2, 0}, {0, 1, 0}},    // up onto the upper pole
        {{0, -3, 0}, {0, 1, 0}},   // up onto the lower sphere's bottom
        {{-4, 1, 0}, {1, 0, 0}},   // along the tangent plane, grazing the lower pole
        {{0, 1, -4}, {0, 0, 1}},   // the same across
        {{3, 4, 0}, {0, -1, 0}},   // down onto the other sphere's pole, in the light's plane
    };
    for (const Ray& ray : rays) {
        std::uint32_t pixel = 0;
        ASSERT_TRUE(chosen::tracedAlone(tracer, ray, scratch, pixel));
        EXPECT_EQ(pixel, chosen::literalPixel(s.world, ray))
            << "ray from " << ray.origin.x << "," << ray.origin.y << "," << ray.origin.z;
    }
}

// The packed colour of a miss is tabled for the first leaf counts; misses
// crossing just as many leaves, and one fewer and one more, come out as the
// literal trace gives them.
TEST(FastTracer, MissesAcrossTheEndOfTheGlowTableAreTheLiteralTrace) {
    // A row of 64 spheres along x, split from one another; rays along the row
    // inside every sphere's box but outside every sphere cross a leaf or more
    // per sphere, as many as the start leaves ahead.
    std::vector<SphereGeometry> row;
    for (int i = 0; i < 64; ++i) {
        row.push_back({0.3, {static_cast<double>(i), 0, 0}});
    }
    SphereWorld s(row);
    PointLight light{{0, 5, 0}, vell::white};
    s.world.addLight(&light);
    // The trial build splits the row sphere by sphere; the surface-area build
    // would leave too few leaves to reach the table's end.
    s.world.buildTree(TreeBuild::TRIAL);
    const FastTracer tracer(s.world);
    ASSERT_TRUE(tracer.walk().usable());
    FastTracer::Scratch scratch;

    // Beyond 20 leaves every miss is white, so before each, a ray that hits
    // leaves another colour in whatever the previous ray's work left behind.
    const Ray onto{{0, 2, 0}, {0, -1, 0}};
    std::vector<bool> seen(200, false);
    for (int start = -8; start < 64 * 4; ++start) {
        const Ray ray{{start * 0.25, 0.25, 0.25}, {1, 0, 0}};
        std::uint32_t pixel = 0;
        ASSERT_TRUE(chosen::tracedAlone(tracer, onto, scratch, pixel));
        FastWalk::Hit hit;
        ASSERT_TRUE(chosen::tracedAlone(tracer, ray, scratch, pixel, &hit));
        ASSERT_LT(hit.obstacle, 0) << "the rays must miss";
        if (hit.leaves < static_cast<int>(seen.size())) {
            seen[static_cast<std::size_t>(hit.leaves)] = true;
        }
        EXPECT_EQ(pixel, chosen::literalPixel(s.world, ray))
            << "a miss across " << hit.leaves << " leaves";
    }
    for (const int leaves : {63, 64, 65}) {
        EXPECT_TRUE(seen[static_cast<std::size_t>(leaves)])
            << "no miss crossed " << leaves << " leaves: the scene no longer tests the table's end";
    }
}

}  // namespace
}  // namespace kelvo
