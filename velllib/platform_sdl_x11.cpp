#include "velllib/platform_sdl_x11.h"

#if VELL_X11_WINDOWS

#include <SDL_syswm.h>

#include <algorithm>

namespace vell::x11 {

namespace {

// X ids of windows that someone else destroyed (xdotool windowclose, a
// crashed window manager). Until SDL lets go of them, drawing into them fails
// with X errors; those are expected and must not end the program, which
// Xlib's default error handler would do.
// An error about one of the program's own windows is how a destruction is
// usually learnt: the next frame's copy fails before the destroy event is read.
std::vector<unsigned long> ownXWindows;
std::vector<unsigned long> lostXWindows;
XErrorHandler previousXErrorHandler = nullptr;

bool listed(const std::vector<unsigned long>& ids, unsigned long id) {
    return std::find(ids.begin(), ids.end(), id) != ids.end();
}

int onXError(Display* display, XErrorEvent* error) {
    const bool noSuchWindow = error->error_code == BadWindow || error->error_code == BadDrawable;
    if (noSuchWindow && listed(lostXWindows, error->resourceid)) {
        return 0;
    }
    if (noSuchWindow && listed(ownXWindows, error->resourceid)) {
        lostXWindows.push_back(error->resourceid);
        return 0;
    }
    return previousXErrorHandler != nullptr ? previousXErrorHandler(display, error) : 0;
}

}  // namespace

void startWatch() {
    previousXErrorHandler = XSetErrorHandler(onXError);
    // The window system's own events, to learn of a window destroyed
    // from outside.
    SDL_EventState(SDL_SYSWMEVENT, SDL_ENABLE);
}

void stopWatch() {
    if (previousXErrorHandler != nullptr) {
        XSetErrorHandler(previousXErrorHandler);
        previousXErrorHandler = nullptr;
    }
    ownXWindows.clear();
    lostXWindows.clear();
}

WindowId watchWindow(SDL_Window* window) {
    WindowId id;
    SDL_SysWMinfo info;
    SDL_VERSION(&info.version);
    if (SDL_GetWindowWMInfo(window, &info) == SDL_TRUE && info.subsystem == SDL_SYSWM_X11) {
        id.window = info.info.x11.window;
        id.display = info.info.x11.display;
        ownXWindows.push_back(id.window);
    }
    return id;
}

void forgetWindow(unsigned long xWindow) {
    std::erase(ownXWindows, xWindow);
}

void destroyLostWindow(SDL_Window* window, unsigned long xWindow) {
    SDL_SysWMinfo info;
    SDL_VERSION(&info.version);
    const bool isX11 =
        SDL_GetWindowWMInfo(window, &info) == SDL_TRUE && info.subsystem == SDL_SYSWM_X11;
    SDL_DestroyWindow(window);
    // Collects the errors about the dead window while they are still
    // expected.
    if (isX11) {
        XSync(info.info.x11.display, False);
    }
    std::erase(ownXWindows, xWindow);
}

void markLost(unsigned long xWindow) {
    if (!listed(lostXWindows, xWindow)) {
        lostXWindows.push_back(xWindow);
    }
}

std::vector<unsigned long> lostWindows() {
    return lostXWindows;
}

bool destroyedWindow(const SDL_Event& event, unsigned long& xWindow) {
    const SDL_SysWMmsg* message = event.syswm.msg;
    if (message != nullptr && message->subsystem == SDL_SYSWM_X11 &&
        message->msg.x11.event.type == DestroyNotify) {
        xWindow = message->msg.x11.event.xdestroywindow.window;
        return true;
    }
    return false;
}

bool hiddenByManager(void* xDisplay, unsigned long xWindow) {
    auto* display = static_cast<Display*>(xDisplay);
    XWindowAttributes attributes{};
    bool hidden = XGetWindowAttributes(display, xWindow, &attributes) == 0 ||
                  attributes.map_state != IsViewable;
    const Atom netState = XInternAtom(display, "_NET_WM_STATE", False);
    const Atom shaded = XInternAtom(display, "_NET_WM_STATE_SHADED", False);
    const Atom minimised = XInternAtom(display, "_NET_WM_STATE_HIDDEN", False);
    Atom type = None;
    int format = 0;
    unsigned long count = 0;
    unsigned long after = 0;
    unsigned char* data = nullptr;
    if (!hidden &&
        XGetWindowProperty(display, xWindow, netState, 0, 64, False, XA_ATOM, &type, &format,
                           &count, &after, &data) == Success &&
        data != nullptr) {
        if (type == XA_ATOM && format == 32) {
            // Format 32 properties come back as longs.
            const auto* atoms = reinterpret_cast<const unsigned long*>(data);
            for (unsigned long i = 0; i < count; ++i) {
                hidden = hidden || atoms[i] == shaded || atoms[i] == minimised;
            }
        }
        XFree(data);
    }
    return hidden;
}

}  // namespace vell::x11

#endif
