#include "kelvo/app/CommandLine.h"

#include <CLI/CLI.hpp>

#include <algorithm>
#include <cstdio>
#include <string>

#include "kelvo/fast/ParallelRows.h"
#include "velllib/platform.h"

namespace kelvo {

namespace {

constexpr const char* VERSION = "kelvo 0.1.0";

struct ClientSize {
    int width = 0;
    int height = 0;
};

// "WxH", each side from 1 to the largest size a window may have.
std::string parseSize(const std::string& text, ClientSize& size) {
    const auto cross = text.find('x');
    auto number = [](const std::string& digits, int& out) {
        if (digits.empty() || digits.size() > 5 ||
            digits.find_first_not_of("0123456789") != std::string::npos) {
            return false;
        }
        out = std::stoi(digits);
        return true;
    };
    if (cross == std::string::npos || !number(text.substr(0, cross), size.width) ||
        !number(text.substr(cross + 1), size.height)) {
        return "size must be WIDTHxHEIGHT, for example 320x240, not '" + text + "'";
    }
    if (size.width < 1 || size.height < 1 || size.width > vell::MAX_CLIENT_SIZE ||
        size.height > vell::MAX_CLIENT_SIZE) {
        return "size " + text + " is out of range: each side must be from 1 to " +
               std::to_string(vell::MAX_CLIENT_SIZE);
    }
    return "";
}

// A count of frames: plain decimal digits from 1 to 10^9. CLI11 alone would
// read "1e3" as a number and then call it out of range.
const CLI::Validator FRAME_COUNT(
    [](std::string& text) -> std::string {
        if (text.empty() || text.size() > 10 ||
            text.find_first_not_of("0123456789") != std::string::npos) {
            return "'" + text + "' is not a whole number";
        }
        const long long value = std::stoll(text);
        if (value < 1 || value > 1000000000LL) {
            return text + " is out of range: from 1 to 1000000000";
        }
        return "";
    },
    "1..1000000000", "frame count");

// The views of the tree by their option names.
const CLI::Validator VIEW_NAME(
    [](std::string& text) -> std::string {
        if (text == "shaded" || text == "leaves" || text == "cells") {
            return "";
        }
        return "'" + text + "' is not a view: use shaded, leaves or cells";
    },
    "shaded|leaves|cells", "view");

ViewMode viewNamed(const std::string& name) {
    if (name == "leaves") {
        return ViewMode::LEAVES;
    }
    if (name == "cells") {
        return ViewMode::CELLS;
    }
    return ViewMode::SHADED;
}

}  // namespace

std::optional<int> parseCommandLine(int argc, char** argv, CommandLine& commandLine) {
    CLI::App cli{
        "kelvo: an interactive, real-time CPU ray tracer.\n"
        "Without options it opens a window and runs until the window is closed.",
        "kelvo"};
    commandLine.threads = std::min(hardwareThreads(), ParallelRows::MAX_THREADS);
    std::string sizeText;
    std::string output;
    std::string viewName = "shaded";
    std::string cameraText;
    cli.footer(
        "Keys in the window:\n"
        "  W/S, D/A, Space/Shift  fly forward/back, right/left, up/down\n"
        "  arrows, Q/E            turn: pitch and yaw, roll\n"
        "  left mouse drag        turn by the mouse (0.005 radians per pixel)\n"
        "  Esc                    close the window\n"
        "  F11                    full screen on or off\n"
        "  F12                    save the picture as kelvo-YYYYMMDD-HHMMSS-mmm.png here\n"
        "  C                      print the camera as a --camera option\n"
        "  F1, F2, F3             the picture; leaves crossed; the leaf of each hit");
    cli.set_version_flag("--version", VERSION);
    auto* headlessOption = cli.add_flag("--headless", commandLine.headless,
                                        "Run without a window, in memory (default: 1 frame)");
    auto* benchmarkOption = cli.add_flag(
        "--benchmark", commandLine.benchmark,
        "Time the tree build and frames in memory, camera at rest (default: 1280x720, 30 frames)");
    auto* literalOption =
        cli.add_flag("--literal", commandLine.literal,
                     "With --benchmark: trace with the reference loop instead of the fast path");
    cli.add_option("--size", sizeText,
                   "Client size WIDTHxHEIGHT (window: initial size; headless default 240x200)")
        ->type_name("WxH");
    cli.add_option("--frames", commandLine.frames, "Frames to draw, then end (headless default 1)")
        ->check(FRAME_COUNT)
        ->type_name("N");
    cli.add_option("--threads", commandLine.threads,
                   "Threads that trace each frame (default: all hardware threads)")
        ->check(CLI::Range(1, ParallelRows::MAX_THREADS))
        ->type_name("N");
    auto* outputOption =
        cli.add_option("--output", output, "With --headless: write the last frame as a PNG")
            ->type_name("FILE");
    auto* overlayOption = cli.add_flag("--no-overlay", commandLine.noOverlay,
                                       "Leave the status text out of the picture");
    auto* viewOption =
        cli.add_option("--view", viewName,
                       "What the frames show at start: shaded (the picture), leaves (leaves each "
                       "ray crossed) or cells (the leaf of each hit); F1, F2, F3 switch")
            ->check(VIEW_NAME)
            ->type_name("VIEW");
    auto* cameraOption =
        cli.add_option("--camera", cameraText,
                       "Start the camera there, at rest: position, then pitch, yaw and roll in "
                       "radians (the C key prints the camera in this form)")
            ->type_name("X,Y,Z,PITCH,YAW,ROLL");
    auto* fullscreenOption = cli.add_flag("--fullscreen", commandLine.fullscreen,
                                          "Open the window full screen (F11 toggles it)");
    outputOption->needs(headlessOption);
    fullscreenOption->excludes(headlessOption);
    benchmarkOption->excludes(cameraOption)->excludes(fullscreenOption);
    literalOption->needs(benchmarkOption);
    literalOption->excludes(viewOption);
    benchmarkOption->excludes(headlessOption)->excludes(outputOption)->excludes(overlayOption);

    try {
        cli.parse(argc, argv);
    } catch (const CLI::CallForHelp& e) {
        return cli.exit(e);
    } catch (const CLI::CallForVersion& e) {
        return cli.exit(e);
    } catch (const CLI::ParseError& e) {
        std::fprintf(stderr, "kelvo: %s\nRun 'kelvo --help' for the options.\n", e.what());
        return EXIT_USAGE;
    }

    ClientSize size;
    if (!sizeText.empty()) {
        const std::string problem = parseSize(sizeText, size);
        if (!problem.empty()) {
            std::fprintf(stderr, "kelvo: %s\n", problem.c_str());
            return EXIT_USAGE;
        }
    }
    if (cameraOption->count() > 0) {
        CameraPlace camera;
        const std::string problem = parseCamera(cameraText, camera);
        if (!problem.empty()) {
            std::fprintf(stderr, "kelvo: %s\n", problem.c_str());
            return EXIT_USAGE;
        }
        commandLine.camera = camera;
    }
    commandLine.width = size.width;
    commandLine.height = size.height;
    if (outputOption->count() > 0) {
        commandLine.output = output;
    }
    commandLine.view = viewNamed(viewName);
    return std::nullopt;
}

}  // namespace kelvo
