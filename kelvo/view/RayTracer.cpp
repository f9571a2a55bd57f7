#include "kelvo/view/RayTracer.h"

#include <algorithm>
#include <cmath>

#include "velllib/vell_time.h"

namespace kelvo {

RayTracer::RayTracer(const World* w, const Observer& o, int mode)
    : Rasterizer(3.0), world(w), observer(o), referenceScreen(o.screen), fitMode(mode) {
    vell::updateClock();
    lastFrameTime = vell::clockSeconds;
}

void RayTracer::traceRows(std::uint32_t* pixels, int width, int firstRow, int endRow,
                          std::uint32_t& state, RayCounts* counts) const {
    for (int y = firstRow; y < endRow; ++y) {
        // A stop request abandons the frame here, so a stop waits for one row
        // at most, not for a whole picture.
        if (vell::stopRequested()) {
            return;
        }
        for (int x = 0; x < width; ++x) {
            // The horizontal offset always takes the first of the two steps.
            const int r1 = nextJitter(state);
            const double u = (x + r1 * JITTER_SCALE) * pixelWidth;
            const int r2 = nextJitter(state);
            const double v = (y + r2 * JITTER_SCALE) * pixelHeight;
            const double point[2] = {u, v};
            Ray ray;
            observer.rayThrough(point, ray);
            if (counts != nullptr) {
                ++counts->primary;
            }
            vell::Colour colour;
            world->trace(ray, colour, TRACE_DEPTH, counts);
            *pixels++ = packColour(colour);
        }
    }
}

double RayTracer::turnScale(double dt) {
    // A turn is a fixed step per move: at hundreds of frames per second a
    // held key would spin the view many times round in a second.
    if (!(dt > 0.0)) {
        return 0.0;
    }
    return std::min(1.0, dt * TURN_FRAME_RATE);
}

void RayTracer::traceColours(vell::Colour* colours, int width, int firstRow, int endRow,
                             std::uint32_t& state, RayCounts* counts) const {
    for (int y = firstRow; y < endRow; ++y) {
        if (vell::stopRequested()) {
            return;
        }
        for (int x = 0; x < width; ++x) {
            const int r1 = nextJitter(state);
            const double u = (x + r1 * JITTER_SCALE) * pixelWidth;
            const int r2 = nextJitter(state);
            const double v = (y + r2 * JITTER_SCALE) * pixelHeight;
            const double point[2] = {u, v};
            Ray ray;
            observer.rayThrough(point, ray);
            if (counts != nullptr) {
                ++counts->primary;
            }
            world->trace(ray, *colours++, TRACE_DEPTH, counts);
        }
    }
}

void RayTracer::tracePicture(std::uint32_t* pixels, int width, int height) {
    if (rows != nullptr) {
        rows->traceFrame(pixels, width, height, randomState, rayCounts);
    } else {
        traceRows(pixels, width, 0, height, randomState, rayCounts);
    }
}

void RayTracer::drawFrame() {
    vell::updateClock();
    const double now = vell::clockSeconds;

    // Each input is its plus key minus its minus key, the plus key read first.
    auto axis = [](int plus, int minus) {
        const int p = vell::keyDown(plus);
        const int m = vell::keyDown(minus);
        return static_cast<double>(p - m);
    };
    observer.thrust.x = axis('D', 'A');
    observer.thrust.y = axis(vell::KEY_SPACE, vell::KEY_SHIFT);
    observer.thrust.z = axis('W', 'S');
    const double turnFactor = turnScale(now - lastFrameTime);
    observer.turn.x = axis(vell::KEY_UP, vell::KEY_DOWN) * turnFactor;
    observer.turn.y = axis(vell::KEY_RIGHT, vell::KEY_LEFT) * turnFactor;
    observer.turn.z = axis('Q', 'E') * turnFactor;
    observer.move(static_cast<float>(now - lastFrameTime));
    lastFrameTime = now;

    if (std::uint32_t* pixels = backBufferPixels()) {
        const int* size = backBufferSize();
        tracePicture(pixels, size[0], size[1]);
    }
    if (vell::stopRequested()) {
        return;  // an abandoned frame is not shown
    }
    Rasterizer::drawFrame();
}

void RayTracer::onResize(const int size[2]) {
    // Sizes arrive as unsigned 16-bit fields.
    const double w = static_cast<double>(static_cast<std::uint32_t>(size[0]));
    const double h = static_cast<double>(static_cast<std::uint32_t>(size[1]));
    // An empty client area (minimised) traces nothing; the next real size
    // derives everything from the reference again.
    if (w == 0.0 || h == 0.0) {
        return;
    }
    Vec3 s = referenceScreen;
    if (fitMode != STRETCH) {
        const double l = (w * referenceScreen.y) / (h * referenceScreen.x);
        if ((l > 1.0) != (fitMode == FILL)) {
            s.x = referenceScreen.x * l;
        } else {
            s.y = referenceScreen.y / l;
        }
    }
    observer.setScreen(s);
    pixelWidth = 1.0 / w;
    pixelHeight = 1.0 / h;
}

void RayTracer::statusText(char* buffer, std::size_t size) {
    const int* client = backBufferSize();
    formatBounded(buffer, size, "%dn/%de/%.2fd\n%d*%d", world->nodeCount, world->elementCount,
                  static_cast<double>(world->averageDepth), client[0], client[1]);
}

}  // namespace kelvo
