#pragma once

#include <cstdint>

#include "kelvo/Observer.h"
#include "kelvo/Rasterizer.h"
#include "kelvo/RayCounts.h"
#include "kelvo/World.h"

namespace kelvo {

class ParallelRows;

// The jitter generator's step to a sub-pixel offset: 1/32768, exact in floats.
inline constexpr float JITTER_SCALE = 1.0f / 32768.0f;
// Surfaces one pixel may shade along its chain of reflections.
inline constexpr int TRACE_DEPTH = 10;

// The view: every frame it reads the keys, moves its observer, traces one
// jittered ray per pixel into the back buffer and overlays the tree's
// statistics, the image size and the frame rate.
class RayTracer : public Rasterizer {
public:
    // How the reference image plane is fitted to the window's shape.
    enum FitMode { EXTEND = 0, STRETCH = 1, FILL = 2 };

    RayTracer(const World* world, const Observer& observer, int fitMode);

    void drawFrame() override;
    void onResize(const int size[2]) override;
    void statusText(char* buffer, std::size_t size) override;

    // Traces rows [firstRow, endRow) of a width-wide image into pixels (the
    // first word is row firstRow's), stepping the generator state on from
    // state, which ends where the rows end. counts, when given, grows by the
    // rays traced. This is the reference loop, on the calling thread. After a
    // stop request (vell::stopRequested) it returns before the next row.
    void traceRows(std::uint32_t* pixels, int width, int firstRow, int endRow,
                   std::uint32_t& state, RayCounts* counts = nullptr) const;

    // Steps the generator and returns bits 16 to 30 of the new state.
    static int nextJitter(std::uint32_t& state) {
        // Unsigned: the generator relies on wrap-around modulo 2^32.
        state = state * 214013u + 2531011u;
        return static_cast<int>((state >> 16) & 0x7fffu);
    }
    // Scaled by 255 in single precision, rounded half to even, limited to
    // 0..255; blue in bits 0-7, green 8-15, red 16-23.
    static std::uint32_t packColour(const vell::Colour& colour);

    const World* world;
    Observer observer;
    Vec3 referenceScreen;
    double pixelWidth = 0.0;
    double pixelHeight = 0.0;
    // Runs on from frame to frame and is never reseeded; all bits set at start.
    std::uint32_t randomState = 0xffffffffu;
    int fitMode;
    double lastFrameTime;
    // Not owned. When set, frames are traced by these workers; otherwise by
    // traceRows on this thread. Both give the same pixels and generator state.
    ParallelRows* rows = nullptr;
    // Not owned. When set, every frame adds the rays it traced.
    RayCounts* rayCounts = nullptr;
};

}  // namespace kelvo
