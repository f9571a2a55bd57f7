#include "kelvo/viewer/ImageFile.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <functional>
#include <thread>

namespace kelvo {
namespace {

namespace fs = std::filesystem;

class ImageFile : public ::testing::Test {
protected:
    void SetUp() override {
        dir = fs::temp_directory_path() /
              ("kelvo-image-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) +
               "-" + ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir);
        fs::create_directories(dir);
    }
    void TearDown() override { fs::remove_all(dir); }
    fs::path dir;
};

TEST_F(ImageFile, PngKeepsEveryPixelAndTheSize) {
    const int w = 7, h = 3;
    std::vector<std::uint32_t> pixels(w * h);
    for (int i = 0; i < w * h; ++i) {
        pixels[i] = static_cast<std::uint32_t>(i * 0x0a0b0c) & 0xffffffu;
    }
    const std::string path = (dir / "out.png").string();
    std::string error;
    ASSERT_TRUE(writePng(path, pixels.data(), w, h, error)) << error;
    std::vector<std::uint32_t> back;
    int bw = 0, bh = 0;
    ASSERT_TRUE(readPng(path, back, bw, bh, error)) << error;
    EXPECT_EQ(bw, w);
    EXPECT_EQ(bh, h);
    EXPECT_EQ(back, pixels);
    // Nothing but the file itself is left in the folder.
    EXPECT_EQ(std::distance(fs::directory_iterator(dir), fs::directory_iterator()), 1);

    // Writing again replaces the file (renaming over an existing file is
    // refused on Windows unless asked for).
    std::vector<std::uint32_t> second(w * h, 0x00336699u);
    ASSERT_TRUE(writePng(path, second.data(), w, h, error)) << error;
    ASSERT_TRUE(readPng(path, back, bw, bh, error)) << error;
    EXPECT_EQ(back, second);
    EXPECT_EQ(std::distance(fs::directory_iterator(dir), fs::directory_iterator()), 1);
}

TEST_F(ImageFile, BadPathsFailCleanlyAndLeaveNoFile) {
    std::string error;
    const std::uint32_t pixel = 0;
    EXPECT_FALSE(checkWritable((dir / "missing" / "x.png").string(), error));
    EXPECT_NE(error.find("cannot write"), std::string::npos);
    EXPECT_FALSE(checkWritable(dir.string(), error));
    EXPECT_NE(error.find("directory"), std::string::npos);
    EXPECT_FALSE(checkWritable("", error));
    EXPECT_FALSE(writePng((dir / "missing" / "x.png").string(), &pixel, 1, 1, error));
    EXPECT_TRUE(checkWritable((dir / "fine.png").string(), error));
    EXPECT_TRUE(fs::is_empty(dir)) << "the check leaves nothing behind";

    // A file that is not a PNG is refused on reading.
    std::ofstream((dir / "text.png").string()) << "not a picture";
    std::vector<std::uint32_t> back;
    int w = 0, h = 0;
    EXPECT_FALSE(readPng((dir / "text.png").string(), back, w, h, error));
}

TEST_F(ImageFile, WritingLeavesOtherFilesAloneAndGivesTheUsualPermissions) {
    // Files that merely look like a temporary of an earlier version survive
    // both the check and the write.
    const fs::path out = dir / "out.png";
    const fs::path bystander = dir / "out.png.kelvo-partial";
    std::ofstream(bystander.string()) << "someone else's";
    const std::uint32_t pixel = 0x00102030u;
    std::string error;
    ASSERT_TRUE(checkWritable(out.string(), error)) << error;
    ASSERT_TRUE(writePng(out.string(), &pixel, 1, 1, error)) << error;
    ASSERT_TRUE(fs::exists(bystander));
    std::ifstream in(bystander.string());
    std::string content;
    std::getline(in, content);
    EXPECT_EQ(content, "someone else's");
    EXPECT_EQ(std::distance(fs::directory_iterator(dir), fs::directory_iterator()), 2)
        << "no temporary file is left";

    const mode_t mask = ::umask(0);
    ::umask(mask);
    EXPECT_EQ(static_cast<mode_t>(fs::status(out).permissions()), 0666 & ~mask)
        << "the picture is readable like any new file, not private as a temporary";
}

TEST_F(ImageFile, ConcurrentWritersOfOneFileNeverPublishAMixedOrPartialPicture) {
    // Two pictures, each of one colour: every read of the target must find
    // one of them whole.
    const int w = 300, h = 200;
    const std::vector<std::uint32_t> red(w * h, 0x00ff0000u), blue(w * h, 0x000000ffu);
    const std::string path = (dir / "shared.png").string();
    std::string error;
    ASSERT_TRUE(writePng(path, red.data(), w, h, error)) << error;

    std::atomic<bool> done{false};
    std::atomic<int> writeFailures{0};
    auto writer = [&](const std::vector<std::uint32_t>& picture) {
        std::string message;
        for (int i = 0; i < 30; ++i) {
            if (!writePng(path, picture.data(), w, h, message)) {
                ++writeFailures;
            }
        }
    };
    std::thread a(writer, std::cref(red)), b(writer, std::cref(blue));
    int reads = 0, bad = 0;
    std::thread reader([&] {
        while (!done) {
            std::vector<std::uint32_t> back;
            int bw = 0, bh = 0;
            std::string message;
            ++reads;
            const bool read = readPng(path, back, bw, bh, message);
#if defined(_WIN32)
            // Windows refuses to open or replace a file while another handle
            // is moving it: a read or a write may then fail outright, but
            // what is read is still one whole picture.
            if (read && back != red && back != blue) {
#else
            if (!read || (back != red && back != blue)) {
#endif
                ++bad;
            }
        }
    });
    a.join();
    b.join();
    done = true;
    reader.join();
#if !defined(_WIN32)
    EXPECT_EQ(writeFailures, 0);
#endif
    EXPECT_EQ(bad, 0) << "of " << reads << " reads";
    EXPECT_EQ(std::distance(fs::directory_iterator(dir), fs::directory_iterator()), 1);
}

}  // namespace
}  // namespace kelvo
