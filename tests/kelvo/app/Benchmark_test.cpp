#include "kelvo/app/Benchmark.h"

#include <gtest/gtest.h>

#include "kelvo/fast/FastTracer.h"
#include "velllib/app.h"
#include "velllib/platform_memory.h"

namespace kelvo {
namespace {

TEST(Benchmark, ReportReadsAsFourLines) {
    BenchmarkOptions options;
    options.threads = 2;
    BenchmarkResult result;
    result.treeBuildMilliseconds = 2136.4;
    result.spheres = 37;
    result.seconds = 1.234;
    result.rays = {921600ull * 30, 107812ull * 30, 168900ull * 30};
    EXPECT_EQ(benchmarkReport(options, result),
              "tree build: 2136.4 ms, trial, 37 spheres\n"
              "1280x720, 30 frames, 2 threads: 1.234 s, 24.31 fps\n"
              "rays per frame: 921600 primary, 107812 reflected, 168900 shadow; 29.13 Mrays/s\n"
              "path: fast, " + std::string(FastTracer::instructionSet()) + "\n");
    options.literal = true;
    EXPECT_NE(benchmarkReport(options, result).find("Mrays/s\npath: literal\n"), std::string::npos);
    options.view = ViewMode::CELLS;
    EXPECT_NE(benchmarkReport(options, result).find("Mrays/s\npath: literal\n"), std::string::npos)
        << "the literal loop draws only the traced picture";
    options.literal = false;
    EXPECT_NE(benchmarkReport(options, result).find(", cells view\n"), std::string::npos);
    options.view = ViewMode::LEAVES;
    EXPECT_NE(benchmarkReport(options, result).find(", leaves view\n"), std::string::npos);

    // Per frame is the average, rounded; the form stays the same for one.
    options = {3, 2, 1, 1};
    result.rays = {6, 5, 0};
    result.seconds = 0.5;
    result.build = TreeBuild::SURFACE_AREA;
    result.spheres = 23437;
    EXPECT_EQ(benchmarkReport(options, result).substr(0, 51),
              "tree build: 2136.4 ms, surface-area, 23437 spheres\n");
    EXPECT_EQ(benchmarkReport(options, result).substr(51),
              "3x2, 1 frames, 1 threads: 0.500 s, 2.00 fps\n"
              "rays per frame: 6 primary, 5 reflected, 0 shadow; 0.00 Mrays/s\n"
              "path: fast, " + std::string(FastTracer::instructionSet()) + "\n");
    options.frames = 4;
    result.rays = {24, 10, 9};
    EXPECT_NE(benchmarkReport(options, result).find("6 primary, 3 reflected, 2 shadow"),
              std::string::npos);
}

TEST(Benchmark, DrawsTheFramesOfTheProgramAndCountsTheirRays) {
    BenchmarkOptions options{24, 16, 3, 2};
    std::string error;
    auto platform = vell::MemoryPlatform::open({24, 16}, error);
    ASSERT_NE(platform, nullptr) << error;
    BenchmarkResult result;
    EXPECT_EQ(vell::appEntry(*platform, [&] { result = runBenchmark(options); }), 0);
    EXPECT_GT(result.treeBuildMilliseconds, 0.0);
    EXPECT_GT(result.seconds, 0.0);
    EXPECT_EQ(result.rays.primary, 3u * 24 * 16);
    EXPECT_GT(result.rays.reflected, 0u) << "the root sphere is a mirror";
    EXPECT_GT(result.rays.shadow, 0u);
    EXPECT_EQ(platform->framesPresented(), 3) << "no frame more, no frame less";

    // The literal loop walks the same rays.
    options.literal = true;
    BenchmarkResult literal;
    auto literalPlatform = vell::MemoryPlatform::open({24, 16}, error);
    ASSERT_NE(literalPlatform, nullptr) << error;
    EXPECT_EQ(vell::appEntry(*literalPlatform, [&] { literal = runBenchmark(options); }), 0);
    EXPECT_EQ(literal.rays.primary, result.rays.primary);
    EXPECT_EQ(literal.rays.reflected, result.rays.reflected);
    EXPECT_EQ(literal.rays.shadow, result.rays.shadow);

    // A view of the tree walks the primary rays only.
    options.literal = false;
    options.view = ViewMode::LEAVES;
    BenchmarkResult leaves;
    auto leavesPlatform = vell::MemoryPlatform::open({24, 16}, error);
    ASSERT_NE(leavesPlatform, nullptr) << error;
    EXPECT_EQ(vell::appEntry(*leavesPlatform, [&] { leaves = runBenchmark(options); }), 0);
    EXPECT_EQ(leaves.rays.primary, result.rays.primary);
    EXPECT_EQ(leaves.rays.reflected + leaves.rays.shadow, 0u);
}

}  // namespace
}  // namespace kelvo
