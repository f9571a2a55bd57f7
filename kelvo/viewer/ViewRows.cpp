#include "kelvo/viewer/ViewRows.h"

#include <array>
#include <vector>

#include "kelvo/fast/FastTracer.h"
#include "kelvo/viewer/Viewer.h"

namespace kelvo {

namespace {

// Nine evenly spaced samples of the viridis colour map (red, green, blue),
// from its published table; the scale runs through them linearly.
constexpr unsigned char VIRIDIS[9][3] = {
    {68, 1, 84},    {71, 44, 122},  {59, 81, 139},  {44, 113, 142}, {33, 144, 141},
    {39, 173, 129}, {92, 200, 99},  {170, 220, 50}, {253, 231, 37},
};

// Integer interpolation, so every build gives the same bytes.
constexpr std::array<std::uint32_t, LEAVES_SCALE_MAX + 1> makeLeavesScale() {
    std::array<std::uint32_t, LEAVES_SCALE_MAX + 1> scale{};
    constexpr int m = LEAVES_SCALE_MAX;
    for (int n = 0; n <= m; ++n) {
        const int position = n * 8;
        const int i = position / m < 8 ? position / m : 7;
        const int r = position - i * m;  // from 0 to m within sample i's span
        std::uint32_t packed = 0;
        for (int c = 0; c < 3; ++c) {
            const int value = (VIRIDIS[i][c] * (m - r) + VIRIDIS[i + 1][c] * r + m / 2) / m;
            packed |= static_cast<std::uint32_t>(value) << (16 - 8 * c);
        }
        scale[static_cast<std::size_t>(n)] = packed;
    }
    return scale;
}

constexpr std::array<std::uint32_t, LEAVES_SCALE_MAX + 1> LEAVES_SCALE = makeLeavesScale();

class ViewRowKernel final : public RowKernel {
public:
    ViewRowKernel(const Viewer& view, const FastTracer& tracer)
        : view_(view), tracer_(tracer), shaded_(fastRows(view, tracer)()) {}

    void traceColours(vell::Colour* colours, int width, int firstRow, int endRow,
                      std::uint32_t& state, RayCounts* counts) override {
        // The views of the tree are made packed; their colours are read back.
        if (view_.viewMode == ViewMode::SHADED) {
            shaded_->traceColours(colours, width, firstRow, endRow, state, counts);
        } else {
            RowKernel::traceColours(colours, width, firstRow, endRow, state, counts);
        }
    }

    void prepare(int width) override {
        tracer_.prepare(scratch_);
        hits_.reserve(static_cast<std::size_t>(width) * ParallelRows::ROWS_PER_TASK);
    }

    void traceRows(std::uint32_t* pixels, int width, int firstRow, int endRow,
                   std::uint32_t& state, RayCounts* counts) override {
        // The mode changes only between frames (keys arrive on the frame
        // loop's thread), so a frame is all one view.
        const ViewMode mode = view_.viewMode;
        if (mode == ViewMode::SHADED) {
            tracer_.traceRows(view_.observer, view_.pixelWidth, view_.pixelHeight, pixels, width,
                              firstRow, endRow, state, scratch_, counts);
            return;
        }
        const std::size_t count =
            static_cast<std::size_t>(width) * static_cast<std::size_t>(endRow - firstRow);
        hits_.resize(count);
        tracer_.primaryHits(view_.observer, view_.pixelWidth, view_.pixelHeight, hits_.data(),
                            width, firstRow, endRow, state, scratch_);
        for (const FastWalk::Hit& hit : hits_) {
            if (mode == ViewMode::LEAVES) {
                *pixels++ = leavesColour(hit.leaves);
            } else {
                *pixels++ = hit.obstacle >= 0 ? cellColour(hit.leaf) : CELLS_MISS;
            }
        }
        if (counts != nullptr) {
            counts->primary += count;
        }
    }

private:
    const Viewer& view_;
    const FastTracer& tracer_;
    FastTracer::Scratch scratch_;
    std::vector<FastWalk::Hit> hits_;
    std::unique_ptr<RowKernel> shaded_;
};

}  // namespace

std::uint32_t leavesColour(int leaves) {
    const int n = leaves < 0 ? 0 : (leaves > LEAVES_SCALE_MAX ? LEAVES_SCALE_MAX : leaves);
    return LEAVES_SCALE[static_cast<std::size_t>(n)];
}

std::uint32_t cellColour(int leaf) {
    if (leaf < 0) {
        return CELLS_MISS;
    }
    // Hues step round the circle by the golden ratio, so that indices a few
    // apart never come close in hue; the brightness takes one of three levels
    // from another hash, for neighbours whose hues still meet.
    const std::uint32_t index = static_cast<std::uint32_t>(leaf);
    const std::uint32_t hue = (index * 0x9e3779b9u) >> 16;  // 0 .. 65535: the whole circle
    const std::uint32_t value = 255u - 50u * (((index * 0x85ebca6bu) >> 16) % 3u);
    const std::uint32_t saturation = 190u;
    const std::uint32_t sector = (hue * 6u) >> 16;
    const std::uint32_t f = (hue * 6u) & 0xffffu;
    const std::uint32_t low = value * (255u - saturation) / 255u;
    const std::uint32_t falling = value * (255u - ((saturation * f) >> 16)) / 255u;
    const std::uint32_t rising = value * (255u - ((saturation * (65535u - f)) >> 16)) / 255u;
    std::uint32_t r = value, g = rising, b = low;
    switch (sector) {
    case 0:
        break;
    case 1:
        r = falling, g = value, b = low;
        break;
    case 2:
        r = low, g = value, b = rising;
        break;
    case 3:
        r = low, g = falling, b = value;
        break;
    case 4:
        r = rising, g = low, b = value;
        break;
    default:
        r = value, g = low, b = falling;
        break;
    }
    return r << 16 | g << 8 | b;
}

RowKernelFactory viewRows(const Viewer& view, const FastTracer& tracer) {
    return [&view, &tracer] { return std::make_unique<ViewRowKernel>(view, tracer); };
}

}  // namespace kelvo
