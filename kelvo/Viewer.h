#pragma once

#include "kelvo/RayTracer.h"

namespace kelvo {

// What each pixel of a frame shows.
enum class ViewMode {
    SHADED,  // the traced picture
    LEAVES,  // how many leaves the primary ray crossed before its hit was confirmed
    CELLS,   // which leaf confirmed the primary hit
};

// The view as people use it: the traced picture and its keys, plus what a
// viewer is expected to do beyond them (closing, screenshots, the camera as
// text, mouse look, full screen, views of the tree). With none of the extra
// keys pressed it draws exactly what RayTracer draws.
class Viewer : public RayTracer {
public:
    Viewer(const World* world, const Observer& observer, int fitMode);

    void onKey(int virtualKey, int pressed) override;
    void onMouseMove(const int position[2]) override;
    void onMouseButton(int button, int pressed, int doubleClick) override;

    // The views of the tree: F1 the traced picture, F2 the leaves crossed,
    // F3 the confirming leaf. The views other than the traced picture are
    // drawn by the kernel of viewRows, so `rows` must be made with it; the
    // view's own loop (no rows) draws only the traced picture.
    ViewMode viewMode = ViewMode::SHADED;
    // The status text, with a line naming the view of the tree when one shows.
    void statusText(char* buffer, std::size_t size) override;
    // The leaves view's colour bar, at the top right: one step per count from
    // 0 to LEAVES_SCALE_MAX, its ends labelled.
    void drawLegend() override;

    // Legend bar geometry, in pixels.
    static constexpr int LEGEND_STEP = 6;
    static constexpr int LEGEND_HEIGHT = 10;
    static constexpr int LEGEND_MARGIN = 6;

private:
    // Takes the view keys (F1 to F3); false for any other key.
    bool selectView(int virtualKey);
};

}  // namespace kelvo
