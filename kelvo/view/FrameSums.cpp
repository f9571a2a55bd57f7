#include "kelvo/view/FrameSums.h"

#include "kelvo/view/Pixel.h"

namespace kelvo {

void FrameSums::beginFrame(int width, int height) {
    if (width != width_ || height != height_) {
        width_ = width;
        height_ = height;
        samples_ = 0;
        sums_.assign(static_cast<std::size_t>(width) * static_cast<std::size_t>(height),
                     vell::Colour{});
    }
    ++samples_;
}

void FrameSums::addRows(const vell::Colour* colours, int firstRow, int endRow,
                        std::uint32_t* pixels) {
    const std::size_t first = static_cast<std::size_t>(firstRow) * static_cast<std::size_t>(width_);
    const std::size_t count =
        static_cast<std::size_t>(endRow - firstRow) * static_cast<std::size_t>(width_);
    vell::Colour* sums = sums_.data() + first;
    if (samples_ == 1) {
        // The first frame's sum is its colour: nothing to clear beforehand,
        // and its mean is exactly the single frame.
        for (std::size_t i = 0; i < count; ++i) {
            sums[i] = colours[i];
            pixels[i] = packColourQuick(colours[i].r, colours[i].g, colours[i].b);
        }
        return;
    }
    const float n = static_cast<float>(samples_);
    for (std::size_t i = 0; i < count; ++i) {
        vell::Colour& s = sums[i];
        s.r += colours[i].r;
        s.g += colours[i].g;
        s.b += colours[i].b;
        pixels[i] = packColourQuick(s.r / n, s.g / n, s.b / n);
    }
}

void FrameSums::showMean(std::uint32_t* pixels) const {
    const float n = static_cast<float>(samples_);
    for (const vell::Colour& s : sums_) {
        *pixels++ = packColourQuick(s.r / n, s.g / n, s.b / n);
    }
}

}  // namespace kelvo
