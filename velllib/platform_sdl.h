#pragma once

#include <memory>
#include <string>

#include "velllib/platform.h"

namespace vell {

struct SdlPlatformOptions {
    // The client size of new windows. 0 x 0: windows of 240 x 200 pixels
    // including their frame where the window system tells the frame's size,
    // else a client area of 240 x 200.
    int clientWidth = 0;
    int clientHeight = 0;
};

// Windows on the desktop through SDL2. Null, with the reason in error, when
// SDL cannot start, when there is no display (SDL would fall back to drawing
// off screen: the reason names --headless) or for a bad size. Only one may be
// open at a time.
std::unique_ptr<Platform> openSdlPlatform(const SdlPlatformOptions& options, std::string& error);

}  // namespace vell
