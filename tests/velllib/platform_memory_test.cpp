#include "velllib/platform_memory.h"

#include <gtest/gtest.h>

#include <string>

#include "velllib/app.h"

namespace vell {
namespace {

TEST(MemoryPlatform, RefusesSizesNoWindowCanHave) {
    for (const MemoryPlatformOptions options :
         {MemoryPlatformOptions{0, 200}, MemoryPlatformOptions{240, -1},
          MemoryPlatformOptions{MAX_CLIENT_SIZE + 1, 10},
          MemoryPlatformOptions{240, 200, 0, 768}}) {
        std::string error;
        EXPECT_EQ(MemoryPlatform::open(options, error), nullptr);
        EXPECT_NE(error.find("window size"), std::string::npos) << error;
    }
}

class Sized : public AppWindow {
public:
    void onResize(const int size[2]) override {
        width = size[0];
        height = size[1];
    }
    int width = 0;
    int height = 0;
};

TEST(MemoryPlatform, RunsFramesIntoAReadableBackBufferAndEndsOnClose) {
    std::string error;
    auto platform = MemoryPlatform::open({64, 48}, error);
    ASSERT_NE(platform, nullptr) << error;
    std::uint32_t corner = 0;
    const int result = appEntry(*platform, [&] {
        Sized window;
        ASSERT_TRUE(window.createWindow("vell"));
        EXPECT_EQ(window.width, 64);
        EXPECT_EQ(window.height, 48);
        for (int frame = 0; frame < 3; ++frame) {
            ASSERT_FALSE(pumpMessages());
            EXPECT_EQ(keyDown('W'), 0);
            std::uint32_t* pixels = window.backBufferPixels();
            ASSERT_NE(pixels, nullptr);
            pixels[64 * 48 - 1] = 0x00ff0000u;
            const int origin[2] = {0, 0};
            window.drawText("1.0 fps", origin);
            window.drawFrame();
        }
        EXPECT_EQ(platform->framesPresented(), 3);
        corner = window.backBufferPixels()[0];
        EXPECT_EQ(window.backBufferPixels()[64 * 48 - 1], 0x00ff0000u);
        window.destroyWindow();
        EXPECT_TRUE(pumpMessages());
    });
    EXPECT_EQ(result, 0);
    EXPECT_EQ(corner, 0x00ffffffu) << "the text's white background";
}

TEST(MemoryPlatform, FullScreenTakesTheDesktopsSizeAndGivesTheOldOneBack) {
    std::string error;
    auto platform = MemoryPlatform::open({64, 48, 320, 200}, error);
    ASSERT_NE(platform, nullptr) << error;
    appEntry(*platform, [&] {
        Sized window;
        ASSERT_TRUE(window.createWindow("vell"));
        ASSERT_TRUE(window.setFullscreen(true));
        EXPECT_EQ(window.width, 320);
        EXPECT_EQ(window.height, 200);
        EXPECT_EQ(window.backBufferSize()[0], 320);
        ASSERT_NE(window.backBufferPixels(), nullptr);
        ASSERT_TRUE(window.setFullscreen(false));
        EXPECT_EQ(window.width, 64);
        EXPECT_EQ(window.height, 48);
        window.destroyWindow();
    });
}

}  // namespace
}  // namespace vell
