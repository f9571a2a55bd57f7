#include "velllib/platform_memory.h"

#include <algorithm>

#include "velllib/app.h"

namespace vell {

std::unique_ptr<MemoryPlatform> MemoryPlatform::open(const MemoryPlatformOptions& options,
                                                     std::string& error) {
    error = clientSizeProblem(options.clientWidth, options.clientHeight);
    if (error.empty()) {
        error = clientSizeProblem(options.desktopWidth, options.desktopHeight);
    }
    if (!error.empty()) {
        return nullptr;
    }
    std::unique_ptr<MemoryPlatform> platform(new MemoryPlatform(options));
    if (!platform->text_.open(error)) {
        return nullptr;
    }
    return platform;
}

MemoryPlatform::~MemoryPlatform() = default;

bool MemoryPlatform::registerWindowClass(const char*) {
    return true;
}

WindowHandle MemoryPlatform::createNativeWindow(const char* title, AppWindow* owner) {
    auto window = std::make_unique<Window>();
    window->title = title != nullptr ? title : "";
    window->width = options_.clientWidth;
    window->height = options_.clientHeight;
    windows_.push_back(std::move(window));
    WindowHandle handle = windows_.back().get();
    WindowCreation creation{owner};
    windowProcedure(handle, MSG_CREATE, 0, reinterpret_cast<MessageLong>(&creation));
    windowProcedure(handle, MSG_SIZE, 0, packPair(options_.clientWidth, options_.clientHeight));
    return handle;
}

void MemoryPlatform::destroyNativeWindow(WindowHandle window) {
    auto found = std::find_if(windows_.begin(), windows_.end(),
                              [&](const auto& w) { return w.get() == window; });
    if (found == windows_.end()) {
        return;
    }
    windowProcedure(window, MSG_DESTROY, 0, 0);
    windows_.erase(found);
}

bool MemoryPlatform::peekMessage(Message& message) {
    if (quitPending_) {
        quitPending_ = false;
        message = Message{nullptr, MSG_QUIT, static_cast<MessageParam>(quitCode_), 0};
        return true;
    }
    return false;
}

MessageResult MemoryPlatform::dispatchMessage(const Message& message) {
    if (message.window == nullptr) {
        return 0;
    }
    return windowProcedure(message.window, message.message, message.wParam, message.lParam);
}

// Nothing outside the program can send these windows a message.
void MemoryPlatform::waitForMessage(int) {}

void MemoryPlatform::postQuitMessage(int exitCode) {
    quitPending_ = true;
    quitCode_ = exitCode;
}

MessageResult MemoryPlatform::defaultProcedure(WindowHandle, unsigned, MessageParam, MessageLong) {
    return 0;
}

BackBuffer MemoryPlatform::makeBackBuffer(WindowHandle, int width, int height) {
    return makeMemoryBackBuffer(width, height);
}

void MemoryPlatform::freeBackBuffer(WindowHandle, BitmapHandle bitmap) {
    freeMemoryBackBuffer(bitmap);
}

void MemoryPlatform::copyToWindow(WindowHandle, BitmapHandle, const std::uint32_t*, int, int) {
    ++framesPresented_;
}

void MemoryPlatform::drawText(WindowHandle, BitmapHandle, std::uint32_t* pixels, int width,
                              int height, const char* text, int left, int top) {
    text_.draw(pixels, width, height, text, left, top);
}

int MemoryPlatform::keyDown(int) {
    return 0;
}

bool MemoryPlatform::setFullscreen(WindowHandle handle, bool on) {
    auto found = std::find_if(windows_.begin(), windows_.end(),
                              [&](const auto& w) { return w.get() == handle; });
    if (found == windows_.end()) {
        return false;
    }
    Window& window = **found;
    const bool fullscreen = window.windowedWidth > 0;
    if (on == fullscreen) {
        return true;
    }
    if (on) {
        window.windowedWidth = window.width;
        window.windowedHeight = window.height;
        window.width = options_.desktopWidth;
        window.height = options_.desktopHeight;
    } else {
        window.width = window.windowedWidth;
        window.height = window.windowedHeight;
        window.windowedWidth = 0;
        window.windowedHeight = 0;
    }
    windowProcedure(handle, MSG_SIZE, 0, packPair(window.width, window.height));
    return true;
}

}  // namespace vell
