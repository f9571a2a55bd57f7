#pragma once

#include <string>

#include "kelvo/app/kelvo.h"
#include "kelvo/scene/RayCounts.h"
#include "kelvo/viewer/Viewer.h"

namespace kelvo {

struct BenchmarkOptions {
    int width = 1280;
    int height = 720;
    long long frames = 30;
    int threads = 1;
    // Trace with the literal loop instead of the program's fast path.
    bool literal = false;
    // What the frames show (the fast path only).
    ViewMode view = ViewMode::SHADED;
    // The sphereflake's levels below the root, and how its tree is built.
    int levels = SCENE_LEVELS;
    TreeBuild build = TreeBuild::AUTOMATIC;
    double glow = STEP_GLOW;
    // Refinement on: the resting camera's frames are averaged.
    bool refine = false;
};

struct BenchmarkResult {
    double treeBuildMilliseconds = 0.0;
    // The build that made the tree (trial or surface-area) and its obstacles.
    TreeBuild build = TreeBuild::TRIAL;
    long long spheres = 0;
    // Wall time of all frames, from the start of the first to the end of the last.
    double seconds = 0.0;
    // Over all frames.
    RayCounts rays;
    // The threads that traced (fewer than asked where the system could not
    // start them all).
    int threads = 0;
    // Whether the window had a back buffer to draw into; without one nothing
    // was traced.
    bool drawn = false;
};

// Builds the scene (timed) and draws options.frames frames of the view as the
// program does, with the camera at rest, the generator running on from its
// start value and no overlay. The installed platform must give windows a
// client of options.width x options.height (the in-memory one does).
BenchmarkResult runBenchmark(const BenchmarkOptions& options);

// The four lines of the report, each ending in a line feed: the tree build
// (its time, which build, the spheres),
// the frame rate, the rays per frame (averaged over the frames, rounded) by
// kind with the rate of all rays, and the path that traced them (with the
// instruction set the fast path chose at run time, the view when it is not
// the traced picture, and "refined" when the frames were averaged). The form is fixed ("1 frames" too), for
// scripts that read it.
std::string benchmarkReport(const BenchmarkOptions& options, const BenchmarkResult& result);

}  // namespace kelvo
