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

    ViewMode viewMode = ViewMode::SHADED;
};

}  // namespace kelvo
