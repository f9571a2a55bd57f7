#pragma once

#include <bitset>
#include <string>
#include <vector>

#include "kelvo/view/FrameSums.h"
#include "kelvo/view/RayTracer.h"

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
//
// Esc closes the window, F11 toggles full screen, F12 saves the picture on
// screen, C prints the camera as a --camera option, R toggles refinement, and
// dragging with the left button turns the camera. Keys act when pressed, not
// again while held.
class Viewer : public RayTracer {
public:
    // The turn per pixel of a drag, in radians: 200 pixels make about 57
    // degrees, so a drag across a small window turns less than a right angle.
    static constexpr double DRAG_TURN = 0.005;

    Viewer(const World* world, const Observer& observer, int fitMode);

    void drawFrame() override;
    void onResize(const int size[2]) override;
    void onKey(int virtualKey, int pressed) override;
    // A drag turns by the pointer's own motion, not by its place in the
    // window, so full screen or a window moved during a drag adds nothing.
    void onMouseStep(const int step[2]) override;
    void onMouseButton(int button, int pressed, int doubleClick) override;
    void onFocus(int focused) override;

    // Saves the picture on screen as a PNG in screenshotFolder and prints its
    // path; a failure is reported on stderr and changes nothing else.
    void saveScreenshot();
    // Prints the observer as a --camera option on stdout.
    void printCamera();

    // The views of the tree: F1 the traced picture, F2 the leaves crossed,
    // F3 the confirming leaf. The views other than the traced picture are
    // drawn by the kernel of viewRows, so `rows` must be made with it; the
    // view's own loop (no rows) draws only the traced picture.
    ViewMode viewMode = ViewMode::SHADED;
    // The status text, with a line naming the view of the tree when one shows.
    void statusText(char* buffer, std::size_t size) override;
    // The leaves view's colour bar, at the top right: one step per count from
    // 0 to LEAVES_SCALE_MAX, its ends labelled. Narrower windows get narrower
    // steps; where even 2 pixels a step would reach into the status text, or
    // where the window is too short for the bar and its labels, the bar is
    // left out (the text still gives the scale).
    void drawLegend() override;
    // The width of the bar's steps in a window width pixels wide; 0: no bar.
    static int legendStep(int width);

    // Legend bar geometry, in pixels.
    static constexpr int LEGEND_STEP = 5;
    static constexpr int LEGEND_HEIGHT = 10;
    static constexpr int LEGEND_MARGIN = 6;
    // The labels' line of text below the bar.
    static constexpr int LEGEND_LABEL_HEIGHT = 13;
    // Kept free for the status text at the left: its widest line has 15
    // characters of about 7 pixels.
    static constexpr int LEGEND_TEXT_ROOM = 112;

    // Refinement: while it is on and the camera rests, every frame is added
    // into sums per pixel and the picture shown is their mean, which
    // converges to an anti-aliased picture. Anything that changes the picture
    // (a move, a turn, a resize, a view switch, the toggle) starts it again.
    bool refine = false;
    void setRefine(bool on);
    // Below this speed, in units per second, a camera with no flying key held
    // and no drag rests: its velocity halves every second and never reaches
    // 0. What it still drifts, 1.44 times this, is well under a pixel of a
    // window's width at the start's distance.
    static constexpr double REST_SPEED = 0.01;
    // The frames a refined picture takes at most: the float sums stay well
    // under a level of the packed colour from exact up to here. Beyond it the
    // picture is finished: no more frames are traced, and the frame loop
    // waits for messages between frames.
    static constexpr int MAX_SAMPLES = 4096;
    // No flying key held (as this frame's inputs say), no drag, and a speed
    // below REST_SPEED.
    bool atRest() const;
    // Frames in the picture shown: 1 for a single frame.
    int samples() const { return sums_.samples() > 0 ? sums_.samples() : 1; }

    // Where screenshots go; empty: the current folder.
    std::string screenshotFolder;
    // Whether the left button is held down in the window.
    bool dragging = false;

protected:
    void tracePicture(std::uint32_t* pixels, int width, int height) override;

private:
    // Takes the view keys (F1 to F3); false for any other key.
    bool selectView(int virtualKey);
    void endDrag();

    std::bitset<256> keysHeld_;
    // The back buffer holds no finished frame yet (after a resize), so a
    // screenshot waits for the next one.
    bool pictureStale_ = true;
    bool screenshotPending_ = false;
    FrameSums sums_;
    // The colours of a refined frame of the view's own loop (no rows).
    std::vector<vell::Colour> colours_;
};

}  // namespace kelvo
