#pragma once

#include <memory>
#include <string>
#include <vector>

#include "velllib/platform.h"
#include "velllib/text.h"

namespace vell {

struct MemoryPlatformOptions {
    int clientWidth = 240;
    int clientHeight = 200;
    // The screen that a full-screen window covers.
    int desktopWidth = 1024;
    int desktopHeight = 768;
};

// Windows that exist only in memory, for runs without a display: each has the
// requested client size, a back buffer the program draws into as usual, and
// no screen. Nothing happens to them from outside: no key is ever down, and
// the only message is a posted quit.
class MemoryPlatform final : public Platform {
public:
    // Null, with the reason in error, for a size outside 1..MAX_CLIENT_SIZE or
    // when the text font cannot be loaded.
    static std::unique_ptr<MemoryPlatform> open(const MemoryPlatformOptions& options,
                                                std::string& error);
    ~MemoryPlatform() override;

    // Copies of back buffers made so far (frames shown plus paint answers).
    long long framesPresented() const { return framesPresented_; }

    bool registerWindowClass(const char* className) override;
    WindowHandle createNativeWindow(const char* title, AppWindow* owner) override;
    void destroyNativeWindow(WindowHandle window) override;
    bool peekMessage(Message& message) override;
    MessageResult dispatchMessage(const Message& message) override;
    void waitForMessage(int milliseconds) override;
    void postQuitMessage(int exitCode) override;
    MessageResult defaultProcedure(WindowHandle window, unsigned message, MessageParam wParam,
                                   MessageLong lParam) override;
    BackBuffer makeBackBuffer(WindowHandle window, int width, int height) override;
    void freeBackBuffer(WindowHandle window, BitmapHandle bitmap) override;
    void copyToWindow(WindowHandle window, BitmapHandle bitmap, const std::uint32_t* pixels,
                      int width, int height) override;
    void drawText(WindowHandle window, BitmapHandle bitmap, std::uint32_t* pixels, int width,
                  int height, const char* text, int left, int top) override;
    int keyDown(int virtualKey) override;
    // Sends the desktop's size, or back the size from before, as MSG_SIZE
    // before returning.
    bool setFullscreen(WindowHandle window, bool on) override;

private:
    explicit MemoryPlatform(const MemoryPlatformOptions& options) : options_(options) {}

    struct Window {
        std::string title;
        int width = 0;
        int height = 0;
        // The size to go back to from full screen; 0 x 0 while windowed.
        int windowedWidth = 0;
        int windowedHeight = 0;
    };

    MemoryPlatformOptions options_;
    TextRenderer text_;
    std::vector<std::unique_ptr<Window>> windows_;
    bool quitPending_ = false;
    int quitCode_ = 0;
    long long framesPresented_ = 0;
};

}  // namespace vell
