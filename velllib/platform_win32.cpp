// Windows on the desktop through Win32 itself: a registered window class, a
// window procedure, 32-bit device-independent sections as back buffers with a
// memory device context, GDI text and BitBlt, and the asynchronous key state.
// Messages go straight through to the shared window procedure: the seam's
// message numbers are Win32's.

#include <windows.h>

#include <algorithm>
#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <vector>

#include "velllib/app.h"
#include "velllib/platform_desktop.h"

namespace vell {

namespace {

constexpr int DEFAULT_OUTER_WIDTH = 240;
constexpr int DEFAULT_OUTER_HEIGHT = 200;
// CS_VREDRAW | CS_HREDRAW | CS_DBLCLKS: redraw on every resize, and double
// clicks arrive as messages of their own.
constexpr UINT CLASS_STYLE = CS_VREDRAW | CS_HREDRAW | CS_DBLCLKS;
static_assert(CLASS_STYLE == 11);
// Back buffers are 10000 pixels per metre, as the header has always said.
constexpr LONG PIXELS_PER_METRE = 10000;

bool platformOpen = false;
// The window that Ctrl+C, Ctrl+Break or closing the console wakes; the
// console's handler runs on a thread of its own.
std::atomic<HWND> consoleTarget{nullptr};

// The pointer's place on the screen at the last mouse message, from which its
// own motion is measured: a window moved or made full screen under a still
// pointer changes the pointer's place in the window, not on the screen.
POINT lastPointer{};
bool pointerKnown = false;

LRESULT CALLBACK procedureThunk(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    const LRESULT result = static_cast<LRESULT>(windowProcedure(
        window, message, static_cast<MessageParam>(wParam), static_cast<MessageLong>(lParam)));
    if (message == WM_MOUSEMOVE || (message >= WM_LBUTTONDOWN && message <= WM_MBUTTONDBLCLK)) {
        // Where the pointer was when the message was posted, in screen
        // coordinates (negative left of or above the primary monitor).
        const DWORD position = GetMessagePos();
        const POINT now{static_cast<short>(LOWORD(position)), static_cast<short>(HIWORD(position))};
        if (message == WM_MOUSEMOVE && pointerKnown &&
            (now.x != lastPointer.x || now.y != lastPointer.y)) {
            windowProcedure(window, MSG_MOUSESTEP, 0,
                            packPair(now.x - lastPointer.x, now.y - lastPointer.y));
        }
        lastPointer = now;
        pointerKnown = true;
    }
    return result;
}

BOOL consoleEvent(DWORD event) {
    HWND window = consoleTarget.load();
    if (window == nullptr) {
        return FALSE;  // the default: end the process
    }
    const bool closing =
        event == CTRL_CLOSE_EVENT || event == CTRL_LOGOFF_EVENT || event == CTRL_SHUTDOWN_EVENT;
    // A stop request, as SIGINT and SIGTERM are elsewhere: a long frame is
    // abandoned within a few rows, and the next pump closes the window (exit
    // code 0). A second request is not waited for.
    if (!recordStop(closing ? SIGTERM : SIGINT)) {
        return FALSE;
    }
    // Wakes a pump that idles while the window is minimised.
    PostMessageA(window, WM_NULL, 0, 0);
    if (closing) {
        // The system ends the process when this returns; give the frame loop
        // time to finish.
        Sleep(3000);
    }
    return TRUE;
}

BOOL WINAPI consoleControl(DWORD event) { return consoleEvent(event); }

class Win32Platform final : public Platform {
public:
    explicit Win32Platform(const DesktopPlatformOptions& options) : options_(options) {
        instance_ = GetModuleHandleA(nullptr);
        // What the start-up code hands WinMain as its show command.
        STARTUPINFOA startup{};
        startup.cb = sizeof startup;
        GetStartupInfoA(&startup);
        showCommand_ =
            (startup.dwFlags & STARTF_USESHOWWINDOW) != 0 ? startup.wShowWindow : SW_SHOWDEFAULT;
        platformOpen = true;
        SetConsoleCtrlHandler(consoleControl, TRUE);
    }

    ~Win32Platform() override {
        SetConsoleCtrlHandler(consoleControl, FALSE);
        consoleTarget.store(nullptr);
        for (Surface& surface : surfaces_) {
            if (surface.memoryDC != nullptr) {
                DeleteDC(surface.memoryDC);
            }
        }
        if (registered_) {
            UnregisterClassA(className_.c_str(), instance_);
        }
        platformOpen = false;
    }

    bool registerWindowClass(const char* className) override {
        WNDCLASSA windowClass{};
        windowClass.style = CLASS_STYLE;
        windowClass.lpfnWndProc = procedureThunk;
        windowClass.hInstance = instance_;
        windowClass.hCursor = LoadCursorA(nullptr, IDC_ARROW);
        windowClass.lpszClassName = className;
        if (RegisterClassA(&windowClass) == 0) {
            std::fprintf(stderr, "vell: cannot register the window class \"%s\" (error %lu)\n",
                         className, static_cast<unsigned long>(GetLastError()));
            return false;
        }
        className_ = className;
        registered_ = true;
        return true;
    }

    WindowHandle createNativeWindow(const char* title, AppWindow* owner) override {
        int outerWidth = DEFAULT_OUTER_WIDTH;
        int outerHeight = DEFAULT_OUTER_HEIGHT;
        if (options_.clientWidth > 0 && options_.clientHeight > 0) {
            RECT outer{0, 0, options_.clientWidth, options_.clientHeight};
            AdjustWindowRectEx(&outer, WS_OVERLAPPEDWINDOW, FALSE, 0);
            outerWidth = outer.right - outer.left;
            outerHeight = outer.bottom - outer.top;
        }
        // The creation parameter is the owner itself: the creation record's
        // first word then names it, as WindowCreation does.
        HWND window = CreateWindowExA(0, className_.c_str(), title, WS_OVERLAPPEDWINDOW,
                                      CW_USEDEFAULT, 0, outerWidth, outerHeight, nullptr, nullptr,
                                      instance_, owner);
        if (window == nullptr) {
            std::fprintf(stderr,
                         "vell: cannot open a window (error %lu); "
                         "run with --headless to render without a window\n",
                         static_cast<unsigned long>(GetLastError()));
            return nullptr;
        }
        consoleTarget.store(window);
        ShowWindow(window, showCommand_);
        UpdateWindow(window);
        return window;
    }

    void destroyNativeWindow(WindowHandle window) override {
        HWND handle = static_cast<HWND>(window);
        HWND expected = handle;
        consoleTarget.compare_exchange_strong(expected, nullptr);
        DestroyWindow(handle);
        auto found = std::find_if(surfaces_.begin(), surfaces_.end(),
                                  [&](const Surface& s) { return s.window == handle; });
        if (found != surfaces_.end()) {
            if (found->memoryDC != nullptr) {
                DeleteDC(found->memoryDC);
            }
            surfaces_.erase(found);
        }
    }

    bool peekMessage(Message& message) override {
        if (!PeekMessageA(&peeked_, nullptr, 0, 0, PM_REMOVE)) {
            return false;
        }
        message = Message{peeked_.hwnd, peeked_.message, static_cast<MessageParam>(peeked_.wParam),
                          static_cast<MessageLong>(peeked_.lParam)};
        return true;
    }

    MessageResult dispatchMessage(const Message& message) override {
        // Keys are not translated: no character messages are wanted.
        if (peeked_.hwnd != message.window || peeked_.message != message.message ||
            peeked_.wParam != static_cast<WPARAM>(message.wParam) ||
            peeked_.lParam != static_cast<LPARAM>(message.lParam)) {
            peeked_ = MSG{};
            peeked_.hwnd = static_cast<HWND>(message.window);
            peeked_.message = message.message;
            peeked_.wParam = static_cast<WPARAM>(message.wParam);
            peeked_.lParam = static_cast<LPARAM>(message.lParam);
            peeked_.time = GetMessageTime();
        }
        return static_cast<MessageResult>(DispatchMessageA(&peeked_));
    }

    void waitForMessage(int milliseconds) override {
        MsgWaitForMultipleObjects(0, nullptr, FALSE, static_cast<DWORD>(milliseconds), QS_ALLINPUT);
    }

    void postQuitMessage(int exitCode) override { PostQuitMessage(exitCode); }

    MessageResult defaultProcedure(WindowHandle window, unsigned message, MessageParam wParam,
                                   MessageLong lParam) override {
        return static_cast<MessageResult>(DefWindowProcA(static_cast<HWND>(window), message,
                                                         static_cast<WPARAM>(wParam),
                                                         static_cast<LPARAM>(lParam)));
    }

    BackBuffer makeBackBuffer(WindowHandle window, int width, int height) override {
        HWND handle = static_cast<HWND>(window);
        Surface& surface = surfaceOf(handle);
        BITMAPINFO& info = surface.bitmapInfo;
        info.bmiHeader.biWidth = width;
        info.bmiHeader.biHeight = -height;  // negative: top row first
        void* pixels = nullptr;
        HBITMAP bitmap = nullptr;
        if (HDC windowDC = GetDC(handle)) {
            bitmap = CreateDIBSection(windowDC, &info, DIB_RGB_COLORS, &pixels, nullptr, 0);
            ReleaseDC(handle, windowDC);
        }
        if (bitmap == nullptr || pixels == nullptr) {
            if (bitmap != nullptr) {
                DeleteObject(bitmap);
            }
            return {};
        }
        // The memory device context is made with the first back buffer and
        // kept for the life of the window; a failure is tried again at the
        // next size message.
        if (surface.memoryDC == nullptr) {
            if (HDC windowDC = GetDC(handle)) {
                surface.memoryDC = CreateCompatibleDC(windowDC);
                ReleaseDC(handle, windowDC);
            }
        }
        if (surface.memoryDC != nullptr) {
            surface.previousBitmap = SelectObject(surface.memoryDC, bitmap);
        }
        return {bitmap, static_cast<std::uint32_t*>(pixels)};
    }

    void freeBackBuffer(WindowHandle window, BitmapHandle bitmap) override {
        Surface* surface = findSurface(static_cast<HWND>(window));
        if (surface != nullptr && surface->memoryDC != nullptr &&
            surface->previousBitmap != nullptr) {
            SelectObject(surface->memoryDC, surface->previousBitmap);
            surface->previousBitmap = nullptr;
        }
        DeleteObject(static_cast<HBITMAP>(bitmap));
    }

    void copyToWindow(WindowHandle window, BitmapHandle, const std::uint32_t*, int width,
                      int height) override {
        HWND handle = static_cast<HWND>(window);
        Surface* surface = findSurface(handle);
        HDC windowDC = GetDC(handle);
        if (windowDC == nullptr) {
            return;
        }
        if (surface != nullptr && surface->memoryDC != nullptr) {
            BitBlt(windowDC, 0, 0, width, height, surface->memoryDC, 0, 0, SRCCOPY);
        }
        ReleaseDC(handle, windowDC);
    }

    void paintWindow(WindowHandle window, BitmapHandle, const std::uint32_t*, int width,
                     int height) override {
        HWND handle = static_cast<HWND>(window);
        Surface* surface = findSurface(handle);
        PAINTSTRUCT paint;
        HDC paintDC = BeginPaint(handle, &paint);
        if (paintDC == nullptr) {
            return;
        }
        if (surface != nullptr && surface->memoryDC != nullptr) {
            BitBlt(paintDC, 0, 0, width, height, surface->memoryDC, 0, 0, SRCCOPY);
        }
        EndPaint(handle, &paint);
    }

    void drawText(WindowHandle window, BitmapHandle, std::uint32_t*, int width, int height,
                  const char* text, int left, int top) override {
        Surface* surface = findSurface(static_cast<HWND>(window));
        if (surface == nullptr || surface->memoryDC == nullptr) {
            return;
        }
        // No font, colour or background mode is set: the memory context's
        // defaults give the system font, black on opaque white.
        RECT area{left, top, width, height};
        DrawTextA(surface->memoryDC, text, static_cast<int>(std::strlen(text)), &area, 0);
        // GDI may batch its drawing, and the next frame writes the pixels directly.
        GdiFlush();
    }

    int keyDown(int virtualKey) override {
        // Keys count only while a window of this program has the focus, as
        // the other desktops report them; the state itself is the
        // asynchronous one, read at the moment of the call.
        DWORD process = 0;
        HWND focused = GetForegroundWindow();
        if (focused == nullptr || GetWindowThreadProcessId(focused, &process) == 0 ||
            process != GetCurrentProcessId()) {
            return 0;
        }
        return (GetAsyncKeyState(virtualKey) & 0x8000) != 0 ? 1 : 0;
    }

    bool setFullscreen(WindowHandle window, bool on) override {
        HWND handle = static_cast<HWND>(window);
        if (!IsWindow(handle)) {
            return false;
        }
        // The window's surface record keeps what full screen replaced. The
        // calls below send WM_SIZE at once, which may look the record up,
        // so nothing refers to it across them.
        if (surfaceOf(handle).fullscreen == on) {
            return true;
        }
        if (on) {
            WINDOWPLACEMENT placement{};
            placement.length = sizeof placement;
            MONITORINFO monitor{};
            monitor.cbSize = sizeof monitor;
            if (!GetWindowPlacement(handle, &placement) ||
                !GetMonitorInfoA(MonitorFromWindow(handle, MONITOR_DEFAULTTONEAREST), &monitor)) {
                std::fprintf(stderr, "vell: cannot go to full screen (error %lu)\n",
                             static_cast<unsigned long>(GetLastError()));
                return false;
            }
            const LONG style = GetWindowLongA(handle, GWL_STYLE);
            Surface& surface = surfaceOf(handle);
            surface.fullscreen = true;
            surface.windowedStyle = style;
            surface.windowedPlacement = placement;
            // A pop-up without caption or border, over the whole monitor the
            // window is on (the taskbar included).
            SetWindowLongA(handle, GWL_STYLE, (style & ~WS_OVERLAPPEDWINDOW) | WS_POPUP);
            const RECT& area = monitor.rcMonitor;
            SetWindowPos(handle, HWND_TOP, area.left, area.top, area.right - area.left,
                         area.bottom - area.top,
                         SWP_NOOWNERZORDER | SWP_FRAMECHANGED | SWP_SHOWWINDOW);
        } else {
            Surface& surface = surfaceOf(handle);
            surface.fullscreen = false;
            const LONG style = surface.windowedStyle;
            const WINDOWPLACEMENT placement = surface.windowedPlacement;
            SetWindowLongA(handle, GWL_STYLE, style);
            SetWindowPlacement(handle, &placement);
            // The frame comes back only once the window is told that its
            // style changed.
            SetWindowPos(handle, nullptr, 0, 0, 0, 0,
                         SWP_NOMOVE | SWP_NOSIZE | SWP_NOZORDER | SWP_NOOWNERZORDER |
                             SWP_FRAMECHANGED);
        }
        return true;
    }

    void captureMouse(WindowHandle window, bool on) override {
        HWND handle = static_cast<HWND>(window);
        if (on) {
            SetCapture(handle);
        } else if (GetCapture() == handle) {
            ReleaseCapture();
        }
    }

private:
    struct Surface {
        HWND window = nullptr;
        HDC memoryDC = nullptr;
        HGDIOBJ previousBitmap = nullptr;
        BITMAPINFO bitmapInfo{};
        bool fullscreen = false;
        // What full screen replaced, to go back to.
        LONG windowedStyle = 0;
        WINDOWPLACEMENT windowedPlacement{};
    };

    Surface* findSurface(HWND window) {
        for (Surface& surface : surfaces_) {
            if (surface.window == window) {
                return &surface;
            }
        }
        return nullptr;
    }

    Surface& surfaceOf(HWND window) {
        if (Surface* found = findSurface(window)) {
            return *found;
        }
        Surface& surface = surfaces_.emplace_back();
        surface.window = window;
        BITMAPINFOHEADER& header = surface.bitmapInfo.bmiHeader;
        header.biSize = sizeof(BITMAPINFOHEADER);
        header.biPlanes = 1;
        header.biBitCount = 32;
        header.biCompression = BI_RGB;
        header.biSizeImage = 0;
        header.biXPelsPerMeter = PIXELS_PER_METRE;
        header.biYPelsPerMeter = PIXELS_PER_METRE;
        return surface;
    }

    DesktopPlatformOptions options_;
    HINSTANCE instance_ = nullptr;
    int showCommand_ = SW_SHOWDEFAULT;
    std::string className_;
    bool registered_ = false;
    MSG peeked_{};
    std::vector<Surface> surfaces_;
};

}  // namespace

int handleConsoleEvent(unsigned long event) { return consoleEvent(event); }

std::unique_ptr<Platform> openDesktopPlatform(const DesktopPlatformOptions& options,
                                              std::string& error) {
    const bool sizeAsked = options.clientWidth != 0 || options.clientHeight != 0;
    if (sizeAsked) {
        error = clientSizeProblem(options.clientWidth, options.clientHeight);
        if (!error.empty()) {
            return nullptr;
        }
    }
    if (platformOpen) {
        error = "the desktop window system is already in use";
        return nullptr;
    }
    return std::make_unique<Win32Platform>(options);
}

}  // namespace vell
