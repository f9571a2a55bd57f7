#pragma once

#include <memory>
#include <string>

#include "velllib/platform.h"

namespace vell {

struct DesktopPlatformOptions {
    // The client size of new windows. 0 x 0: windows of 240 x 200 pixels
    // including their frame.
    int clientWidth = 0;
    int clientHeight = 0;
};

// The window system of the desktop this program was built for: SDL2 on Linux
// and elsewhere, Win32 on Windows (the build links exactly one). Null, with
// the reason in error, when no window can be opened or for a bad size.
std::unique_ptr<Platform> openDesktopPlatform(const DesktopPlatformOptions& options,
                                              std::string& error);

#if defined(_WIN32)
// What Ctrl+C, Ctrl+Break or closing the console does to the program
// (the console handler the Windows platform installs): a stop request, as
// SIGINT or SIGTERM is elsewhere, and a wake-up for its window. TRUE when
// handled; FALSE (the default: end the process) without a window, and for a
// second request.
int handleConsoleEvent(unsigned long event);
#endif

}  // namespace vell
