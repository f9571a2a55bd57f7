#pragma once

#include <cstdint>

#include "kelvo/scene/RayCounts.h"
#include "kelvo/view/FrameSums.h"

namespace kelvo {

// Traces whole frames for a view by some other means than its own loop (on
// worker threads, by a faster path), giving the same pixels and leaving the
// jitter generator where the view's loop would.
class FrameTracer {
public:
    virtual ~FrameTracer() = default;
    // A width x height frame into pixels (rows top to bottom, no padding).
    // state is the generator's state at the frame's start and ends where the
    // view's loop leaves it. counts, when given, grows by the frame's rays.
    virtual void traceFrame(std::uint32_t* pixels, int width, int height, std::uint32_t& state,
                            RayCounts* counts) = 0;
    // The same frame's colours before packing, added into sums as a new
    // frame (FrameSums::beginFrame); pixels get the mean of all the frames in
    // the sums. The generator and counts go as in traceFrame.
    virtual void refineFrame(std::uint32_t* pixels, int width, int height, std::uint32_t& state,
                             RayCounts* counts, FrameSums& sums) = 0;
};

}  // namespace kelvo
