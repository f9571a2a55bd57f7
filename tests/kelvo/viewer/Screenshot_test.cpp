#include "kelvo/viewer/Screenshot.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <set>
#include <thread>
#include <vector>

#include "kelvo/viewer/ImageFile.h"

namespace kelvo {
namespace {

namespace fs = std::filesystem;

std::tm someTime() {
    std::tm time{};
    time.tm_year = 2026 - 1900;
    time.tm_mon = 11;  // December
    time.tm_mday = 9;
    time.tm_hour = 5;
    time.tm_min = 46;
    time.tm_sec = 2;
    return time;
}

class Screenshot : public ::testing::Test {
protected:
    void SetUp() override {
        dir = fs::temp_directory_path() /
              ("kelvo-shot-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) +
               "-" + ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir);
        fs::create_directories(dir);
    }
    void TearDown() override { fs::remove_all(dir); }

    std::set<std::string> names() const {
        std::set<std::string> found;
        for (const auto& entry : fs::directory_iterator(dir)) {
            found.insert(entry.path().filename().string());
        }
        return found;
    }
    fs::path dir;
};

TEST_F(Screenshot, NamesCarryTheDateTimeAndMillisecond) {
    EXPECT_EQ(screenshotName(someTime(), 7, 0), "kelvo-20261209-054602-007.png");
    EXPECT_EQ(screenshotName(someTime(), 999, 12), "kelvo-20261209-054602-999-12.png");
}

TEST_F(Screenshot, ATakenNameIsNeverOverwritten) {
    const std::vector<std::uint32_t> pixels = {0x00102030u, 0x00ffffffu, 0, 0x00abcdefu};
    const std::string first = screenshotName(someTime(), 7, 0);
    std::ofstream(dir / first) << "keep";
    std::string path, error;
    ASSERT_TRUE(saveScreenshot(dir.string(), someTime(), 7, pixels.data(), 2, 2, path, error))
        << error;
    EXPECT_EQ(fs::path(path).filename(), "kelvo-20261209-054602-007-1.png");
    ASSERT_TRUE(saveScreenshot(dir.string(), someTime(), 7, pixels.data(), 2, 2, path, error))
        << error;
    EXPECT_EQ(fs::path(path).filename(), "kelvo-20261209-054602-007-2.png");
    EXPECT_EQ(names(), (std::set<std::string>{first, "kelvo-20261209-054602-007-1.png",
                                              "kelvo-20261209-054602-007-2.png"}))
        << "no partial file is left beside them";
    std::ifstream kept(dir / first);
    std::string content;
    kept >> content;
    EXPECT_EQ(content, "keep");
    std::vector<std::uint32_t> read;
    int w = 0, h = 0;
    ASSERT_TRUE(readPng(path, read, w, h, error)) << error;
    EXPECT_EQ(read, pixels);
}

TEST_F(Screenshot, WhenEveryNameIsTakenNothingIsWrittenNotEvenUnderTheNextName) {
    const std::vector<std::uint32_t> pixels = {0x00102030u};
    for (int attempt = 0; attempt < SCREENSHOT_NAME_ATTEMPTS; ++attempt) {
        std::ofstream(dir / screenshotName(someTime(), 7, attempt)) << "taken";
    }
    std::string path, error;
    EXPECT_FALSE(saveScreenshot(dir.string(), someTime(), 7, pixels.data(), 1, 1, path, error));
    EXPECT_NE(error.find("exist"), std::string::npos) << error;
    EXPECT_FALSE(fs::exists(dir / screenshotName(someTime(), 7, SCREENSHOT_NAME_ATTEMPTS)))
        << "one name more was tried than allowed";
    EXPECT_EQ(names().size(), static_cast<std::size_t>(SCREENSHOT_NAME_ATTEMPTS))
        << "a partial file is left";
}

TEST_F(Screenshot, SavesAtOnceFromManyThreadsGetAFileEach) {
    constexpr int THREADS = 4, EACH = 5;
    std::vector<std::vector<std::string>> paths(THREADS);
    std::vector<std::thread> threads;
    for (int t = 0; t < THREADS; ++t) {
        threads.emplace_back([&, t] {
            const std::vector<std::uint32_t> pixels(9, static_cast<std::uint32_t>(t));
            for (int i = 0; i < EACH; ++i) {
                std::string path, error;
                if (saveScreenshot(dir.string(), someTime(), 500, pixels.data(), 3, 3, path,
                                   error)) {
                    paths[t].push_back(path);
                }
            }
        });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    EXPECT_EQ(names().size(), static_cast<std::size_t>(THREADS * EACH));
    for (int t = 0; t < THREADS; ++t) {
        ASSERT_EQ(paths[t].size(), static_cast<std::size_t>(EACH));
        for (const std::string& path : paths[t]) {
            std::vector<std::uint32_t> read;
            int w = 0, h = 0;
            std::string error;
            ASSERT_TRUE(readPng(path, read, w, h, error)) << error;
            EXPECT_EQ(read, std::vector<std::uint32_t>(9, static_cast<std::uint32_t>(t)))
                << path << " holds another thread's picture";
        }
    }
}

TEST_F(Screenshot, AFolderThatCannotTakeItIsReported) {
    const std::uint32_t pixel = 0;
    std::string path, error;
    EXPECT_FALSE(saveScreenshot((dir / "missing").string(), &pixel, 1, 1, path, error));
    EXPECT_NE(error.find("missing"), std::string::npos) << error;
    EXPECT_TRUE(path.empty());
    EXPECT_FALSE(fs::exists(dir / "missing"));
    // A file where the folder should be.
    std::ofstream(dir / "file") << "x";
    EXPECT_FALSE(saveScreenshot((dir / "file").string(), &pixel, 1, 1, path, error));
    EXPECT_EQ(names(), std::set<std::string>{"file"});
    EXPECT_FALSE(saveScreenshot(dir.string(), nullptr, 1, 1, path, error));
    EXPECT_NE(error.find("no picture"), std::string::npos) << error;
}

}  // namespace
}  // namespace kelvo
