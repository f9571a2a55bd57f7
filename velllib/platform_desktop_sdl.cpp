#include "velllib/platform_desktop.h"
#include "velllib/platform_sdl.h"

namespace vell {

std::unique_ptr<Platform> openDesktopPlatform(const DesktopPlatformOptions& options,
                                              std::string& error) {
    return openSdlPlatform({options.clientWidth, options.clientHeight}, error);
}

}  // namespace vell
