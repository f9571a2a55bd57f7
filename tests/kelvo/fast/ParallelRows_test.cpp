#include "kelvo/fast/ParallelRows.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cfenv>
#include <csignal>
#include <mutex>
#include <new>
#include <cstring>
#include <random>
#include <vector>

#include "kelvo/fast/FastTracer.h"
#include "kelvo/view/FrameSums.h"
#include "kelvo/view/Jitter.h"
#include "kelvo/view/Pixel.h"
#include "kelvo/view/RayTracer.h"
#include "tests/kelvo/tree/tree_helpers.h"
#include "velllib/app.h"

namespace kelvo {
namespace {

std::uint32_t stepped(std::uint32_t state, std::uint64_t steps) {
    for (std::uint64_t i = 0; i < steps; ++i) {
        RayTracer::nextJitter(state);
    }
    return state;
}

TEST(JitterJump, AgreesWithSteppingTheGenerator) {
    std::mt19937 random(7);
    for (std::uint32_t start : {0xffffffffu, 0u, 1u, 0x80000000u, 123456789u}) {
        // Every count from 0 to 1500, stepping along.
        std::uint32_t state = start;
        for (std::uint64_t n = 0; n <= 1500; ++n) {
            ASSERT_EQ(jitterJump(start, n), state) << "start " << start << ", " << n << " steps";
            RayTracer::nextJitter(state);
        }
        // A whole 1920x1080 frame, and a row of it.
        EXPECT_EQ(jitterJump(start, 2ull * 1920 * 1080), stepped(start, 2ull * 1920 * 1080));
        EXPECT_EQ(jitterJump(start, 2ull * 1920), stepped(start, 2ull * 1920));

        // The map has full period 2^32 (odd increment, multiplier - 1 divisible
        // by 4), which gives truths for counts too long to step.
        EXPECT_EQ(jitterJump(start, 1ull << 32), start);
        EXPECT_EQ(stepped(jitterJump(start, (1ull << 32) - 1), 1), start);
        EXPECT_EQ(jitterJump(start, (1ull << 32) + 5), stepped(start, 5));
        EXPECT_EQ(jitterJump(start, (7ull << 40) + 1001), stepped(start, 1001));
        EXPECT_NE(jitterJump(start, (1ull << 31)), start) << "no shorter period";
        // Jumps compose.
        for (int i = 0; i < 200; ++i) {
            const std::uint64_t a = random() % (1ull << 36);
            const std::uint64_t b = random() % (1ull << 36);
            ASSERT_EQ(jitterJump(jitterJump(start, a), b), jitterJump(start, a + b));
        }
    }
}

struct Frame {
    std::vector<std::uint32_t> pixels;
    std::uint32_t endState = 0;
    RayCounts rays;
};

Frame literalFrame(const RayTracer& view, int width, int height, std::uint32_t state) {
    Frame frame;
    frame.pixels.assign(static_cast<std::size_t>(width) * height, 0xdeadbeefu);
    view.traceRows(frame.pixels.data(), width, 0, height, state, &frame.rays);
    frame.endState = state;
    return frame;
}

Frame parallelFrame(ParallelRows& rows, int width, int height, std::uint32_t state) {
    Frame frame;
    frame.pixels.assign(static_cast<std::size_t>(width) * height, 0xdeadbeefu);
    rows.traceFrame(frame.pixels.data(), width, height, state, &frame.rays);
    frame.endState = state;
    return frame;
}

void expectSameFrame(const Frame& expected, const Frame& actual, const std::string& what) {
    EXPECT_EQ(actual.endState, expected.endState) << what << ": generator state after the frame";
    EXPECT_EQ(actual.rays.primary, expected.rays.primary) << what;
    EXPECT_EQ(actual.rays.reflected, expected.rays.reflected) << what;
    EXPECT_EQ(actual.rays.shadow, expected.rays.shadow) << what;
    ASSERT_EQ(actual.pixels.size(), expected.pixels.size()) << what;
    std::size_t differing = 0, first = 0;
    for (std::size_t i = actual.pixels.size(); i-- > 0;) {
        if (actual.pixels[i] != expected.pixels[i]) {
            ++differing;
            first = i;
        }
    }
    EXPECT_EQ(differing, 0u) << what << ": first differing pixel " << first;
}

TEST(ParallelRows, PicturesAreTheLiteralLoopsOnEveryThreadCountSizeAndFrame) {
    const Scene& scene = testing::sharedScene();
    struct Case {
        int width, height;
        std::vector<long long> frames;  // ascending
    };
    // Frames after the first start where the previous one ended; the later
    // ones jump there.
    const Case cases[] = {
        {1, 1, {0, 1, 2, 1000000}},   {37, 23, {0, 1, 2, 777}}, {240, 200, {0, 1, 9}},
        {1000, 3, {0, 1, 2, 50}},     {1920, 1080, {0}},
    };
    for (const Case& c : cases) {
        RayTracer view(&scene.world, Scene::makeObserver(), RayTracer::EXTEND);
        const int size[2] = {c.width, c.height};
        view.onResize(size);
        // Each team is kept across the frames of its size, as in the program.
        std::vector<std::unique_ptr<ParallelRows>> teams;
        for (int threads : {1, 2, 3, 8}) {
            teams.push_back(std::make_unique<ParallelRows>(threads, literalRows(view)));
        }
        const std::uint64_t frameSteps = 2ull * c.width * c.height;
        std::uint32_t state = 0xffffffffu;
        long long at = 0;
        for (long long frame : c.frames) {
            if (frame != at) {
                state = jitterJump(state, frameSteps * static_cast<std::uint64_t>(frame - at));
            }
            const Frame expected = literalFrame(view, c.width, c.height, state);
            ASSERT_EQ(expected.rays.primary, frameSteps / 2);
            for (auto& team : teams) {
                expectSameFrame(expected, parallelFrame(*team, c.width, c.height, state),
                                std::to_string(c.width) + "x" + std::to_string(c.height) +
                                    ", frame " + std::to_string(frame) + ", " +
                                    std::to_string(team->threads()) + " threads");
            }
            state = expected.endState;
            at = frame + 1;
        }
    }
}

TEST(ParallelRows, RefinedFramesAreTheMeansOfTheLiteralFramesColoursOnEveryThreadCount) {
    const Scene& scene = testing::sharedScene();
    const FastTracer tracer(scene.world);
    constexpr int width = 37, height = 23, frames = 5;
    constexpr std::size_t count = static_cast<std::size_t>(width) * height;
    RayTracer view(&scene.world, Scene::makeObserver(), RayTracer::EXTEND);
    const int size[2] = {width, height};
    view.onResize(size);
    // Turned a little, so that more of the picture is edges.
    view.observer.angles = {0.1, 0.25, 0.05};
    view.observer.updateBasis();
    view.observer.updateMapping();

    // The truth: each frame's colours by the literal loop, from the generator
    // running on; their sums in frame order; each mean packed as a frame is.
    std::vector<std::vector<vell::Colour>> sums;
    std::vector<std::vector<std::uint32_t>> means;
    std::vector<std::uint32_t> states;
    std::uint32_t state = 0xffffffffu;
    std::vector<vell::Colour> sum(count);
    for (int frame = 1; frame <= frames; ++frame) {
        std::vector<vell::Colour> colours(count);
        const Frame single = literalFrame(view, width, height, state);
        view.traceColours(colours.data(), width, 0, height, state);
        ASSERT_EQ(state, single.endState);
        std::vector<std::uint32_t> mean(count);
        const float n = static_cast<float>(frame);
        for (std::size_t i = 0; i < count; ++i) {
            ASSERT_EQ(packColour(colours[i]), single.pixels[i])
                << "the colours are what the frame packs, pixel " << i;
            if (frame == 1) {
                sum[i] = colours[i];
            } else {
                sum[i] = {sum[i].r + colours[i].r, sum[i].g + colours[i].g,
                          sum[i].b + colours[i].b};
            }
            mean[i] = packColour({sum[i].r / n, sum[i].g / n, sum[i].b / n});
        }
        if (frame == 1) {
            ASSERT_EQ(mean, single.pixels) << "one sample is the single frame";
        }
        sums.push_back(sum);
        means.push_back(mean);
        states.push_back(state);
    }
    ASSERT_NE(means[frames - 1], means[0]) << "the jitter must show in the mean";

    for (const bool fast : {false, true}) {
        for (const int threads : {1, 2, 3}) {
            ParallelRows rows(threads, fast ? fastRows(view, tracer) : literalRows(view));
            FrameSums refined;
            std::uint32_t rowsState = 0xffffffffu;
            for (int frame = 1; frame <= frames; ++frame) {
                const std::string what = std::string(fast ? "fast" : "literal") + ", " +
                                         std::to_string(threads) + " threads, frame " +
                                         std::to_string(frame);
                std::vector<std::uint32_t> pixels(count, 0xdeadbeefu);
                rows.refineFrame(pixels.data(), width, height, rowsState, nullptr, refined);
                ASSERT_EQ(refined.samples(), frame) << what;
                EXPECT_EQ(rowsState, states[static_cast<std::size_t>(frame - 1)]) << what;
                EXPECT_EQ(pixels, means[static_cast<std::size_t>(frame - 1)]) << what;
                std::size_t differing = 0;
                for (std::size_t i = 0; i < count; ++i) {
                    const vell::Colour& expected = sums[static_cast<std::size_t>(frame - 1)][i];
                    differing += std::memcmp(&refined.sum(i), &expected, sizeof expected) != 0;
                }
                EXPECT_EQ(differing, 0u) << what << ": sums not bit for bit";
            }
            // A restart makes the next frame a first sample again.
            refined.restart();
            std::vector<std::uint32_t> pixels(count);
            std::uint32_t next = rowsState;
            rows.refineFrame(pixels.data(), width, height, rowsState, nullptr, refined);
            EXPECT_EQ(refined.samples(), 1);
            EXPECT_EQ(pixels, literalFrame(view, width, height, next).pixels);
        }
    }
}

TEST(ParallelRows, WorkersUseTheirOwnPoolsAndTheCallersFloatingPointEnvironment) {
    const Scene& scene = testing::sharedScene();
    RayTracer view(&scene.world, Scene::makeObserver(), RayTracer::EXTEND);
    const int size[2] = {48, 40};
    view.onResize(size);
    ParallelRows rows(3, literalRows(view));
    EXPECT_EQ(ParallelRows(0, literalRows(view)).threads(), 1);
    EXPECT_EQ(ParallelRows(100000, literalRows(view)).threads(), ParallelRows::MAX_THREADS);

    // The calling thread traces too, with its worker's pool, and gets its own
    // pool back afterwards.
    vell::NodePool mine;
    vell::NodePool* previous = vell::setCurrentPool(&mine);
    const Frame nearest = parallelFrame(rows, 48, 40, 0xffffffffu);  // the workers exist now
    EXPECT_EQ(&vell::currentPool(), &mine);
    EXPECT_EQ(mine.blockCount(), 0u) << "a worker took nodes from the caller's pool";
    vell::setCurrentPool(previous);
    expectSameFrame(literalFrame(view, 48, 40, 0xffffffffu), nearest, "rounding to nearest");

    // Another rounding mode changes the picture (colours are rounded to
    // integers in the current mode); the workers must follow the caller.
    ASSERT_EQ(std::fesetround(FE_UPWARD), 0);
    const Frame upward = literalFrame(view, 48, 40, 0xffffffffu);
    const Frame upwardRows = parallelFrame(rows, 48, 40, 0xffffffffu);
    std::fesetround(FE_TONEAREST);
    EXPECT_NE(upward.pixels, nearest.pixels) << "the test needs a mode that shows";
    expectSameFrame(upward, upwardRows, "rounding upward");
}

// A kernel that counts the groups it is given and, at its first, does what
// the test asks: request a stop, or run out of memory.
class ProbeKernel final : public RowKernel {
public:
    enum Act { STOP, THROW };
    ProbeKernel(Act act, std::atomic<int>& calls, std::atomic<int>& prepared)
        : act_(act), calls_(calls), prepared_(prepared) {}
    void prepare(int) override { ++prepared_; }
    void traceRows(std::uint32_t*, int, int, int, std::uint32_t&, RayCounts*) override {
        // Every later group begins after the first one's act.
        std::lock_guard<std::mutex> lock(mutex_);
        if (calls_++ == 0) {
            if (act_ == STOP) {
                vell::recordStop(SIGINT);
            } else {
                throw std::bad_alloc();
            }
        }
    }

private:
    static inline std::mutex mutex_;
    Act act_;
    std::atomic<int>& calls_;
    std::atomic<int>& prepared_;
};

TEST(ParallelRows, AStopOrAFailureInTheFirstGroupStartsNoFurtherGroup) {
    constexpr int WIDTH = 8, HEIGHT = 40 * ParallelRows::ROWS_PER_TASK;
    std::vector<std::uint32_t> pixels(static_cast<std::size_t>(WIDTH) * HEIGHT);
    for (const ProbeKernel::Act act : {ProbeKernel::STOP, ProbeKernel::THROW}) {
        for (const int threads : {1, 3}) {
            std::atomic<int> calls{0}, prepared{0};
            ParallelRows rows(threads, [&] {
                return std::make_unique<ProbeKernel>(act, calls, prepared);
            });
            std::uint32_t state = 1;
            const std::string what = std::string(act == ProbeKernel::STOP ? "stop" : "bad_alloc") +
                                     ", " + std::to_string(rows.threads()) + " threads";
            if (act == ProbeKernel::STOP) {
                rows.traceFrame(pixels.data(), WIDTH, HEIGHT, state, nullptr);
                EXPECT_TRUE(vell::stopRequested());
                vell::clearStopRequest();
            } else {
                // Out of the region to the caller, not std::terminate.
                EXPECT_THROW(rows.traceFrame(pixels.data(), WIDTH, HEIGHT, state, nullptr),
                             std::bad_alloc)
                    << what;
            }
            // Each worker may have begun one group before it saw the stop; a
            // failure is seen once its exception is caught.
            if (act == ProbeKernel::STOP || rows.threads() == 1) {
                EXPECT_GE(calls.load(), 1) << what;
                EXPECT_LE(calls.load(), rows.threads()) << what;
            }
            EXPECT_EQ(prepared.load(), rows.threads()) << what << ": every worker prepared first";
        }
    }
}

}  // namespace
}  // namespace kelvo
