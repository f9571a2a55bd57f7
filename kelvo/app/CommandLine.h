#pragma once

#include <optional>
#include <string>

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
};

// Reads kelvo's options into commandLine. The exit code when the program ends
// here: after --help or --version (0), or after the message of a usage error
// (EXIT_USAGE); nothing when it goes on.
std::optional<int> parseCommandLine(int argc, char** argv, CommandLine& commandLine);

}  // namespace kelvo
