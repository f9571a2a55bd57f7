#include "kelvo/viewer/Viewer.h"

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

#include "kelvo/viewer/CameraText.h"
#include "kelvo/viewer/Screenshot.h"
#include "kelvo/viewer/ViewRows.h"

namespace kelvo {

namespace {

// Mouse positions travel as unsigned 16-bit numbers, so a captured pointer
// left of or above the window reads as 65535 and down. The step between two
// positions, taken modulo 2^16 as a signed number, is the true step for any
// move shorter than 32768 pixels.
int step16(int from, int to) {
    return static_cast<std::int16_t>(static_cast<std::uint16_t>(to - from));
}

// One flushed line on stdout; a failed write is reported, and the viewer
// goes on.
void printLine(const std::string& line) {
    errno = 0;
    const bool written = std::fputs((line + "\n").c_str(), stdout) >= 0;
    if (!written || std::fflush(stdout) != 0) {
        std::fprintf(stderr, "kelvo: cannot write to standard output: %s\n",
                     errno != 0 ? std::strerror(errno) : "write error");
        std::clearerr(stdout);
    }
}

}  // namespace

Viewer::Viewer(const World* w, const Observer& o, int mode) : RayTracer(w, o, mode) {}

void Viewer::drawFrame() {
    RayTracer::drawFrame();
    if (vell::stopRequested() || backBufferPixels() == nullptr) {
        return;  // nothing was shown
    }
    pictureStale_ = false;
    if (screenshotPending_) {
        screenshotPending_ = false;
        saveScreenshot();
    }
}

void Viewer::onResize(const int size[2]) {
    RayTracer::onResize(size);
    pictureStale_ = true;
}

void Viewer::onKey(int virtualKey, int pressed) {
    if (virtualKey < 0 || virtualKey >= static_cast<int>(keysHeld_.size())) {
        return;
    }
    // A held key repeats its press; only the first one acts.
    const bool repeat = pressed != 0 && keysHeld_[virtualKey];
    keysHeld_[virtualKey] = pressed != 0;
    if (pressed == 0 || repeat || selectView(virtualKey)) {
        return;
    }
    switch (virtualKey) {
        case vell::KEY_ESCAPE:
            close();
            break;
        case vell::KEY_F1 + 10:  // F11
            setFullscreen(!isFullscreen());
            break;
        case vell::KEY_F1 + 11:  // F12
            if (pictureStale_) {
                screenshotPending_ = true;
            } else {
                saveScreenshot();
            }
            break;
        case 'C':
            printCamera();
            break;
        default:
            break;
    }
}

void Viewer::onMouseMove(const int position[2]) {
    if (dragging && pointerKnown_) {
        const int dx = step16(pointer_[0], position[0]);
        const int dy = step16(pointer_[1], position[1]);
        if (dx != 0 || dy != 0) {
            // The step since the last move, added to whatever the keys turned
            // meanwhile. Right turns right, as the right arrow does; down
            // looks down, as a growing pitch does.
            observer.angles.y += DRAG_TURN * dx;
            observer.angles.x += DRAG_TURN * dy;
            observer.updateBasis();
            observer.updateMapping();
        }
    }
    pointer_[0] = position[0];
    pointer_[1] = position[1];
    pointerKnown_ = true;
}

void Viewer::onMouseButton(int button, int pressed, int doubleClick) {
    if (button != 0) {
        return;
    }
    // A double click message is the second press of the button.
    if (pressed != 0 || doubleClick != 0) {
        if (!dragging) {
            dragging = true;
            captureMouse(true);
        }
    } else {
        endDrag();
    }
}

void Viewer::onFocus(int focused) {
    if (focused == 0) {
        // Releases that happen elsewhere never arrive.
        keysHeld_.reset();
        endDrag();
        return;
    }
    // A key already down when the focus arrives (Esc held while the window
    // opens) was pressed for another window: its press reaches this one only
    // as a repeat, or as the window system's report of what is down, and
    // must not act. It acts again once released and pressed here.
    for (std::size_t key = 0; key < keysHeld_.size(); ++key) {
        if (vell::keyDown(static_cast<int>(key)) != 0) {
            keysHeld_[key] = true;
        }
    }
}

void Viewer::endDrag() {
    if (dragging) {
        dragging = false;
        captureMouse(false);
    }
}

void Viewer::saveScreenshot() {
    const int* size = backBufferSize();
    std::string path;
    std::string error;
    if (kelvo::saveScreenshot(screenshotFolder, backBufferPixels(), size[0], size[1], path,
                              error)) {
        printLine(path);
    } else {
        std::fprintf(stderr, "kelvo: screenshot not saved: %s\n", error.c_str());
    }
}

void Viewer::printCamera() {
    printLine(cameraOption(observer));
}

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
