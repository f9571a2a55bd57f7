#include "kelvo/fast/FastTracer.h"

#include <cstddef>
#include <memory>

#include "kelvo/fast/FastScratch.h"
#include "kelvo/fast/FastShading.h"
#include "kelvo/fast/PacketWalk.h"
#include "kelvo/view/Jitter.h"
#include "kelvo/view/Pixel.h"
#include "kelvo/world/World.h"

// The tracer itself: its making, the rows (in packets, FastPrimary.cpp and
// FastWaves.cpp, or ray by ray), and the per-ray path.

namespace kelvo {

using FastTracing::glowOnly;
using FastTracing::packChannels;
using FastTracing::nearestHitOf;
using FastTracing::predictionsOf;
using FastTracing::ScratchData;

FastTracer::Scratch::Scratch() : data_(std::make_unique<ScratchData>()) {}

void FastTracer::prepare(Scratch& scratch) const {
    ScratchData& data = *scratch.data_;
    if (walk_.usable()) {
        FastTracing::predictionsOf(walk_, data);
        FastTracing::mailboxOf(walk_, data);
    }
    // A chunk's primaries, then per wave its mirrored rays and a shadow ray
    // per light for each.
    const std::size_t most = static_cast<std::size_t>(FastTracing::ROWS * FastTracing::CHUNK);
    const std::size_t rays = most * (1 + lights_.size());
    data.rays.reserve(rays);
    data.hits.reserve(rays);
    data.hitPixels.reserve(most);
    data.gathered.reserve(most);
    data.gatheredHits.reserve(rays);
    data.shadowTargets.reserve(most * lights_.size());
    data.shadowQueries.resize(lights_.size());
    for (FastTracing::ShadowQueries& queries : data.shadowQueries) {
        queries.clear(most);
    }
    data.waves.resize(std::max<std::size_t>(data.waves.size(), TRACE_DEPTH + 1));
    data.lightStates.resize(std::max<std::size_t>(data.lightStates.size(), TRACE_DEPTH + 1));
    for (std::vector<FastTracing::PathEntry>& wave : data.waves) {
        wave.reserve(most);
    }
    for (std::vector<signed char>& states : data.lightStates) {
        states.reserve(most * lights_.size());
    }
}

FastTracer::Scratch::~Scratch() = default;

FastTracer::FastTracer(const World& world)
    : world_(world), walk_(world), transmission_(world.transmission) {
    for (const vell::ListNode* n = world.lights; n != nullptr; n = n->next) {
        const PointLight& light = *static_cast<const PointLight*>(n->item);
        lights_.push_back({light.position, light.colour});
        if (walk_.usable()) {
            blockers_.emplace_back(walk_, light.position);
        }
    }
    if (!walk_.usable() && world.tree.root != nullptr) {
        // Depth first, low child first: the flattened tree's order.
        std::vector<const STNode*> pending{world.tree.root};
        while (!pending.empty()) {
            const STNode* node = pending.back();
            pending.pop_back();
            if (node->isLeaf()) {
                literalLeafIndex_.emplace(node, static_cast<int>(literalLeafIndex_.size()));
            } else {
                pending.push_back(node->children[1]);
                pending.push_back(node->children[0]);
            }
        }
    }
}

FastTracer::~FastTracer() = default;

const char* FastTracer::instructionSet() {
#if defined(KELVO_PACKETS)
    return PacketWalk::instructionSet();
#else
    return "scalar";
#endif
}

std::uint32_t FastTracer::packColour(const vell::Colour& colour) { return packChannels(colour); }

void FastTracer::traceRows(const Observer& observer, double pixelWidth, double pixelHeight,
                           std::uint32_t* pixels, int width, int firstRow, int endRow,
                           std::uint32_t& state, Scratch& scratch, RayCounts* counts) const {
#if defined(KELVO_PACKETS)
    if (walk_.usable()) {
        tracePackets(observer, pixelWidth, pixelHeight, pixels, nullptr, width, firstRow, endRow,
                     state, *scratch.data_, counts);
        return;
    }
#endif
    traceRowsOneByOne(observer, pixelWidth, pixelHeight, pixels, width, firstRow, endRow, state,
                      scratch, counts);
}

void FastTracer::traceColours(const Observer& observer, double pixelWidth, double pixelHeight,
                              vell::Colour* colours, int width, int firstRow, int endRow,
                              std::uint32_t& state, Scratch& scratch, RayCounts* counts) const {
#if defined(KELVO_PACKETS)
    if (walk_.usable()) {
        tracePackets(observer, pixelWidth, pixelHeight, nullptr, colours, width, firstRow, endRow,
                     state, *scratch.data_, counts);
        return;
    }
#endif
    for (int y = firstRow; y < endRow; ++y) {
        for (int x = 0; x < width; ++x) {
            const int r1 = nextJitter(state);
            const double u = (x + r1 * JITTER_SCALE) * pixelWidth;
            const int r2 = nextJitter(state);
            const double v = (y + r2 * JITTER_SCALE) * pixelHeight;
            const double point[2] = {u, v};
            Ray ray;
            observer.rayThrough(point, ray);
            if (counts != nullptr && walk_.usable()) {
                ++counts->primary;
            }
            trace(ray, *colours++, TRACE_DEPTH, scratch, counts);
        }
    }
}

void FastTracer::traceRowsOneByOne(const Observer& observer, double pixelWidth,
                                   double pixelHeight, std::uint32_t* pixels, int width,
                                   int firstRow, int endRow, std::uint32_t& state,
                                   Scratch& scratch, RayCounts* counts) const {
    for (int y = firstRow; y < endRow; ++y) {
        for (int x = 0; x < width; ++x) {
            // The same expressions as the view's loop: x + offset is a float sum.
            const int r1 = nextJitter(state);
            const double u = (x + r1 * JITTER_SCALE) * pixelWidth;
            const int r2 = nextJitter(state);
            const double v = (y + r2 * JITTER_SCALE) * pixelHeight;
            const double point[2] = {u, v};
            Ray ray;
            observer.rayThrough(point, ray);
            if (counts != nullptr && walk_.flattened()) {
                ++counts->primary;
            }
            vell::Colour colour;
            trace(ray, colour, TRACE_DEPTH, scratch, counts);
            *pixels++ = packColour(colour);
        }
    }
}

FastWalk::Hit FastTracer::literalHit(const Ray& ray) const {
    FastWalk::Hit hit;
    if (world_.tree.root == nullptr) {
        hit.t = NO_HIT_DISTANCE;
        return hit;  // never built: no leaf to cross
    }
    STNodeIterator walker(world_.tree.root);
    walker.locate(ray.origin);
    const Obstacle* obstacle = World::nearestHit(ray, hit.t, walker, &hit.leaves);
    // Only whether there was a hit is kept: the literal walk's obstacles have
    // no flattened index.
    hit.obstacle = obstacle != nullptr ? 0 : -1;
    hit.leaf = literalLeafIndex_.at(walker.current);
    return hit;
}

double FastTracer::trace(const Ray& ray, vell::Colour& out, int depth, Scratch& handle,
                         RayCounts* counts) const {
    if (!walk_.flattened()) {
        return world_.trace(ray, out, depth);
    }
    if (depth == 0) {
        out = vell::black;
        return NO_HIT_DISTANCE;
    }
    // Neighbouring pixels mostly start in the same leaf.
    ScratchData& scratch = *handle.data_;
    predictionsOf(walk_, scratch);
    const int leaf = scratch.originLeaf >= 0 ? walk_.locateNear(scratch.originLeaf, ray.origin)
                                             : walk_.locate(ray.origin);
    scratch.originLeaf = leaf;
    return shade(ray, leaf, out, depth, scratch, counts);
}

double FastTracer::shade(const Ray& ray, int leaf, vell::Colour& out, int depth,
                         ScratchData& scratch, RayCounts* counts) const {
    const FastWalk::Hit hit = nearestHitOf(walk_, ray, leaf, scratch);
    return shadeHit(ray, hit, out, depth, scratch, counts);
}

double FastTracer::shadeHit(const Ray& ray, const FastWalk::Hit& hit, vell::Colour& out,
                            int depth, ScratchData& scratch, RayCounts* counts) const {
    const double glow = hit.leaves * world_.stepGlow;
    if (hit.obstacle < 0) {
        glowOnly(glow, out);
        return NO_HIT_DISTANCE;
    }

    const double t = hit.t;
    const Surface& s = *walk_.surface(hit.obstacle);
    const Vec3& o = ray.origin;
    const Vec3& d = ray.direction;
    const Vec3 p{o.x + t * d.x, o.y + t * d.y, o.z + t * d.z};
    const FastWalk::Sphere& sphere = walk_.sphere(hit.obstacle);
    const Vec3 n{(p.x - sphere.centre[0]) * sphere.inverseRadius,
                 (p.y - sphere.centre[1]) * sphere.inverseRadius,
                 (p.z - sphere.centre[2]) * sphere.inverseRadius};

    vell::Colour m = vell::black;
    // A budget of 0 traces nothing: black, no walk.
    if (s.reflects() && depth - 1 != 0) {
        const double k = d.dot(n) * -2.0;
        const Ray mirrored{p, {d.x + k * n.x, d.y + k * n.y, d.z + k * n.z}};
        if (counts != nullptr) {
            ++counts->reflected;
        }
        // p passed the closed containment test of the confirming leaf; the
        // descent from the root ends there unless p lies on a low face.
        shade(mirrored, walk_.locateNear(hit.leaf, p), m, depth - 1, scratch, counts);
    }
    // A light reaches p unless p faces away from it or a shadow ray finds an
    // obstacle between them.
    const auto reaches = [&](std::size_t j, const Vec3& l) {
        if (l.dot(n) <= 0.0) {
            return false;
        }
        if (counts != nullptr) {
            ++counts->shadow;
        }
        const LightBlockers::Answer answer = blockers_[j].blocked(p, l);
        if (answer != LightBlockers::ASK_THE_WALK) {
            return answer == LightBlockers::REACHES;
        }
        const FastWalk::Hit blocker =
            nearestHitOf(walk_, {p, l}, walk_.locateNear(hit.leaf, p), scratch);
        return !(blocker.obstacle >= 0 && blocker.t > 0.0 && blocker.t < 1.0);
    };
    FastTracing::shadeSurface(s, m, p, t, glow, lights_, transmission_, reaches, out);
    return t;
}

}  // namespace kelvo
