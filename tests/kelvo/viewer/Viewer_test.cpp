#include "kelvo/viewer/Viewer.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "kelvo/app/kelvo.h"
#include "kelvo/viewer/CameraText.h"
#include "kelvo/viewer/ImageFile.h"
#include "tests/kelvo/tree/tree_helpers.h"
#include "tests/velllib/fake_platform.h"
#include "velllib/vell_time.h"

namespace kelvo {
namespace {

namespace fs = std::filesystem;
using testing::SphereWorld;

constexpr int F11 = vell::KEY_F1 + 10;
constexpr int F12 = vell::KEY_F1 + 11;

std::uint32_t fakeMilliseconds = 1;
std::uint32_t fakeCounter() {
    return fakeMilliseconds;
}

// Every field of the observer that a key or the mouse could change.
struct Pose {
    Vec3 position, velocity, angles, right, up, forward, screen;
    bool operator==(const Pose&) const = default;
};
Pose poseOf(const Observer& o) {
    return {o.position, o.velocity, o.angles, o.right, o.up, o.forward, o.screen};
}
std::ostream& operator<<(std::ostream& out, const Pose& p) {
    return out << "angles " << p.angles.x << "," << p.angles.y << "," << p.angles.z << " position "
               << p.position.x << "," << p.position.y << "," << p.position.z;
}

// The viewer on the fake window system, in a 24 x 20 window, with the clock
// under the test's control and a folder of its own for screenshots.
class ViewerKeys : public ::testing::Test {
protected:
    void SetUp() override {
        previousCounter_ = vell::setMillisecondCounter(fakeCounter);
        fakeMilliseconds = 1000;
        vell::resetClock();
        previousPlatform_ = vell::setCurrentPlatform(&platform);
        vell::exitCode = 0;
        platform.initialWidth = 24;
        platform.initialHeight = 20;
        s.world.buildTree();
        folder =
            fs::temp_directory_path() /
            ("kelvo-viewer-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) +
             "-" + ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(folder);
        fs::create_directories(folder);
        viewer = std::make_unique<Viewer>(&s.world, Scene::makeObserver(), RayTracer::EXTEND);
        view().screenshotFolder = folder.string();
        ASSERT_TRUE(view().createWindow("vell"));
        handle = static_cast<vell::WindowRecord*>(vell::windowRegistry->item)->window;
    }
    void TearDown() override {
        view().destroyWindow();
        vell::setCurrentPlatform(previousPlatform_);
        vell::setMillisecondCounter(previousCounter_);
        vell::resetClock();
        fs::remove_all(folder);
    }

    void frameAt(double seconds) {
        fakeMilliseconds = 1000 + static_cast<std::uint32_t>(seconds * 1000);
        view().drawFrame();
    }
    void press(int key) {
        platform.send(handle, vell::MSG_KEYDOWN, static_cast<vell::MessageParam>(key));
        platform.send(handle, vell::MSG_KEYUP, static_cast<vell::MessageParam>(key));
    }
    void send(unsigned message, int x = 0, int y = 0) {
        platform.send(handle, message, 0, vell::packPair(x, y));
    }
    // Pumps the queued messages; true when the program is to end.
    bool pump() { return vell::pumpMessages(); }
    std::vector<fs::path> pictures() const {
        std::vector<fs::path> found;
        for (const auto& entry : fs::directory_iterator(folder)) {
            found.push_back(entry.path());
        }
        return found;
    }

    vell::FakePlatform platform;
    SphereWorld s{{{1.0, {0, 0, 0}}}};
    // Made once the clock is the test's, which its first reading starts.
    std::unique_ptr<Viewer> viewer;
    Viewer& view() { return *viewer; }
    vell::WindowHandle handle = nullptr;
    fs::path folder;

private:
    vell::MillisecondCounter previousCounter_ = nullptr;
    vell::Platform* previousPlatform_ = nullptr;
};

TEST_F(ViewerKeys, EscapeClosesAsTheCloseButtonDoesAndOtherKeysDoNothing) {
    frameAt(0.1);
    const Pose before = poseOf(view().observer);
    for (int key : {int{'X'}, vell::KEY_F1, vell::KEY_RETURN, vell::KEY_F1 + 9, 0x7ffff}) {
        press(key);
    }
    EXPECT_FALSE(pump());
    EXPECT_TRUE(view().isOpen());
    EXPECT_EQ(poseOf(view().observer), before);
    EXPECT_TRUE(pictures().empty());
    EXPECT_TRUE(platform.fullscreenCalls.empty());

    vell::exitCode = 3;
    press(vell::KEY_ESCAPE);
    EXPECT_TRUE(pump()) << "the loop ends";
    EXPECT_EQ(vell::exitCode, 0);
    EXPECT_FALSE(view().isOpen());
    EXPECT_EQ(platform.destroyed, 1);
}

TEST_F(ViewerKeys, AKeyAlreadyDownWhenTheFocusArrivesIsNoPress) {
    // Esc held while the window opens: the focus comes, then the key's
    // report or repeat.
    platform.heldKey = vell::KEY_ESCAPE;
    platform.heldState = 1;
    send(vell::MSG_SETFOCUS);
    platform.send(handle, vell::MSG_KEYDOWN, vell::KEY_ESCAPE);
    platform.send(handle, vell::MSG_KEYDOWN, vell::KEY_ESCAPE);
    EXPECT_FALSE(pump());
    EXPECT_TRUE(view().isOpen()) << "a key held before the focus closed the window";

    // Released and pressed again in the window, it acts.
    platform.heldState = 0;
    platform.send(handle, vell::MSG_KEYUP, vell::KEY_ESCAPE);
    press(vell::KEY_ESCAPE);
    EXPECT_TRUE(pump());
    EXPECT_FALSE(view().isOpen());
}

TEST_F(ViewerKeys, F11TogglesFullScreenOncePerPressAndThePictureFollows) {
    frameAt(0.1);
    platform.send(handle, vell::MSG_KEYDOWN, F11);
    platform.send(handle, vell::MSG_KEYDOWN, F11);  // auto-repeat while held
    EXPECT_FALSE(pump());
    EXPECT_TRUE(view().isFullscreen());
    EXPECT_EQ(platform.fullscreenCalls, (std::vector<bool>{true}));
    EXPECT_EQ(view().pixelWidth, 1.0 / 1024);
    EXPECT_EQ(view().pixelHeight, 1.0 / 768);
    frameAt(0.2);
    EXPECT_NE(std::string(view().overlay()).find("\n1024*768\n"), std::string::npos)
        << view().overlay();

    platform.send(handle, vell::MSG_KEYUP, F11);
    press(F11);
    EXPECT_FALSE(pump());
    EXPECT_FALSE(view().isFullscreen());
    EXPECT_EQ(platform.fullscreenCalls, (std::vector<bool>{true, false}));
    EXPECT_EQ(view().backBufferSize()[0], 24);
    EXPECT_EQ(view().pixelHeight, 1.0 / 20);

    // A window system without full screen: nothing changes.
    platform.refuseFullscreen = true;
    press(F11);
    EXPECT_FALSE(pump());
    EXPECT_FALSE(view().isFullscreen());
    EXPECT_EQ(view().backBufferSize()[0], 24);
}

TEST_F(ViewerKeys, F12SavesThePictureOnScreenUnderANewNameEachPress) {
    frameAt(0.1);
    // Whatever the frame put there, the overlay's text included, is saved.
    view().backBufferPixels()[0] = 0x00fedcbau;
    const std::vector<std::uint32_t> shown(view().backBufferPixels(),
                                           view().backBufferPixels() + 24 * 20);
    ::testing::internal::CaptureStdout();
    press(F12);
    platform.send(handle, vell::MSG_KEYDOWN, F12);
    platform.send(handle, vell::MSG_KEYDOWN, F12);  // held: one picture for this press
    EXPECT_FALSE(pump());
    const std::string printed = ::testing::internal::GetCapturedStdout();

    const std::vector<fs::path> saved = pictures();
    ASSERT_EQ(saved.size(), 2u);
    for (const fs::path& path : saved) {
        EXPECT_NE(printed.find(path.filename().string() + "\n"), std::string::npos) << printed;
        EXPECT_EQ(path.filename().string().rfind("kelvo-", 0), 0u) << path;
        std::vector<std::uint32_t> read;
        int w = 0, h = 0;
        std::string error;
        ASSERT_TRUE(readPng(path.string(), read, w, h, error)) << error;
        EXPECT_EQ(w, 24);
        EXPECT_EQ(h, 20);
        EXPECT_EQ(read, shown) << path;
    }
    EXPECT_EQ(std::count(printed.begin(), printed.end(), '\n'), 2);
}

TEST_F(ViewerKeys, F12AfterAResizeWaitsForTheNextFrame) {
    frameAt(0.1);
    send(vell::MSG_SIZE, 30, 10);
    press(F12);
    ::testing::internal::CaptureStdout();
    EXPECT_FALSE(pump());
    EXPECT_TRUE(pictures().empty()) << "the new back buffer holds no picture yet";
    frameAt(0.2);
    const std::string printed = ::testing::internal::GetCapturedStdout();
    ASSERT_EQ(pictures().size(), 1u);
    std::vector<std::uint32_t> read;
    int w = 0, h = 0;
    std::string error;
    ASSERT_TRUE(readPng(pictures()[0].string(), read, w, h, error)) << error;
    EXPECT_EQ(w, 30);
    EXPECT_EQ(read, std::vector<std::uint32_t>(view().backBufferPixels(),
                                               view().backBufferPixels() + 30 * 10));
    ASSERT_EQ(printed.back(), '\n');
    EXPECT_EQ(fs::path(printed.substr(0, printed.size() - 1)), pictures()[0]);
}

TEST_F(ViewerKeys, AScreenshotThatCannotBeWrittenIsReportedAndTheViewerGoesOn) {
    view().screenshotFolder = (folder / "missing").string();
    frameAt(0.1);
    ::testing::internal::CaptureStdout();
    ::testing::internal::CaptureStderr();
    press(F12);
    EXPECT_FALSE(pump());
    const std::string out = ::testing::internal::GetCapturedStdout();
    const std::string err = ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(out, "");
    EXPECT_NE(err.find("screenshot not saved"), std::string::npos) << err;
    EXPECT_NE(err.find("missing"), std::string::npos) << err;
    EXPECT_TRUE(view().isOpen());
    EXPECT_TRUE(pictures().empty());
    const std::uint32_t state = view().randomState;
    frameAt(0.2);
    EXPECT_NE(view().randomState, state) << "frames go on";
}

TEST_F(ViewerKeys, CPrintsTheCameraAsAnOptionThatReadsBackExactly) {
    platform.heldKey = 'W';
    platform.heldState = 1;
    frameAt(0.3);
    platform.heldKey = vell::KEY_RIGHT;
    frameAt(0.45);
    platform.heldKey = -1;
    ::testing::internal::CaptureStdout();
    press('C');
    EXPECT_FALSE(pump());
    const std::string printed = ::testing::internal::GetCapturedStdout();
    ASSERT_EQ(printed.rfind("--camera ", 0), 0u) << printed;
    ASSERT_EQ(printed.back(), '\n');
    EXPECT_EQ(std::count(printed.begin(), printed.end(), '\n'), 1);
    CameraPlace place;
    ASSERT_EQ(parseCamera(printed.substr(9, printed.size() - 10), place), "");
    EXPECT_EQ(place.position, view().observer.position);
    EXPECT_EQ(place.angles, view().observer.angles);
    EXPECT_NE(place.position.z, -10.0) << "the camera flew";
}

// Refinement.

TEST_F(ViewerKeys, RefinementAveragesRestingFramesAndStartsAgainOnEveryChange) {
    double t = 0.1;
    frameAt(t);
    // The frame just drawn, if it was a single frame traced from state.
    auto singleFrame = [&](std::uint32_t state) {
        const int w = view().backBufferSize()[0], h = view().backBufferSize()[1];
        std::vector<std::uint32_t> single(static_cast<std::size_t>(w) * h);
        view().traceRows(single.data(), w, 0, h, state);
        const std::vector<std::uint32_t> shown(view().backBufferPixels(),
                                               view().backBufferPixels() + single.size());
        return shown == single;
    };
    auto frame = [&] {
        const std::uint32_t state = view().randomState;
        frameAt(t += 0.1);
        return state;
    };
    view().drawOverlay = false;
    EXPECT_TRUE(singleFrame(frame())) << "off: single frames";
    EXPECT_TRUE(singleFrame(frame()));
    EXPECT_EQ(view().samples(), 1);
    press('R');
    EXPECT_FALSE(pump());
    ASSERT_TRUE(view().refine);
    EXPECT_TRUE(singleFrame(frame())) << "the first sample is the single frame";
    frame();
    EXPECT_FALSE(singleFrame(frame()));
    EXPECT_EQ(view().samples(), 3);
    view().drawOverlay = true;
    frame();
    EXPECT_NE(std::string(view().overlay()).find("\n4 samples\n"), std::string::npos)
        << view().overlay();
    view().drawOverlay = false;

    struct Change {
        const char* what;
        std::function<void()> make;
        std::function<void()> undo;
    };
    const Change changes[] = {
        {"R twice", [&] { press('R'), press('R'); }, nullptr},
        {"a resize", [&] { send(vell::MSG_SIZE, 30, 10); }, nullptr},
        {"F11", [&] { press(F11); }, [&] { press(F11); }},
        {"a view switch", [&] { press(vell::KEY_F1 + 2); }, [&] { press(vell::KEY_F1); }},
        {"a turn key", [&] { platform.heldKey = vell::KEY_LEFT, platform.heldState = 1; },
         [&] { platform.heldKey = -1; }},
        {"a roll key", [&] { platform.heldKey = 'E', platform.heldState = 1; },
         [&] { platform.heldKey = -1; }},
        {"a drag", [&] { send(vell::MSG_LBUTTONDOWN), send(vell::MSG_MOUSESTEP, 0, 1); },
         [&] { send(vell::MSG_LBUTTONUP); }},
        {"a drag's step, released before the frame",
         [&] {
             send(vell::MSG_LBUTTONDOWN), send(vell::MSG_MOUSESTEP, -2, 0);
             send(vell::MSG_LBUTTONUP);
         },
         nullptr},
    };
    for (const Change& change : changes) {
        frame();
        ASSERT_GE(view().samples(), 2) << change.what;
        change.make();
        EXPECT_FALSE(pump());
        EXPECT_TRUE(singleFrame(frame())) << change.what;
        EXPECT_EQ(view().samples(), 1) << change.what;
        // Undone (a key released, a drag ended): resting again from there.
        if (change.undo) {
            change.undo();
            EXPECT_FALSE(pump());
            frame();
            EXPECT_EQ(view().samples(), 1) << change.what << ", undone";
        }
        EXPECT_TRUE(view().atRest()) << change.what;
        frame();
    }
    EXPECT_EQ(view().samples(), 2);

    // Flying: no sample while W is held, nor after its release until the
    // speed, which halves every second, is below the resting speed; then the
    // samples count up from a single frame again.
    platform.heldKey = 'W';
    platform.heldState = 1;
    frame();
    EXPECT_EQ(view().samples(), 1);
    EXPECT_FALSE(view().atRest());
    platform.heldKey = -1;
    int moving = 0, resting = 0;
    for (int i = 0; i < 40; ++i) {
        const std::uint32_t state = view().randomState;
        t += 0.4;
        frameAt(t);
        const bool slow = view().observer.velocity.length() < Viewer::REST_SPEED;
        ASSERT_EQ(view().atRest(), slow) << "frame " << i;
        if (!slow) {
            ASSERT_EQ(resting, 0) << "rests only once slow";
            ++moving;
            EXPECT_EQ(view().samples(), 1);
        } else {
            ++resting;
            EXPECT_EQ(view().samples(), resting);
            if (resting == 1) {
                EXPECT_TRUE(singleFrame(state));
            }
        }
    }
    EXPECT_GE(moving, 10) << "a camera just stopped is not at rest";
    EXPECT_GE(resting, 5);
}

// Mouse look.

TEST_F(ViewerKeys, OnlyALeftButtonDragTurnsByThePointersOwnMotion) {
    frameAt(0.1);
    const Pose rest = poseOf(view().observer);
    // Steps without a button, with the right or middle button, and after the
    // release turn nothing.
    send(vell::MSG_MOUSESTEP, 5, 5);
    send(vell::MSG_MOUSESTEP, 10, 7);
    send(vell::MSG_RBUTTONDOWN, 15, 12);
    send(vell::MSG_MOUSESTEP, 5, -10);
    send(vell::MSG_RBUTTONUP, 20, 2);
    send(vell::MSG_MBUTTONDOWN, 20, 2);
    send(vell::MSG_MOUSESTEP, -19, -1);
    send(vell::MSG_MBUTTONUP, 1, 1);
    EXPECT_FALSE(pump());
    EXPECT_EQ(poseOf(view().observer), rest);
    EXPECT_FALSE(view().dragging);
    EXPECT_TRUE(platform.captures.empty());

    // Right 10 and up 4: yaw right, pitch up (a smaller pitch looks up), roll
    // and position untouched. The pointer's place in the window, which jumps
    // when the window moves or goes full screen under it, turns nothing.
    send(vell::MSG_LBUTTONDOWN, 1, 1);
    send(vell::MSG_MOUSESTEP, 5, 0);
    send(vell::MSG_MOUSEMOVE, 300, 200);
    send(vell::MSG_MOUSESTEP, 5, -4);
    send(vell::MSG_MOUSEMOVE, 6, 1);
    EXPECT_FALSE(pump());
    EXPECT_TRUE(view().dragging);
    EXPECT_EQ(view().observer.angles.y, Viewer::DRAG_TURN * 5 + Viewer::DRAG_TURN * 5);
    EXPECT_EQ(view().observer.angles.x, Viewer::DRAG_TURN * -4);
    EXPECT_EQ(view().observer.angles.z, 0.0);
    EXPECT_EQ(view().observer.position, rest.position);
    EXPECT_GT(view().observer.forward.x, 0.0) << "turned right";
    EXPECT_GT(view().observer.forward.y, 0.0) << "looks up";
    // The basis and the mapping follow the angles at once.
    Observer expected = Scene::makeObserver();
    expected.angles = view().observer.angles;
    expected.updateBasis();
    expected.setScreen(view().observer.screen);
    EXPECT_EQ(poseOf(view().observer), poseOf(expected));
    EXPECT_EQ(view().observer.screenOrigin, expected.screenOrigin);

    // Released: later steps turn nothing, and the capture is let go.
    send(vell::MSG_LBUTTONUP, 11, -3);
    send(vell::MSG_MOUSESTEP, 19, 33);
    const Pose dragged = poseOf(view().observer);
    EXPECT_FALSE(pump());
    EXPECT_EQ(poseOf(view().observer), dragged);
    EXPECT_EQ(platform.captures, (std::vector<bool>{true, false}));
}

TEST_F(ViewerKeys, ADragMayGoFarAndEndsWithALostFocus) {
    send(vell::MSG_LBUTTONDOWN, 2, 1);
    send(vell::MSG_MOUSESTEP, -5, -3);
    EXPECT_FALSE(pump());
    EXPECT_EQ(view().observer.angles.y, Viewer::DRAG_TURN * -5);
    EXPECT_EQ(view().observer.angles.x, Viewer::DRAG_TURN * -3);
    send(vell::MSG_MOUSESTEP, 303, 0);  // past the window's right edge
    EXPECT_FALSE(pump());
    EXPECT_EQ(view().observer.angles.y, Viewer::DRAG_TURN * -5 + Viewer::DRAG_TURN * 303);

    // The focus goes elsewhere: the release will never come, so the drag ends.
    send(vell::MSG_KILLFOCUS);
    send(vell::MSG_MOUSESTEP, -3, -1);
    const Pose before = poseOf(view().observer);
    EXPECT_FALSE(pump());
    EXPECT_FALSE(view().dragging);
    EXPECT_EQ(poseOf(view().observer), before);
    EXPECT_EQ(platform.captures, (std::vector<bool>{true, false}));

    // The second press of a double click drags as a press does.
    send(vell::MSG_LBUTTONDBLCLK, 0, 0);
    send(vell::MSG_MOUSESTEP, 0, 7);
    EXPECT_FALSE(pump());
    EXPECT_TRUE(view().dragging);
    EXPECT_EQ(view().observer.angles.x, before.angles.x + Viewer::DRAG_TURN * 7);
}

TEST_F(ViewerKeys, KeysAndADragTurnTogether) {
    frameAt(0.1);
    platform.heldKey = vell::KEY_RIGHT;
    platform.heldState = 1;
    send(vell::MSG_LBUTTONDOWN, 10, 10);
    send(vell::MSG_MOUSESTEP, 4, 0);
    EXPECT_FALSE(pump());
    frameAt(0.2);  // the right arrow adds its own turn to the drag's
    const double rate = Scene::makeObserver().rotationRate.y;
    EXPECT_EQ(view().observer.angles.y, Viewer::DRAG_TURN * 4 + rate);
    send(vell::MSG_MOUSESTEP, -2, 0);
    EXPECT_FALSE(pump());
    EXPECT_EQ(view().observer.angles.y, Viewer::DRAG_TURN * 4 + rate + Viewer::DRAG_TURN * -2)
        << "the drag adds its step, it does not undo the key's turn";
}

}  // namespace
}  // namespace kelvo
