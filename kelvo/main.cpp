// kelvo's command line. With no arguments it opens the window and runs until
// the window is closed; --headless runs the same program against in-memory
// windows and can write the last frame to a PNG file.

#include <CLI/CLI.hpp>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "kelvo/ImageFile.h"
#include "kelvo/RayTracer.h"
#include "kelvo/appMain.h"
#include "velllib/app.h"
#include "velllib/platform_memory.h"
#include "velllib/platform_desktop.h"

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

[[noreturn]] void outOfMemory() { vell::outOfMemory("an allocation failed"); }

}  // namespace

int main(int argc, char** argv) {
    std::set_new_handler(outOfMemory);

    CLI::App cli{"kelvo: an interactive, real-time CPU ray tracer.\n"
                 "Without options it opens a window and runs until the window is closed.",
                 "kelvo"};
    bool headless = false;
    bool noOverlay = false;
    std::string sizeText;
    long long frames = 0;
    std::string output;
    cli.set_version_flag("--version", VERSION);
    cli.add_flag("--headless", headless, "Run without a window, in memory (default: 1 frame)");
    cli.add_option("--size", sizeText,
                   "Client size WIDTHxHEIGHT (window: initial size; headless default 240x200)")
        ->type_name("WxH");
    cli.add_option("--frames", frames, "Frames to draw, then end (headless default 1)")
        ->check(CLI::Range(1LL, 1000000000LL))
        ->type_name("N");
    auto* outputOption =
        cli.add_option("--output", output, "With --headless: write the last frame as a PNG")
            ->type_name("FILE");
    cli.add_flag("--no-overlay", noOverlay, "Leave the status text out of the picture");
    outputOption->needs(cli.get_option("--headless"));

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
    std::string error;
    if (!output.empty() && !kelvo::checkWritable(output, error)) {
        std::fprintf(stderr, "kelvo: %s\n", error.c_str());
        return EXIT_USAGE;
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
    if (headless) {
        std::printf("%s\n", overlay.c_str());
        std::fflush(stdout);
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
