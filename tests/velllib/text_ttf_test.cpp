#include "velllib/text_ttf.h"

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
constexpr std::uint32_t CANARY = 0xa5a5a5a5u;

// A width x height buffer with canary words on both sides.
class Canvas {
public:
    Canvas(int width, int height, std::uint32_t fill = UNTOUCHED)
        : width_(width),
          height_(height),
          words_(static_cast<std::size_t>(width) * height + 2 * GUARD, CANARY) {
        std::fill(words_.begin() + GUARD, words_.end() - GUARD, fill);
    }
    std::uint32_t* pixels() { return words_.data() + GUARD; }
    std::uint32_t at(int x, int y) const { return words_[GUARD + y * width_ + x]; }
    bool canariesIntact() const {
        for (std::size_t i = 0; i < GUARD; ++i) {
            if (words_[i] != CANARY || words_[words_.size() - 1 - i] != CANARY) {
                return false;
            }
        }
        return true;
    }
    // Columns [x0, x1) and rows [y0, y1) hold the given word.
    int count(int x0, int y0, int x1, int y1, std::uint32_t word) const {
        int n = 0;
        for (int y = y0; y < y1; ++y) {
            for (int x = x0; x < x1; ++x) {
                n += at(x, y) == word ? 1 : 0;
            }
        }
        return n;
    }
    // One past the rightmost painted column of row y, 0 if none.
    int paintedEnd(int y, std::uint32_t background) const {
        int end = 0;
        for (int x = 0; x < width_; ++x) {
            if (at(x, y) != background) {
                end = x + 1;
            }
        }
        return end;
    }
    int width() const { return width_; }
    int height() const { return height_; }

private:
    static constexpr std::size_t GUARD = 64;
    int width_;
    int height_;
    std::vector<std::uint32_t> words_;
};

class Text : public testing::Test {
protected:
    void SetUp() override {
        std::string error;
        ASSERT_TRUE(text.open(error)) << error;
        line = text.lineHeight();
        ASSERT_GE(line, 10);
        ASSERT_LE(line, 16);
    }
    TextRenderer text;
    int line = 0;
};

TEST_F(Text, DrawsBlackOnWhiteLinesFromTheOrigin) {
    Canvas canvas(100, 40, BLACK);
    text.draw(canvas.pixels(), canvas.width(), canvas.height(), "AB\nC", 0, 0);
    ASSERT_TRUE(canvas.canariesIntact());

    EXPECT_EQ(canvas.at(0, 0), WHITE) << "the background starts at the top-left pixel";
    EXPECT_GT(canvas.count(0, 0, 20, line, WHITE), 50);
    EXPECT_GT(canvas.count(0, 0, 20, line, BLACK), 10) << "glyphs are drawn in black";
    for (int y = 0; y < canvas.height(); ++y) {
        for (int x = 0; x < canvas.width(); ++x) {
            const std::uint32_t p = canvas.at(x, y);
            const std::uint32_t blue = p & 0xff;
            ASSERT_EQ(p, blue | blue << 8 | blue << 16)
                << "grey, top byte zero, at " << x << "," << y;
        }
    }
    // Two letters, then one on the next line: the second line is painted
    // from one line height down, and is narrower.
    const int firstWidth = canvas.paintedEnd(1, BLACK);
    const int secondWidth = canvas.paintedEnd(line + 1, BLACK);
    EXPECT_GT(firstWidth, 0);
    EXPECT_GT(secondWidth, 0);
    EXPECT_LT(secondWidth, firstWidth);
    EXPECT_EQ(canvas.at(0, line), WHITE);
    EXPECT_EQ(canvas.count(0, 2 * line, 100, 40, BLACK), 100 * (40 - 2 * line))
        << "nothing below the two lines";
    EXPECT_EQ(canvas.count(firstWidth, 0, 100, 2 * line, BLACK), (100 - firstWidth) * 2 * line)
        << "nothing right of the text";
}

TEST_F(Text, OriginMovesTheTextAndEmptyLinesAdvance) {
    Canvas canvas(60, 60);
    text.draw(canvas.pixels(), 60, 60, "\nX", 10, 5);
    EXPECT_EQ(canvas.count(0, 0, 60, 5 + line, UNTOUCHED), 60 * (5 + line))
        << "an empty first line paints nothing";
    EXPECT_EQ(canvas.at(10, 5 + line), WHITE);
    EXPECT_EQ(canvas.at(9, 5 + line), UNTOUCHED);

    Canvas empty(20, 20);
    text.draw(empty.pixels(), 20, 20, "", 0, 0);
    text.draw(empty.pixels(), 20, 20, "\n\n\n", 0, 0);
    EXPECT_EQ(empty.count(0, 0, 20, 20, UNTOUCHED), 400);
}

TEST_F(Text, IsClippedToTheBufferOnEverySide) {
    const std::string longLine(300, 'W');
    const std::string manyLines = "a\nb\nc\nd\ne\nf\ng\nh\ni\nj\nk\nl\nm\nn";
    struct Case {
        int width, height, left, top;
        const std::string* text;
    };
    const Case cases[] = {
        {100, 40, 95, 35, &longLine},
        {100, 40, -3, -5, &longLine},
        {100, 40, 0, 0, &manyLines},
        {3, 2, 0, 0, &longLine},
        {1, 1, -1, -1, &manyLines},
        {100, 40, 100, 0, &longLine},
        {100, 40, 0, 40, &longLine},
        {100, 40, -2000000000, -2000000000, &manyLines},
        {100, 40, 2000000000, 2000000000, &longLine},
    };
    for (const Case& c : cases) {
        Canvas canvas(c.width, c.height);
        text.draw(canvas.pixels(), c.width, c.height, c.text->c_str(), c.left, c.top);
        EXPECT_TRUE(canvas.canariesIntact())
            << c.width << "x" << c.height << " at " << c.left << "," << c.top;
    }

    // A line cut at the right edge must not run on into the next row.
    Canvas edge(100, 40);
    text.draw(edge.pixels(), 100, 40, longLine.c_str(), 95, 0);
    EXPECT_EQ(edge.at(99, 0), WHITE);
    EXPECT_EQ(edge.count(0, 0, 95, 40, UNTOUCHED), 95 * 40);
}

TEST(TextUnopened, DrawsNothing) {
    TextRenderer text;
    std::uint32_t pixel = UNTOUCHED;
    text.draw(&pixel, 1, 1, "A", 0, 0);
    EXPECT_EQ(pixel, UNTOUCHED);
    EXPECT_EQ(text.lineHeight(), 0);
}

}  // namespace
}  // namespace vell
