#include "kelvo/app/appMain.h"

#include <algorithm>
#include <chrono>

#include "kelvo/app/kelvo.h"
#include "kelvo/fast/FastTracer.h"
#include "kelvo/fast/ParallelRows.h"
#include "kelvo/viewer/ViewRows.h"
#include "kelvo/viewer/Viewer.h"
#include "velllib/app.h"

namespace kelvo {

void appMain(const AppMainOptions& options) {
    vell::setFloatPrecision(0.0f);
    // World, light, surfaces, the spheres and the tree, with the pool
    // compacted after the spheres are in and again after the build.
    Scene scene(options.levels, options.build);
    scene.world.stepGlow = options.glow;
    Observer start = Scene::makeObserver();
    if (options.camera) {
        placeObserver(start, *options.camera);
    }
    Viewer view(&scene.world, start, RayTracer::EXTEND);
    view.drawOverlay = options.overlay;
    view.viewMode = options.view;
    view.setRefine(options.refine);
    // Frames go through the fast tracer, in whichever view is shown; the
    // literal loop gives the same pixels for the traced picture.
    const FastTracer tracer(scene.world);
    ParallelRows rows(options.threads, viewRows(view, tracer));
    view.rows = &rows;
    if (view.createWindow("vell") && options.fullscreen) {
        view.setFullscreen(true);
    }

    long long drawn = 0;
    // With a frame rate limit, the earliest time of the next frame.
    using Clock = std::chrono::steady_clock;
    const auto period = std::chrono::duration_cast<Clock::duration>(
        std::chrono::duration<double>(options.maxFramesPerSecond > 0.0
                                          ? 1.0 / options.maxFramesPerSecond
                                          : 0.0));
    Clock::time_point next = Clock::now();
    // The loop pumps first: a quit already waiting ends it before any frame.
    while (!vell::pumpMessages()) {
        if (options.maxFramesPerSecond > 0.0) {
            const Clock::time_point now = Clock::now();
            if (now < next) {
                // Messages still come at once; the frame waits for its time.
                const auto wait = std::chrono::ceil<std::chrono::milliseconds>(next - now);
                vell::currentPlatform()->waitForMessage(static_cast<int>(wait.count()));
                continue;
            }
            // After a slow frame the schedule starts again from now rather
            // than catching up with frames in a burst.
            next = std::max(next + period, now);
        }
        view.drawFrame();
        if (vell::stopRequested()) {
            continue;  // the frame was abandoned; the next pump closes the window
        }
        if (options.frames > 0 && ++drawn == options.frames) {
            if (options.finished) {
                options.finished(view);
            }
            // Closing the window posts the quit message, as a user's close does.
            view.destroyWindow();
        }
    }
}

}  // namespace kelvo
