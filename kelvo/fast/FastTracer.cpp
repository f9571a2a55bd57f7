#include "kelvo/fast/FastTracer.h"

#include <algorithm>
#include <cfenv>

#include "kelvo/fast/FastShading.h"
#include "kelvo/fast/PacketWalk.h"
#include "kelvo/view/Jitter.h"
#include "kelvo/view/Pixel.h"
#include "kelvo/world/World.h"

namespace kelvo {

using FastTracing::glowOnly;
using FastTracing::packChannels;

FastTracer::FastTracer(const World& world)
    : world_(world), walk_(world), transmission_(world.transmission) {
    for (const vell::ListNode* n = world.lights; n != nullptr; n = n->next) {
        const PointLight& light = *static_cast<const PointLight*>(n->item);
        lights_.push_back({light.position, light.colour});
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
            vell::Colour colour;
            trace(ray, colour, TRACE_DEPTH, scratch, counts);
            *pixels++ = packColour(colour);
        }
    }
}

void FastTracer::primaryRays(const Observer& observer, double pixelWidth, double pixelHeight,
                              int x0, int y, int count, std::uint32_t& state, RayBatch& rays,
                              std::size_t at) const {
    // The generator's states for the chunk, each straight from the chunk's
    // start (the map raised to the k-th power, tabled once): no pixel waits
    // for the one before it.
    // Pixel i's two states are steps 2i + 1 and 2i + 2; the table also holds
    // step 2 * CHUNK, for the state after the chunk, and is padded to whole
    // packets.
    struct Steps {
        std::uint32_t multiplier[2][CHUNK + PacketWalk::MAX_WIDTH];
        std::uint32_t increment[2][CHUNK + PacketWalk::MAX_WIDTH];
    };
    static constexpr Steps steps = [] {
        Steps t{};
        std::uint32_t multiplier = 1u, increment = 0u;
        for (int k = 1; k <= 2 * CHUNK; ++k) {
            multiplier *= JITTER_MULTIPLIER;
            increment = increment * JITTER_MULTIPLIER + JITTER_INCREMENT;
            t.multiplier[(k - 1) % 2][(k - 1) / 2] = multiplier;
            t.increment[(k - 1) % 2][(k - 1) / 2] = increment;
        }
        return t;
    }();
    const std::uint32_t start = state;
    // The same expressions as the view's loop: x + offset is a float sum.
    double u[CHUNK + PacketWalk::MAX_WIDTH], v[CHUNK + PacketWalk::MAX_WIDTH];
#if defined(KELVO_PACKETS)
    const std::uint32_t* multiplier[2] = {steps.multiplier[0], steps.multiplier[1]};
    const std::uint32_t* increment[2] = {steps.increment[0], steps.increment[1]};
    PacketWalk::jitteredPoints(start, multiplier, increment, x0, y, count, JITTER_SCALE,
                               pixelWidth, pixelHeight, u, v);
#else
    for (int i = 0; i < count; ++i) {
        const int x = x0 + i;
        const std::uint32_t s1 = steps.multiplier[0][i] * start + steps.increment[0][i];
        const std::uint32_t s2 = steps.multiplier[1][i] * start + steps.increment[1][i];
        const int r1 = static_cast<int>((s1 >> 16) & 0x7fffu);
        u[i] = (x + r1 * JITTER_SCALE) * pixelWidth;
        const int r2 = static_cast<int>((s2 >> 16) & 0x7fffu);
        v[i] = (y + r2 * JITTER_SCALE) * pixelHeight;
    }
#endif
    if (count > 0) {  // an empty chunk leaves the generator where it was
        state = steps.multiplier[1][count - 1] * start + steps.increment[1][count - 1];
    }
    rays.reserve(at + CHUNK);
#if defined(KELVO_PACKETS)
    double* origin[3] = {rays.component[0].data() + at, rays.component[1].data() + at,
                         rays.component[2].data() + at};
    double* direction[3] = {rays.component[3].data() + at, rays.component[4].data() + at,
                            rays.component[5].data() + at};
    PacketWalk::raysThrough(observer, u, v, count, origin, direction);
#else
    for (int i = 0; i < count; ++i) {
        const double point[2] = {u[i], v[i]};
        Ray ray;
        observer.rayThrough(point, ray);
        rays.set(at + static_cast<std::size_t>(i), ray.origin, ray.direction, -1);
    }
#endif
}

void FastTracer::primaryHits(const Observer& observer, double pixelWidth, double pixelHeight,
                             FastWalk::Hit* hits, int width, int firstRow, int endRow,
                             std::uint32_t& state, Scratch& scratch) const {
    // Chunks of a row as tracePackets makes them, so that the walk runs in
    // packets here too.
    FastWalk::Prediction* predictions = walk_.usable() ? predictionsOf(scratch) : nullptr;
    scratch.hits.resize(CHUNK);
    for (int y = firstRow; y < endRow; ++y) {
        for (int x0 = 0; x0 < width; x0 += CHUNK) {
            const int n = width - x0 < CHUNK ? width - x0 : CHUNK;
            primaryRays(observer, pixelWidth, pixelHeight, x0, y, n, state, scratch.rays, 0);
            if (walk_.usable()) {
                locateOrigins(scratch, n);
                walkAll(scratch, 0, n, 1, predictions);
                std::copy(scratch.hits.begin(), scratch.hits.begin() + n, hits);
            } else {
                for (int i = 0; i < n; ++i) {
                    hits[i] = literalHit(scratch.rays.ray(static_cast<std::size_t>(i)));
                }
            }
            hits += n;
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
    // Chunks of up to ROWS rows side by side: rays made in pixel order (the
    // generator's order), walked in packets, then shaded pixel by pixel. Rows
    // are walked two by two in tiles, whose rays stay closer together than a
    // row's: fewer packets split over several leaves.
    FastWalk::Prediction* predictions = predictionsOf(scratch);
    if (scratch.hits.size() < static_cast<std::size_t>(ROWS * CHUNK)) {
        scratch.hits.resize(ROWS * CHUNK);
    }
    const std::uint64_t rowSteps = 2u * static_cast<std::uint64_t>(width);
    for (int y = firstRow; y < endRow;) {
        const int rows = std::min(ROWS, endRow - y);
        // Each row's generator runs on from where the row before ends.
        std::uint32_t rowState[ROWS];
        rowState[0] = state;
        for (int r = 1; r < rows; ++r) {
            rowState[r] = jitterJump(rowState[r - 1], rowSteps);
        }
        for (int x0 = 0; x0 < width; x0 += CHUNK) {
            const int n = width - x0 < CHUNK ? width - x0 : CHUNK;
            const std::size_t row = static_cast<std::size_t>(n);
            for (int r = 0; r < rows; ++r) {
                primaryRays(observer, pixelWidth, pixelHeight, x0, y + r, n, rowState[r],
                            scratch.rays, r * row);
            }
            locateOrigins(scratch, rows * n);
            for (int r = 0; r < rows; r += 2) {
                walkAll(scratch, r * row, n, std::min(2, rows - r), predictions);
            }
            traceWaves(scratch, rows * n, rows, scratch.pixels, counts);
            for (int r = 0; r < rows; ++r) {
                std::copy(scratch.pixels + r * n, scratch.pixels + (r + 1) * n,
                          pixels + static_cast<std::ptrdiff_t>(r) * width + x0);
            }
            if (counts != nullptr) {
                counts->primary += static_cast<std::uint64_t>(rows * n);
            }
        }
        state = rowState[rows - 1];
        pixels += static_cast<std::ptrdiff_t>(rows) * width;
        y += rows;
    }
}

void FastTracer::locateOrigins(Scratch& scratch, int count) const {
    RayBatch& rays = scratch.rays;
#if defined(KELVO_PACKETS)
    const double* origin[3] = {rays.component[0].data(), rays.component[1].data(),
                               rays.component[2].data()};
    PacketWalk::locateAll(walk_, origin, count, scratch.originLeaf, rays.starts.data());
#else
    for (int i = 0; i < count; ++i) {
        const Vec3 origin{rays.component[0][i], rays.component[1][i], rays.component[2][i]};
        scratch.originLeaf = scratch.originLeaf >= 0 ? walk_.locateNear(scratch.originLeaf, origin)
                                                     : walk_.locate(origin);
        rays.starts[i] = scratch.originLeaf;
    }
#endif
}

void FastTracer::walkAll(Scratch& scratch, std::size_t first, int count, int rows,
                         FastWalk::Prediction* predictions) const {
    const RayBatch& rays = scratch.rays;
#if defined(KELVO_PACKETS)
    const PacketWalk::RayLanes lanes{
        {rays.component[0].data() + first, rays.component[1].data() + first,
         rays.component[2].data() + first},
        {rays.component[3].data() + first, rays.component[4].data() + first,
         rays.component[5].data() + first}};
    if (rows == 2) {
        PacketWalk::nearestHitsInRows(walk_, lanes, rays.starts.data() + first, count,
                                      scratch.hits.data() + first, predictions);
    } else {
        PacketWalk::nearestHits(walk_, lanes, rays.starts.data() + first, count,
                                scratch.hits.data() + first, predictions);
    }
#else
    for (int q = 0; q < rows * count; ++q) {
        const std::size_t i = first + static_cast<std::size_t>(q);
        scratch.hits[i] = walk_.nearestHit(rays.ray(i), rays.starts[i], predictions);
    }
#endif
}

void FastTracer::traceWaves(Scratch& scratch, int count, int rows, std::uint32_t* pixels,
                            RayCounts* counts) const {
    FastWalk::Prediction* predictions = predictionsOf(scratch);
    auto& waves = scratch.waves;
    auto& states = scratch.lightStates;
    RayBatch& rays = scratch.rays;
    std::vector<FastWalk::Hit>& hits = scratch.hits;
    if (waves.size() < static_cast<std::size_t>(TRACE_DEPTH) + 1) {
        waves.resize(TRACE_DEPTH + 1);
        states.resize(TRACE_DEPTH + 1);
    }
    // Most primary rays hit nothing: their colour is known at once, and
    // depends only on the leaves they crossed. The others are gathered at the
    // front of the batch, where each later wave's rays stand too: column by
    // column, each column top to bottom, so that neighbours in the batch are
    // neighbours in the picture.
    scratch.hitPixels.clear();
    const std::uint32_t* glowPixels = glowTable(scratch);
    const int columns = count / rows;
    for (int x = 0; x < columns; ++x) {
        for (int row = 0; row < rows; ++row) {
            const int i = row * columns + x;
            const FastWalk::Hit& hit = hits[static_cast<std::size_t>(i)];
            if (hit.obstacle >= 0) {
                scratch.hitPixels.push_back(i);
            } else if (static_cast<unsigned>(hit.leaves) < static_cast<unsigned>(GLOW_PIXELS)) {
                pixels[i] = glowPixels[hit.leaves];
            } else {
                vell::Colour colour;
                glowOnly(hit.leaves * STEP_GLOW, colour);
                pixels[i] = packChannels(colour);
            }
        }
    }
    std::size_t size = scratch.hitPixels.size();
    if (size != 0) {
        RayBatch& gathered = scratch.gathered;
        gathered.reserve(size);
        std::vector<FastWalk::Hit>& gatheredHits = scratch.gatheredHits;
        if (gatheredHits.size() < hits.size()) {
            gatheredHits.resize(hits.size());
        }
        for (std::size_t k = 0; k < size; ++k) {
            const std::size_t i = static_cast<std::size_t>(scratch.hitPixels[k]);
            for (int c = 0; c < 6; ++c) {
                gathered.component[c][k] = rays.component[c][i];
            }
            gatheredHits[k] = hits[i];
        }
        std::swap(rays, gathered);
        std::swap(hits, gatheredHits);
    }
    if (size == 0) {
        return;
    }

    // Outwards: each wave's entries from its rays and hits, and the rays they
    // ask for: the next wave's mirrored rays and this wave's shadow rays, all
    // walked together in packets.
    int last = 0;
    // The entries of each wave; its vector only ever grows, so that no
    // entry is cleared before it is written.
    std::size_t entries[TRACE_DEPTH + 1] = {};
    for (int g = 0; size != 0; ++g) {
        std::vector<PathEntry>& wave = waves[static_cast<std::size_t>(g)];
        std::vector<signed char>& state = states[static_cast<std::size_t>(g)];
        const int depth = TRACE_DEPTH - g;
        if (wave.size() < size) {
            wave.resize(size);
        }
        entries[g] = size;
        state.clear();
        // Mirrored rays from the batch's start, shadow rays from past the
        // most mirrored rays there can be; the shadow rays are then moved down
        // to follow the mirrored ones. Mirrored rays first, then shadow rays:
        // neighbours in a packet then mostly run the same way through the same
        // leaves. The order of the queries changes no answer. Entry i's
        // mirrored ray goes to an index no greater than i, once its own ray
        // has been read.
        const std::size_t shadowBase = size;
        rays.reserve(size * (1 + lights_.size()));
        scratch.shadowTargets.resize(size * lights_.size());
        std::size_t mirrored = 0;
        std::size_t shadows = 0;
        for (std::size_t i = 0; i < size; ++i) {
            const FastWalk::Hit& hit = hits[i];
            PathEntry& e = wave[i];
            e.obstacle = hit.obstacle;
            e.leaves = hit.leaves;
            e.t = hit.t;
            e.child = -1;
            e.firstLight = static_cast<int>(state.size());
            if (hit.obstacle < 0) {
                continue;
            }
            const double t = hit.t;
            const Vec3 o{rays.component[0][i], rays.component[1][i], rays.component[2][i]};
            const Vec3 d{rays.component[3][i], rays.component[4][i], rays.component[5][i]};
            const Vec3 p{o.x + t * d.x, o.y + t * d.y, o.z + t * d.z};
            e.point = p;
            const FastWalk::Sphere& sphere = walk_.sphere(hit.obstacle);
            const Vec3 n{(p.x - sphere.centre[0]) * sphere.inverseRadius,
                         (p.y - sphere.centre[1]) * sphere.inverseRadius,
                         (p.z - sphere.centre[2]) * sphere.inverseRadius};
            const Surface& s = *walk_.surface(hit.obstacle);
            // p passed the closed containment test of the confirming leaf; the
            // descent from the root ends there unless p lies on a low face.
            const int start = walk_.locateNear(hit.leaf, p);
            // A budget of 0 traces nothing: black, no walk.
            if (s.reflects() && depth - 1 != 0) {
                const double k = d.dot(n) * -2.0;
                e.child = static_cast<int>(mirrored);
                rays.set(mirrored, p, {d.x + k * n.x, d.y + k * n.y, d.z + k * n.z}, start);
                ++mirrored;
            }
            if (s.isLitByLights()) {
                for (const FastTracing::Light& light : lights_) {
                    // Not normalised: u = 1.0 is the light itself.
                    const Vec3 l = light.position - p;
                    if (l.dot(n) <= 0.0) {
                        state.push_back(LIGHT_AWAY);
                        continue;
                    }
                    scratch.shadowTargets[shadows] = static_cast<int>(state.size());
                    state.push_back(LIGHT_PENDING);
                    rays.set(shadowBase + shadows, p, l, start);
                    ++shadows;
                }
            }
        }
        last = g;
        rays.move(shadowBase, mirrored, shadows);
        const std::size_t batch = mirrored + shadows;
        if (batch == 0) {
            break;
        }
        if (hits.size() < batch) {
            hits.resize(batch);
        }
        walkAll(scratch, 0, static_cast<int>(batch), 1, predictions);
        for (std::size_t j = 0; j < shadows; ++j) {
            const FastWalk::Hit& hit = hits[mirrored + j];
            const bool blocked = hit.obstacle >= 0 && hit.t > 0.0 && hit.t < 1.0;
            state[static_cast<std::size_t>(scratch.shadowTargets[j])] =
                blocked ? LIGHT_BLOCKED : LIGHT_REACHES;
        }
        if (counts != nullptr) {
            counts->reflected += mirrored;
            counts->shadow += shadows;
        }
        size = mirrored;
    }

    // Inwards: each surface's colour from its mirrored ray's, deepest first.
    for (int g = last; g >= 0; --g) {
        std::vector<PathEntry>& wave = waves[static_cast<std::size_t>(g)];
        const std::vector<signed char>& state = states[static_cast<std::size_t>(g)];
        for (std::size_t i = 0; i < entries[g]; ++i) {
            PathEntry& e = wave[i];
            const vell::Colour m =
                e.child >= 0 ? waves[static_cast<std::size_t>(g) + 1][static_cast<std::size_t>(e.child)].colour
                             : vell::black;
            compose(e, m, state.data() + e.firstLight, e.colour);
        }
    }
    const std::vector<PathEntry>& first = waves[0];
    for (std::size_t k = 0; k < scratch.hitPixels.size(); ++k) {
        pixels[scratch.hitPixels[k]] = packChannels(first[k].colour);
    }
}

const std::uint32_t* FastTracer::glowTable(Scratch& scratch) const {
    // Packing rounds in the current mode, which the caller may have changed
    // since the table was made.
    const int rounding = std::fegetround();
    if (scratch.glowRounding != rounding) {
        for (int leaves = 0; leaves < GLOW_PIXELS; ++leaves) {
            vell::Colour colour;
            glowOnly(leaves * STEP_GLOW, colour);
            scratch.glowPixels[leaves] = packChannels(colour);
        }
        scratch.glowRounding = rounding;
    }
    return scratch.glowPixels;
}

void FastTracer::compose(const PathEntry& e, const vell::Colour& m, const signed char* lights,
                         vell::Colour& out) const {
    const double glow = e.leaves * STEP_GLOW;
    if (e.obstacle < 0) {
        glowOnly(glow, out);
        return;
    }
    FastTracing::shadeSurface(
        *walk_.surface(e.obstacle), m, e.point, e.t, glow, lights_, transmission_,
        [lights](std::size_t j, const Vec3&) { return lights[j] == LIGHT_REACHES; }, out);
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
    const auto reaches = [&](std::size_t, const Vec3& l) {
        if (l.dot(n) <= 0.0) {
            return false;
        }
        if (counts != nullptr) {
            ++counts->shadow;
        }
        const FastWalk::Hit blocker =
            walk_.nearestHit({p, l}, walk_.locateNear(hit.leaf, p), predictions);
        return !(blocker.obstacle >= 0 && blocker.t > 0.0 && blocker.t < 1.0);
    };
    FastTracing::shadeSurface(s, m, p, t, glow, lights_, transmission_, reaches, out);
    return t;
}

}  // namespace kelvo
