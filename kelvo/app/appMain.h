#pragma once

#include <functional>
#include <optional>

#include "kelvo/app/kelvo.h"
#include "kelvo/viewer/CameraText.h"

#include "kelvo/viewer/Viewer.h"

namespace kelvo {

struct AppMainOptions {
    // Frames to draw before the window is closed; 0 runs until it is closed.
    long long frames = 0;
    // Whether the status overlay is drawn into the picture.
    bool overlay = true;
    // Threads that trace each frame's rows.
    int threads = 1;
    // What the frames show at start (the view keys change it).
    ViewMode view = ViewMode::SHADED;
    // Where the observer starts, at rest; the scene's own place when empty.
    std::optional<CameraPlace> camera;
    // The sphereflake's levels below the root, and how its tree is built.
    int levels = SCENE_LEVELS;
    TreeBuild build = TreeBuild::AUTOMATIC;
    // Grey added per leaf a ray crosses before its hit is confirmed.
    double glow = STEP_GLOW;
    // Whether the window starts full screen.
    bool fullscreen = false;
    // Whether refinement starts on (R toggles it): a resting camera's frames
    // are averaged. A limited run of a resting camera (headless) then ends
    // with the mean of its frames.
    bool refine = false;
    // At most this many frames a second, waiting for messages between them;
    // 0: no limit.
    double maxFramesPerSecond = 0.0;
    // Called after the last frame of a limited run, while its window and back
    // buffer still exist.
    std::function<void(RayTracer&)> finished;
};

// Builds the scene, opens the view's window and runs the frame loop until the
// quit message arrives. The window system is whatever platform is installed.
void appMain(const AppMainOptions& options);

}  // namespace kelvo
