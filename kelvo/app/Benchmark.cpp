#include "kelvo/app/Benchmark.h"

#include <chrono>
#include <cstdio>
#include <memory>

#include "kelvo/app/kelvo.h"
#include "kelvo/fast/FastTracer.h"
#include "kelvo/fast/ParallelRows.h"
#include "kelvo/view/RayTracer.h"
#include "kelvo/viewer/ViewRows.h"
#include "kelvo/viewer/Viewer.h"
#include "velllib/app.h"

namespace kelvo {

namespace {

using Clock = std::chrono::steady_clock;

double secondsBetween(Clock::time_point start, Clock::time_point end) {
    return std::chrono::duration<double>(end - start).count();
}

std::uint64_t perFrame(std::uint64_t total, long long frames) {
    const auto n = static_cast<std::uint64_t>(frames);
    return (total + n / 2) / n;
}

}  // namespace

BenchmarkResult runBenchmark(const BenchmarkOptions& options) {
    BenchmarkResult result;
    vell::setFloatPrecision(0.0f);
    // The scene around the tree (surfaces, spheres, one light) takes a small
    // part of the time; the rest is the tree's.
    const Clock::time_point buildStart = Clock::now();
    auto scene = std::make_unique<Scene>(options.levels, options.build);
    result.treeBuildMilliseconds = 1000.0 * secondsBetween(buildStart, Clock::now());
    scene->world.stepGlow = options.glow;
    result.build = scene->world.builtBy;
    result.spheres = static_cast<long long>(scene->spheres.size());

    // The program's view and kernel, so that the figures are the window's.
    Viewer view(&scene->world, Scene::makeObserver(), RayTracer::EXTEND);
    view.drawOverlay = false;
    view.viewMode = options.literal ? ViewMode::SHADED : options.view;
    view.setRefine(options.refine);
    const FastTracer tracer(scene->world);
    ParallelRows rows(options.threads,
                      options.literal ? literalRows(view) : viewRows(view, tracer));
    view.rows = &rows;
    view.rayCounts = &result.rays;
    result.threads = rows.threads();
    view.createWindow("vell");
    result.drawn = view.backBufferPixels() != nullptr;

    const Clock::time_point start = Clock::now();
    for (long long frame = 0; frame < options.frames; ++frame) {
        view.drawFrame();
    }
    result.seconds = secondsBetween(start, Clock::now());
    view.destroyWindow();
    return result;
}

std::string benchmarkReport(const BenchmarkOptions& options, const BenchmarkResult& result) {
    const std::uint64_t total = result.rays.primary + result.rays.reflected + result.rays.shadow;
    char text[480];
    std::snprintf(text, sizeof text,
                  "tree build: %.1f ms, %s, %lld spheres\n"
                  "%dx%d, %lld frames, %d threads: %.3f s, %.2f fps\n"
                  "rays per frame: %llu primary, %llu reflected, %llu shadow; %.2f Mrays/s\n",
                  result.treeBuildMilliseconds,
                  result.build == TreeBuild::SURFACE_AREA ? "surface-area" : "trial", result.spheres,
                  options.width, options.height, options.frames,
                  result.threads > 0 ? result.threads : options.threads, result.seconds,
                  static_cast<double>(options.frames) / result.seconds,
                  static_cast<unsigned long long>(perFrame(result.rays.primary, options.frames)),
                  static_cast<unsigned long long>(perFrame(result.rays.reflected, options.frames)),
                  static_cast<unsigned long long>(perFrame(result.rays.shadow, options.frames)),
                  static_cast<double>(total) / result.seconds / 1e6);
    std::string report = text;
    report += "path: ";
    report += options.literal ? "literal" : std::string("fast, ") + FastTracer::instructionSet();
    if (!options.literal && options.view != ViewMode::SHADED) {
        report += options.view == ViewMode::LEAVES ? ", leaves view" : ", cells view";
    }
    if (options.refine) {
        report += ", refined";
    }
    report += "\n";
    return report;
}

}  // namespace kelvo
