#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace vell {

// Draws status text into 32-bit back buffers with a monospaced font built into
// the program, so no font file is read at run time. Needs no video driver.
class TextRenderer {
public:
    // Pixel size of the font: at 11 a digit is 7 pixels wide and a line 13
    // pixels high, so a three-line status fits the corner of a 240 x 200 window.
    static constexpr int FONT_SIZE = 11;

    TextRenderer();
    ~TextRenderer();
    TextRenderer(const TextRenderer&) = delete;
    TextRenderer& operator=(const TextRenderer&) = delete;

    // Loads the font; false with the reason in error.
    bool open(std::string& error);
    bool isOpen() const { return font_ != nullptr; }
    // Distance between the tops of two lines; 0 before open.
    int lineHeight() const;

    // Black on an opaque white background from (left, top), a line per '\n',
    // clipped to the width x height buffer. Nothing before open.
    void draw(std::uint32_t* pixels, int width, int height, const char* text, int left,
              int top) const;

private:
    // The font library's own types stay in the source file: their names
    // differ between its releases.
    struct Font;
    std::unique_ptr<Font> font_;
    bool ttfStarted_ = false;
};

}  // namespace vell
