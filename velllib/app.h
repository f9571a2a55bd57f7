#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "velllib/platform.h"
#include "velllib/vell_list.h"

// The window layer: windows with a 32-bit back buffer, the message pump and
// keyboard polling. It talks to the window system only through Platform.

namespace vell {

inline constexpr const char* WINDOW_CLASS_NAME = "vell";

// Virtual key codes (Win32 numbering). Letters and digits are their upper-case
// ASCII codes: keyDown('W').
inline constexpr int KEY_BACK = 8;
inline constexpr int KEY_TAB = 9;
inline constexpr int KEY_RETURN = 13;
inline constexpr int KEY_SHIFT = 16;
inline constexpr int KEY_CONTROL = 17;
inline constexpr int KEY_ALT = 18;
inline constexpr int KEY_ESCAPE = 27;
inline constexpr int KEY_SPACE = 32;
inline constexpr int KEY_LEFT = 37;
inline constexpr int KEY_UP = 38;
inline constexpr int KEY_RIGHT = 39;
inline constexpr int KEY_DOWN = 40;
inline constexpr int KEY_F1 = 112;  // F1 to F12 are 112 to 123

// A window object. It holds no window state: the window's record in the
// registry does, found by owner.
class AppWindow {
public:
    AppWindow() = default;
    // The record refers to the object by address.
    AppWindow(const AppWindow&) = delete;
    AppWindow& operator=(const AppWindow&) = delete;

    virtual ~AppWindow();
    virtual bool isOpen();
    // Copies the back buffer to the window. Subclasses call it at the end of
    // their own drawFrame.
    virtual void drawFrame();
    virtual void onMouseMove(const int position[2]);
    // button: 0 left, 1 right, 2 middle.
    virtual void onMouseButton(int button, int pressed, int doubleClick);
    virtual void onKey(int virtualKey, int pressed);
    // size: client width, height; the new back buffer is already made.
    virtual void onResize(const int size[2]);
    // focused: 1 when the window gains the keyboard focus, 0 when it loses it.
    virtual void onFocus(int focused);
    // step: the pointer's own motion since the last step, in pixels (right
    // and down positive), whatever the window did meanwhile.
    virtual void onMouseStep(const int step[2]);

    // The first size message reaches onResize before this returns. false when
    // no window results; if no other window is open, the quit message with
    // exit code 1 is then posted, so a frame loop that goes on anyway ends.
    bool createWindow(const char* title);
    void destroyWindow();
    // Closes the window as its close button does.
    void close();
    // Full screen on or off; the new size arrives through onResize. false,
    // with the window left as it was, when the window system cannot.
    bool setFullscreen(bool on);
    bool isFullscreen();
    // Keeps the mouse's moves and releases coming while the pointer is
    // outside the window (during a drag), or lets them go.
    void captureMouse(bool on);
    // Client width and height; zeros without a window.
    const int* backBufferSize();
    // Null without a window or without a back buffer (empty client area).
    std::uint32_t* backBufferPixels();
    // Black on white from origin (0, 0 is the top-left pixel), a line per
    // '\n', clipped to the client area.
    void drawText(const char* text, const int origin[2]);
};

struct WindowRecord {
    WindowHandle window = nullptr;
    int size[2] = {0, 0};  // client width, height: the size last reported
    std::uint32_t* pixels = nullptr;
    BitmapHandle bitmap = nullptr;
    AppWindow* owner = nullptr;
    bool fullscreen = false;
};

// WindowRecord items, newest first.
extern ListNode* windowRegistry;
// The quit message's code, set by pumpMessages.
extern int exitCode;

MessageResult windowProcedure(WindowHandle window, unsigned message, MessageParam wParam,
                              MessageLong lParam);

// Dispatches every waiting message; true when the quit message was among them
// (its code is then in exitCode). Never blocks, except that while every window
// lacks a back buffer (minimised) it first waits up to IDLE_WAIT_MS for a message.
// After a stop request it first closes every window, as a user's close does.
bool pumpMessages();
inline constexpr int IDLE_WAIT_MS = 50;

// Stop requests: SIGINT, SIGTERM and (where there is one) SIGHUP, the
// terminal closing, once caught, set a flag that the frame
// loop and the pixel loop read (between rows), so a stop takes at most one
// row's time. Any second stop signal while the first is pending ends the
// program at once, as if nothing had caught it.
void catchStopSignals();
// Records a stop request for signal, as the handlers do (Windows' console
// handler too); false when one was already pending: the caller then ends the
// program its own way. Safe in a signal handler and on any thread.
bool recordStop(int signal);
// Whether a stop signal arrived; safe to call from any thread.
bool stopRequested();
// The signal that asked to stop, 0 if none.
int stopSignal();
// Forgets a stop request (tests).
void clearStopRequest();

// While one lives, a stop request (also one already pending when it is made)
// does not wait for anybody to read it: it closes descriptor, removes the
// file at path, writes note to stderr and ends the program at once with
// 128 + the signal's number. For work that cannot look at the flag, such as
// encoding a file that must not be left half written. descriptor -1 and an
// empty path: nothing to remove.
class StopEndsAtOnce {
public:
    StopEndsAtOnce(int descriptor, const std::string& path, const std::string& note);
    ~StopEndsAtOnce();
    StopEndsAtOnce(const StopEndsAtOnce&) = delete;
    StopEndsAtOnce& operator=(const StopEndsAtOnce&) = delete;
};

// 1 while the key is held, else 0. Keys are read for the focused window of
// this program; other programs' key presses are not seen.
int keyDown(int virtualKey);

// Selects the precision of x87 arithmetic: level below 0.125 single, otherwise
// double. On targets whose floating point does not go through the x87 (x86-64
// and everything else) arithmetic is already at the precision of its type and
// this does nothing.
void setFloatPrecision(float level);
// The x87 precision-control field (bits 8-9 of the control word) for a level.
int floatPrecisionField(float level);

// Installs platform, registers the window class (on refusal returns -1 without
// calling appMain), runs appMain, closes windows still open, gives back the
// registry's nodes and returns exitCode.
int appEntry(Platform& platform, const std::function<void()>& appMain);

}  // namespace vell
