#pragma once

#include <cstdint>
#include <string>

// The seam between the window layer (app.h) and a window system. The registry,
// the window procedure and the message table are the same for every backend;
// a backend only moves windows, messages, back buffers and key states.

namespace vell {

class AppWindow;

using WindowHandle = void*;
using BitmapHandle = void*;
using MessageParam = std::uintptr_t;
using MessageLong = std::intptr_t;
using MessageResult = std::intptr_t;

// Message numbers are those of Win32, so that a native backend can pass its
// own messages straight through. The names differ from Win32's so that both
// can be in scope in one file.
inline constexpr unsigned MSG_CREATE = 1;
inline constexpr unsigned MSG_DESTROY = 2;
inline constexpr unsigned MSG_SIZE = 5;  // lParam: width | height << 16, both unsigned 16-bit
inline constexpr unsigned MSG_SETFOCUS = 7;
inline constexpr unsigned MSG_KILLFOCUS = 8;
inline constexpr unsigned MSG_PAINT = 15;
inline constexpr unsigned MSG_CLOSE = 16;
inline constexpr unsigned MSG_QUIT = 18;      // wParam: the exit code
inline constexpr unsigned MSG_KEYDOWN = 256;  // wParam: the virtual key code
inline constexpr unsigned MSG_KEYUP = 257;
inline constexpr unsigned MSG_MOUSEMOVE = 512;  // lParam: x | y << 16, both unsigned 16-bit
inline constexpr unsigned MSG_LBUTTONDOWN = 513;
inline constexpr unsigned MSG_LBUTTONUP = 514;
inline constexpr unsigned MSG_LBUTTONDBLCLK = 515;
inline constexpr unsigned MSG_RBUTTONDOWN = 516;
inline constexpr unsigned MSG_RBUTTONUP = 517;
inline constexpr unsigned MSG_RBUTTONDBLCLK = 518;
inline constexpr unsigned MSG_MBUTTONDOWN = 519;
inline constexpr unsigned MSG_MBUTTONUP = 520;
inline constexpr unsigned MSG_MBUTTONDBLCLK = 521;
// The pointer's own motion since the one before, in pixels: lParam
// dx | dy << 16, both signed 16-bit. Unlike the positions of MSG_MOUSEMOVE it
// does not change when the window moves or changes size under a still
// pointer (full screen, a window manager's move). From the range Win32 leaves
// to applications, so no window system sends it by itself.
inline constexpr unsigned MSG_MOUSESTEP = 0x8001;

inline constexpr MessageLong packPair(int low, int high) {
    return static_cast<MessageLong>((static_cast<std::uint32_t>(low) & 0xffffu) |
                                    (static_cast<std::uint32_t>(high) & 0xffffu) << 16);
}

// What MSG_CREATE's lParam points to. Its first word is the creation
// parameter, as in the Win32 creation record, so a native backend can hand
// over its own record unchanged.
struct WindowCreation {
    AppWindow* owner;
};

struct Message {
    WindowHandle window = nullptr;
    unsigned message = 0;
    MessageParam wParam = 0;
    MessageLong lParam = 0;
};

// The largest client width or height a backend accepts: sizes travel in
// 16-bit message fields, and no screen is wider than this.
inline constexpr int MAX_CLIENT_SIZE = 16384;

// A back buffer: width x height 32-bit words, top row first, rows adjacent;
// blue in bits 0-7, green 8-15, red 16-23, bits 24-31 zero.
struct BackBuffer {
    BitmapHandle bitmap = nullptr;
    std::uint32_t* pixels = nullptr;
};

class Platform {
public:
    virtual ~Platform() = default;

    // false: no window can be opened; the entry then returns -1.
    virtual bool registerWindowClass(const char* className) = 0;

    // Opens a window with the given title. Before returning it sends, through
    // windowProcedure, MSG_CREATE (lParam: a WindowCreation naming owner) and
    // the first MSG_SIZE. Null, with a message on stderr, when no window results.
    virtual WindowHandle createNativeWindow(const char* title, AppWindow* owner) = 0;
    // Sends MSG_DESTROY through windowProcedure, then closes the window.
    virtual void destroyNativeWindow(WindowHandle window) = 0;

    // Removes the next waiting message without ever blocking; false when none
    // waits. MSG_QUIT comes only once nothing else is waiting.
    virtual bool peekMessage(Message& message) = 0;
    virtual MessageResult dispatchMessage(const Message& message) = 0;
    // Returns when a message may be waiting or after at most milliseconds.
    virtual void waitForMessage(int milliseconds) = 0;
    virtual void postQuitMessage(int exitCode) = 0;
    // The answer to every message the window procedure does not handle.
    virtual MessageResult defaultProcedure(WindowHandle window, unsigned message,
                                           MessageParam wParam, MessageLong lParam) = 0;

    // Never called with an empty size. {null, null} when none can be made;
    // the content of a new buffer is undefined.
    virtual BackBuffer makeBackBuffer(WindowHandle window, int width, int height) = 0;
    virtual void freeBackBuffer(WindowHandle window, BitmapHandle bitmap) = 0;
    // Copies the back buffer to the window's client area at (0, 0).
    virtual void copyToWindow(WindowHandle window, BitmapHandle bitmap, const std::uint32_t* pixels,
                              int width, int height) = 0;
    // The answer to a paint request of a window that has a back buffer.
    // Win32 has to bracket it with BeginPaint and EndPaint; others just copy.
    virtual void paintWindow(WindowHandle window, BitmapHandle bitmap, const std::uint32_t* pixels,
                             int width, int height) {
        copyToWindow(window, bitmap, pixels, width, height);
    }
    // Black text on an opaque white background from (left, top), lines
    // broken at each '\n', clipped to the width x height buffer.
    virtual void drawText(WindowHandle window, BitmapHandle bitmap, std::uint32_t* pixels,
                          int width, int height, const char* text, int left, int top) = 0;

    // 1 while the key with this virtual key code is held, else 0.
    virtual int keyDown(int virtualKey) = 0;

    // Makes the window cover its screen without a frame (on), or gives it back
    // the frame, place and size it had before (off). The new client size
    // arrives as MSG_SIZE, at once or later. false when the window system
    // cannot do it; the window then stays as it was.
    virtual bool setFullscreen(WindowHandle, bool) { return false; }
    // While captured, the window receives the mouse's moves, steps and button
    // releases wherever the pointer is, so a drag may leave the window; the
    // steps are then the device's own motion, which a backend may read by
    // hiding the pointer and holding it in the window.
    virtual void captureMouse(WindowHandle, bool) {}
};

// The platform that the window layer talks to; set by appEntry.
Platform* currentPlatform();
// Installs platform (may be null) and returns the previous one.
Platform* setCurrentPlatform(Platform* platform);

// Empty when width x height is a client size a backend can make, else why not.
std::string clientSizeProblem(int width, int height);

// Back buffers in plain memory, for backends whose windows take a copy.
BackBuffer makeMemoryBackBuffer(int width, int height);
void freeMemoryBackBuffer(BitmapHandle bitmap);

}  // namespace vell
