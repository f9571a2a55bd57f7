#include "kelvo/Viewer.h"

#include <cstring>
#include <string>

#include "kelvo/ViewRows.h"

namespace kelvo {

Viewer::Viewer(const World* w, const Observer& o, int mode) : RayTracer(w, o, mode) {}

void Viewer::onKey(int virtualKey, int pressed) {
    // Each group of keys takes its own and leaves the others alone.
    if (pressed && selectView(virtualKey)) {
        return;
    }
}

void Viewer::onMouseMove(const int[2]) {}

void Viewer::onMouseButton(int, int, int) {}

// ---- Views of the tree --------------------------------------------------

bool Viewer::selectView(int virtualKey) {
    switch (virtualKey) {
    case vell::KEY_F1:
        viewMode = ViewMode::SHADED;
        return true;
    case vell::KEY_F1 + 1:
        viewMode = ViewMode::LEAVES;
        return true;
    case vell::KEY_F1 + 2:
        viewMode = ViewMode::CELLS;
        return true;
    default:
        return false;
    }
}

void Viewer::statusText(char* buffer, std::size_t size) {
    RayTracer::statusText(buffer, size);
    if (viewMode == ViewMode::SHADED || size == 0) {
        return;  // the traced picture's overlay is left as it always was
    }
    const std::size_t used = std::strlen(buffer);
    if (viewMode == ViewMode::LEAVES) {
        formatBounded(buffer + used, size - used, "\nleaves 0..%d+", LEAVES_SCALE_MAX);
    } else {
        formatBounded(buffer + used, size - used, "\nleaf cells");
    }
}

int Viewer::legendStep(int width) {
    const int room = (width - LEGEND_MARGIN - LEGEND_TEXT_ROOM) / (LEAVES_SCALE_MAX + 1);
    return room < 2 ? 0 : (room < LEGEND_STEP ? room : LEGEND_STEP);
}

void Viewer::drawLegend() {
    std::uint32_t* pixels = backBufferPixels();
    const int width = backBufferSize()[0];
    const int height = backBufferSize()[1];
    const int step = legendStep(width);
    if (viewMode != ViewMode::LEAVES || pixels == nullptr || step == 0) {
        return;
    }
    constexpr int steps = LEAVES_SCALE_MAX + 1;
    const int right = width - LEGEND_MARGIN;
    const int left = right - steps * step;
    const int top = LEGEND_MARGIN;
    // A white frame one pixel wide, as the text's boxes are white, and the
    // steps inside it; whatever falls outside the window is left out.
    for (int y = top - 1; y <= top + LEGEND_HEIGHT; ++y) {
        for (int x = left - 1; x <= right; ++x) {
            if (x < 0 || y < 0 || x >= width || y >= height) {
                continue;
            }
            const bool inside = x >= left && x < right && y >= top && y < top + LEGEND_HEIGHT;
            pixels[static_cast<std::size_t>(y) * static_cast<std::size_t>(width) + x] =
                inside ? leavesColour((x - left) / step) : 0x00ffffffu;
        }
    }
    const std::string high = std::to_string(LEAVES_SCALE_MAX) + "+";
    const int labelTop = top + LEGEND_HEIGHT + 2;
    const int lowOrigin[2] = {left - 1, labelTop};
    drawText("0", lowOrigin);
    // Digits are about 7 pixels wide in the overlay's font.
    const int highOrigin[2] = {right + 1 - 7 * static_cast<int>(high.size()), labelTop};
    drawText(high.c_str(), highOrigin);
}

}  // namespace kelvo
