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
    sums_.restart();
}

void Viewer::setRefine(bool on) {
    refine = on;
    sums_.restart();
}

bool Viewer::atRest() const {
    const Vec3 none{0.0, 0.0, 0.0};
    return observer.thrust == none && observer.turn == none && !dragging &&
           observer.velocity.length() < REST_SPEED;
}

void Viewer::tracePicture(std::uint32_t* pixels, int width, int height) {
    if (!refine || !atRest()) {
        sums_.restart();
        RayTracer::tracePicture(pixels, width, height);
        return;
    }
    if (sums_.samples() >= MAX_SAMPLES && sums_.width() == width && sums_.height() == height) {
        sums_.showMean(pixels);
        // The picture is finished and stays so until something happens: wait
        // for that rather than spin through the same frame.
        if (vell::Platform* platform = vell::currentPlatform()) {
            platform->waitForMessage(vell::IDLE_WAIT_MS);
        }
        return;
    }
    if (rows != nullptr) {
        rows->refineFrame(pixels, width, height, randomState, rayCounts, sums_);
    } else {
        colours_.resize(static_cast<std::size_t>(width) * static_cast<std::size_t>(height));
        traceColours(colours_.data(), width, 0, height, randomState, rayCounts);
        sums_.beginFrame(width, height);
        sums_.addRows(colours_.data(), 0, height, pixels);
    }
    if (vell::stopRequested()) {
        sums_.restart();  // rows of the frame were left out
    }
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
        case 'R':
            setRefine(!refine);
            break;
        default:
            break;
    }
}

void Viewer::onMouseStep(const int step[2]) {
    if (dragging && (step[0] != 0 || step[1] != 0)) {
        // Added to whatever the keys turned meanwhile. Right turns right, as
        // the right arrow does; down looks down, as a growing pitch does.
        observer.angles.y += DRAG_TURN * step[0];
        observer.angles.x += DRAG_TURN * step[1];
        observer.updateBasis();
        observer.updateMapping();
        sums_.restart();
    }
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
    if (virtualKey >= vell::KEY_F1 && virtualKey <= vell::KEY_F1 + 2) {
        sums_.restart();
    }
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
    if (size == 0) {
        return;
    }
    // With none of the extras the traced picture's overlay is left as it
    // always was.
    if (viewMode == ViewMode::LEAVES) {
        const std::size_t used = std::strlen(buffer);
        formatBounded(buffer + used, size - used, "\nleaves 0..%d+", LEAVES_SCALE_MAX);
    } else if (viewMode == ViewMode::CELLS) {
        const std::size_t used = std::strlen(buffer);
        formatBounded(buffer + used, size - used, "\nleaf cells");
    }
    if (refine) {
        const std::size_t used = std::strlen(buffer);
        formatBounded(buffer + used, size - used, "\n%d sample%s", samples(),
                      samples() == 1 ? "" : "s");
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
    // A window too short for the bar and its labels would show a cut bar.
    if (viewMode != ViewMode::LEAVES || pixels == nullptr || step == 0 ||
        height < LEGEND_MARGIN + LEGEND_HEIGHT + 2 + LEGEND_LABEL_HEIGHT) {
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
