#pragma once

#include <cstddef>

#include "velllib/app.h"

namespace kelvo {

// A window that overlays a status text and the measured frame rate on its back
// buffer, shows it and counts frames. What the status says is the subclass's.
class Rasterizer : public vell::AppWindow {
public:
    // The status text and the rate line share one buffer of this many
    // characters, terminator included: room for the viewer's lines (a view
    // of the tree, the samples of a refined picture) and the rate after them.
    static constexpr std::size_t STATUS_BUFFER_SIZE = 80;

    explicit Rasterizer(double rateInterval);

    void drawFrame() override;
    // Writes the status text from the start of buffer, at most size characters
    // with the terminator.
    virtual void statusText(char* buffer, std::size_t size) = 0;
    // Draws over the picture after the overlay's text, before the frame is
    // shown; called only when the overlay is drawn.
    virtual void drawLegend() {}

    // The whole overlay of the last frame drawn (status and rate line).
    const char* overlay() const { return overlay_; }
    // Whether the overlay is drawn into the picture; it is composed either way.
    bool drawOverlay = true;

    int frameCount = 0;
    double rateStart = 0.0;
    float framesPerSecond = 0.0f;
    double rateInterval;

private:
    char overlay_[STATUS_BUFFER_SIZE] = {};
};

// Formats into buffer without ever writing past size characters (terminator
// included); a text that does not fit is cut.
void formatBounded(char* buffer, std::size_t size, const char* format, ...)
    __attribute__((format(printf, 3, 4)));

}  // namespace kelvo
