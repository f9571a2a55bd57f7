#include "velllib/app.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#if !defined(_WIN32)
#include <unistd.h>
#endif

#include "tests/velllib/fake_platform.h"

namespace vell {
namespace {

class RecordingWindow : public AppWindow {
public:
    void onResize(const int size[2]) override {
        resizes.push_back({size[0], size[1]});
        // The buffer must be ready, and black, when the view is told.
        const std::uint32_t* pixels = backBufferPixels();
        const std::size_t words = static_cast<std::size_t>(size[0]) * size[1];
        blackAtResize.push_back(
            pixels != nullptr &&
            std::all_of(pixels, pixels + words, [](std::uint32_t p) { return p == 0; }));
    }
    void onMouseMove(const int position[2]) override {
        moves.push_back({position[0], position[1]});
    }
    void onMouseButton(int button, int pressed, int doubleClick) override {
        buttons.push_back({button, pressed, doubleClick});
    }
    void onKey(int virtualKey, int pressed) override { keys.push_back({virtualKey, pressed}); }
    void onFocus(int focused) override { focuses.push_back(focused); }
    void onMouseStep(const int step[2]) override { steps.push_back({step[0], step[1]}); }

    std::vector<int> focuses;
    std::vector<std::array<int, 2>> steps;
    std::vector<std::array<int, 2>> resizes;
    std::vector<bool> blackAtResize;
    std::vector<std::array<int, 2>> moves;
    std::vector<std::array<int, 3>> buttons;
    std::vector<std::array<int, 2>> keys;
};

WindowHandle handleOf(AppWindow& window) {
    for (ListNode* node = windowRegistry; node != nullptr; node = node->next) {
        auto* record = static_cast<WindowRecord*>(node->item);
        if (record->owner == &window) {
            return record->window;
        }
    }
    return nullptr;
}

int registrySize() {
    int count = 0;
    for (ListNode* node = windowRegistry; node != nullptr; node = node->next) {
        ++count;
    }
    return count;
}

class WindowLayer : public testing::Test {
protected:
    void SetUp() override {
        previousPlatform_ = setCurrentPlatform(&platform);
        previousPool_ = setCurrentPool(&pool);
        exitCode = 0;
    }
    void TearDown() override {
        while (windowRegistry != nullptr) {
            platform.destroyNativeWindow(static_cast<WindowRecord*>(windowRegistry->item)->window);
        }
        EXPECT_TRUE(platform.liveBuffers.empty()) << "every back buffer is given back";
        EXPECT_EQ(pool.freeCount(), pool.blockCount() * NODES_PER_BLOCK)
            << "every registry node is back in the pool";
        setCurrentPool(previousPool_);
        setCurrentPlatform(previousPlatform_);
    }

    FakePlatform platform;
    NodePool pool;

private:
    Platform* previousPlatform_ = nullptr;
    NodePool* previousPool_ = nullptr;
};

TEST_F(WindowLayer, CreationRegistersBeforeTheFirstSizeAndIgnoresEarlierMessages) {
    RecordingWindow window;
    EXPECT_FALSE(window.isOpen());
    EXPECT_EQ(window.backBufferPixels(), nullptr);
    const int* size = window.backBufferSize();
    EXPECT_EQ(size[0], 0);
    EXPECT_EQ(size[1], 0);

    ASSERT_TRUE(window.createWindow("vell"));
    EXPECT_TRUE(window.isOpen());
    EXPECT_EQ(registrySize(), 1);
    // The messages that come before MSG_CREATE found no record.
    EXPECT_EQ(platform.defaulted,
              (std::vector<unsigned>{FakePlatform::MSG_GETMINMAXINFO, FakePlatform::MSG_NCCREATE,
                                     FakePlatform::MSG_NCCALCSIZE}));
    ASSERT_EQ(window.resizes.size(), 1u) << "the first size arrives within createWindow";
    EXPECT_EQ(window.resizes[0], (std::array<int, 2>{240, 200}));
    EXPECT_TRUE(window.blackAtResize[0]) << "a new back buffer starts black";

    size = window.backBufferSize();
    EXPECT_EQ(size[0], 240);
    EXPECT_EQ(size[1], 200);
    EXPECT_NE(window.backBufferPixels(), nullptr);
    EXPECT_EQ(window.backBufferSize(), size) << "the pair lives in the record";
}

TEST_F(WindowLayer, EverySizeMessageMakesANewBlackBufferEvenAtTheSameSize) {
    RecordingWindow window;
    ASSERT_TRUE(window.createWindow("vell"));
    WindowHandle handle = handleOf(window);
    window.backBufferPixels()[0] = 0x00ffffffu;

    platform.send(handle, MSG_SIZE, 0, packPair(240, 200));
    EXPECT_FALSE(pumpMessages());
    EXPECT_EQ(platform.buffersRequested, 2);
    EXPECT_EQ(platform.liveBuffers.size(), 1u) << "the old buffer is released";
    ASSERT_EQ(window.resizes.size(), 2u);
    EXPECT_EQ(window.resizes[1], (std::array<int, 2>{240, 200}));
    EXPECT_TRUE(window.blackAtResize[1]);

    // Sizes are unsigned 16-bit fields.
    platform.send(handle, MSG_SIZE, 0, packPair(65535, 1));
    platform.refuseBuffers = true;  // too big for this test; the size still counts
    pumpMessages();
    EXPECT_EQ(window.resizes.back(), (std::array<int, 2>{65535, 1}));
    EXPECT_EQ(window.backBufferPixels(), nullptr);
}

TEST_F(WindowLayer, MinimisedWindowHasNoBufferDrawsNothingAndLetsThePumpWait) {
    RecordingWindow window;
    ASSERT_TRUE(window.createWindow("vell"));
    WindowHandle handle = handleOf(window);
    EXPECT_FALSE(pumpMessages());
    EXPECT_TRUE(platform.waits.empty()) << "never waits while there is something to draw";

    platform.send(handle, MSG_SIZE, 0, packPair(0, 0));
    pumpMessages();
    EXPECT_EQ(window.resizes.back(), (std::array<int, 2>{0, 0}));
    EXPECT_EQ(window.backBufferPixels(), nullptr);
    EXPECT_EQ(window.backBufferSize()[0], 0);
    EXPECT_EQ(platform.buffersRequested, 1) << "no buffer is asked for an empty area";
    EXPECT_TRUE(platform.liveBuffers.empty());

    const int origin[2] = {0, 0};
    window.drawText("x", origin);
    window.drawFrame();
    platform.send(handle, MSG_PAINT);
    pumpMessages();
    EXPECT_TRUE(platform.texts.empty());
    EXPECT_TRUE(platform.copies.empty());
    EXPECT_TRUE(platform.paints.empty());
    EXPECT_EQ(platform.defaulted.back(), MSG_PAINT) << "an unpainted request is still answered";
    EXPECT_EQ(platform.waits, (std::vector<int>{IDLE_WAIT_MS}));

    platform.send(handle, MSG_SIZE, 0, packPair(300, 100));
    pumpMessages();
    EXPECT_EQ(window.resizes.back(), (std::array<int, 2>{300, 100}));
    EXPECT_TRUE(window.blackAtResize.back());
    window.drawFrame();
    ASSERT_EQ(platform.copies.size(), 1u);
    EXPECT_EQ(platform.copies[0].width, 300);
    EXPECT_EQ(platform.copies[0].height, 100);
    EXPECT_FALSE(pumpMessages());
    EXPECT_EQ(platform.waits.size(), 2u) << "the second wait came before the restore arrived";
}

TEST_F(WindowLayer, RefusedBufferStillRecordsTheSizeAndALaterSizeRetries) {
    platform.refuseBuffers = true;
    RecordingWindow window;
    ASSERT_TRUE(window.createWindow("vell"));
    EXPECT_EQ(window.resizes[0], (std::array<int, 2>{240, 200}));
    EXPECT_EQ(window.backBufferPixels(), nullptr);
    EXPECT_EQ(window.backBufferSize()[0], 240);

    platform.refuseBuffers = false;
    platform.send(handleOf(window), MSG_SIZE, 0, packPair(240, 200));
    pumpMessages();
    EXPECT_NE(window.backBufferPixels(), nullptr);
}

TEST_F(WindowLayer, PaintCopiesTheBufferAndDrawingUsesTheCurrentSize) {
    RecordingWindow window;
    ASSERT_TRUE(window.createWindow("vell"));
    WindowHandle handle = handleOf(window);
    platform.send(handle, MSG_PAINT);
    pumpMessages();
    ASSERT_EQ(platform.paints.size(), 1u);
    EXPECT_EQ(platform.paints[0].window, handle);

    platform.send(handle, MSG_SIZE, 0, packPair(10, 20));
    pumpMessages();
    const int origin[2] = {3, 4};
    window.drawText("status", origin);
    window.drawFrame();
    ASSERT_EQ(platform.texts.size(), 1u);
    EXPECT_EQ(platform.texts[0].width, 10);
    EXPECT_EQ(platform.texts[0].height, 20);
    ASSERT_EQ(platform.copies.size(), 1u);
    EXPECT_EQ(platform.copies[0].height, 20);
}

TEST_F(WindowLayer, MouseAndKeyMessagesReachTheOwner) {
    RecordingWindow window;
    ASSERT_TRUE(window.createWindow("vell"));
    WindowHandle handle = handleOf(window);
    // A double click with the middle button, then one of each other button.
    for (unsigned message :
         {MSG_MBUTTONDOWN, MSG_MBUTTONUP, MSG_MBUTTONDBLCLK, MSG_MBUTTONUP, MSG_LBUTTONDOWN,
          MSG_LBUTTONUP, MSG_LBUTTONDBLCLK, MSG_RBUTTONDOWN, MSG_RBUTTONUP, MSG_RBUTTONDBLCLK}) {
        platform.send(handle, message, 0, packPair(5, 6));
    }
    platform.send(handle, MSG_MOUSEMOVE, 0, packPair(65535, 3));
    platform.send(handle, MSG_MOUSESTEP, 0, packPair(-3, 32767));
    platform.send(handle, MSG_MOUSESTEP, 0, packPair(-32768, -1));
    platform.send(handle, MSG_KEYDOWN, 'W');
    platform.send(handle, MSG_KEYUP, 'W');
    platform.send(handle, MSG_KEYDOWN, KEY_SHIFT);
    EXPECT_FALSE(pumpMessages());

    const std::vector<std::array<int, 3>> buttons = {
        {2, 1, 0}, {2, 0, 0}, {2, 0, 1}, {2, 0, 0}, {0, 1, 0},
        {0, 0, 0}, {0, 0, 1}, {1, 1, 0}, {1, 0, 0}, {1, 0, 1},
    };
    EXPECT_EQ(window.buttons, buttons);
    ASSERT_EQ(window.moves.size(), 1u);
    EXPECT_EQ(window.moves[0], (std::array<int, 2>{65535, 3})) << "coordinates are unsigned";
    EXPECT_EQ(window.steps, (std::vector<std::array<int, 2>>{{-3, 32767}, {-32768, -1}}))
        << "steps are signed";
    const std::vector<std::array<int, 2>> keys = {{'W', 1}, {'W', 0}, {KEY_SHIFT, 1}};
    EXPECT_EQ(window.keys, keys);
    EXPECT_EQ(platform.defaulted.size(), 3u) << "all of these were handled";
}

TEST_F(WindowLayer, FocusFullScreenCaptureAndCloseGoThroughTheSeam) {
    RecordingWindow window;
    // Without a window nothing reaches the platform.
    EXPECT_FALSE(window.setFullscreen(true));
    EXPECT_FALSE(window.isFullscreen());
    window.captureMouse(true);
    window.close();
    EXPECT_TRUE(platform.fullscreenCalls.empty());
    EXPECT_TRUE(platform.captures.empty());

    ASSERT_TRUE(window.createWindow("vell"));
    WindowHandle handle = handleOf(window);
    platform.send(handle, MSG_KILLFOCUS);
    platform.send(handle, MSG_SETFOCUS);
    EXPECT_FALSE(pumpMessages());
    EXPECT_EQ(window.focuses, (std::vector<int>{0, 1}));
    EXPECT_EQ(std::count(platform.defaulted.begin(), platform.defaulted.end(), MSG_SETFOCUS), 1)
        << "the window system still answers focus messages its own way";

    // Full screen arrives as a size, with a new back buffer; asking for the
    // state the window is in costs no platform call.
    EXPECT_TRUE(window.setFullscreen(true));
    EXPECT_TRUE(window.isFullscreen());
    EXPECT_EQ(window.resizes.back(), (std::array<int, 2>{1024, 768}));
    EXPECT_EQ(window.backBufferSize()[0], 1024);
    EXPECT_TRUE(window.blackAtResize.back());
    EXPECT_TRUE(window.setFullscreen(true));
    EXPECT_EQ(platform.fullscreenCalls, (std::vector<bool>{true}));
    EXPECT_TRUE(window.setFullscreen(false));
    EXPECT_FALSE(window.isFullscreen());
    EXPECT_EQ(window.resizes.back(), (std::array<int, 2>{240, 200}));

    // A window system that cannot leaves everything as it was.
    platform.refuseFullscreen = true;
    const std::size_t sizes = window.resizes.size();
    EXPECT_FALSE(window.setFullscreen(true));
    EXPECT_FALSE(window.isFullscreen());
    EXPECT_EQ(window.resizes.size(), sizes);

    window.captureMouse(true);
    window.captureMouse(false);
    EXPECT_EQ(platform.captures, (std::vector<bool>{true, false}));

    // close() is the close button's message: the window goes, and with it the
    // program, with exit code 0.
    exitCode = 5;
    window.close();
    EXPECT_FALSE(window.isOpen());
    EXPECT_EQ(platform.destroyed, 1);
    EXPECT_TRUE(pumpMessages());
    EXPECT_EQ(exitCode, 0);
}

TEST_F(WindowLayer, ClosingTheOnlyWindowEndsTheLoopWithExitCodeZero) {
    RecordingWindow window;
    ASSERT_TRUE(window.createWindow("vell"));
    exitCode = 7;
    platform.send(handleOf(window), MSG_CLOSE);
    EXPECT_TRUE(pumpMessages());
    EXPECT_EQ(exitCode, 0);
    EXPECT_EQ(windowRegistry, nullptr);
    EXPECT_FALSE(window.isOpen());
    EXPECT_EQ(window.backBufferPixels(), nullptr);
    EXPECT_EQ(window.backBufferSize()[0], 0);
    EXPECT_TRUE(platform.liveBuffers.empty());
    EXPECT_FALSE(pumpMessages()) << "the quit message is removed once";
}

// Stop signals, raised for real through the handlers that catchStopSignals
// installs.
class StopSignals : public WindowLayer {
protected:
    void SetUp() override {
        WindowLayer::SetUp();
        catchStopSignals();
    }
    void TearDown() override {
        std::signal(SIGINT, SIG_DFL);
        std::signal(SIGTERM, SIG_DFL);
#if defined(SIGHUP)
        std::signal(SIGHUP, SIG_DFL);
#endif
        clearStopRequest();
        WindowLayer::TearDown();
    }
};

TEST_F(StopSignals, ASignalClosesEveryWindowAtTheNextPumpWithExitCodeZero) {
    RecordingWindow first;
    RecordingWindow second;
    ASSERT_TRUE(first.createWindow("vell"));
    ASSERT_TRUE(second.createWindow("vell"));
    EXPECT_FALSE(pumpMessages());
    EXPECT_FALSE(stopRequested());
    EXPECT_EQ(stopSignal(), 0);

    std::raise(SIGINT);
    EXPECT_TRUE(stopRequested());
    EXPECT_EQ(stopSignal(), SIGINT);
    exitCode = 7;
    EXPECT_TRUE(pumpMessages());
    EXPECT_EQ(exitCode, 0);
    EXPECT_EQ(windowRegistry, nullptr);
    EXPECT_FALSE(first.isOpen());
    EXPECT_FALSE(second.isOpen());
    EXPECT_TRUE(stopRequested()) << "the request stays for the caller to read";

#if defined(SIGHUP)
    // The terminal closing asks as SIGTERM does.
    clearStopRequest();
    RecordingWindow third;
    ASSERT_TRUE(third.createWindow("vell"));
    std::raise(SIGHUP);
    EXPECT_EQ(stopSignal(), SIGHUP);
    EXPECT_TRUE(pumpMessages());
    EXPECT_EQ(exitCode, 0);
    EXPECT_FALSE(third.isOpen());
#endif
}

// Death by a signal is a POSIX notion; Windows ends the process with an exit code.
#if !defined(_WIN32)
TEST(StopSignalsDeathTest, ASecondSignalWhileTheFirstIsPendingEndsTheProgram) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            catchStopSignals();
            std::raise(SIGTERM);
            if (stopSignal() != SIGTERM) {
                std::_Exit(3);
            }
            std::raise(SIGTERM);
            std::_Exit(0);
        },
        testing::KilledBySignal(SIGTERM), "");
    // Of another kind, too: SIGINT, then SIGTERM.
    EXPECT_EXIT(
        {
            catchStopSignals();
            std::raise(SIGINT);
            std::raise(SIGTERM);
            std::_Exit(0);
        },
        testing::KilledBySignal(SIGTERM), "");
}

// Work that cannot look at the flag: a stop, pending already or arriving
// later, removes the file and ends the program with 128 + the signal.
TEST(StopSignalsDeathTest, WhileAStopEndsAtOnceItRemovesTheFileAndExits) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    const std::string path = ::testing::TempDir() + "stop-ends-at-once.partial";
    for (const bool pendingBefore : {false, true}) {
        std::FILE* file = std::fopen(path.c_str(), "wb");
        ASSERT_NE(file, nullptr);
        EXPECT_EXIT(
            {
                catchStopSignals();
                if (pendingBefore) {
                    std::raise(SIGTERM);
                }
                StopEndsAtOnce guard(::fileno(file), path, "stopped: nothing written\n");
                std::raise(SIGTERM);
                std::_Exit(0);
            },
            testing::ExitedWithCode(128 + SIGTERM), "stopped: nothing written");
        std::fclose(file);
        EXPECT_NE(::access(path.c_str(), F_OK), 0) << "pending before: " << pendingBefore;
        std::remove(path.c_str());
    }
    // Once it is gone, a stop is a request again.
    EXPECT_EXIT(
        {
            catchStopSignals();
            { StopEndsAtOnce guard(-1, "", ""); }
            std::raise(SIGINT);
            std::_Exit(stopSignal() == SIGINT ? 0 : 3);
        },
        testing::ExitedWithCode(0), "");
}
#endif

TEST_F(WindowLayer, QuitIsTheLastMessageOfItsPumpEvenBeforeTheFirstFrame) {
    RecordingWindow window;
    ASSERT_TRUE(window.createWindow("vell"));
    platform.postQuitMessage(3);
    platform.send(handleOf(window), MSG_KEYDOWN, 'Q');
    EXPECT_TRUE(pumpMessages());
    EXPECT_EQ(exitCode, 3);
    EXPECT_EQ(window.keys.size(), 1u) << "what waited before the quit is still dispatched";
    EXPECT_TRUE(window.isOpen()) << "quitting does not close windows";
}

TEST_F(WindowLayer, WindowsAreFoundByOwnerAndOnlyTheLastOnePostsQuit) {
    RecordingWindow first;
    RecordingWindow second;
    ASSERT_TRUE(first.createWindow("vell"));
    platform.initialWidth = 32;
    ASSERT_TRUE(second.createWindow("vell"));
    EXPECT_EQ(static_cast<WindowRecord*>(windowRegistry->item)->owner, &second) << "newest first";
    EXPECT_EQ(first.backBufferSize()[0], 240);
    EXPECT_EQ(second.backBufferSize()[0], 32);
    EXPECT_NE(first.backBufferPixels(), second.backBufferPixels());

    platform.send(handleOf(first), MSG_KEYDOWN, 'A');
    pumpMessages();
    EXPECT_EQ(first.keys.size(), 1u);
    EXPECT_TRUE(second.keys.empty());

    first.destroyWindow();
    EXPECT_FALSE(first.isOpen());
    EXPECT_TRUE(second.isOpen());
    EXPECT_FALSE(pumpMessages()) << "a window is still open";
    first.destroyWindow();  // nothing left to destroy
    EXPECT_EQ(platform.destroyed, 1);

    {
        RecordingWindow third;
        ASSERT_TRUE(third.createWindow("vell"));
    }
    EXPECT_EQ(platform.destroyed, 2) << "the destructor closes its window";
    EXPECT_EQ(registrySize(), 1);
    second.destroyWindow();
    EXPECT_TRUE(pumpMessages());
    EXPECT_EQ(exitCode, 0);
}

TEST_F(WindowLayer, FailedCreationRegistersNothingAndEndsALoopThatRunsAnyway) {
    RecordingWindow open;
    platform.refuseWindows = true;
    RecordingWindow refused;
    EXPECT_FALSE(refused.createWindow("vell"));
    EXPECT_FALSE(refused.isOpen());
    EXPECT_EQ(windowRegistry, nullptr);
    EXPECT_TRUE(pumpMessages()) << "nothing else could ever end the loop";
    EXPECT_EQ(exitCode, 1);

    platform.refuseWindows = false;
    ASSERT_TRUE(open.createWindow("vell"));
    platform.refuseWindows = true;
    EXPECT_FALSE(refused.createWindow("vell"));
    EXPECT_FALSE(pumpMessages()) << "the open window keeps the program going";
}

TEST_F(WindowLayer, WindowDroppedAfterItsCreationMessageLeavesNoRecord) {
    platform.refuseAfterCreate = true;
    RecordingWindow refused;
    EXPECT_FALSE(refused.createWindow("vell"));
    EXPECT_FALSE(refused.isOpen());
    EXPECT_EQ(windowRegistry, nullptr);
    EXPECT_TRUE(pumpMessages()) << "the loop ends instead of waiting for a window that is gone";
    EXPECT_EQ(exitCode, 1);

    // An open window of the same object is not mistaken for the dropped one.
    platform.refuseAfterCreate = false;
    ASSERT_TRUE(refused.createWindow("vell"));
    platform.refuseAfterCreate = true;
    EXPECT_FALSE(refused.createWindow("vell"));
    EXPECT_TRUE(refused.isOpen());
    EXPECT_EQ(registrySize(), 1);
}

TEST_F(WindowLayer, KeyDownIsZeroOrOne) {
    platform.heldKey = 'D';
    platform.heldState = 0x8000;
    EXPECT_EQ(keyDown('D'), 1);
    EXPECT_EQ(keyDown('A'), 0);
    setCurrentPlatform(nullptr);
    EXPECT_EQ(keyDown('D'), 0);
    EXPECT_FALSE(pumpMessages());
    RecordingWindow window;
    EXPECT_FALSE(window.createWindow("vell")) << "no window system, no window";
    setCurrentPlatform(&platform);
}

class Entry : public testing::Test {
protected:
    void SetUp() override { previousPool_ = setCurrentPool(&pool); }
    void TearDown() override { setCurrentPool(previousPool_); }

    FakePlatform platform;
    NodePool pool;

private:
    NodePool* previousPool_ = nullptr;
};

TEST_F(Entry, RunsTheMainRoutineAndReturnsTheQuitCode) {
    int runs = 0;
    const int result = appEntry(platform, [&] {
        ++runs;
        EXPECT_EQ(currentPlatform(), &platform);
        RecordingWindow window;
        ASSERT_TRUE(window.createWindow("vell"));
        platform.send(handleOf(window), MSG_CLOSE);
        while (!pumpMessages()) {
        }
    });
    EXPECT_EQ(runs, 1);
    EXPECT_STREQ(platform.registeredClass, "vell");
    EXPECT_EQ(result, 0);
    EXPECT_EQ(currentPlatform(), nullptr);
}

TEST_F(Entry, ClosesWindowsLeftOpenAndGivesBackEveryNode) {
    RecordingWindow survivor;  // outlives the entry
    const int result = appEntry(platform, [&] {
        ASSERT_TRUE(survivor.createWindow("vell"));
        RecordingWindow other;
        ASSERT_TRUE(other.createWindow("vell"));
        other.destroyWindow();
        platform.postQuitMessage(4);
        EXPECT_TRUE(pumpMessages());
    });
    EXPECT_EQ(result, 4);
    EXPECT_EQ(windowRegistry, nullptr);
    EXPECT_TRUE(platform.liveWindows.empty());
    EXPECT_TRUE(platform.liveBuffers.empty());
    EXPECT_EQ(pool.freeCount(), pool.blockCount() * NODES_PER_BLOCK);
    EXPECT_FALSE(survivor.isOpen());
}

TEST_F(Entry, RefusedClassRegistrationEndsWithMinusOneWithoutRunningMain) {
    platform.refuseClass = true;
    bool ran = false;
    EXPECT_EQ(appEntry(platform, [&] { ran = true; }), -1);
    EXPECT_FALSE(ran);
    EXPECT_EQ(currentPlatform(), nullptr);
}

TEST(FloatPrecision, LevelsBelowAnEighthSelectSinglePrecision) {
    EXPECT_EQ(floatPrecisionField(0.0f), 0);
    EXPECT_EQ(floatPrecisionField(0.1249f), 0);
    EXPECT_EQ(floatPrecisionField(-1.0f), 0);
    EXPECT_EQ(floatPrecisionField(0.125f), 2) << "3 x 0.125 is exactly 0.375";
    EXPECT_EQ(floatPrecisionField(1.0f), 2);
}

}  // namespace
}  // namespace vell
