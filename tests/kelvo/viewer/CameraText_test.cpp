#include "kelvo/viewer/CameraText.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "kelvo/app/appMain.h"
#include "kelvo/app/kelvo.h"
#include "kelvo/view/RayTracer.h"
#include "velllib/app.h"
#include "velllib/platform_memory.h"

namespace kelvo {
namespace {

// The printed option without its name, as a shell hands it over.
std::string valueOf(const std::string& option) {
    EXPECT_EQ(option.rfind("--camera ", 0), 0u) << option;
    return option.substr(9);
}

bool sameBits(double a, double b) {
    return std::memcmp(&a, &b, sizeof a) == 0;
}

TEST(CameraText, EveryFiniteDoubleReadsBackBitForBit) {
    // Random bit patterns reach subnormals, huge values and negative zero.
    std::mt19937_64 random(20261209);
    std::vector<double> values = {0.0,
                                  -0.0,
                                  0.1,
                                  -10.0,
                                  std::numeric_limits<double>::min(),
                                  std::numeric_limits<double>::denorm_min(),
                                  std::numeric_limits<double>::max(),
                                  -1e-300};
    while (values.size() < 6 * 500) {
        const std::uint64_t bits = random();
        double value;
        std::memcpy(&value, &bits, sizeof value);
        if (std::isfinite(value)) {
            values.push_back(value);
        }
    }
    for (std::size_t i = 0; i + 6 <= values.size(); i += 6) {
        Observer observer = Scene::makeObserver();
        CameraPlace place{{values[i], values[i + 1], values[i + 2]},
                          {values[i + 3], values[i + 4], values[i + 5]}};
        observer.position = place.position;
        observer.angles = place.angles;
        const std::string text = cameraOption(observer);
        CameraPlace back;
        ASSERT_EQ(parseCamera(valueOf(text), back), "") << text;
        for (int axis = 0; axis < 3; ++axis) {
            ASSERT_TRUE(sameBits(back.position[axis], place.position[axis])) << text;
            ASSERT_TRUE(sameBits(back.angles[axis], place.angles[axis])) << text;
        }
    }
}

TEST(CameraText, RefusesEveryKindOfBadValueWithAReason) {
    const struct {
        const char* text;
        const char* reason;
    } bad[] = {
        {"", "six numbers"},
        {"1,2,3,4,5", "six numbers"},
        {"1,2,3,4,5,6,7", "six numbers"},
        {"1,2,3,4,5,6,", "six numbers"},
        {"1,,3,4,5,6", "camera y is empty"},
        {",2,3,4,5,6", "camera x is empty"},
        {"1,2,3,4,5,", "camera roll is empty"},
        {"one,2,3,4,5,6", "camera x 'one' is not a number"},
        {"1,2,3,4,5,6x", "camera roll '6x' is not a number"},
        {"1,2,3 ,4,5,6", "camera z '3 ' is not a number"},
        {" 1,2,3,4,5,6", "is not a number"},
        {"1,2,3,0x10,5,6", "camera pitch '0x10' is not a number"},
        {"1,2,3,4,nan,6", "camera yaw 'nan' is not a finite number"},
        {"1,2,3,4,5,-inf", "camera roll '-inf' is not a finite number"},
        {"1,infinity,3,4,5,6", "not a finite number"},
        {"1e999,2,3,4,5,6", "camera x '1e999' is out of range"},
        {"1;2;3;4;5;6", "six numbers"},
    };
    for (const auto& [text, reason] : bad) {
        CameraPlace place{{7, 7, 7}, {7, 7, 7}};
        const std::string problem = parseCamera(text, place);
        EXPECT_NE(problem.find(reason), std::string::npos) << "'" << text << "': " << problem;
        EXPECT_EQ(place.position, Vec3(7, 7, 7)) << "'" << text << "' changed the place";
    }
    CameraPlace place;
    EXPECT_EQ(parseCamera("-1.5,2e3,.25,0,-0,3", place), "");
    EXPECT_EQ(place.position, Vec3(-1.5, 2000, 0.25));
    EXPECT_EQ(place.angles, Vec3(0, 0, 3));
}

// A flown observer is printed; a headless run of the program started from the
// printed text draws exactly the frame that the observer itself sees.
TEST(CameraText, AHeadlessFrameFromThePrintedCameraIsTheFlownObserversFrame) {
    Observer flown = Scene::makeObserver();
    const Vec3 inputs[][2] = {
        {{0, 0, 1}, {0, 1, 0}}, {{1, 1, 0}, {1, 0, 1}}, {{0, -1, 1}, {-1, 1, 0}}};
    float dt = 0.137f;
    for (const auto& [thrust, turn] : inputs) {
        flown.thrust = thrust;
        flown.turn = turn;
        flown.move(dt);
        dt *= 1.7f;
    }
    ASSERT_NE(flown.velocity, Vec3(0, 0, 0));
    CameraPlace place;
    ASSERT_EQ(parseCamera(valueOf(cameraOption(flown)), place), "");

    const int width = 64, height = 48;
    std::string error;
    auto platform = vell::MemoryPlatform::open({width, height}, error);
    ASSERT_NE(platform, nullptr) << error;
    AppMainOptions options;
    options.frames = 1;
    options.overlay = false;
    options.camera = place;
    std::vector<std::uint32_t> run, expected(width * height);
    Vec3 velocity{9, 9, 9};
    options.finished = [&](RayTracer& view) {
        run.assign(view.backBufferPixels(), view.backBufferPixels() + width * height);
        velocity = view.observer.velocity;
        // The flown observer's own first frame, on the run's scene and with
        // its arithmetic (single precision on 32-bit x86).
        RayTracer reference(view.world, flown, RayTracer::EXTEND);
        const int size[2] = {width, height};
        reference.onResize(size);
        std::uint32_t state = 0xffffffffu;
        reference.traceRows(expected.data(), width, 0, height, state);
    };
    ASSERT_EQ(vell::appEntry(*platform, [&] { appMain(options); }), 0);
    EXPECT_EQ(velocity, Vec3(0, 0, 0)) << "it starts at rest";
    ASSERT_EQ(run.size(), expected.size());
    EXPECT_EQ(run, expected);

    // The same run from the scene's own start sees another picture.
    options.camera.reset();
    std::vector<std::uint32_t> unmoved;
    options.finished = [&](RayTracer& view) {
        unmoved.assign(view.backBufferPixels(), view.backBufferPixels() + width * height);
    };
    ASSERT_EQ(vell::appEntry(*platform, [&] { appMain(options); }), 0);
    EXPECT_NE(unmoved, expected);
}

}  // namespace
}  // namespace kelvo
