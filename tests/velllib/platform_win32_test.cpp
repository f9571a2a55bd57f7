#include <windows.h>

#include <float.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <array>
#include <string>
#include <vector>

#include "velllib/app.h"
#include "velllib/platform_desktop.h"
#include "velllib/vell_list.h"
#include "velllib/vell_time.h"

namespace vell {
namespace {

#if defined(__i386__)
// Every run of appMain switches the x87 unit to single precision for the rest
// of the process, as the program wants; in one test binary that would leak
// into the tests that follow, so each test gets back the control word it
// started with.
class FloatControlGuard : public ::testing::EmptyTestEventListener {
    void OnTestStart(const ::testing::TestInfo&) override { saved_ = _controlfp(0, 0); }
    void OnTestEnd(const ::testing::TestInfo&) override { _controlfp(saved_, _MCW_PC); }
    unsigned saved_ = 0;
};
const bool floatControlGuarded = [] {
    ::testing::UnitTest::GetInstance()->listeners().Append(new FloatControlGuard);
    return true;
}();
#endif

class Recorder : public AppWindow {
public:
    void onResize(const int size[2]) override { sizes.push_back({size[0], size[1]}); }
    void onMouseButton(int button, int pressed, int doubleClick) override {
        buttons.push_back({button, pressed, doubleClick});
    }
    void onMouseMove(const int position[2]) override { moves.push_back({position[0], position[1]}); }
    void onKey(int virtualKey, int pressed) override { keys.push_back({virtualKey, pressed}); }
    void onFocus(int focused) override { focuses.push_back(focused); }
    std::vector<int> focuses;
    std::vector<std::array<int, 2>> sizes, moves, keys;
    std::vector<std::array<int, 3>> buttons;
};

bool allZero(const std::uint32_t* pixels, const int* size) {
    return std::all_of(pixels, pixels + size[0] * size[1], [](std::uint32_t w) { return w == 0; });
}

// One real window through the whole shared window layer; needs a display
// (under Wine, an X server).
TEST(Win32Window, FollowsTheMessageTableFromCreationToClose) {
    std::string error;
    auto platform = openDesktopPlatform({}, error);
    ASSERT_NE(platform, nullptr) << error;
    bool opened = false;
    Recorder window;
    const int code = appEntry(*platform, [&] {
        opened = window.createWindow("vell");
        if (!opened) {
            return;
        }
        HWND hwnd = FindWindowA(WINDOW_CLASS_NAME, "vell");
        ASSERT_NE(hwnd, nullptr) << "class and title are both \"vell\"";
        EXPECT_EQ(GetClassLongA(hwnd, GCL_STYLE), 11u);
        EXPECT_EQ(static_cast<DWORD>(GetWindowLongA(hwnd, GWL_STYLE)) & WS_OVERLAPPEDWINDOW,
                  static_cast<DWORD>(WS_OVERLAPPEDWINDOW));
        RECT outer, client;
        GetWindowRect(hwnd, &outer);
        GetClientRect(hwnd, &client);
        EXPECT_EQ(outer.right - outer.left, 240);
        EXPECT_EQ(outer.bottom - outer.top, 200);

        // The first size message arrived during creation, with the client size.
        ASSERT_FALSE(window.sizes.empty());
        const int* size = window.backBufferSize();
        EXPECT_EQ(size[0], client.right);
        EXPECT_EQ(size[1], client.bottom);
        std::uint32_t* pixels = window.backBufferPixels();
        ASSERT_NE(pixels, nullptr);
        EXPECT_TRUE(allZero(pixels, size)) << "a new back buffer is black";

        // Text lands in the buffer the program writes: black on white, top left.
        const int origin[2] = {0, 0};
        window.drawText("8", origin);
        int black = 0, white = 0;
        for (int y = 0; y < 10; ++y) {
            for (int x = 0; x < 6; ++x) {
                black += pixels[y * size[0] + x] == 0x000000u ? 1 : 0;
                white += pixels[y * size[0] + x] == 0xffffffu ? 1 : 0;
            }
        }
        EXPECT_GT(black, 0);
        EXPECT_GT(white, 0);
        window.drawFrame();

        // A size message with the same size still makes a new, black buffer.
        std::fill(pixels, pixels + size[0] * size[1], 0x00ff00u);
        const std::size_t resizes = window.sizes.size();
        SendMessageA(hwnd, WM_SIZE, 0, MAKELPARAM(size[0], size[1]));
        EXPECT_EQ(window.sizes.size(), resizes + 1);
        ASSERT_NE(window.backBufferPixels(), nullptr);
        EXPECT_TRUE(allZero(window.backBufferPixels(), window.backBufferSize()));

        // An empty client area has no back buffer; a later size makes one.
        SendMessageA(hwnd, WM_SIZE, SIZE_MINIMIZED, 0);
        EXPECT_EQ(window.sizes.back(), (std::array<int, 2>{0, 0}));
        EXPECT_EQ(window.backBufferPixels(), nullptr);
        window.drawText("8", origin);
        window.drawFrame();
        SendMessageA(hwnd, WM_SIZE, SIZE_RESTORED, MAKELPARAM(50, 40));
        EXPECT_NE(window.backBufferPixels(), nullptr);
        EXPECT_EQ(window.backBufferSize()[0], 50);

        // Mouse and keys go through untranslated.
        SendMessageA(hwnd, WM_MBUTTONDBLCLK, 0, MAKELPARAM(3, 4));
        SendMessageA(hwnd, WM_RBUTTONDOWN, 0, 0);
        SendMessageA(hwnd, WM_MOUSEMOVE, 0, MAKELPARAM(65535, 7));
        EXPECT_EQ(window.buttons, (std::vector<std::array<int, 3>>{{2, 0, 1}, {1, 1, 0}}));
        EXPECT_EQ(window.moves.back(), (std::array<int, 2>{65535, 7}));
        PostMessageA(hwnd, WM_KEYDOWN, 'W', 0);
        PostMessageA(hwnd, WM_KEYUP, 'W', 0);
        EXPECT_FALSE(pumpMessages());
        EXPECT_EQ(window.keys, (std::vector<std::array<int, 2>>{{'W', 1}, {'W', 0}}));

        // Closing the only window posts the quit message with code 0.
        PostMessageA(hwnd, WM_CLOSE, 0, 0);
        bool quit = false;
        for (int i = 0; i < 100 && !quit; ++i) {
            quit = pumpMessages();
        }
        EXPECT_TRUE(quit);
        EXPECT_FALSE(window.isOpen());
        EXPECT_FALSE(IsWindow(hwnd));
    });
    if (!opened) {
        GTEST_SKIP() << "no display to open a window on";
    }
    EXPECT_EQ(code, 0);
    EXPECT_EQ(windowRegistry, nullptr);
}

// Ctrl+C and Ctrl+Break in the console ask the program to stop, as SIGINT
// does elsewhere: the frame loop abandons its rows and the window closes on
// the next pump. Without a window, and for a second request, the default
// (the end of the process) is left to the system.
TEST(Win32Window, ConsoleStopKeysRequestAStopAndWakeTheWindow) {
    clearStopRequest();
    EXPECT_EQ(handleConsoleEvent(CTRL_C_EVENT), FALSE) << "no window yet";
    EXPECT_FALSE(stopRequested());
    std::string error;
    auto platform = openDesktopPlatform({}, error);
    ASSERT_NE(platform, nullptr) << error;
    bool opened = false;
    Recorder window;
    appEntry(*platform, [&] {
        opened = window.createWindow("vell");
        if (!opened) {
            return;
        }
        for (const DWORD event : {CTRL_C_EVENT, CTRL_BREAK_EVENT}) {
            clearStopRequest();
            EXPECT_EQ(handleConsoleEvent(event), TRUE) << event;
            EXPECT_TRUE(stopRequested()) << event;
            EXPECT_EQ(stopSignal(), SIGINT) << event;
            EXPECT_TRUE(window.isOpen()) << "closed by the next pump, not by the handler";
            EXPECT_EQ(handleConsoleEvent(event), FALSE) << "a second request is final";
        }
        window.destroyWindow();
    });
    clearStopRequest();
    if (!opened) {
        GTEST_SKIP() << "no display to open a window on";
    }
}

// Full screen is a pop-up over the whole monitor; leaving it gives back the
// frame, place and size from before.
TEST(Win32Window, FullScreenCoversTheMonitorAndGivesTheWindowBack) {
    std::string error;
    auto platform = openDesktopPlatform({200, 150}, error);
    ASSERT_NE(platform, nullptr) << error;
    bool opened = false;
    Recorder window;
    const int code = appEntry(*platform, [&] {
        opened = window.createWindow("vell");
        if (!opened) {
            return;
        }
        HWND hwnd = FindWindowA(WINDOW_CLASS_NAME, "vell");
        ASSERT_NE(hwnd, nullptr);
        RECT before;
        GetWindowRect(hwnd, &before);
        const LONG style = GetWindowLongA(hwnd, GWL_STYLE);

        ASSERT_TRUE(window.setFullscreen(true));
        EXPECT_TRUE(window.isFullscreen());
        MONITORINFO monitor{};
        monitor.cbSize = sizeof monitor;
        ASSERT_TRUE(GetMonitorInfoA(MonitorFromWindow(hwnd, MONITOR_DEFAULTTONEAREST), &monitor));
        const int screenWidth = monitor.rcMonitor.right - monitor.rcMonitor.left;
        const int screenHeight = monitor.rcMonitor.bottom - monitor.rcMonitor.top;
        EXPECT_EQ(window.backBufferSize()[0], screenWidth);
        EXPECT_EQ(window.backBufferSize()[1], screenHeight);
        EXPECT_EQ(window.sizes.back(), (std::array<int, 2>{screenWidth, screenHeight}));
        const DWORD full = static_cast<DWORD>(GetWindowLongA(hwnd, GWL_STYLE));
        EXPECT_NE(full & WS_POPUP, 0u);
        EXPECT_EQ(full & WS_CAPTION, 0u);

        ASSERT_TRUE(window.setFullscreen(false));
        EXPECT_FALSE(window.isFullscreen());
        EXPECT_EQ(GetWindowLongA(hwnd, GWL_STYLE), style);
        RECT after;
        GetWindowRect(hwnd, &after);
        EXPECT_EQ(after.right - after.left, before.right - before.left);
        EXPECT_EQ(after.bottom - after.top, before.bottom - before.top);
        EXPECT_EQ(window.backBufferSize()[0], 200);
        EXPECT_EQ(window.backBufferSize()[1], 150);

        // The mouse is captured and let go; focus messages reach the owner.
        window.captureMouse(true);
        EXPECT_EQ(GetCapture(), hwnd);
        window.captureMouse(false);
        EXPECT_EQ(GetCapture(), nullptr);
        const std::size_t focusesBefore = window.focuses.size();
        SendMessageA(hwnd, WM_KILLFOCUS, 0, 0);
        ASSERT_EQ(window.focuses.size(), focusesBefore + 1);
        EXPECT_EQ(window.focuses.back(), 0);
        window.close();
        EXPECT_FALSE(IsWindow(hwnd));
        EXPECT_TRUE(pumpMessages());
    });
    if (!opened) {
        GTEST_SKIP() << "no display to open a window on";
    }
    EXPECT_EQ(code, 0);
}

TEST(Win32System, PoolBlocksAndClockComeFromWindows) {
    // Fixed global memory: the handle is the address itself.
    void* block = runtimeBlockSource().acquireBlock(NODE_BLOCK_BYTES);
    ASSERT_NE(block, nullptr);
    EXPECT_EQ(GlobalHandle(block), block);
    EXPECT_GE(GlobalSize(block), NODE_BLOCK_BYTES);
    runtimeBlockSource().releaseBlock(block);

    const DWORD before = timeGetTime();
    const std::uint32_t reading = systemMilliseconds();
    const DWORD after = timeGetTime();
    EXPECT_LE(before, reading);
    EXPECT_LE(reading, after);
}

TEST(Win32System, PrecisionSwitchRoundsDoubleArithmeticToSingleOn32BitX86) {
#if defined(__i386__)
    volatile double one = 1.0, three = 3.0;
    setFloatPrecision(0.0f);
    const unsigned single = _controlfp(0, 0) & _MCW_PC;
    const double narrow = one / three;
    setFloatPrecision(1.0f);
    const unsigned wide = _controlfp(0, 0) & _MCW_PC;
    const double full = one / three;
    EXPECT_EQ(single, static_cast<unsigned>(_PC_24));
    EXPECT_EQ(wide, static_cast<unsigned>(_PC_53));
    EXPECT_EQ(narrow, static_cast<double>(1.0f / 3.0f));
    EXPECT_EQ(full, 1.0 / 3.0);
#else
    GTEST_SKIP() << "only 32-bit x86 computes through the x87 precision control";
#endif
}

}  // namespace
}  // namespace vell
