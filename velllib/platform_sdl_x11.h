#pragma once

// The SDL backend's watch on its X11 windows: windows destroyed from outside
// (xdotool windowclose, a crashed window manager) and windows the window
// manager hides without an event. Built only where X11 is found and SDL has
// its X11 video driver (VELL_X11_WINDOWS); elsewhere the backend does without.

#include <SDL.h>

#include <vector>

#if defined(VELL_HAVE_X11) && defined(SDL_VIDEO_DRIVER_X11)
#define VELL_X11_WINDOWS 1
#endif

#if VELL_X11_WINDOWS
namespace vell::x11 {

// Takes over Xlib's errors, whose default handler would end the program on
// an error about a window destroyed from outside, and asks SDL for the window
// system's own events. For SDL's x11 video driver only.
void startWatch();
// Gives Xlib its error handler back and forgets every window.
void stopWatch();

// An SDL window's X id and display, both zero when it is no X11 window.
struct WindowId {
    unsigned long window = 0;
    void* display = nullptr;
};
// The window's X id and display, now watched for errors.
WindowId watchWindow(SDL_Window* window);
// Stops watching a window about to be destroyed by the program.
void forgetWindow(unsigned long xWindow);
// Destroys the SDL window of an X window destroyed from outside, collecting
// the X errors about it while they are still expected, and forgets it.
void destroyLostWindow(SDL_Window* window, unsigned long xWindow);

// Destroyed from outside: X errors about the window are expected from now on.
void markLost(unsigned long xWindow);
// The windows known to be destroyed from outside, errors about them included.
std::vector<unsigned long> lostWindows();
// Whether a window-system event says that an X window was destroyed, and which.
bool destroyedWindow(const SDL_Event& event, unsigned long& xWindow);

// Whether the window manager keeps the window out of sight without telling
// it: not viewable, shaded or minimised.
bool hiddenByManager(void* display, unsigned long xWindow);

}  // namespace vell::x11
#endif
