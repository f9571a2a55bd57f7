#pragma once

#include <cstdint>
#include <vector>

#include "velllib/colour.h"

namespace kelvo {

// The sums of a still camera's frames, pixel by pixel, before packing. The
// jitter puts each frame's ray at a new place inside the pixel, so the mean
// of the frames converges to an anti-aliased picture. Each pixel's sum takes
// the frames one after the other in the order they come, so the sums do not
// depend on which thread traced which rows.
class FrameSums {
public:
    // Forgets every frame: the next one is the first sample again.
    void restart() { samples_ = 0; }
    // Counts a new width x height frame before its rows are added; a size
    // other than the last one's starts again.
    void beginFrame(int width, int height);
    // Adds the colours of rows [firstRow, endRow) of the frame begun last
    // (colours: row firstRow's first pixel first) and writes the mean of
    // every frame counted so far into pixels, packed as a single frame is
    // (pixels: row firstRow's first word). Different rows may be added on
    // different threads at once.
    void addRows(const vell::Colour* colours, int firstRow, int endRow,
                 std::uint32_t* pixels);

    // Writes the mean of the frames counted so far into pixels (width x
    // height words) again, adding nothing. At least one frame must be in.
    void showMean(std::uint32_t* pixels) const;

    // Frames in the sums.
    int samples() const { return samples_; }
    int width() const { return width_; }
    int height() const { return height_; }
    // Pixel i's sum.
    const vell::Colour& sum(std::size_t i) const { return sums_[i]; }

private:
    std::vector<vell::Colour> sums_;
    int width_ = 0;
    int height_ = 0;
    int samples_ = 0;
};

}  // namespace kelvo
