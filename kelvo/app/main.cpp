// kelvo's command line. With no arguments it opens the window and runs until
// the window is closed; --headless runs the same program against in-memory
// windows and can write the last frame to a PNG file; --benchmark times the
// tree build and frames in memory.

#include <cstdio>
#include <cstdlib>
#include <new>
#include <optional>

#include "kelvo/app/CommandLine.h"
#include "kelvo/app/Run.h"
#include "velllib/app.h"

namespace {

int run(int argc, char** argv) {
    // Before any window system starts, so that it leaves the two signals to us.
    vell::catchStopSignals();
    kelvo::CommandLine commandLine;
    if (const std::optional<int> exitCode = kelvo::parseCommandLine(argc, argv, commandLine)) {
        return *exitCode;
    }
    return kelvo::runCommandLine(commandLine);
}

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
