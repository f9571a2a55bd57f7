// Whole frames of the scene, single-threaded, camera at rest: the literal
// per-pixel loop against the fast one. Run: build/bench/kelvo_fast_bench
//   [--benchmark_filter=Fast] [--benchmark_repetitions=5]

#include <benchmark/benchmark.h>

#include <vector>

#include "kelvo/app/kelvo.h"
#include "kelvo/fast/FastTracer.h"
#include "kelvo/view/RayTracer.h"

namespace {

const kelvo::Scene& scene() {
    static const kelvo::Scene s;
    return s;
}

// The view fitted to the size as on a resize, never shown.
kelvo::RayTracer& view(int width, int height) {
    static kelvo::RayTracer v(&scene().world, kelvo::Scene::makeObserver(), 0);
    const int size[2] = {width, height};
    v.onResize(size);
    return v;
}

void BM_LiteralFrame(benchmark::State& state) {
    const int width = static_cast<int>(state.range(0));
    const int height = static_cast<int>(state.range(1));
    kelvo::RayTracer& v = view(width, height);
    std::vector<std::uint32_t> pixels(static_cast<std::size_t>(width) * height);
    std::uint32_t random = 0xffffffffu;
    for (auto _ : state) {
        v.traceRows(pixels.data(), width, 0, height, random);
    }
    state.counters["fps"] =
        benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_LiteralFrame)->Args({1280, 720})->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_FastFrame(benchmark::State& state) {
    const int width = static_cast<int>(state.range(0));
    const int height = static_cast<int>(state.range(1));
    kelvo::RayTracer& v = view(width, height);
    static const kelvo::FastTracer tracer(scene().world);
    kelvo::FastTracer::Scratch scratch;
    std::vector<std::uint32_t> pixels(static_cast<std::size_t>(width) * height);
    std::uint32_t random = 0xffffffffu;
    kelvo::RayCounts counts;
    for (auto _ : state) {
        tracer.traceRows(v.observer, v.pixelWidth, v.pixelHeight, pixels.data(), width, 0, height,
                         random, scratch, &counts);
    }
    const double frames = static_cast<double>(state.iterations());
    state.counters["fps"] = benchmark::Counter(frames, benchmark::Counter::kIsRate);
    state.counters["primary"] = static_cast<double>(counts.primary) / frames;
    state.counters["reflected"] = static_cast<double>(counts.reflected) / frames;
    state.counters["shadow"] = static_cast<double>(counts.shadow) / frames;
    state.SetLabel(kelvo::FastTracer::instructionSet());
}
BENCHMARK(BM_FastFrame)->Args({1280, 720})->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
