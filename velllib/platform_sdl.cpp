#include "velllib/platform_sdl.h"

#include <SDL.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "velllib/app.h"
#include "velllib/platform_sdl_backend.h"
#include "velllib/platform_sdl_x11.h"

namespace vell {

namespace {

constexpr int DEFAULT_OUTER_WIDTH = 240;
constexpr int DEFAULT_OUTER_HEIGHT = 200;
// How long after showing a window its frame may still arrive and be fitted.
constexpr Uint32 FRAME_WAIT_MS = 1000;

bool platformOpen = false;

bool hasValue(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr && value[0] != '\0';
}

bool sameName(const char* a, const char* b) {
    for (; *a != '\0' && *b != '\0'; ++a, ++b) {
        if (std::tolower(static_cast<unsigned char>(*a)) !=
            std::tolower(static_cast<unsigned char>(*b))) {
            return false;
        }
    }
    return *a == *b;
}

}  // namespace

namespace sdl {

SdlPlatform::~SdlPlatform() {
    for (Window* window : windows_) {
        SDL_DestroyWindow(window->sdl);
        delete window;
    }
#if VELL_X11_WINDOWS
    x11::stopWatch();
#endif
    if (videoStarted_) {
        SDL_QuitSubSystem(SDL_INIT_VIDEO);
        if (SDL_WasInit(SDL_INIT_EVERYTHING) == 0) {
            SDL_Quit();
        }
        platformOpen = false;
    }
}

bool SdlPlatform::start(std::string& error) {
    const bool driverAsked = hasValue("SDL_VIDEODRIVER");
    if (!driverAsked && !hasValue("DISPLAY") && !hasValue("WAYLAND_DISPLAY")) {
        auto state = [](const char* name) {
            return std::string(name) + (std::getenv(name) != nullptr ? " is empty" : " is unset");
        };
        error = "no display to open a window on (" + state("DISPLAY") + ", " +
                state("WAYLAND_DISPLAY") + "); run with --headless to render without a window";
        return false;
    }
    if (platformOpen) {
        error = "the desktop window system is already in use";
        return false;
    }
    // The window manager groups and matches windows by this class; a value the
    // user set stays.
#if !defined(_WIN32)
    setenv("SDL_VIDEO_X11_WMCLASS", WINDOW_CLASS_NAME, 0);
    setenv("SDL_VIDEO_WAYLAND_WMCLASS", WINDOW_CLASS_NAME, 0);
#endif
    // Copying into the window's own surface is far cheaper than a streaming
    // texture when the only GL is a software one, and never slower.
    SDL_SetHint(SDL_HINT_FRAMEBUFFER_ACCELERATION, "0");
    // SIGINT and SIGTERM are the window layer's stop requests (catchStopSignals),
    // which end even a frame in progress; SDL would only queue a quit event.
    SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
    if (SDL_InitSubSystem(SDL_INIT_VIDEO) != 0) {
        error = std::string("cannot start the video system: ") + SDL_GetError();
        return false;
    }
    videoStarted_ = true;
    platformOpen = true;
    const char* driver = SDL_GetCurrentVideoDriver();
#if VELL_X11_WINDOWS
    if (driver != nullptr && sameName(driver, "x11")) {
        x11::startWatch();
    }
#endif
    const bool offscreen =
        driver == nullptr || sameName(driver, "offscreen") || sameName(driver, "dummy");
    if (offscreen && !driverAsked) {
        error = std::string("no display to open a window on (SDL fell back to its '") +
                (driver != nullptr ? driver : "none") +
                "' video driver; is the display in DISPLAY or WAYLAND_DISPLAY running?); "
                "run with --headless to render without a window";
        return false;
    }
    return text_.open(error);
}

SdlPlatform::Window* SdlPlatform::find(WindowHandle handle) const {
    auto found = std::find(windows_.begin(), windows_.end(), static_cast<Window*>(handle));
    return found != windows_.end() ? *found : nullptr;
}

SdlPlatform::Window* SdlPlatform::findById(Uint32 id) const {
    for (Window* window : windows_) {
        if (window->id == id) {
            return window;
        }
    }
    return nullptr;
}

void SdlPlatform::fitOuterSize(Window& window) {
    // An X11 window learns its frame only once the window manager has framed
    // it, some time after it is shown; without a window manager it never does.
    // Nothing waits for it: the first frames are drawn at the client size the
    // window was created with, and the fit arrives later as a size message.
    int top = 0;
    int left = 0;
    int bottom = 0;
    int right = 0;
    if (SDL_GetWindowBordersSize(window.sdl, &top, &left, &bottom, &right) != 0 ||
        SDL_TICKS_PASSED(SDL_GetTicks(), window.fitUntil)) {
        window.fitPending = false;  // no frame to learn, or it came too late
        return;
    }
    if (top == 0 && left == 0 && bottom == 0 && right == 0) {
        return;  // not framed yet
    }
    window.fitPending = false;
    int width = 0;
    int height = 0;
    SDL_GetWindowSize(window.sdl, &width, &height);
    if (width != DEFAULT_OUTER_WIDTH || height != DEFAULT_OUTER_HEIGHT) {
        return;  // resized meanwhile, by the user or the window manager: theirs stands
    }
    SDL_SetWindowSize(window.sdl, std::max(1, DEFAULT_OUTER_WIDTH - left - right),
                      std::max(1, DEFAULT_OUTER_HEIGHT - top - bottom));
}

WindowHandle SdlPlatform::createNativeWindow(const char* title, AppWindow* owner) {
    const bool sizeAsked = options_.clientWidth > 0 && options_.clientHeight > 0;
    const int width = sizeAsked ? options_.clientWidth : DEFAULT_OUTER_WIDTH;
    const int height = sizeAsked ? options_.clientHeight : DEFAULT_OUTER_HEIGHT;
    // Hidden until shown below, so that the first size the window system
    // reports is already the final one.
    SDL_Window* sdl = SDL_CreateWindow(title != nullptr ? title : "", SDL_WINDOWPOS_UNDEFINED,
                                       SDL_WINDOWPOS_UNDEFINED, width, height,
                                       SDL_WINDOW_RESIZABLE | SDL_WINDOW_HIDDEN);
    if (sdl == nullptr) {
        std::fprintf(stderr, "vell: cannot open a window: %s\n", SDL_GetError());
        return nullptr;
    }
    auto* window = new Window;
    window->sdl = sdl;
    window->id = SDL_GetWindowID(sdl);
#if VELL_X11_WINDOWS
    const x11::WindowId xId = x11::watchWindow(sdl);
    window->xWindow = xId.window;
    window->xDisplay = xId.display;
#endif
    windows_.push_back(window);

    WindowCreation creation{owner};
    windowProcedure(window, MSG_CREATE, 0, reinterpret_cast<MessageLong>(&creation));
    SDL_ShowWindow(sdl);
    if (!sizeAsked) {
        window->fitPending = true;
        window->fitUntil = SDL_GetTicks() + FRAME_WAIT_MS;
        fitOuterSize(*window);
    }
    int clientWidth = 0;
    int clientHeight = 0;
    SDL_GetWindowSize(sdl, &clientWidth, &clientHeight);
    windowProcedure(window, MSG_SIZE, 0, packPair(clientWidth, clientHeight));
    return window;
}

void SdlPlatform::destroyNativeWindow(WindowHandle handle) {
    Window* window = find(handle);
    if (window == nullptr) {
        return;
    }
    windowProcedure(handle, MSG_DESTROY, 0, 0);
    // Messages still queued for the window must not reach a later window that
    // happens to get the same address.
    std::erase_if(queue_, [&](const Message& m) { return m.window == handle; });
    std::erase(windows_, window);
#if VELL_X11_WINDOWS
    if (window->lost) {
        x11::destroyLostWindow(window->sdl, window->xWindow);
        delete window;
        return;
    }
    x11::forgetWindow(window->xWindow);
#endif
    SDL_DestroyWindow(window->sdl);
    delete window;
}

bool SdlPlatform::peekMessage(Message& message) {
#if VELL_X11_WINDOWS
    for (unsigned long xWindow : x11::lostWindows()) {
        lose(xWindow);
    }
#endif
    askWindowManager();
    for (Window* window : windows_) {
        if (window->fitPending && !window->lost) {
            fitOuterSize(*window);
        }
    }
    SDL_Event event;
    while (queue_.empty() && SDL_PollEvent(&event) != 0) {
        translate(event);
    }
    if (!queue_.empty()) {
        message = queue_.front();
        queue_.pop_front();
        return true;
    }
    if (quitPending_) {
        quitPending_ = false;
        message = Message{nullptr, MSG_QUIT, static_cast<MessageParam>(quitCode_), 0};
        return true;
    }
    return false;
}

MessageResult SdlPlatform::dispatchMessage(const Message& message) {
    if (find(message.window) == nullptr) {
        return 0;
    }
    return windowProcedure(message.window, message.message, message.wParam, message.lParam);
}

void SdlPlatform::waitForMessage(int milliseconds) {
    if (!queue_.empty() || quitPending_) {
        return;
    }
    SDL_WaitEventTimeout(nullptr, milliseconds);
}

void SdlPlatform::postQuitMessage(int exitCode) {
    quitPending_ = true;
    quitCode_ = exitCode;
}

void SdlPlatform::copyToWindow(WindowHandle handle, BitmapHandle, const std::uint32_t* pixels,
                               int width, int height) {
    Window* window = find(handle);
    if (window == nullptr || pixels == nullptr) {
        return;
    }
    // Fetched every time: a resize replaces the window's surface.
    SDL_Surface* surface = SDL_GetWindowSurface(window->sdl);
    bool copied = false;
    if (surface != nullptr) {
        const int columns = std::min(width, surface->w);
        const int rows = std::min(height, surface->h);
        copied = columns <= 0 || rows <= 0;
        if (!copied && SDL_LockSurface(surface) == 0) {
            const int sourcePitch = width * 4;
            if (surface->format->format == SDL_PIXELFORMAT_RGB888) {
                for (int y = 0; y < rows; ++y) {
                    std::memcpy(static_cast<char*>(surface->pixels) +
                                    static_cast<std::ptrdiff_t>(y) * surface->pitch,
                                pixels + static_cast<std::ptrdiff_t>(y) * width,
                                static_cast<std::size_t>(columns) * 4);
                }
                copied = true;
            } else {
                copied = SDL_ConvertPixels(columns, rows, SDL_PIXELFORMAT_RGB888, pixels,
                                           sourcePitch, surface->format->format, surface->pixels,
                                           surface->pitch) == 0;
            }
            SDL_UnlockSurface(surface);
        }
        copied = copied && SDL_UpdateWindowSurface(window->sdl) == 0;
    }
    if (!copied && !window->copyFailed) {
        window->copyFailed = true;
        std::fprintf(stderr, "vell: cannot show the picture in the window: %s\n", SDL_GetError());
    }
}

bool SdlPlatform::setFullscreen(WindowHandle handle, bool on) {
    Window* window = find(handle);
    if (window == nullptr || window->lost) {
        return false;
    }
    if (on) {
        SDL_GetWindowSize(window->sdl, &window->windowedWidth, &window->windowedHeight);
    }
    // Full screen at the desktop's own mode: no mode switch. The new size
    // comes as a size event.
    if (SDL_SetWindowFullscreen(window->sdl, on ? SDL_WINDOW_FULLSCREEN_DESKTOP : 0) != 0) {
        std::fprintf(stderr, "vell: cannot %s full screen: %s\n", on ? "go to" : "leave",
                     SDL_GetError());
        return false;
    }
    // The frame fit of a new window must not shrink the full-screen one.
    window->fitPending = false;
    // A window manager gives the old size back by itself; without one (or
    // with SDL's dummy driver) nobody would.
    if (!on && window->windowedWidth > 0 && window->windowedHeight > 0) {
        SDL_SetWindowSize(window->sdl, window->windowedWidth, window->windowedHeight);
    }
    return true;
}

void SdlPlatform::captureMouse(WindowHandle handle, bool on) {
    if (find(handle) != nullptr) {
        // Not every video driver can capture (Wayland cannot); the drag then
        // ends where the pointer leaves the window, which is no error.
        SDL_CaptureMouse(on ? SDL_TRUE : SDL_FALSE);
    }
}

}  // namespace sdl

std::unique_ptr<Platform> openSdlPlatform(const SdlPlatformOptions& options, std::string& error) {
    const bool sizeAsked = options.clientWidth != 0 || options.clientHeight != 0;
    if (sizeAsked) {
        error = clientSizeProblem(options.clientWidth, options.clientHeight);
        if (!error.empty()) {
            return nullptr;
        }
    }
    auto platform = std::make_unique<sdl::SdlPlatform>(options);
    if (!platform->start(error)) {
        return nullptr;
    }
    return platform;
}

}  // namespace vell
