#include "velllib/platform_desktop.h"
#include "velllib/platform_sdl.h"

#include <cstdio>
#include <cstdlib>

#if defined(VELL_HAVE_X11)
#include <X11/Xlib.h>
#endif

namespace vell {

namespace {

#if defined(VELL_HAVE_X11)
// The connection to the X server is gone (the client killed with xkill, the
// server ended). Xlib ends the program when this returns, and nothing of the
// window system can be used any more: the window is gone, as if closed from
// outside, so the program ends as a closed window does, with exit code 0,
// after what it printed has gone out.
extern "C" int onLostDisplay(Display*) {
    std::fflush(stdout);
    std::fputs("vell: the connection to the display was closed; the window is gone\n", stderr);
    std::_Exit(0);
}
#endif

}  // namespace

std::unique_ptr<Platform> openDesktopPlatform(const DesktopPlatformOptions& options,
                                              std::string& error) {
    std::unique_ptr<Platform> platform =
        openSdlPlatform({options.clientWidth, options.clientHeight}, error);
#if defined(VELL_HAVE_X11)
    // After SDL has started, so that no handler of its own replaces this one.
    if (platform != nullptr) {
        XSetIOErrorHandler(onLostDisplay);
    }
#endif
    return platform;
}

}  // namespace vell
