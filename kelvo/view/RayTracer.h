#pragma once

#include <cstdint>

#include "kelvo/scene/RayCounts.h"
#include "kelvo/view/FrameTracer.h"
#include "kelvo/view/Jitter.h"
#include "kelvo/view/Observer.h"
#include "kelvo/view/Pixel.h"
#include "kelvo/view/Rasterizer.h"
#include "kelvo/world/World.h"

namespace kelvo {

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

    // The factor of a turn key's input in a frame dt seconds after the one
    // before: 1 at TURN_FRAME_RATE frames per second or fewer, so each held key
    // turns by one rotation step per frame; at higher rates in proportion to
    // dt, so the turn per second stays what it is at that rate. 0 for a dt
    // of 0 (or less, or not a number).
    static double turnScale(double dt);
    static constexpr double TURN_FRAME_RATE = 30.0;

    // As traceRows, each pixel's colour before packing into colours instead:
    // what the packed pixel is made from, bit for bit.
    void traceColours(vell::Colour* colours, int width, int firstRow, int endRow,
                      std::uint32_t& state, RayCounts* counts = nullptr) const;

    // The view's generator step and pixel packing (Jitter.h, Pixel.h).
    static int nextJitter(std::uint32_t& state) { return kelvo::nextJitter(state); }
    static std::uint32_t packColour(const vell::Colour& colour) { return kelvo::packColour(colour); }

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
    FrameTracer* rows = nullptr;
    // Not owned. When set, every frame adds the rays it traced.
    RayCounts* rayCounts = nullptr;

protected:
    // Traces the frame into the back buffer's pixels: by rows when set, else
    // by traceRows. A subclass may draw it otherwise.
    virtual void tracePicture(std::uint32_t* pixels, int width, int height);
};

}  // namespace kelvo
