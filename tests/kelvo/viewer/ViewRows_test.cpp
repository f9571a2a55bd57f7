#include "kelvo/viewer/ViewRows.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "kelvo/fast/FastTracer.h"
#include "kelvo/viewer/Viewer.h"
#include "tests/kelvo/tree/tree_helpers.h"
#include "tests/kelvo/tree/walk_oracle.h"
#include "tests/velllib/fake_platform.h"

namespace kelvo {
namespace {

using testing::literalHit;

// The views' frames, drawn as the program draws them: a Viewer at a size, on
// `threads` workers running the view kernel.
struct ViewFrames {
    ViewFrames(const World& world, const FastTracer& tracer, int width, int height, int threads,
               const Observer& observer = Scene::makeObserver())
        : view(&world, observer, RayTracer::EXTEND),
          rows(threads, viewRows(view, tracer)),
          width(width),
          height(height) {
        const int client[2] = {width, height};
        view.onResize(client);
    }
    std::vector<std::uint32_t> frame(ViewMode mode, RayCounts* counts = nullptr) {
        view.viewMode = mode;
        std::vector<std::uint32_t> pixels(static_cast<std::size_t>(width) * height);
        rows.traceFrame(pixels.data(), width, height, view.randomState, counts);
        return pixels;
    }

    Viewer view;
    ParallelRows rows;
    int width, height;
};

// A frame of a view of the tree from the literal walk: each primary ray made
// as the view's own loop makes it, from the generator state `state`.
struct LiteralFrame {
    std::vector<std::uint32_t> pixels;
    int hits = 0, most = 0;  // rays that hit, and the most leaves one crossed
};

LiteralFrame literalFrame(const World& world, const RayTracer& view, ViewMode mode, int width,
                          int height, std::uint32_t state) {
    std::vector<const STNode*> leaves;  // depth first, low child first
    testing::collectLeaves(world.tree.root, leaves);
    LiteralFrame frame;
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const int r1 = RayTracer::nextJitter(state);
            const double u = (x + r1 * JITTER_SCALE) * view.pixelWidth;
            const int r2 = RayTracer::nextJitter(state);
            const double v = (y + r2 * JITTER_SCALE) * view.pixelHeight;
            const double point[2] = {u, v};
            Ray ray;
            view.observer.rayThrough(point, ray);
            const testing::LiteralHit hit = literalHit(world, ray);
            frame.hits += hit.obstacle != nullptr;
            frame.most = std::max(frame.most, hit.leaves);
            const auto leaf = std::find(leaves.begin(), leaves.end(), hit.leaf) - leaves.begin();
            frame.pixels.push_back(mode == ViewMode::LEAVES ? leavesColour(hit.leaves)
                                   : hit.obstacle != nullptr ? cellColour(static_cast<int>(leaf))
                                                             : CELLS_MISS);
        }
    }
    return frame;
}

// "" when both frames are the same, else the first pixel that differs.
std::string firstDifference(const std::vector<std::uint32_t>& a,
                            const std::vector<std::uint32_t>& b, int width) {
    const auto [p, q] = std::mismatch(a.begin(), a.end(), b.begin(), b.end());
    if (p == a.end() && q == b.end()) {
        return "";
    }
    const auto i = p - a.begin();
    return "first difference at " + std::to_string(i % width) + "," + std::to_string(i / width);
}

Observer lookingFrom(const Vec3& position, const Vec3& angles) {
    Observer o = Scene::makeObserver();
    o.position = position;
    o.angles = angles;
    o.updateBasis();
    return o;
}

// Rec. 709 luma of a packed colour, in 1/1000ths.
int luma(std::uint32_t c) {
    return (2126 * static_cast<int>(c >> 16 & 0xff) + 7152 * static_cast<int>(c >> 8 & 0xff) +
            722 * static_cast<int>(c & 0xff)) / 10;
}

// Largest channel minus smallest: 0 for greys.
int chroma(std::uint32_t c) {
    const int r = static_cast<int>(c >> 16 & 0xff), g = static_cast<int>(c >> 8 & 0xff),
              b = static_cast<int>(c & 0xff);
    return std::max({r, g, b}) - std::min({r, g, b});
}

int distance(std::uint32_t a, std::uint32_t b) {
    int sum = 0;
    for (int shift : {0, 8, 16}) {
        sum += std::abs(static_cast<int>(a >> shift & 0xff) - static_cast<int>(b >> shift & 0xff));
    }
    return sum;
}

TEST(ViewRows, ColourScalesTellCountsAndNeighbouringLeavesApart) {
    // The leaves scale grows lighter with every count, so no two counts share
    // a colour and more leaves always read as brighter; beyond the maximum
    // (and below 0) it stays at its ends.
    for (int n = 1; n <= LEAVES_SCALE_MAX; ++n) {
        EXPECT_GT(luma(leavesColour(n)), luma(leavesColour(n - 1))) << n;
    }
    EXPECT_EQ(leavesColour(LEAVES_SCALE_MAX + 1), leavesColour(LEAVES_SCALE_MAX));
    EXPECT_EQ(leavesColour(1 << 30), leavesColour(LEAVES_SCALE_MAX));
    EXPECT_EQ(leavesColour(-1), leavesColour(0));
    EXPECT_EQ(leavesColour(LEAVES_SCALE_MAX) >> 24, 0u);
    // The ends are the colour map's own; between samples each channel is
    // the nearest integer (3: red 68.6; 6: green 93.8; 19: red 219.8, green
    // 226.6): the pictures of the leaves view depend on it.
    EXPECT_EQ(leavesColour(0), 0x440154u);
    EXPECT_EQ(leavesColour(3), 0x45337du);
    EXPECT_EQ(leavesColour(6), 0x355e8cu);
    EXPECT_EQ(leavesColour(10), 0x21908du);
    EXPECT_EQ(leavesColour(19), 0xdce32au);
    EXPECT_EQ(leavesColour(LEAVES_SCALE_MAX), 0xfde725u);

    // Cells: leaves a few indices apart (mostly cells side by side) differ
    // clearly, and every leaf is clearly coloured, never the grey of a ray
    // without a hit.
    const int leaves = FastWalk(testing::sharedScene().world).leafCount();
    ASSERT_GT(leaves, 100);
    for (int i = 0; i < leaves; ++i) {
        const std::uint32_t c = cellColour(i);
        EXPECT_GE(chroma(c), 100) << i;
        EXPECT_EQ(c >> 24, 0u);
        for (int j = i + 1; j <= i + 3 && j < leaves; ++j) {
            EXPECT_GT(distance(c, cellColour(j)), 60) << i << " and " << j;
        }
    }
    EXPECT_EQ(cellColour(-1), CELLS_MISS);
    EXPECT_EQ(chroma(CELLS_MISS), 0);
}

// For a set of pixels, hits and misses, from the start and from the side,
// the literal walk's leaf count decides the colour.
TEST(ViewRows, APixelWhoseRayCrossesNLeavesHasTheColourOfN) {
    const World& world = testing::sharedScene().world;
    const FastTracer tracer(world);
    const double quarter = std::atan(1.0);
    const Observer views[] = {Scene::makeObserver(),
                              lookingFrom({7, 0, -7}, {0, -quarter, 0}),
                              lookingFrom({3, 2, -5}, {0.3, -0.5, 0.2})};
    int mostOfAll = 0;
    for (const Observer& observer : views) {
        ViewFrames frames(world, tracer, 64, 48, 3, observer);
        frames.frame(ViewMode::SHADED);  // the generator runs on from frame to frame
        const LiteralFrame literal =
            literalFrame(world, frames.view, ViewMode::LEAVES, 64, 48, frames.view.randomState);
        EXPECT_EQ(firstDifference(frames.frame(ViewMode::LEAVES), literal.pixels, 64), "");
        EXPECT_GT(literal.hits, 100);
        EXPECT_GT(64 * 48 - literal.hits, 100) << "misses";
        EXPECT_GT(literal.most, LEAVES_SCALE_MAX / 2) << "the scale's upper half is in use";
        mostOfAll = std::max(mostOfAll, literal.most);
    }
    EXPECT_GT(mostOfAll, LEAVES_SCALE_MAX) << "some ray crosses more leaves than the scale shows";
}

TEST(ViewRows, CellsAreTheLiteralConfirmingLeafOnEveryRunAndThreadCount) {
    const World& world = testing::sharedScene().world;
    const FastTracer tracer(world);
    struct Size {
        int width, height;
    };
    for (const Size size : {Size{1, 1}, Size{37, 23}, Size{120, 90}}) {
        // Two frames in a row on one thread, then on more: the same bytes.
        ViewFrames single(world, tracer, size.width, size.height, 1);
        const std::vector<std::uint32_t> first = single.frame(ViewMode::CELLS);
        const std::vector<std::uint32_t> second = single.frame(ViewMode::CELLS);
        for (int threads : {1, 2, 3, 8}) {
            ViewFrames many(world, tracer, size.width, size.height, threads);
            EXPECT_EQ(many.frame(ViewMode::CELLS), first) << threads << " threads";
            EXPECT_EQ(many.frame(ViewMode::CELLS), second) << threads << " threads";
            EXPECT_EQ(many.view.randomState, single.view.randomState);
        }

        // Each pixel: the leaf in which the literal walk confirmed the hit.
        const LiteralFrame literal = literalFrame(world, single.view, ViewMode::CELLS, size.width,
                                                  size.height, 0xffffffffu);
        EXPECT_EQ(firstDifference(first, literal.pixels, size.width), "")
            << size.width << "x" << size.height;
        EXPECT_TRUE(size.width == 1 || literal.hits > 0);
    }
}

TEST(ViewRows, EveryViewStepsTheGeneratorAsTheTracedPicture) {
    const World& world = testing::sharedScene().world;
    const FastTracer tracer(world);
    const std::uint32_t start = 0x2468aceu;
    std::vector<std::uint32_t> afterShaded;
    for (ViewMode mode : {ViewMode::SHADED, ViewMode::LEAVES, ViewMode::CELLS}) {
        ViewFrames frames(world, tracer, 53, 17, 2);
        frames.view.randomState = start;
        RayCounts counts;
        frames.frame(mode, &counts);
        EXPECT_EQ(counts.primary, 53u * 17u);
        std::uint32_t state = start;
        for (int i = 0; i < 2 * 53 * 17; ++i) {
            RayTracer::nextJitter(state);
        }
        EXPECT_EQ(frames.view.randomState, state) << "two steps per pixel in every view";
        // Whatever the last view was, the next traced picture is the same.
        const std::vector<std::uint32_t> next = frames.frame(ViewMode::SHADED);
        if (afterShaded.empty()) {
            afterShaded = next;
        }
        EXPECT_EQ(next, afterShaded);
    }

    // The traced picture through the view kernel is the fast path's, bit for bit.
    ViewFrames frames(world, tracer, 53, 17, 3);
    Viewer plain(&world, Scene::makeObserver(), RayTracer::EXTEND);
    ParallelRows fast(3, fastRows(plain, tracer));
    const int client[2] = {53, 17};
    plain.onResize(client);
    std::vector<std::uint32_t> expected(53 * 17);
    for (int frame = 0; frame < 2; ++frame) {
        fast.traceFrame(expected.data(), 53, 17, plain.randomState, nullptr);
        EXPECT_EQ(frames.frame(ViewMode::SHADED), expected) << "frame " << frame;
    }
}

// Worlds the flattened walk cannot take (here one obstacle is no sphere) are
// walked literally, with the leaves numbered in the same order.
TEST(ViewRows, WorldsTheFlatWalkRefusesAreWalkedLiterally) {
    testing::SphereWorld s{{{1.0, {0, 0, 0}}, {0.5, {1.5, 0.5, 0}}, {0.7, {-1, -1, 1}}}};
    testing::Slab slab(-0.25, 0.25);
    s.world.addObstacle(&slab);
    s.world.buildTree();
    const FastTracer tracer(s.world);
    ASSERT_FALSE(tracer.walk().usable());
    ViewFrames frames(s.world, tracer, 30, 20, 2);
    const std::uint32_t start = frames.view.randomState;
    const LiteralFrame leaves = literalFrame(s.world, frames.view, ViewMode::LEAVES, 30, 20, start);
    EXPECT_EQ(firstDifference(frames.frame(ViewMode::LEAVES), leaves.pixels, 30), "");
    EXPECT_GT(leaves.hits, 20);
    frames.view.randomState = start;
    const LiteralFrame cells = literalFrame(s.world, frames.view, ViewMode::CELLS, 30, 20, start);
    EXPECT_EQ(firstDifference(frames.frame(ViewMode::CELLS), cells.pixels, 30), "");
}

// The keys through the window layer, on a window system in memory.
class ViewKeys : public ::testing::Test {
protected:
    void SetUp() override {
        previousPlatform_ = vell::setCurrentPlatform(&platform);
        s.world.buildTree();
    }
    void TearDown() override {
        while (vell::windowRegistry != nullptr) {
            platform.destroyNativeWindow(
                static_cast<vell::WindowRecord*>(vell::windowRegistry->item)->window);
        }
        vell::setCurrentPlatform(previousPlatform_);
    }
    vell::WindowHandle handleOf(vell::AppWindow& window) {
        for (vell::ListNode* n = vell::windowRegistry; n != nullptr; n = n->next) {
            auto* record = static_cast<vell::WindowRecord*>(n->item);
            if (record->owner == &window) {
                return record->window;
            }
        }
        return nullptr;
    }

    vell::FakePlatform platform;
    testing::SphereWorld s{{{1.0, {0, 0, 0}}}};

private:
    vell::Platform* previousPlatform_ = nullptr;
};

TEST_F(ViewKeys, F1ToF3SelectTheViewAndNothingElse) {
    Viewer view(&s.world, Scene::makeObserver(), RayTracer::EXTEND);
    ASSERT_TRUE(view.createWindow("vell"));
    const vell::WindowHandle handle = handleOf(view);
    auto bits = [](const Vec3& v) {
        std::string out(sizeof v, '\0');
        std::memcpy(out.data(), &v, sizeof v);
        return out;
    };
    auto observerBits = [&] {
        const Observer& o = view.observer;
        return bits(o.position) + bits(o.angles) + bits(o.velocity) + bits(o.thrust) +
               bits(o.turn) + bits(o.screen);
    };
    const std::string observerBefore = observerBits();
    const std::uint32_t stateBefore = view.randomState;
    const std::size_t copiesBefore = platform.copies.size();

    struct Step {
        unsigned message;
        int key;
        ViewMode after;
    };
    const int f2 = vell::KEY_F1 + 1, f3 = vell::KEY_F1 + 2;
    const Step steps[] = {
        {vell::MSG_KEYDOWN, f2, ViewMode::LEAVES},
        {vell::MSG_KEYUP, f2, ViewMode::LEAVES},            // releasing changes nothing
        {vell::MSG_KEYDOWN, vell::KEY_F1 + 3, ViewMode::LEAVES},  // F4 is no view
        {vell::MSG_KEYDOWN, 'W', ViewMode::LEAVES},
        {vell::MSG_KEYDOWN, f3, ViewMode::CELLS},
        {vell::MSG_KEYDOWN, f3, ViewMode::CELLS},  // auto-repeat
        {vell::MSG_KEYUP, f3, ViewMode::CELLS},
        {vell::MSG_KEYDOWN, vell::KEY_F1, ViewMode::SHADED},
        {vell::MSG_KEYDOWN, f3, ViewMode::CELLS},
    };
    for (const Step& step : steps) {
        platform.send(handle, step.message, static_cast<vell::MessageParam>(step.key));
        EXPECT_FALSE(vell::pumpMessages());
        EXPECT_EQ(view.viewMode, step.after) << "key " << step.key << " message " << step.message;
    }
    EXPECT_EQ(observerBits(), observerBefore) << "the keys never move the camera";
    EXPECT_EQ(view.randomState, stateBefore);
    EXPECT_EQ(view.frameCount, 0);
    EXPECT_EQ(platform.copies.size(), copiesBefore) << "no frame is drawn by a key";
}

TEST_F(ViewKeys, OverlayNamesTheViewAndTheLeavesViewDrawsItsScale) {
    const FastTracer tracer(s.world);
    Viewer view(&s.world, Scene::makeObserver(), RayTracer::EXTEND);
    RayTracer plain(&s.world, Scene::makeObserver(), RayTracer::EXTEND);
    ParallelRows rows(2, viewRows(view, tracer));
    view.rows = &rows;
    ASSERT_TRUE(view.createWindow("vell"));
    ASSERT_TRUE(plain.createWindow("vell"));

    char text[Rasterizer::STATUS_BUFFER_SIZE], expected[Rasterizer::STATUS_BUFFER_SIZE];
    view.statusText(text, sizeof text);
    plain.statusText(expected, sizeof expected);
    EXPECT_STREQ(text, expected) << "the traced picture's overlay is the plain view's";
    view.viewMode = ViewMode::LEAVES;
    view.statusText(text, sizeof text);
    EXPECT_EQ(std::string(text), std::string(expected) + "\nleaves 0.." +
                                     std::to_string(LEAVES_SCALE_MAX) + "+");
    view.viewMode = ViewMode::CELLS;
    view.statusText(text, sizeof text);
    EXPECT_EQ(std::string(text), std::string(expected) + "\nleaf cells");
    view.statusText(text, 20);
    EXPECT_EQ(std::strlen(text), 19u) << "cut at the buffer's end";

    // The bar: one step of LEGEND_STEP pixels per count, right-aligned inside
    // the margin, framed in white, its ends labelled (two more texts).
    const int width = 240;  // the fake window's client
    const int left = width - Viewer::LEGEND_MARGIN - (LEAVES_SCALE_MAX + 1) * Viewer::LEGEND_STEP;
    const int middle = Viewer::LEGEND_MARGIN + Viewer::LEGEND_HEIGHT / 2;
    auto at = [&](int x, int y) { return view.backBufferPixels()[y * width + x]; };
    view.viewMode = ViewMode::LEAVES;
    const std::size_t textsBefore = platform.texts.size();
    view.drawFrame();
    EXPECT_EQ(platform.texts.size(), textsBefore + 3);
    for (int n = 0; n <= LEAVES_SCALE_MAX; ++n) {
        EXPECT_EQ(at(left + n * Viewer::LEGEND_STEP + Viewer::LEGEND_STEP / 2, middle),
                  leavesColour(n))
            << n;
    }
    EXPECT_EQ(at(left - 1, middle), 0x00ffffffu);
    EXPECT_EQ(at(left + 3, Viewer::LEGEND_MARGIN - 1), 0x00ffffffu);

    // Without the overlay, or in another view, the picture is the traced one
    // (this window system's texts draw nothing).
    for (const bool overlay : {false, true}) {
        view.drawOverlay = overlay;
        view.viewMode = overlay ? ViewMode::CELLS : ViewMode::LEAVES;
        std::uint32_t state = view.randomState;
        std::vector<std::uint32_t> traced(240 * 200);
        rows.traceFrame(traced.data(), 240, 200, state, nullptr);
        view.drawFrame();
        EXPECT_EQ(std::vector<std::uint32_t>(view.backBufferPixels(),
                                             view.backBufferPixels() + traced.size()),
                  traced)
            << "overlay " << overlay;
    }

    // Narrower windows get narrower steps, down to 2 pixels; below that the
    // bar would reach into the status text and is left out, as it is from a
    // window too short for the bar and its labels.
    view.drawOverlay = true;
    view.viewMode = ViewMode::LEAVES;
    const int fits = Viewer::LEGEND_MARGIN + Viewer::LEGEND_HEIGHT + 2 + Viewer::LEGEND_LABEL_HEIGHT;
    struct Size {
        int width, height, step;
    };
    for (const Size size : {Size{170, fits, 2}, Size{150, 40, 0}, Size{20, 40, 0},
                            Size{240, fits - 1, 0}, Size{200, 20, 0}, Size{240, 10, 0}}) {
        const int narrow = size.width, tall = size.height;
        platform.send(handleOf(view), vell::MSG_SIZE, 0, vell::packPair(narrow, tall));
        EXPECT_FALSE(vell::pumpMessages());
        ASSERT_EQ(view.backBufferSize()[0], narrow);
        const int step = size.step;
        if (tall >= fits) {
            EXPECT_EQ(Viewer::legendStep(narrow), step);
        }
        std::uint32_t state = view.randomState;
        std::vector<std::uint32_t> traced(static_cast<std::size_t>(narrow) * tall);
        rows.traceFrame(traced.data(), narrow, tall, state, nullptr);
        view.drawFrame();
        const std::uint32_t* pixels = view.backBufferPixels();
        const int barLeft = narrow - Viewer::LEGEND_MARGIN - (LEAVES_SCALE_MAX + 1) * step;
        const int barBottom = Viewer::LEGEND_MARGIN + Viewer::LEGEND_HEIGHT;
        for (int y = 0; y < tall; ++y) {
            for (int x = 0; x < narrow; ++x) {
                const std::size_t p = static_cast<std::size_t>(y * narrow + x);
                const bool inBar = step > 0 && x >= barLeft && x < narrow - Viewer::LEGEND_MARGIN &&
                                   y >= Viewer::LEGEND_MARGIN && y < barBottom;
                const bool inFrame = step > 0 && x >= barLeft - 1 &&
                                     x <= narrow - Viewer::LEGEND_MARGIN &&
                                     y >= Viewer::LEGEND_MARGIN - 1 && y <= barBottom;
                const std::uint32_t expected = inBar ? leavesColour((x - barLeft) / 2)
                                               : inFrame ? 0x00ffffffu
                                                         : traced[p];
                ASSERT_EQ(pixels[p], expected) << narrow << "x" << tall << ", at " << x << "," << y;
            }
        }
    }
}

}  // namespace
}  // namespace kelvo
