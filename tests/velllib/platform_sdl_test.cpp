#include "velllib/platform_sdl.h"

#include <SDL.h>
#include <gtest/gtest.h>

#include <array>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include "velllib/app.h"

namespace vell {
namespace {

// Sets or clears environment variables for one test and puts them back.
class ScopedEnvironment {
public:
    void set(const char* name, const char* value) {
        remember(name);
        if (value != nullptr) {
            setenv(name, value, 1);
        } else {
            unsetenv(name);
        }
    }
    ~ScopedEnvironment() {
        for (auto it = saved_.rbegin(); it != saved_.rend(); ++it) {
            if (it->second) {
                setenv(it->first.c_str(), it->second->c_str(), 1);
            } else {
                unsetenv(it->first.c_str());
            }
        }
    }

private:
    void remember(const char* name) {
        const char* value = std::getenv(name);
        saved_.emplace_back(name,
                            value != nullptr ? std::optional<std::string>(value) : std::nullopt);
    }
    std::vector<std::pair<std::string, std::optional<std::string>>> saved_;
};

TEST(SdlPlatform, WithoutADisplayRefusesAndPointsToHeadless) {
    ScopedEnvironment environment;
    environment.set("DISPLAY", nullptr);
    environment.set("WAYLAND_DISPLAY", nullptr);
    environment.set("SDL_VIDEODRIVER", nullptr);
    std::string error;
    EXPECT_EQ(openSdlPlatform({}, error), nullptr);
    EXPECT_NE(error.find("--headless"), std::string::npos) << error;

    EXPECT_NE(error.find("DISPLAY is unset"), std::string::npos) << error;

    // Set but empty is no display either, and is named as such.
    environment.set("DISPLAY", "");
    error.clear();
    EXPECT_EQ(openSdlPlatform({}, error), nullptr);
    EXPECT_NE(error.find("DISPLAY is empty"), std::string::npos) << error;
    EXPECT_NE(error.find("WAYLAND_DISPLAY is unset"), std::string::npos) << error;

    error.clear();
    environment.set("SDL_VIDEODRIVER", "dummy");
    EXPECT_EQ(openSdlPlatform({100, 0}, error), nullptr);
    EXPECT_NE(error.find("window size"), std::string::npos) << error;
}

class Recorder : public AppWindow {
public:
    void onResize(const int size[2]) override { resizes.push_back({size[0], size[1]}); }
    void onMouseButton(int button, int pressed, int doubleClick) override {
        buttons.push_back({button, pressed, doubleClick});
    }
    void onKey(int virtualKey, int pressed) override { keys.push_back({virtualKey, pressed}); }
    void onFocus(int focused) override { focuses.push_back(focused); }
    std::vector<int> focuses;
    std::vector<std::array<int, 2>> resizes;
    std::vector<std::array<int, 3>> buttons;
    std::vector<std::array<int, 2>> keys;
};

SDL_Window* theWindow() {
    for (Uint32 id = 1; id < 64; ++id) {
        if (SDL_Window* window = SDL_GetWindowFromID(id)) {
            return window;
        }
    }
    return nullptr;
}

void pushKey(Uint32 type, Uint32 windowId, SDL_Scancode scancode, SDL_Keycode sym) {
    SDL_Event event{};
    event.type = type;
    event.key.windowID = windowId;
    event.key.state = type == SDL_KEYDOWN ? SDL_PRESSED : SDL_RELEASED;
    event.key.keysym.scancode = scancode;
    event.key.keysym.sym = sym;
    SDL_PushEvent(&event);
}

void pushButton(Uint32 type, Uint32 windowId, Uint8 button, Uint8 clicks) {
    SDL_Event event{};
    event.type = type;
    event.button.windowID = windowId;
    event.button.button = button;
    event.button.clicks = clicks;
    event.button.state = type == SDL_MOUSEBUTTONDOWN ? SDL_PRESSED : SDL_RELEASED;
    SDL_PushEvent(&event);
}

void pushWindowEvent(Uint32 windowId, Uint8 what, int data1 = 0, int data2 = 0) {
    SDL_Event event{};
    event.type = SDL_WINDOWEVENT;
    event.window.windowID = windowId;
    event.window.event = what;
    event.window.data1 = data1;
    event.window.data2 = data2;
    SDL_PushEvent(&event);
}

class SdlDummy : public testing::Test {
protected:
    void SetUp() override {
        environment_.set("SDL_VIDEODRIVER", "dummy");
        std::string error;
        platform_ = openSdlPlatform(options, error);
        ASSERT_NE(platform_, nullptr) << error;
    }
    ScopedEnvironment environment_;
    SdlPlatformOptions options;
    std::unique_ptr<Platform> platform_;
};

TEST_F(SdlDummy, WindowGetsItsSizeShowsTheBufferAndTurnsEventsIntoMessages) {
    const int result = appEntry(*platform_, [&] {
        Recorder window;
        ASSERT_TRUE(window.createWindow("vell"));
        ASSERT_FALSE(window.resizes.empty());
        EXPECT_EQ(window.resizes[0], (std::array<int, 2>{240, 200}))
            << "no frame is known here, so the client area is 240 x 200";
        SDL_Window* sdl = theWindow();
        ASSERT_NE(sdl, nullptr);
        EXPECT_STREQ(SDL_GetWindowTitle(sdl), "vell");
        const Uint32 id = SDL_GetWindowID(sdl);
        EXPECT_FALSE(pumpMessages());

        std::uint32_t* pixels = window.backBufferPixels();
        ASSERT_NE(pixels, nullptr);
        pixels[0] = 0x00123456u;
        pixels[240 * 200 - 1] = 0x00abcdefu;
        window.drawFrame();
        SDL_Surface* surface = SDL_GetWindowSurface(sdl);
        ASSERT_NE(surface, nullptr);
        ASSERT_EQ(surface->format->format, SDL_PIXELFORMAT_RGB888);
        const auto* shown = static_cast<const std::uint32_t*>(surface->pixels);
        EXPECT_EQ(shown[0] & 0xffffffu, 0x123456u);
        const auto* lastRow = reinterpret_cast<const std::uint32_t*>(
            static_cast<const char*>(surface->pixels) + 199 * surface->pitch);
        EXPECT_EQ(lastRow[239] & 0xffffffu, 0xabcdefu);

        pushKey(SDL_KEYDOWN, id, SDL_SCANCODE_W, SDLK_w);
        pushKey(SDL_KEYUP, id, SDL_SCANCODE_W, SDLK_w);
        pushKey(SDL_KEYDOWN, id, SDL_SCANCODE_RSHIFT, SDLK_RSHIFT);
        pushKey(SDL_KEYDOWN, id, SDL_SCANCODE_UP, SDLK_UP);
        // A layout without Latin letters keeps the key's US position.
        pushKey(SDL_KEYDOWN, id, SDL_SCANCODE_Q, 0x439);
        pushKey(SDL_KEYDOWN, id, SDL_SCANCODE_A, SDLK_q);        // French layout: this key types q
        pushKey(SDL_KEYDOWN, id + 100, SDL_SCANCODE_E, SDLK_e);  // not our window
        EXPECT_FALSE(pumpMessages());
        const std::vector<std::array<int, 2>> keys = {{'W', 1},    {'W', 0}, {KEY_SHIFT, 1},
                                                      {KEY_UP, 1}, {'Q', 1}, {'Q', 1}};
        EXPECT_EQ(window.keys, keys);

        pushButton(SDL_MOUSEBUTTONDOWN, id, SDL_BUTTON_MIDDLE, 1);
        pushButton(SDL_MOUSEBUTTONUP, id, SDL_BUTTON_MIDDLE, 1);
        pushButton(SDL_MOUSEBUTTONDOWN, id, SDL_BUTTON_MIDDLE, 2);
        pushButton(SDL_MOUSEBUTTONUP, id, SDL_BUTTON_MIDDLE, 2);
        pushButton(SDL_MOUSEBUTTONDOWN, id, SDL_BUTTON_LEFT, 3);
        pushButton(SDL_MOUSEBUTTONDOWN, id, SDL_BUTTON_RIGHT, 1);
        pushButton(SDL_MOUSEBUTTONDOWN, id, SDL_BUTTON_X1, 1);
        EXPECT_FALSE(pumpMessages());
        const std::vector<std::array<int, 3>> buttons = {{2, 1, 0}, {2, 0, 0}, {2, 0, 1},
                                                         {2, 0, 0}, {0, 1, 0}, {1, 1, 0}};
        EXPECT_EQ(window.buttons, buttons);

        window.resizes.clear();
        pushWindowEvent(id, SDL_WINDOWEVENT_SIZE_CHANGED, 100, 80);
        pushWindowEvent(id, SDL_WINDOWEVENT_MINIMIZED);
        pushWindowEvent(id, SDL_WINDOWEVENT_RESTORED);
        pushWindowEvent(id, SDL_WINDOWEVENT_RESTORED);  // not minimised: no size
        pushWindowEvent(id, SDL_WINDOWEVENT_EXPOSED);
        EXPECT_FALSE(pumpMessages());
        int width = 0;
        int height = 0;
        SDL_GetWindowSize(sdl, &width, &height);
        const std::vector<std::array<int, 2>> resizes = {{100, 80}, {0, 0}, {width, height}};
        EXPECT_EQ(window.resizes, resizes);

        SDL_Event quit{};
        quit.type = SDL_QUIT;
        SDL_PushEvent(&quit);
        EXPECT_TRUE(pumpMessages()) << "a quit request closes every window";
        EXPECT_FALSE(window.isOpen());
    });
    EXPECT_EQ(result, 0);
}

// Whatever order a window manager sends them in, a window that is hidden or
// minimised gets the empty size (the frame loop idles) until a sign that it is
// seen again: shown, exposed or restored.
TEST_F(SdlDummy, AWindowNobodyCanSeeStaysEmptyUntilItIsSeenAgain) {
    const int result = appEntry(*platform_, [&] {
        Recorder window;
        ASSERT_TRUE(window.createWindow("vell"));
        SDL_Window* sdl = theWindow();
        ASSERT_NE(sdl, nullptr);
        const Uint32 id = SDL_GetWindowID(sdl);
        EXPECT_FALSE(pumpMessages());
        int width = 0;
        int height = 0;
        SDL_GetWindowSize(sdl, &width, &height);
        const std::array<int, 2> empty{0, 0};
        const std::array<int, 2> full{width, height};
        auto sizesAfter = [&](std::initializer_list<Uint8> events) {
            window.resizes.clear();
            for (Uint8 what : events) {
                if (what == SDL_WINDOWEVENT_SIZE_CHANGED) {
                    pushWindowEvent(id, what, 500, 400);
                } else {
                    pushWindowEvent(id, what);
                }
            }
            EXPECT_FALSE(pumpMessages());
            return window.resizes;
        };
        using Sizes = std::vector<std::array<int, 2>>;
        // jwm, minimising a maximised window: still hidden when MAXIMIZED comes.
        EXPECT_EQ(sizesAfter({SDL_WINDOWEVENT_HIDDEN, SDL_WINDOWEVENT_MINIMIZED,
                              SDL_WINDOWEVENT_FOCUS_LOST, SDL_WINDOWEVENT_MAXIMIZED,
                              SDL_WINDOWEVENT_SIZE_CHANGED}),
                  Sizes{empty});
        EXPECT_EQ(window.backBufferPixels(), nullptr);
        EXPECT_EQ(sizesAfter({SDL_WINDOWEVENT_SHOWN}), Sizes{full});
        // The other order: minimised first, then unmapped.
        EXPECT_EQ(sizesAfter({SDL_WINDOWEVENT_MINIMIZED, SDL_WINDOWEVENT_HIDDEN,
                              SDL_WINDOWEVENT_MAXIMIZED}),
                  Sizes{empty});
        EXPECT_EQ(sizesAfter({SDL_WINDOWEVENT_EXPOSED, SDL_WINDOWEVENT_SHOWN}), Sizes{full});
        // Unmapped without being minimised: another workspace, or shaded.
        EXPECT_EQ(sizesAfter({SDL_WINDOWEVENT_HIDDEN}), Sizes{empty});
        EXPECT_EQ(sizesAfter({SDL_WINDOWEVENT_RESTORED}), Sizes{full});
        EXPECT_NE(window.backBufferPixels(), nullptr);
        // A visible window that is maximised just takes its new size.
        EXPECT_EQ(sizesAfter({SDL_WINDOWEVENT_MAXIMIZED, SDL_WINDOWEVENT_SIZE_CHANGED}),
                  (Sizes{{500, 400}}));
        window.destroyWindow();
    });
    EXPECT_EQ(result, 0);
}

TEST_F(SdlDummy, ViewerKeysFocusAndFullScreenReachTheWindow) {
    const int result = appEntry(*platform_, [&] {
        Recorder window;
        ASSERT_TRUE(window.createWindow("vell"));
        SDL_Window* sdl = theWindow();
        ASSERT_NE(sdl, nullptr);
        const Uint32 id = SDL_GetWindowID(sdl);
        EXPECT_FALSE(pumpMessages());
        window.keys.clear();
        pushKey(SDL_KEYDOWN, id, SDL_SCANCODE_ESCAPE, SDLK_ESCAPE);
        pushKey(SDL_KEYDOWN, id, SDL_SCANCODE_F11, SDLK_F11);
        pushKey(SDL_KEYUP, id, SDL_SCANCODE_F12, SDLK_F12);
        pushKey(SDL_KEYDOWN, id, SDL_SCANCODE_C, SDLK_c);
        pushWindowEvent(id, SDL_WINDOWEVENT_FOCUS_LOST);
        pushWindowEvent(id, SDL_WINDOWEVENT_FOCUS_GAINED);
        EXPECT_FALSE(pumpMessages());
        const std::vector<std::array<int, 2>> keys = {
            {KEY_ESCAPE, 1}, {KEY_F1 + 10, 1}, {KEY_F1 + 11, 0}, {'C', 1}};
        EXPECT_EQ(window.keys, keys);
        // Newer SDL's dummy driver also reports its own focus for a new
        // window; the two pushed changes come last, in order.
        ASSERT_GE(window.focuses.size(), 2u);
        EXPECT_EQ(std::vector<int>(window.focuses.end() - 2, window.focuses.end()),
                  (std::vector<int>{0, 1}));

        // Full screen and back; the sizes come as events.
        int width = 0, height = 0;
        SDL_GetWindowSize(sdl, &width, &height);
        ASSERT_TRUE(window.setFullscreen(true));
        EXPECT_NE(SDL_GetWindowFlags(sdl) & SDL_WINDOW_FULLSCREEN_DESKTOP, 0u);
        ASSERT_TRUE(window.setFullscreen(false));
        EXPECT_EQ(SDL_GetWindowFlags(sdl) & SDL_WINDOW_FULLSCREEN, 0u);
        window.captureMouse(true);
        window.captureMouse(false);
        EXPECT_FALSE(pumpMessages());
        int after = 0, afterHeight = 0;
        SDL_GetWindowSize(sdl, &after, &afterHeight);
        EXPECT_EQ(after, width);
        EXPECT_EQ(afterHeight, height);
        window.destroyWindow();
    });
    EXPECT_EQ(result, 0);
}

class SdlDummySized : public SdlDummy {
protected:
    void SetUp() override {
        options = {320, 180};
        SdlDummy::SetUp();
    }
};

TEST_F(SdlDummySized, RequestedClientSizeIsTheFirstSize) {
    appEntry(*platform_, [&] {
        Recorder window;
        ASSERT_TRUE(window.createWindow("vell"));
        ASSERT_FALSE(window.resizes.empty());
        EXPECT_EQ(window.resizes[0], (std::array<int, 2>{320, 180}));
        EXPECT_EQ(keyDown('W'), 0);
        EXPECT_EQ(keyDown(KEY_SHIFT), 0);
        std::string error;
        EXPECT_EQ(openSdlPlatform({}, error), nullptr) << "one at a time";
    });
}

}  // namespace
}  // namespace vell
