// Figures for the speed goals: the tree build, and whole frames of the view
// at two sizes, headless. Run: build/bench/kelvo_bench

#include <benchmark/benchmark.h>

#include <string>

#include "kelvo/RayTracer.h"
#include "kelvo/kelvo.h"
#include "velllib/app.h"
#include "velllib/platform_memory.h"

namespace {

void BM_SceneAndTreeBuild(benchmark::State& state) {
    for (auto _ : state) {
        kelvo::Scene scene;
        benchmark::DoNotOptimize(scene.world.nodeCount);
    }
}
BENCHMARK(BM_SceneAndTreeBuild)->Unit(benchmark::kMillisecond)->Iterations(3);

void BM_Frame(benchmark::State& state) {
    static const kelvo::Scene scene;
    const int width = static_cast<int>(state.range(0));
    const int height = static_cast<int>(state.range(1));
    std::string error;
    auto platform = vell::MemoryPlatform::open({width, height}, error);
    if (!platform) {
        state.SkipWithError(error.c_str());
        return;
    }
    vell::Platform* previous = vell::setCurrentPlatform(platform.get());
    {
        kelvo::RayTracer view(&scene.world, kelvo::Scene::makeObserver(), 0);
        view.createWindow("vell");
        for (auto _ : state) {
            view.drawFrame();
        }
        state.counters["fps"] =
            benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
        state.counters["Mrays/s"] = benchmark::Counter(
            static_cast<double>(state.iterations()) * width * height / 1e6,
            benchmark::Counter::kIsRate);
        view.destroyWindow();
    }
    vell::setCurrentPlatform(previous);
}
BENCHMARK(BM_Frame)->Args({240, 200})->Args({1280, 720})->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
