#pragma once

#include <optional>
#include <string>

#include "kelvo/app/kelvo.h"
#include "kelvo/viewer/CameraText.h"
#include "kelvo/viewer/Viewer.h"

namespace kelvo {

// The exit code of a command line the program cannot run.
inline constexpr int EXIT_USAGE = 2;

// What the command line asks for.
struct CommandLine {
    bool headless = false;
    bool benchmark = false;
    bool literal = false;
    bool noOverlay = false;
    int threads = 1;
    // The client size; 0 x 0 when not given.
    int width = 0;
    int height = 0;
    // 0 when not given.
    long long frames = 0;
    // The PNG to write; given but empty is a path that cannot be written.
    std::optional<std::string> output;
    ViewMode view = ViewMode::SHADED;
    std::optional<CameraPlace> camera;
    bool fullscreen = false;
    // The sphereflake's levels below the root, how its tree is built, and the
    // grey added per leaf a ray crosses.
    int levels = SCENE_LEVELS;
    TreeBuild build = TreeBuild::AUTOMATIC;
    double glow = STEP_GLOW;
    // Refinement on at start (also with samples).
    bool refine = false;
    // --samples: frames of a refined still (frames is then the same); 0 when
    // not given.
    int samples = 0;
    // At most this many frames a second in a window; 0: no limit.
    double maxFramesPerSecond = 0.0;
};

// Reads kelvo's options into commandLine. The exit code when the program ends
// here: after --help or --version (0), or after the message of a usage error
// (EXIT_USAGE); nothing when it goes on.
std::optional<int> parseCommandLine(int argc, char** argv, CommandLine& commandLine);

}  // namespace kelvo
