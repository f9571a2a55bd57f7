#include "velllib/text_gdi.h"

#include <gtest/gtest.h>

#include <algorithm>

#include <cstdint>
#include <string>
#include <vector>

namespace vell {
namespace {

constexpr std::uint32_t WHITE = 0x00ffffffu;
constexpr std::uint32_t BLACK = 0;
constexpr std::uint32_t UNTOUCHED = 0x00123456u;

// Counts the words of rows [y0, y1) and columns [x0, x1) that equal word.
int count(const std::vector<std::uint32_t>& pixels, int width, int x0, int y0, int x1, int y1,
          std::uint32_t word) {
    int n = 0;
    for (int y = y0; y < y1; ++y) {
        for (int x = x0; x < x1; ++x) {
            n += pixels[static_cast<std::size_t>(y) * width + x] == word ? 1 : 0;
        }
    }
    return n;
}

TEST(GdiText, DrawsBlackOnWhiteFromTheOriginOneLinePerLineFeed) {
    TextRenderer text;
    std::string error;
    ASSERT_TRUE(text.open(error)) << error;
    const int line = text.lineHeight();
    ASSERT_GT(line, 4);

    const int width = 120, height = 3 * line + 10;
    std::vector<std::uint32_t> pixels(static_cast<std::size_t>(width) * height, UNTOUCHED);
    text.draw(pixels.data(), width, height, "88\n8888", 5, 2);

    // Nothing above or left of the origin.
    EXPECT_EQ(count(pixels, width, 0, 0, width, 2, UNTOUCHED), width * 2);
    EXPECT_EQ(count(pixels, width, 0, 0, 5, height, UNTOUCHED), 5 * height);
    // Each line has ink and paper; the second line is wider than the first.
    EXPECT_GT(count(pixels, width, 5, 2, width, 2 + line, BLACK), 0);
    EXPECT_GT(count(pixels, width, 5, 2, width, 2 + line, WHITE), 0);
    EXPECT_GT(count(pixels, width, 5, 2 + line, width, 2 + 2 * line, BLACK), 0);
    auto paintedEnd = [&](int y) {
        int end = 0;
        for (int x = 0; x < width; ++x) {
            if (pixels[static_cast<std::size_t>(y) * width + x] != UNTOUCHED) {
                end = x + 1;
            }
        }
        return end;
    };
    EXPECT_GT(paintedEnd(2 + line + line / 2), paintedEnd(2 + line / 2));
    // No third line, and only black, white and untouched words (GDI's top
    // byte stays clear).
    EXPECT_EQ(count(pixels, width, 0, 2 + 2 * line, width, height, UNTOUCHED),
              width * (height - 2 - 2 * line));
    for (std::uint32_t word : pixels) {
        EXPECT_EQ(word & 0xff000000u, 0u);
    }
}

TEST(GdiText, ClipsToTheBufferAndIgnoresWhatLiesOutside) {
    TextRenderer text;
    std::string error;
    ASSERT_TRUE(text.open(error)) << error;
    // A buffer with guard words on both sides, and text that runs over every edge.
    const int width = 10, height = 6, guard = 64;
    std::vector<std::uint32_t> words(static_cast<std::size_t>(width) * height + 2 * guard,
                                     0xa5a5a5a5u);
    std::uint32_t* pixels = words.data() + guard;
    std::fill(pixels, pixels + width * height, UNTOUCHED);
    text.draw(pixels, width, height, "8888888888\n8888888888\n88888888", -3, -4);
    text.draw(pixels, width, height, "far away", 50, 50);
    text.draw(pixels, width, height, "", 0, 0);
    for (int i = 0; i < guard; ++i) {
        EXPECT_EQ(words[i], 0xa5a5a5a5u);
        EXPECT_EQ(words[words.size() - 1 - i], 0xa5a5a5a5u);
    }
    int drawn = 0;
    for (int i = 0; i < width * height; ++i) {
        drawn += pixels[i] != UNTOUCHED ? 1 : 0;
    }
    EXPECT_EQ(drawn, width * height) << "the text covers the whole small buffer";

    TextRenderer closed;
    std::vector<std::uint32_t> untouched(16, UNTOUCHED);
    closed.draw(untouched.data(), 4, 4, "8", 0, 0);
    EXPECT_EQ(count(untouched, 4, 0, 0, 4, 4, UNTOUCHED), 16) << "nothing before open";
}

}  // namespace
}  // namespace vell
