#pragma once

#include <algorithm>
#include <array>
#include <cstdint>
#include <deque>
#include <memory>
#include <vector>

#include <gtest/gtest.h>

#include "velllib/app.h"
#include "velllib/platform.h"

namespace vell {

// A window system in memory that records what the window layer asks of it and
// lets a test queue messages. Creation sends what Win32 sends before and
// during CreateWindowEx: a few messages before MSG_CREATE, then MSG_CREATE and
// the first MSG_SIZE.
class FakePlatform final : public Platform {
public:
    static constexpr unsigned MSG_GETMINMAXINFO = 36;
    static constexpr unsigned MSG_NCCREATE = 129;
    static constexpr unsigned MSG_NCCALCSIZE = 131;
    // New back buffers are filled with this, so a test sees whether the
    // window layer cleared them.
    static constexpr std::uint32_t GARBAGE = 0xdeadbeefu;

    ~FakePlatform() override {
        for (std::uint32_t* buffer : liveBuffers) {
            delete[] buffer;
        }
    }

    bool registerWindowClass(const char* className) override {
        registeredClass = className;
        return !refuseClass;
    }

    WindowHandle createNativeWindow(const char*, AppWindow* owner) override {
        if (refuseWindows) {
            return nullptr;
        }
        WindowHandle window = reinterpret_cast<WindowHandle>(nextHandle++);
        liveWindows.push_back(window);
        for (unsigned early : {MSG_GETMINMAXINFO, MSG_NCCREATE, MSG_NCCALCSIZE}) {
            windowProcedure(window, early, 0, 0);
        }
        WindowCreation creation{owner};
        windowProcedure(window, MSG_CREATE, 0, reinterpret_cast<MessageLong>(&creation));
        if (refuseAfterCreate) {
            // As Wine without a display: the window is dropped after its
            // creation message, without a destroy message.
            std::erase(liveWindows, window);
            return nullptr;
        }
        windowProcedure(window, MSG_SIZE, 0, packPair(initialWidth, initialHeight));
        return window;
    }

    void destroyNativeWindow(WindowHandle window) override {
        auto found = std::find(liveWindows.begin(), liveWindows.end(), window);
        if (found == liveWindows.end()) {
            return;
        }
        ++destroyed;
        windowProcedure(window, MSG_DESTROY, 0, 0);
        std::erase(liveWindows, window);
    }

    bool peekMessage(Message& message) override {
        if (!queue.empty()) {
            message = queue.front();
            queue.pop_front();
            return true;
        }
        if (quitPending) {
            quitPending = false;
            message = Message{nullptr, MSG_QUIT, static_cast<MessageParam>(quitCode), 0};
            return true;
        }
        return false;
    }

    MessageResult dispatchMessage(const Message& message) override {
        return windowProcedure(message.window, message.message, message.wParam, message.lParam);
    }

    void waitForMessage(int milliseconds) override { waits.push_back(milliseconds); }

    void postQuitMessage(int exitCode) override {
        quitPending = true;
        quitCode = exitCode;
    }

    MessageResult defaultProcedure(WindowHandle, unsigned message, MessageParam,
                                   MessageLong) override {
        defaulted.push_back(message);
        return 0;
    }

    BackBuffer makeBackBuffer(WindowHandle, int width, int height) override {
        ++buffersRequested;
        if (refuseBuffers) {
            return {};
        }
        const std::size_t words = static_cast<std::size_t>(width) * height;
        auto* pixels = new std::uint32_t[words];
        std::fill(pixels, pixels + words, GARBAGE);
        liveBuffers.push_back(pixels);
        return {pixels, pixels};
    }

    void freeBackBuffer(WindowHandle, BitmapHandle bitmap) override {
        auto found = std::find(liveBuffers.begin(), liveBuffers.end(), bitmap);
        ASSERT_NE(found, liveBuffers.end()) << "freed a back buffer that is not live";
        delete[] * found;
        liveBuffers.erase(found);
    }

    void copyToWindow(WindowHandle window, BitmapHandle, const std::uint32_t*, int width,
                      int height) override {
        copies.push_back({window, width, height});
    }

    void paintWindow(WindowHandle window, BitmapHandle, const std::uint32_t*, int width,
                     int height) override {
        paints.push_back({window, width, height});
    }

    void drawText(WindowHandle window, BitmapHandle, std::uint32_t*, int width, int height,
                  const char*, int, int) override {
        texts.push_back({window, width, height});
    }

    int keyDown(int virtualKey) override { return virtualKey == heldKey ? heldState : 0; }

    // As Win32 does, the new size is sent before the call returns.
    bool setFullscreen(WindowHandle window, bool on) override {
        fullscreenCalls.push_back(on);
        if (refuseFullscreen) {
            return false;
        }
        if (on) {
            windowedSize = {sizeNow(window)[0], sizeNow(window)[1]};
            windowProcedure(window, MSG_SIZE, 0, packPair(desktopWidth, desktopHeight));
        } else {
            windowProcedure(window, MSG_SIZE, 0, packPair(windowedSize[0], windowedSize[1]));
        }
        return true;
    }

    void captureMouse(WindowHandle, bool on) override { captures.push_back(on); }

    static const int* sizeNow(WindowHandle window) {
        for (ListNode* node = windowRegistry; node != nullptr; node = node->next) {
            auto* record = static_cast<WindowRecord*>(node->item);
            if (record->window == window) {
                return record->size;
            }
        }
        static const int none[2] = {0, 0};
        return none;
    }

    void send(WindowHandle window, unsigned message, MessageParam wParam = 0,
              MessageLong lParam = 0) {
        queue.push_back(Message{window, message, wParam, lParam});
    }

    struct Copy {
        WindowHandle window;
        int width;
        int height;
    };

    int initialWidth = 240;
    int initialHeight = 200;
    bool refuseClass = false;
    bool refuseWindows = false;
    bool refuseAfterCreate = false;
    bool refuseBuffers = false;
    int heldKey = -1;
    int heldState = 0;
    bool refuseFullscreen = false;
    int desktopWidth = 1024;
    int desktopHeight = 768;

    const char* registeredClass = nullptr;
    std::uintptr_t nextHandle = 0x1000;
    std::vector<WindowHandle> liveWindows;
    std::vector<std::uint32_t*> liveBuffers;
    std::deque<Message> queue;
    bool quitPending = false;
    int quitCode = 0;
    int destroyed = 0;
    int buffersRequested = 0;
    std::vector<int> waits;
    std::vector<unsigned> defaulted;
    std::vector<Copy> copies;
    std::vector<Copy> paints;
    std::vector<Copy> texts;
    std::vector<bool> fullscreenCalls;
    std::vector<bool> captures;
    std::array<int, 2> windowedSize = {0, 0};
};

}  // namespace vell
