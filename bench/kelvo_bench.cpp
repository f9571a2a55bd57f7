// Figures for the speed goals: the tree build, and whole frames of the view
// at two sizes, headless. Run: build/bench/kelvo_bench

#include <benchmark/benchmark.h>

#include <string>

#include "kelvo/app/kelvo.h"
#include "kelvo/tree/SpaceTreeMemoBuild.h"
#include "kelvo/view/RayTracer.h"
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

// The scene's 37 spheres in a World of their own, in the scene's list order,
// with no tree built yet (so a first build in a fresh process is measured cold).
struct FlakeWorld {
    FlakeWorld() : world(0.0f) {
        const kelvo::Surface surface{vell::green, vell::black, 0.0f};
        surfaces[0] = surfaces[1] = surfaces[2] = surface;
        const kelvo::Surface* const table[3] = {&surfaces[0], &surfaces[1], &surfaces[2]};
        kelvo::addFlake(sphereList, table, 2, {0.0, 0.0, 0.0}, 2.0, -1, 0);
        for (vell::ListNode* n = sphereList; n != nullptr; n = n->next) {
            world.addObstacle(static_cast<const kelvo::Obstacle*>(n->item));
        }
    }
    ~FlakeWorld() {
        for (vell::ListNode* n = sphereList; n != nullptr; n = n->next) {
            delete static_cast<kelvo::ObstacleSphere*>(n->item);
        }
        vell::freeList(sphereList);
    }
    kelvo::Surface surfaces[3];
    vell::ListNode* sphereList = nullptr;
    kelvo::World world;
};

void BM_TreeBuildLiteral(benchmark::State& state) {
    FlakeWorld flake;
    for (auto _ : state) {
        flake.world.buildTreeLiteral();
        benchmark::DoNotOptimize(flake.world.nodeCount);
    }
}
BENCHMARK(BM_TreeBuildLiteral)->Unit(benchmark::kMillisecond)->Iterations(1)->Repetitions(3);

void BM_TreeBuildMemo(benchmark::State& state) {
    FlakeWorld flake;
    for (auto _ : state) {
        flake.world.buildTree();
        benchmark::DoNotOptimize(flake.world.nodeCount);
    }
    const kelvo::SpaceTreeMemoBuild build(flake.world.obstacles);
    state.counters["subProblems"] = build.figures().subProblems;
    state.counters["touchesBox"] = static_cast<double>(build.figures().touchesBoxCalls);
    state.counters["reuses"] = static_cast<double>(build.figures().reuses);
    state.counters["boundedTrials"] = static_cast<double>(build.figures().boundedTrials);
    state.counters["nodes"] = flake.world.nodeCount;
}
BENCHMARK(BM_TreeBuildMemo)->Unit(benchmark::kMillisecond)->Repetitions(5);

// The first build of the process, as the program does it at start: run alone
// (--benchmark_filter=BM_TreeBuildMemoFirst) in fresh processes.
void BM_TreeBuildMemoFirst(benchmark::State& state) {
    FlakeWorld flake;
    for (auto _ : state) {
        flake.world.buildTree();
        benchmark::DoNotOptimize(flake.world.nodeCount);
    }
}
BENCHMARK(BM_TreeBuildMemoFirst)->Unit(benchmark::kMillisecond)->Iterations(1);

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
