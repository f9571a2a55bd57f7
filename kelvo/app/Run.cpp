#include "kelvo/app/Run.h"

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "kelvo/app/Benchmark.h"
#include "kelvo/app/Output.h"
#include "kelvo/app/appMain.h"
#include "kelvo/view/RayTracer.h"
#include "velllib/app.h"
#include "velllib/platform_desktop.h"
#include "velllib/platform_memory.h"

namespace kelvo {

namespace {

// The tree build and frames in memory, timed.
int runBenchmarkFrames(const CommandLine& commandLine) {
    BenchmarkOptions options;
    if (commandLine.width > 0) {
        options.width = commandLine.width;
        options.height = commandLine.height;
    }
    if (commandLine.frames > 0) {
        options.frames = commandLine.frames;
    }
    options.threads = commandLine.threads;
    options.literal = commandLine.literal;
    options.view = commandLine.view;
    std::string error;
    auto platform = vell::MemoryPlatform::open({options.width, options.height}, error);
    if (!platform) {
        std::fprintf(stderr, "kelvo: %s\n", error.c_str());
        return EXIT_FAILURE;
    }
    BenchmarkResult result;
    const int code = vell::appEntry(*platform, [&] { result = runBenchmark(options); });
    if (code != 0) {
        return code;
    }
    if (vell::stopRequested()) {
        std::fprintf(stderr, "kelvo: benchmark stopped before its last frame\n");
        return 128 + vell::stopSignal();
    }
    return printResult(benchmarkReport(options, result)) ? 0 : EXIT_FAILURE;
}

// The program itself, in a window or headless in memory.
int runFrames(const CommandLine& commandLine) {
    const bool headless = commandLine.headless;
    std::string error;
    std::unique_ptr<vell::Platform> platform;
    if (headless) {
        vell::MemoryPlatformOptions options;
        if (commandLine.width > 0) {
            options.clientWidth = commandLine.width;
            options.clientHeight = commandLine.height;
        }
        platform = vell::MemoryPlatform::open(options, error);
    } else {
        platform = vell::openDesktopPlatform({commandLine.width, commandLine.height}, error);
    }
    if (!platform) {
        std::fprintf(stderr, "kelvo: %s\n", error.c_str());
        return EXIT_FAILURE;
    }

    AppMainOptions options;
    options.frames = headless && commandLine.frames == 0 ? 1 : commandLine.frames;
    options.overlay = !commandLine.noOverlay;
    options.threads = commandLine.threads;
    options.view = commandLine.view;
    options.camera = commandLine.camera;
    options.fullscreen = commandLine.fullscreen;
    std::string overlay;
    std::vector<std::uint32_t> lastFrame;
    int lastWidth = 0, lastHeight = 0;
    options.finished = [&](RayTracer& view) {
        overlay = view.overlay();
        if (const std::uint32_t* pixels = view.backBufferPixels()) {
            lastWidth = view.backBufferSize()[0];
            lastHeight = view.backBufferSize()[1];
            lastFrame.assign(pixels, pixels + static_cast<std::size_t>(lastWidth) * lastHeight);
        }
    };

    const int code = vell::appEntry(*platform, [&] { appMain(options); });
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
        if (commandLine.output && !commandLine.output->empty() &&
            !writeLastFrame(*commandLine.output, lastFrame, lastWidth, lastHeight)) {
            return EXIT_FAILURE;
        }
    }
    return 0;
}

}  // namespace

int runCommandLine(const CommandLine& commandLine) {
    if (commandLine.output && !checkOutputPath(*commandLine.output)) {
        return EXIT_USAGE;
    }
    return commandLine.benchmark ? runBenchmarkFrames(commandLine) : runFrames(commandLine);
}

}  // namespace kelvo
