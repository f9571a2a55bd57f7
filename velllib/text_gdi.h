#pragma once

#include <cstdint>
#include <string>

namespace vell {

// Draws status text into 32-bit back buffers with GDI, exactly as a window's
// drawText does: DrawTextA into a memory device context with its defaults
// (the system font, black text on an opaque white background).
class TextRenderer {
public:
    TextRenderer() = default;
    ~TextRenderer();
    TextRenderer(const TextRenderer&) = delete;
    TextRenderer& operator=(const TextRenderer&) = delete;

    // Makes the memory device context; false with the reason in error.
    bool open(std::string& error);
    bool isOpen() const { return memoryDC_ != nullptr; }
    // Distance between the tops of two lines; 0 before open.
    int lineHeight() const;

    // Black on an opaque white background from (left, top), a line per '\n',
    // clipped to the width x height buffer. Nothing before open.
    void draw(std::uint32_t* pixels, int width, int height, const char* text, int left,
              int top) const;

private:
    void* memoryDC_ = nullptr;  // HDC
};

}  // namespace vell
