#include <SDL.h>

#include "velllib/app.h"
#include "velllib/platform_sdl_backend.h"
#include "velllib/platform_sdl_x11.h"

namespace vell::sdl {

void SdlPlatform::hide(Window* window) {
    window->hiddenByEvents = true;
    updateSeen(window);
}

void SdlPlatform::show(Window* window) {
    window->hiddenByEvents = false;
    updateSeen(window);
}

void SdlPlatform::updateSeen(Window* window) {
    const bool unseen = window->hiddenByEvents || window->hiddenByManager;
    if (unseen == window->unseen) {
        return;
    }
    window->unseen = unseen;
    int width = 0;
    int height = 0;
    if (!unseen) {
        SDL_GetWindowSize(window->sdl, &width, &height);
    }
    post(window, MSG_SIZE, 0, packPair(width, height));
}

// Some ways of hiding a window reach it by no event: jwm unmaps only the
// frame around it for another workspace (the window stays mapped but is not
// viewable), and openbox shades it behind its title bar. So the window
// manager's view is read directly, a few times a second.
void SdlPlatform::askWindowManager() {
#if VELL_X11_WINDOWS
    constexpr Uint32 ASK_INTERVAL_MS = 100;
    const Uint32 now = SDL_GetTicks();
    if (now - lastAsked_ < ASK_INTERVAL_MS) {
        return;
    }
    lastAsked_ = now;
    for (Window* window : windows_) {
        if (window->xDisplay == nullptr || window->lost) {
            continue;
        }
        const bool hidden = x11::hiddenByManager(window->xDisplay, window->xWindow);
        if (hidden != window->hiddenByManager) {
            window->hiddenByManager = hidden;
            updateSeen(window);
        }
    }
#endif
}

void SdlPlatform::lose(unsigned long xWindow) {
    for (Window* window : windows_) {
        if (window->xWindow != 0 && window->xWindow == xWindow && !window->lost) {
            window->lost = true;
#if VELL_X11_WINDOWS
            x11::markLost(xWindow);
#endif
            // Gone is closed: the program ends as if the user had closed it.
            post(window, MSG_CLOSE, 0, 0);
        }
    }
}

void SdlPlatform::translateWindowSystemEvent(const SDL_Event& event) {
#if VELL_X11_WINDOWS
    unsigned long xWindow = 0;
    if (x11::destroyedWindow(event, xWindow)) {
        lose(xWindow);
    }
#else
    (void)event;
#endif
}

void SdlPlatform::translate(const SDL_Event& event) {
    switch (event.type) {
        case SDL_QUIT:
            // Every window closes as if by hand, so the program ends normally
            // with exit code 0.
            for (Window* window : windows_) {
                post(window, MSG_CLOSE, 0, 0);
            }
            break;
        case SDL_WINDOWEVENT: {
            Window* window = findById(event.window.windowID);
            if (window == nullptr) {
                break;
            }
            // A window nobody can see is idle: minimised, hidden, on another
            // workspace or shaded (the last two unmap it). Window managers
            // send these in different orders (jwm minimises a maximised
            // window with HIDDEN, MINIMIZED, then MAXIMIZED while it is still
            // hidden), so only a sign of being seen wakes it.
            switch (event.window.event) {
                case SDL_WINDOWEVENT_SIZE_CHANGED:
                    // While unseen the size is fetched when it is seen again.
                    if (!window->unseen) {
                        post(window, MSG_SIZE, 0,
                             packPair(event.window.data1, event.window.data2));
                    }
                    break;
                case SDL_WINDOWEVENT_HIDDEN:
                case SDL_WINDOWEVENT_MINIMIZED:
                    hide(window);
                    break;
                case SDL_WINDOWEVENT_SHOWN:
                case SDL_WINDOWEVENT_RESTORED:
                    show(window);
                    break;
                case SDL_WINDOWEVENT_EXPOSED:
                    show(window);
                    post(window, MSG_PAINT, 0, 0);
                    break;
                case SDL_WINDOWEVENT_CLOSE:
                    post(window, MSG_CLOSE, 0, 0);
                    break;
                case SDL_WINDOWEVENT_FOCUS_GAINED:
                    post(window, MSG_SETFOCUS, 0, 0);
                    break;
                case SDL_WINDOWEVENT_FOCUS_LOST:
                    post(window, MSG_KILLFOCUS, 0, 0);
                    break;
                default:
                    break;
            }
            break;
        }
        case SDL_SYSWMEVENT:
            translateWindowSystemEvent(event);
            break;
        case SDL_KEYDOWN:
        case SDL_KEYUP: {
            Window* window = findById(event.key.windowID);
            const int virtualKey = sdl::virtualKeyOf(event.key.keysym);
            if (window != nullptr && virtualKey != 0) {
                post(window, event.type == SDL_KEYDOWN ? MSG_KEYDOWN : MSG_KEYUP,
                     static_cast<MessageParam>(virtualKey), 0);
            }
            break;
        }
        case SDL_MOUSEMOTION: {
            Window* window = findById(event.motion.windowID);
            if (window != nullptr) {
                post(window, MSG_MOUSEMOVE, 0, packPair(event.motion.x, event.motion.y));
            }
            break;
        }
        case SDL_MOUSEBUTTONDOWN:
        case SDL_MOUSEBUTTONUP: {
            Window* window = findById(event.button.windowID);
            unsigned down = 0;
            switch (event.button.button) {
                case SDL_BUTTON_LEFT:
                    down = MSG_LBUTTONDOWN;
                    break;
                case SDL_BUTTON_RIGHT:
                    down = MSG_RBUTTONDOWN;
                    break;
                case SDL_BUTTON_MIDDLE:
                    down = MSG_MBUTTONDOWN;
                    break;
                default:
                    break;
            }
            if (window == nullptr || down == 0) {
                break;
            }
            const MessageLong position = packPair(event.button.x, event.button.y);
            if (event.type == SDL_MOUSEBUTTONUP) {
                post(window, down + 1, 0, position);
            } else if (event.button.clicks >= 2 && event.button.clicks % 2 == 0) {
                // As on Win32 a third click is a plain press again.
                post(window, down + 2, 0, position);
            } else {
                post(window, down, 0, position);
            }
            break;
        }
        default:
            break;
    }
}

}  // namespace vell::sdl
