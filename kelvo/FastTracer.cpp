#include "kelvo/FastTracer.h"

#include <cmath>

#include "kelvo/PacketWalk.h"
#include "kelvo/RayTracer.h"
#include "kelvo/World.h"

namespace kelvo {

FastTracer::FastTracer(const World& world)
    : world_(world), walk_(world), transmission_(world.transmission) {
    for (const vell::ListNode* n = world.lights; n != nullptr; n = n->next) {
        const PointLight& light = *static_cast<const PointLight*>(n->item);
        lights_.push_back({light.position, light.colour});
    }
}

const char* FastTracer::instructionSet() {
#if defined(KELVO_PACKETS)
    return PacketWalk::instructionSet();
#else
    return "scalar";
#endif
}

FastWalk::Prediction* FastTracer::predictionsOf(Scratch& scratch) const {
    // Sized on first use by a worker, then kept: a table per frame would cost
    // page faults.
    if (scratch.predictions.size() != walk_.predictionSlots()) {
        scratch.predictions.assign(walk_.predictionSlots(), FastWalk::Prediction{});
        scratch.originLeaf = -1;
    }
    return scratch.predictions.data();
}

void FastTracer::traceRows(const Observer& observer, double pixelWidth, double pixelHeight,
                           std::uint32_t* pixels, int width, int firstRow, int endRow,
                           std::uint32_t& state, Scratch& scratch, RayCounts* counts) const {
#if defined(KELVO_PACKETS)
    if (walk_.usable()) {
        tracePackets(observer, pixelWidth, pixelHeight, pixels, width, firstRow, endRow, state,
                     scratch, counts);
        return;
    }
#endif
    traceRowsOneByOne(observer, pixelWidth, pixelHeight, pixels, width, firstRow, endRow, state,
                      scratch, counts);
}

void FastTracer::traceRowsOneByOne(const Observer& observer, double pixelWidth,
                                   double pixelHeight, std::uint32_t* pixels, int width,
                                   int firstRow, int endRow, std::uint32_t& state,
                                   Scratch& scratch, RayCounts* counts) const {
    for (int y = firstRow; y < endRow; ++y) {
        for (int x = 0; x < width; ++x) {
            // The same expressions as the view's loop: x + offset is a float sum.
            const int r1 = RayTracer::nextJitter(state);
            const double u = (x + r1 * JITTER_SCALE) * pixelWidth;
            const int r2 = RayTracer::nextJitter(state);
            const double v = (y + r2 * JITTER_SCALE) * pixelHeight;
            const double point[2] = {u, v};
            Ray ray;
            observer.rayThrough(point, ray);
            if (counts != nullptr && walk_.usable()) {
                ++counts->primary;
            }
            vell::Colour colour;
            trace(ray, colour, TRACE_DEPTH, scratch, counts);
            *pixels++ = RayTracer::packColour(colour);
        }
    }
}

double FastTracer::trace(const Ray& ray, vell::Colour& out, int depth, Scratch& scratch,
                         RayCounts* counts) const {
    if (!walk_.usable()) {
        return world_.trace(ray, out, depth);
    }
    if (depth == 0) {
        out = vell::black;
        return NO_HIT_DISTANCE;
    }
    // Neighbouring pixels mostly start in the same leaf.
    predictionsOf(scratch);
    const int leaf = scratch.originLeaf >= 0 ? walk_.locateNear(scratch.originLeaf, ray.origin)
                                             : walk_.locate(ray.origin);
    scratch.originLeaf = leaf;
    return shade(ray, leaf, out, depth, scratch, counts);
}

void FastTracer::tracePackets(const Observer& observer, double pixelWidth, double pixelHeight,
                              std::uint32_t* pixels, int width, int firstRow, int endRow,
                              std::uint32_t& state, Scratch& scratch, RayCounts* counts) const {
    // Chunks of a row: rays made in pixel order (the generator's order), walked
    // in packets, then shaded pixel by pixel.
    constexpr int CHUNK = 64;
    FastWalk::Prediction* predictions = predictionsOf(scratch);
    scratch.rays.resize(CHUNK);
    scratch.starts.resize(CHUNK);
    scratch.hits.resize(CHUNK);
    for (int y = firstRow; y < endRow; ++y) {
        for (int x0 = 0; x0 < width; x0 += CHUNK) {
            const int n = width - x0 < CHUNK ? width - x0 : CHUNK;
            for (int i = 0; i < n; ++i) {
                const int x = x0 + i;
                const int r1 = RayTracer::nextJitter(state);
                const double u = (x + r1 * JITTER_SCALE) * pixelWidth;
                const int r2 = RayTracer::nextJitter(state);
                const double v = (y + r2 * JITTER_SCALE) * pixelHeight;
                const double point[2] = {u, v};
                observer.rayThrough(point, scratch.rays[i]);
                const Vec3& origin = scratch.rays[i].origin;
                scratch.originLeaf = scratch.originLeaf >= 0
                                         ? walk_.locateNear(scratch.originLeaf, origin)
                                         : walk_.locate(origin);
                scratch.starts[i] = scratch.originLeaf;
            }
            PacketWalk::nearestHits(walk_, scratch.rays.data(), scratch.starts.data(), n,
                                    scratch.hits.data(), predictions);
            for (int i = 0; i < n; ++i) {
                vell::Colour colour;
                shadeHit(scratch.rays[i], scratch.hits[i], colour, TRACE_DEPTH, scratch, counts);
                *pixels++ = RayTracer::packColour(colour);
            }
            if (counts != nullptr) {
                counts->primary += static_cast<std::uint64_t>(n);
            }
        }
    }
}

double FastTracer::shade(const Ray& ray, int leaf, vell::Colour& out, int depth,
                         Scratch& scratch, RayCounts* counts) const {
    const FastWalk::Hit hit = walk_.nearestHit(ray, leaf, predictionsOf(scratch));
    return shadeHit(ray, hit, out, depth, scratch, counts);
}

double FastTracer::shadeHit(const Ray& ray, const FastWalk::Hit& hit, vell::Colour& out,
                            int depth, Scratch& scratch, RayCounts* counts) const {
    FastWalk::Prediction* predictions = predictionsOf(scratch);
    const double glow = hit.leaves * STEP_GLOW;
    if (hit.obstacle < 0) {
        out = vell::black;
        if (glow != 0.0) {
            out.r = static_cast<float>(out.r + glow);
            out.g = static_cast<float>(out.g + glow);
            out.b = static_cast<float>(out.b + glow);
        }
        return NO_HIT_DISTANCE;
    }

    const double t = hit.t;
    const Surface& s = *walk_.surface(hit.obstacle);
    out = s.emission;
    const Vec3& o = ray.origin;
    const Vec3& d = ray.direction;
    const Vec3 p{o.x + t * d.x, o.y + t * d.y, o.z + t * d.z};
    const FastWalk::Sphere& sphere = walk_.sphere(hit.obstacle);
    const Vec3 n{(p.x - sphere.centre[0]) * sphere.inverseRadius,
                 (p.y - sphere.centre[1]) * sphere.inverseRadius,
                 (p.z - sphere.centre[2]) * sphere.inverseRadius};

    if (s.reflects()) {
        const double k = d.dot(n) * -2.0;
        const Ray mirrored{p, {d.x + k * n.x, d.y + k * n.y, d.z + k * n.z}};
        vell::Colour m = vell::black;
        // A budget of 0 traces nothing: black, no walk.
        if (depth - 1 != 0) {
            if (counts != nullptr) {
                ++counts->reflected;
            }
            // p passed the closed containment test of the confirming leaf; the
            // descent from the root ends there unless p lies on a low face.
            shade(mirrored, walk_.locateNear(hit.leaf, p), m, depth - 1, scratch, counts);
        }
        out.r = m.r * s.reflectivity + out.r;
        out.g = m.g * s.reflectivity + out.g;
        out.b = m.b * s.reflectivity + out.b;
    }

    if (s.isLitByLights()) {
        for (const Light& light : lights_) {
            // Not normalised: u = 1.0 is the light itself.
            const Vec3 l = light.position - p;
            if (l.dot(n) <= 0.0) {
                continue;
            }
            if (counts != nullptr) {
                ++counts->shadow;
            }
            const FastWalk::Hit blocker =
                walk_.nearestHit({p, l}, walk_.locateNear(hit.leaf, p), predictions);
            if (blocker.obstacle >= 0 && blocker.t > 0.0 && blocker.t < 1.0) {
                continue;
            }
            // pow(1, x) is 1 for every x, NaN included.
            const double a = transmission_ == 1.0f
                                 ? 1.0
                                 : std::pow(static_cast<double>(transmission_), l.length());
            out.r = static_cast<float>(s.diffuse.r * light.colour.r * a + out.r);
            out.g = static_cast<float>(s.diffuse.g * light.colour.g * a + out.g);
            out.b = static_cast<float>(s.diffuse.b * light.colour.b * a + out.b);
        }
    }

    const double f = transmission_ == 1.0f ? 1.0 : std::pow(static_cast<double>(transmission_), t);
    out.r = static_cast<float>(out.r * f);
    out.g = static_cast<float>(out.g * f);
    out.b = static_cast<float>(out.b * f);
    if (glow != 0.0) {
        out.r = static_cast<float>(out.r + glow);
        out.g = static_cast<float>(out.g + glow);
        out.b = static_cast<float>(out.b + glow);
    }
    return t;
}

}  // namespace kelvo
