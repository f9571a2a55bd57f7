// kelvo's command line. With no arguments it opens the window and runs until
// the window is closed; --headless runs the same program against in-memory
// windows and can write the last frame to a PNG file; --benchmark times the
// tree build and frames in memory.

#include <CLI/CLI.hpp>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "kelvo/app/Benchmark.h"
#include "kelvo/app/appMain.h"
#include "kelvo/fast/ParallelRows.h"
#include "kelvo/view/RayTracer.h"
#include "kelvo/viewer/CameraText.h"
#include "kelvo/viewer/ImageFile.h"
#include "velllib/app.h"
#include "velllib/platform_desktop.h"
#include "velllib/platform_memory.h"

namespace {

constexpr int EXIT_USAGE = 2;
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

kelvo::ViewMode viewNamed(const std::string& name) {
    if (name == "leaves") {
        return kelvo::ViewMode::LEAVES;
    }
    if (name == "cells") {
        return kelvo::ViewMode::CELLS;
    }
    return kelvo::ViewMode::SHADED;
}

// What a run prints on stdout is its result: a failed write (a full disk, a
// closed pipe) is a failure, not a success without output.
bool printResult(const std::string& text) {
    errno = 0;
    const bool written = std::fputs(text.c_str(), stdout) >= 0;
    const bool flushed = std::fflush(stdout) == 0;
    if (written && flushed && !std::ferror(stdout)) {
        return true;
    }
    std::fprintf(stderr, "kelvo: cannot write the result to standard output: %s\n",
                 errno != 0 ? std::strerror(errno) : "write error");
    return false;
}

int run(int argc, char** argv);

}  // namespace

int main(int argc, char** argv) {
    // No new-handler: the window layer's allocations ask with std::nothrow and
    // go on without what they could not get (a window without a back buffer
    // draws nothing and tries again at the next size). What no path can do
    // without ends here, with a message.
    try {
        return run(argc, argv);
    } catch (const std::bad_alloc&) {
        std::fputs("kelvo: out of memory\n", stderr);
        return EXIT_FAILURE;
    }
}

namespace {

int run(int argc, char** argv) {
    // Before any window system starts, so that it leaves the two signals to us.
    vell::catchStopSignals();

    CLI::App cli{"kelvo: an interactive, real-time CPU ray tracer.\n"
                 "Without options it opens a window and runs until the window is closed.",
                 "kelvo"};
    bool headless = false;
    bool benchmark = false;
    bool literal = false;
    bool noOverlay = false;
    int threads = std::min(kelvo::hardwareThreads(), kelvo::ParallelRows::MAX_THREADS);
    std::string sizeText;
    long long frames = 0;
    std::string output;
    std::string viewName = "shaded";
    std::string cameraText;
    bool fullscreen = false;
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
    auto* headlessOption =
        cli.add_flag("--headless", headless, "Run without a window, in memory (default: 1 frame)");
    auto* benchmarkOption = cli.add_flag(
        "--benchmark", benchmark,
        "Time the tree build and frames in memory, camera at rest (default: 1280x720, 30 frames)");
    auto* literalOption = cli.add_flag(
        "--literal", literal,
        "With --benchmark: trace with the reference loop instead of the fast path");
    cli.add_option("--size", sizeText,
                   "Client size WIDTHxHEIGHT (window: initial size; headless default 240x200)")
        ->type_name("WxH");
    cli.add_option("--frames", frames, "Frames to draw, then end (headless default 1)")
        ->check(FRAME_COUNT)
        ->type_name("N");
    cli.add_option("--threads", threads, "Threads that trace each frame (default: all hardware threads)")
        ->check(CLI::Range(1, kelvo::ParallelRows::MAX_THREADS))
        ->type_name("N");
    auto* outputOption =
        cli.add_option("--output", output, "With --headless: write the last frame as a PNG")
            ->type_name("FILE");
    auto* overlayOption =
        cli.add_flag("--no-overlay", noOverlay, "Leave the status text out of the picture");
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
    auto* fullscreenOption =
        cli.add_flag("--fullscreen", fullscreen, "Open the window full screen (F11 toggles it)");
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
    kelvo::CameraPlace camera;
    if (cameraOption->count() > 0) {
        const std::string problem = kelvo::parseCamera(cameraText, camera);
        if (!problem.empty()) {
            std::fprintf(stderr, "kelvo: %s\n", problem.c_str());
            return EXIT_USAGE;
        }
    }
    std::string error;
    if (outputOption->count() > 0 && !kelvo::checkWritable(output, error)) {
        std::fprintf(stderr, "kelvo: %s\n", error.c_str());
        return EXIT_USAGE;
    }

    if (benchmark) {
        kelvo::BenchmarkOptions options;
        if (size.width > 0) {
            options.width = size.width;
            options.height = size.height;
        }
        if (frames > 0) {
            options.frames = frames;
        }
        options.threads = threads;
        options.literal = literal;
        options.view = viewNamed(viewName);
        auto platform = vell::MemoryPlatform::open({options.width, options.height}, error);
        if (!platform) {
            std::fprintf(stderr, "kelvo: %s\n", error.c_str());
            return EXIT_FAILURE;
        }
        kelvo::BenchmarkResult result;
        const int code =
            vell::appEntry(*platform, [&] { result = kelvo::runBenchmark(options); });
        if (code != 0) {
            return code;
        }
        if (vell::stopRequested()) {
            std::fprintf(stderr, "kelvo: benchmark stopped before its last frame\n");
            return 128 + vell::stopSignal();
        }
        return printResult(kelvo::benchmarkReport(options, result)) ? 0 : EXIT_FAILURE;
    }

    std::unique_ptr<vell::Platform> platform;
    if (headless) {
        vell::MemoryPlatformOptions options;
        if (size.width > 0) {
            options.clientWidth = size.width;
            options.clientHeight = size.height;
        }
        platform = vell::MemoryPlatform::open(options, error);
    } else {
        platform = vell::openDesktopPlatform({size.width, size.height}, error);
    }
    if (!platform) {
        std::fprintf(stderr, "kelvo: %s\n", error.c_str());
        return EXIT_FAILURE;
    }

    kelvo::AppMainOptions options;
    options.frames = headless && frames == 0 ? 1 : frames;
    options.overlay = !noOverlay;
    options.threads = threads;
    options.view = viewNamed(viewName);
    if (cameraOption->count() > 0) {
        options.camera = camera;
    }
    options.fullscreen = fullscreen;
    std::string overlay;
    std::vector<std::uint32_t> lastFrame;
    int lastWidth = 0, lastHeight = 0;
    options.finished = [&](kelvo::RayTracer& view) {
        overlay = view.overlay();
        if (const std::uint32_t* pixels = view.backBufferPixels()) {
            lastWidth = view.backBufferSize()[0];
            lastHeight = view.backBufferSize()[1];
            lastFrame.assign(pixels, pixels + static_cast<std::size_t>(lastWidth) * lastHeight);
        }
    };

    const int code = vell::appEntry(*platform, [&] { kelvo::appMain(options); });
    platform.reset();
    if (code != 0) {
        return code;
    }
    if (vell::stopRequested()) {
        // A window closed by a signal ends normally, as closing it by hand
        // does; a headless run stopped early has no result to give.
        if (!headless) {
            return 0;
        }
        const int signal = vell::stopSignal();
        std::fprintf(stderr, "kelvo: stopped by %s before the last frame; nothing written\n",
                     signal == SIGINT ? "SIGINT" : "SIGTERM");
        return 128 + signal;
    }
    if (headless) {
        if (!printResult(overlay + "\n")) {
            return EXIT_FAILURE;
        }
        if (!output.empty()) {
            if (lastFrame.empty()) {
                std::fprintf(stderr, "kelvo: no frame was drawn, %s not written\n", output.c_str());
                return EXIT_FAILURE;
            }
            if (!kelvo::writePng(output, lastFrame.data(), lastWidth, lastHeight, error)) {
                std::fprintf(stderr, "kelvo: %s\n", error.c_str());
                return EXIT_FAILURE;
            }
        }
    }
    return 0;
}

}  // namespace
