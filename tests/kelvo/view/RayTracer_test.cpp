#include "kelvo/view/RayTracer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>

#include <climits>
#include <cmath>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "kelvo/fast/ParallelRows.h"
#include "tests/kelvo/tree/tree_helpers.h"
#include "velllib/app.h"
#include "velllib/platform_memory.h"
#include "velllib/vell_time.h"

namespace kelvo {
namespace {

using testing::SphereWorld;

std::uint32_t fakeMilliseconds = 1;
std::uint32_t fakeCounter() { return fakeMilliseconds; }

// In-memory windows whose keys a test can hold down.
class KeyedPlatform final : public vell::Platform {
public:
    explicit KeyedPlatform(int width = 40, int height = 30) {
        std::string error;
        memory_ = vell::MemoryPlatform::open({width, height}, error);
        EXPECT_NE(memory_, nullptr) << error;
    }
    bool registerWindowClass(const char* name) override { return memory_->registerWindowClass(name); }
    vell::WindowHandle createNativeWindow(const char* t, vell::AppWindow* o) override {
        return memory_->createNativeWindow(t, o);
    }
    void destroyNativeWindow(vell::WindowHandle w) override { memory_->destroyNativeWindow(w); }
    bool peekMessage(vell::Message& m) override { return memory_->peekMessage(m); }
    vell::MessageResult dispatchMessage(const vell::Message& m) override {
        return memory_->dispatchMessage(m);
    }
    void waitForMessage(int ms) override { memory_->waitForMessage(ms); }
    void postQuitMessage(int code) override { memory_->postQuitMessage(code); }
    vell::MessageResult defaultProcedure(vell::WindowHandle w, unsigned m, vell::MessageParam p,
                                         vell::MessageLong l) override {
        return memory_->defaultProcedure(w, m, p, l);
    }
    vell::BackBuffer makeBackBuffer(vell::WindowHandle w, int width, int height) override {
        return memory_->makeBackBuffer(w, width, height);
    }
    void freeBackBuffer(vell::WindowHandle w, vell::BitmapHandle b) override {
        memory_->freeBackBuffer(w, b);
    }
    void copyToWindow(vell::WindowHandle w, vell::BitmapHandle b, const std::uint32_t* p, int width,
                      int height) override {
        memory_->copyToWindow(w, b, p, width, height);
    }
    void drawText(vell::WindowHandle w, vell::BitmapHandle b, std::uint32_t* p, int width,
                  int height, const char* text, int left, int top) override {
        memory_->drawText(w, b, p, width, height, text, left, top);
    }
    int keyDown(int key) override { return held.count(key) ? 1 : 0; }

    std::set<int> held;

private:
    std::unique_ptr<vell::MemoryPlatform> memory_;
};

class View : public ::testing::Test {
protected:
    void SetUp() override {
        vell::catchStopSignals();
        previousCounter_ = vell::setMillisecondCounter(fakeCounter);
        fakeMilliseconds = 1000;
        vell::resetClock();
        previousPlatform_ = vell::setCurrentPlatform(&platform);
        s.world.buildTree();
    }
    void TearDown() override {
        vell::clearStopRequest();
        std::signal(SIGINT, SIG_DFL);
        std::signal(SIGTERM, SIG_DFL);
        vell::setCurrentPlatform(previousPlatform_);
        vell::setMillisecondCounter(previousCounter_);
        vell::resetClock();
    }
    void at(double seconds) { fakeMilliseconds = 1000 + static_cast<std::uint32_t>(seconds * 1000); }

    KeyedPlatform platform;
    SphereWorld s{{{1.0, {0, 0, 0}}}};

private:
    vell::MillisecondCounter previousCounter_ = nullptr;
    vell::Platform* previousPlatform_ = nullptr;
};

TEST(RayTracer, JitterGeneratorAndColourPacking) {
    std::uint32_t state = 0xffffffffu;
    for (const int expected : {35, 29739, 3374, 11141, 31308, 7870}) {
        EXPECT_EQ(RayTracer::nextJitter(state), expected);
    }
    auto grey = [](float c) { return RayTracer::packColour({c, c, c}) & 0xffu; };
    EXPECT_EQ(grey(0.0f), 0u);
    EXPECT_EQ(grey(1.0f), 255u);
    EXPECT_EQ(grey(1.2f), 255u);
    EXPECT_EQ(grey(0.5f / 255.0f), 0u) << "half to even";
    EXPECT_EQ(grey(1.5f / 255.0f), 2u) << "half to even";
    EXPECT_EQ(grey(-0.3f), 0u);
    EXPECT_EQ(grey(std::nanf("")), 0u);
    EXPECT_EQ(RayTracer::packColour({1.0f, 0.5f, 0.0f}), 0x00ff8000u);
}

TEST_F(View, FittingTheScreenToTheWindow) {
    const Vec3 reference{0.5, 0.5, 0.66};
    auto fitted = [&](int mode, int w, int h) {
        RayTracer view(&s.world, Scene::makeObserver(), mode);
        const int size[2] = {w, h};
        view.onResize(size);
        // Successive resizes start from the reference again.
        view.onResize(size);
        EXPECT_EQ(view.pixelWidth, 1.0 / w);
        EXPECT_EQ(view.pixelHeight, 1.0 / h);
        return view.observer.screen;
    };
    EXPECT_NEAR(fitted(0, 232, 173).x, 0.67052023121387283, 1e-15);
    EXPECT_EQ(fitted(0, 232, 173).y, 0.5);
    EXPECT_NEAR(fitted(2, 232, 173).y, 0.37284482758620691, 1e-15);
    EXPECT_EQ(fitted(2, 232, 173).x, 0.5);
    EXPECT_EQ(fitted(1, 232, 173), reference);
    EXPECT_NEAR(fitted(0, 173, 232).y, 0.67052023121387283, 1e-15);
    EXPECT_EQ(fitted(7, 173, 232), fitted(0, 173, 232)) << "unknown modes extend";

    // An empty area leaves the screen alone; the next real size restores it.
    RayTracer view(&s.world, Scene::makeObserver(), 0);
    const int empty[2] = {0, 0}, wide[2] = {400, 200}, square[2] = {100, 100};
    view.onResize(wide);
    view.onResize(empty);
    EXPECT_EQ(view.observer.screen.x, 1.0);
    view.onResize(square);
    EXPECT_EQ(view.observer.screen, reference);
}

TEST_F(View, TracesOneJitteredRayPerPixelTopRowFirst) {
    RayTracer view(&s.world, Scene::makeObserver(), 0);
    view.drawOverlay = false;
    ASSERT_TRUE(view.createWindow("vell"));
    at(0.5);
    view.drawFrame();
    const std::uint32_t* pixels = view.backBufferPixels();
    ASSERT_NE(pixels, nullptr);

    // Replay the generator: the first pixel takes draws 1 and 2, the second 3
    // and 4, and every pixel is what the World traces for its ray.
    std::uint32_t state = 0xffffffffu;
    for (int y = 0; y < 30; ++y) {
        for (int x = 0; x < 40; ++x) {
            const int r1 = RayTracer::nextJitter(state);
            const int r2 = RayTracer::nextJitter(state);
            const double point[2] = {(x + r1 * JITTER_SCALE) / 40.0, (y + r2 * JITTER_SCALE) / 30.0};
            Ray ray;
            view.observer.rayThrough(point, ray);
            vell::Colour c;
            s.world.trace(ray, c, TRACE_DEPTH);
            ASSERT_EQ(pixels[y * 40 + x], RayTracer::packColour(c)) << x << "," << y;
        }
    }
    EXPECT_EQ(view.randomState, state) << "the generator runs on into the next frame";
    std::vector<std::uint32_t> first(pixels, pixels + 40 * 30);
    view.drawFrame();
    EXPECT_NE(std::vector<std::uint32_t>(pixels, pixels + 40 * 30), first)
        << "a still camera samples new points every frame";
}

TEST_F(View, FramesOnWorkerThreadsFollowMovesAndResizesToTheBit) {
    // Two views that see the same keys and clock: one traces on this thread,
    // the other on three workers.
    RayTracer literal(&s.world, Scene::makeObserver(), 0);
    RayTracer threaded(&s.world, Scene::makeObserver(), 0);
    ParallelRows rows(3, literalRows(threaded));
    threaded.rows = &rows;
    RayCounts literalRays, threadedRays;
    literal.rayCounts = &literalRays;
    threaded.rayCounts = &threadedRays;
    ASSERT_TRUE(literal.createWindow("vell"));
    ASSERT_TRUE(threaded.createWindow("vell"));
    const std::set<int> keys[] = {{}, {'W', vell::KEY_LEFT}, {'D', 'Q'}, {}};
    for (int frame = 0; frame < 4; ++frame) {
        if (frame == 2) {
            // The camera refitted between frames (the back buffer keeps its size).
            const int size[2] = {23, 41};
            literal.onResize(size);
            threaded.onResize(size);
        }
        platform.held = keys[frame];
        at(0.25 * (frame + 1));
        literal.drawFrame();
        threaded.drawFrame();
        const int count = 40 * 30;
        ASSERT_EQ(std::vector<std::uint32_t>(threaded.backBufferPixels(),
                                             threaded.backBufferPixels() + count),
                  std::vector<std::uint32_t>(literal.backBufferPixels(),
                                             literal.backBufferPixels() + count))
            << "frame " << frame;
        ASSERT_EQ(threaded.randomState, literal.randomState) << "frame " << frame;
    }
    EXPECT_EQ(threadedRays.primary, literalRays.primary);
    EXPECT_EQ(threadedRays.primary, 4u * 40 * 30);
}

TEST_F(View, OverlayShowsStatisticsSizeAndARateOverThreeSeconds) {
    RayTracer view(&s.world, Scene::makeObserver(), 0);
    ASSERT_TRUE(view.createWindow("vell"));
    at(1.0);
    view.drawFrame();
    EXPECT_STREQ(view.overlay(), "13n/1e/2.97d\n40*30\n0.000 fps");
    at(2.0);
    view.drawFrame();
    at(3.0);
    view.drawFrame();  // closes the span: three frames in 3.0 s
    EXPECT_STREQ(view.overlay(), "13n/1e/2.97d\n40*30\n0.000 fps") << "not before the next frame";
    at(4.0);
    view.drawFrame();
    EXPECT_STREQ(view.overlay(), "13n/1e/2.97d\n40*30\n1.000 fps");
    at(5.0);
    view.drawFrame();
    at(9.0);
    view.drawFrame();  // three frames since 3.0 s, closing a span of 6.0 s
    EXPECT_STREQ(view.overlay(), "13n/1e/2.97d\n40*30\n1.000 fps");
    at(10.0);
    view.drawFrame();
    EXPECT_STREQ(view.overlay(), "13n/1e/2.97d\n40*30\n0.500 fps");

    // The text is drawn into the picture: white background in the corner.
    EXPECT_EQ(view.backBufferPixels()[0] & 0xffffffu, 0xffffffu);

    World unbuilt(0.0f);
    RayTracer empty(&unbuilt, Scene::makeObserver(), 0);
    char status[Rasterizer::STATUS_BUFFER_SIZE];
    empty.statusText(status, sizeof status);
    EXPECT_STREQ(status, "0n/0e/0.00d\n0*0") << "no window: size zeros";

    // Formatting stays inside the shared buffer whatever the numbers are.
    unbuilt.nodeCount = INT_MIN;
    unbuilt.elementCount = INT_MIN;
    unbuilt.averageDepth = -3.0e38f;
    ASSERT_TRUE(empty.createWindow("vell"));
    empty.drawFrame();
    EXPECT_EQ(std::strlen(empty.overlay()), Rasterizer::STATUS_BUFFER_SIZE - 1);
    EXPECT_EQ(std::string(empty.overlay()).rfind("-2147483648n/-2147483648e/", 0), 0u);
}

TEST_F(View, KeysDriveTheObserverAndFramesCountWithoutABackBuffer) {
    RayTracer view(&s.world, Scene::makeObserver(), 0);
    // No window yet: nothing is traced or drawn, but the observer moves and
    // the frame counts.
    platform.held = {'W'};
    at(0.5);
    view.drawFrame();
    EXPECT_EQ(view.frameCount, 1);
    EXPECT_GT(view.observer.position.z, -10.0);
    EXPECT_GT(view.observer.velocity.z, 0.0);

    // Both keys of a pair cancel; Right arrow yaws, Q rolls, Space rises.
    platform.held = {'W', 'S', vell::KEY_RIGHT, 'Q', vell::KEY_SPACE};
    at(1.0);
    view.drawFrame();
    EXPECT_EQ(view.observer.thrust.z, 0.0);
    EXPECT_EQ(view.observer.thrust.y, 1.0);
    EXPECT_EQ(view.observer.turn.y, 1.0);
    EXPECT_EQ(view.observer.turn.z, 1.0);
    EXPECT_EQ(view.observer.angles.y, static_cast<double>(0.08f));
    platform.held = {'A', 'E', vell::KEY_DOWN, vell::KEY_SHIFT};
    at(1.5);
    view.drawFrame();
    EXPECT_EQ(view.observer.thrust, Vec3(-1, -1, 0));
    EXPECT_EQ(view.observer.turn, Vec3(-1, 0, -1));
    EXPECT_EQ(view.lastFrameTime, 1.5);
}

TEST_F(View, TurnKeysStepOncePerFrameUpToThirtyFramesASecondAndKeepThatRateAbove) {
    RayTracer view(&s.world, Scene::makeObserver(), 0);
    const double step = static_cast<double>(0.08f);
    platform.held = {vell::KEY_RIGHT, vell::KEY_UP, 'E'};
    // 1/30 s or longer: exactly the key differences, one step per frame.
    at(0.040);
    view.drawFrame();
    EXPECT_EQ(view.observer.turn, Vec3(1, 1, -1));
    at(0.540);
    view.drawFrame();
    EXPECT_EQ(view.observer.turn, Vec3(1, 1, -1));
    EXPECT_EQ(view.observer.angles, Vec3(step + step, step + step, -step - step));
    // No time, no turn.
    view.drawFrame();
    EXPECT_EQ(view.observer.turn, Vec3(0, 0, 0));
    EXPECT_EQ(view.observer.angles.y, step + step);
    // Faster: in proportion to the time, 10 ms being 0.3 of a step.
    at(0.550);
    view.drawFrame();
    EXPECT_NEAR(view.observer.turn.y, 0.3, 1e-12);
    EXPECT_EQ(view.observer.turn.x, view.observer.turn.y);
    EXPECT_EQ(view.observer.turn.z, -view.observer.turn.y);

    // A second of turning at 1000 and at 20 frames per second: 30 steps, and
    // the same 20 steps as ever.
    const double before = view.observer.angles.y;
    for (int ms = 551; ms <= 1550; ++ms) {
        at(ms / 1000.0);
        view.drawFrame();
    }
    EXPECT_NEAR(view.observer.angles.y - before, 30 * step, 1e-9);
    const double middle = view.observer.angles.y;
    for (int frame = 1; frame <= 20; ++frame) {
        at(1.550 + frame * 0.05);
        view.drawFrame();
    }
    EXPECT_NEAR(view.observer.angles.y - middle, 20 * step, 1e-12);
    EXPECT_EQ(RayTracer::turnScale(-0.5), 0.0);
    EXPECT_EQ(RayTracer::turnScale(std::nan("")), 0.0);
}

TEST_F(View, AStopRequestAbandonsTheFrameBeforeTheNextRow) {
    RayTracer view(&s.world, Scene::makeObserver(), 0);
    view.drawOverlay = false;
    ASSERT_TRUE(view.createWindow("vell"));
    at(0.5);
    std::uint32_t* pixels = view.backBufferPixels();
    ASSERT_NE(pixels, nullptr);
    std::fill(pixels, pixels + 40 * 30, 0x00abcdefu);

    std::raise(SIGTERM);  // with the handler of catchStopSignals
    ASSERT_TRUE(vell::stopRequested());
    std::uint32_t state = 1234u;
    view.traceRows(pixels, 40, 0, 30, state);
    EXPECT_EQ(state, 1234u) << "no row was started";
    const std::uint32_t before = view.randomState;
    view.drawFrame();
    EXPECT_EQ(view.randomState, before);
    EXPECT_EQ(view.frameCount, 0) << "an abandoned frame is neither shown nor counted";
    EXPECT_TRUE(std::all_of(pixels, pixels + 40 * 30, [](std::uint32_t p) { return p == 0x00abcdefu; }));

    vell::clearStopRequest();
    view.drawFrame();
    EXPECT_EQ(view.frameCount, 1);
    EXPECT_NE(view.randomState, before);
}

}  // namespace
}  // namespace kelvo
