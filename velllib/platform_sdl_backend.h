#pragma once

// The SDL backend's platform, shared by its two files: platform_sdl.cpp (the
// video system, windows and the message queue) and platform_sdl_events.cpp
// (SDL's events read as window messages). Nothing else includes it.

#include <SDL.h>

#include <cstdint>
#include <deque>
#include <string>
#include <vector>

#include "velllib/platform.h"
#include "velllib/platform_sdl.h"
#include "velllib/platform_sdl_keys.h"
#include "velllib/text_ttf.h"

namespace vell::sdl {

class SdlPlatform final : public Platform {
public:
    explicit SdlPlatform(const SdlPlatformOptions& options) : options_(options) {}
    ~SdlPlatform() override;

    bool start(std::string& error);

    bool registerWindowClass(const char*) override { return true; }
    WindowHandle createNativeWindow(const char* title, AppWindow* owner) override;
    void destroyNativeWindow(WindowHandle window) override;
    bool peekMessage(Message& message) override;
    MessageResult dispatchMessage(const Message& message) override;
    void waitForMessage(int milliseconds) override;
    void postQuitMessage(int exitCode) override;
    MessageResult defaultProcedure(WindowHandle, unsigned, MessageParam, MessageLong) override {
        return 0;
    }
    BackBuffer makeBackBuffer(WindowHandle, int width, int height) override {
        return makeMemoryBackBuffer(width, height);
    }
    void freeBackBuffer(WindowHandle, BitmapHandle bitmap) override {
        freeMemoryBackBuffer(bitmap);
    }
    void copyToWindow(WindowHandle window, BitmapHandle bitmap, const std::uint32_t* pixels,
                      int width, int height) override;
    void drawText(WindowHandle, BitmapHandle, std::uint32_t* pixels, int width, int height,
                  const char* text, int left, int top) override {
        text_.draw(pixels, width, height, text, left, top);
    }
    int keyDown(int virtualKey) override { return sdl::keyDown(virtualKey); }
    bool setFullscreen(WindowHandle handle, bool on) override;
    void captureMouse(WindowHandle handle, bool on) override;

private:
    struct Window {
        SDL_Window* sdl = nullptr;
        Uint32 id = 0;
        // Hidden, minimised or unmapped: nobody can see it, so it has no back
        // buffer and the frame loop idles.
        bool unseen = false;          // as last posted
        bool hiddenByEvents = false;  // hidden or minimised, as SDL reports it
        bool hiddenByManager = false;  // unviewable or shaded, as X reports it
        bool copyFailed = false;  // reported once, not at every frame
        unsigned long xWindow = 0;  // the X id on X11, else 0
        void* xDisplay = nullptr;
        bool lost = false;          // destroyed by someone else; closing
        // Waiting for the window manager's frame, to make the outer size the
        // default, until the tick count fitUntil.
        bool fitPending = false;
        Uint32 fitUntil = 0;
        // The client size before full screen, to go back to.
        int windowedWidth = 0;
        int windowedHeight = 0;
    };

    Window* find(WindowHandle handle) const;
    Window* findById(Uint32 id) const;
    void post(Window* window, unsigned message, MessageParam wParam, MessageLong lParam) {
        queue_.push_back(Message{window, message, wParam, lParam});
    }
    void translate(const SDL_Event& event);
    void fitOuterSize(Window& window);
    void hide(Window* window);
    void show(Window* window);
    void updateSeen(Window* window);
    void askWindowManager();
    void translateWindowSystemEvent(const SDL_Event& event);
    void lose(unsigned long xWindow);

    SdlPlatformOptions options_;
    bool videoStarted_ = false;
    TextRenderer text_;
    std::vector<Window*> windows_;
    std::deque<Message> queue_;
    bool quitPending_ = false;
    int quitCode_ = 0;
    Uint32 lastAsked_ = 0;
};

}  // namespace vell::sdl
