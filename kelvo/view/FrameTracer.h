#pragma once

#include <cstdint>

#include "kelvo/scene/RayCounts.h"

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
};

}  // namespace kelvo
