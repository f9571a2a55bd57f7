#include "kelvo/fast/FastTracer.h"

#include <cfenv>
#include <cstddef>
#include <cstdint>
#include <utility>
#include <vector>

#include "kelvo/fast/FastScratch.h"
#include "kelvo/fast/FastShading.h"
#include "kelvo/view/Pixel.h"
#include "kelvo/world/World.h"

// The secondary rays of a chunk: wave by wave outwards, each wave's mirrored
// and shadow rays walked together in packets, then every surface's colour
// composed inwards, deepest first.

namespace kelvo {

using FastTracing::glowOnly;
using FastTracing::GLOW_PIXELS;
using FastTracing::LIGHT_AWAY;
using FastTracing::LIGHT_BLOCKED;
using FastTracing::LIGHT_PENDING;
using FastTracing::LIGHT_REACHES;
using FastTracing::packChannels;
using FastTracing::PathEntry;
using FastTracing::predictionsOf;
using FastTracing::RayBatch;
using FastTracing::ScratchData;
using FastTracing::walkAll;

namespace {

// The colours of misses by leaves crossed, and their packed colours, made for
// the current rounding mode.
void makeGlowTables(ScratchData& scratch, double stepGlow) {
    // The glow's sums and packing round in the current mode, which the caller
    // may have changed since the tables were made.
    const int rounding = std::fegetround();
    if (scratch.glowRounding != rounding || scratch.glowStep != stepGlow) {
        for (int leaves = 0; leaves < GLOW_PIXELS; ++leaves) {
            vell::Colour& colour = scratch.glowColours[leaves];
            glowOnly(leaves * stepGlow, colour);
            scratch.glowPixels[leaves] = packChannels(colour);
        }
        scratch.glowRounding = rounding;
        scratch.glowStep = stepGlow;
    }
}

}  // namespace

void FastTracer::traceWaves(ScratchData& scratch, int count, int rows, std::uint32_t* pixels,
                            vell::Colour* colours, RayCounts* counts) const {
    FastWalk::Prediction* predictions = predictionsOf(walk_, scratch);
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
    makeGlowTables(scratch, world_.stepGlow);
    const int columns = count / rows;
    for (int x = 0; x < columns; ++x) {
        for (int row = 0; row < rows; ++row) {
            const int i = row * columns + x;
            const FastWalk::Hit& hit = hits[static_cast<std::size_t>(i)];
            if (hit.obstacle >= 0) {
                scratch.hitPixels.push_back(i);
            } else if (static_cast<unsigned>(hit.leaves) < static_cast<unsigned>(GLOW_PIXELS)) {
                if (pixels != nullptr) {
                    pixels[i] = scratch.glowPixels[hit.leaves];
                } else {
                    colours[i] = scratch.glowColours[hit.leaves];
                }
            } else {
                vell::Colour colour;
                glowOnly(hit.leaves * world_.stepGlow, colour);
                if (pixels != nullptr) {
                    pixels[i] = packChannels(colour);
                } else {
                    colours[i] = colour;
                }
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
        // Mirrored rays from the batch's start; entry i's mirrored ray goes
        // to an index no greater than i, once its own ray has been read. Each
        // light's shadow queries are gathered, answered together, and those
        // the blockers cannot answer follow the mirrored rays as shadow rays:
        // neighbours in a packet then mostly run the same way through the
        // same leaves. The order of the queries changes no answer.
        rays.reserve(size * (1 + lights_.size()));
        scratch.shadowTargets.resize(size * lights_.size());
        scratch.shadowQueries.resize(lights_.size());
        for (FastTracing::ShadowQueries& queries : scratch.shadowQueries) {
            queries.clear(size);
        }
        std::size_t mirrored = 0;
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
                for (std::size_t j = 0; j < lights_.size(); ++j) {
                    // Not normalised: u = 1.0 is the light itself.
                    const Vec3 l = lights_[j].position - p;
                    if (l.dot(n) <= 0.0) {
                        state.push_back(LIGHT_AWAY);
                        continue;
                    }
                    scratch.shadowQueries[j].add(p, l, static_cast<int>(state.size()), start);
                    state.push_back(LIGHT_PENDING);
                }
            }
        }
        last = g;
        // Shadow rays walked, and those answered without a walk.
        std::size_t shadows = 0;
        std::size_t answered = 0;
        for (std::size_t j = 0; j < lights_.size(); ++j) {
            FastTracing::ShadowQueries& queries = scratch.shadowQueries[j];
            const RayBatch& asked = queries.rays;
            const double* point[3] = {asked.component[0].data(), asked.component[1].data(),
                                      asked.component[2].data()};
            const double* towards[3] = {asked.component[3].data(), asked.component[4].data(),
                                        asked.component[5].data()};
            blockers_[j].blockedAll(point, towards, static_cast<int>(queries.count),
                                    queries.answers.data());
            for (std::size_t q = 0; q < queries.count; ++q) {
                const int target = queries.target[q];
                switch (queries.answers[q]) {
                case LightBlockers::BLOCKED:
                    state[static_cast<std::size_t>(target)] = LIGHT_BLOCKED;
                    ++answered;
                    break;
                case LightBlockers::REACHES:
                    state[static_cast<std::size_t>(target)] = LIGHT_REACHES;
                    ++answered;
                    break;
                case LightBlockers::ASK_THE_WALK:
                    scratch.shadowTargets[shadows] = target;
                    const Ray ray = asked.ray(q);
                    rays.set(mirrored + shadows, ray.origin, ray.direction, asked.starts[q]);
                    ++shadows;
                    break;
                }
            }
        }
        if (counts != nullptr) {
            counts->reflected += mirrored;
            counts->shadow += shadows + answered;
        }
        const std::size_t batch = mirrored + shadows;
        if (batch == 0) {
            break;
        }
        if (hits.size() < batch) {
            hits.resize(batch);
        }
        walkAll(walk_, scratch, 0, static_cast<int>(batch), 1, predictions);
        for (std::size_t j = 0; j < shadows; ++j) {
            const FastWalk::Hit& hit = hits[mirrored + j];
            const bool blocked = hit.obstacle >= 0 && hit.t > 0.0 && hit.t < 1.0;
            state[static_cast<std::size_t>(scratch.shadowTargets[j])] =
                blocked ? LIGHT_BLOCKED : LIGHT_REACHES;
        }
        size = mirrored;
    }

    // Inwards: each surface's colour from its mirrored ray's, deepest first.
    for (int g = last; g >= 0; --g) {
        std::vector<PathEntry>& wave = waves[static_cast<std::size_t>(g)];
        const std::vector<signed char>& state = states[static_cast<std::size_t>(g)];
        for (std::size_t i = 0; i < entries[g]; ++i) {
            PathEntry& e = wave[i];
            const double glow = e.leaves * world_.stepGlow;
            if (e.obstacle < 0) {
                glowOnly(glow, e.colour);
                continue;
            }
            const vell::Colour m =
                e.child >= 0 ? waves[static_cast<std::size_t>(g) + 1][static_cast<std::size_t>(e.child)].colour
                             : vell::black;
            // Its lights' states: those its shadow rays found unblocked reach it.
            const signed char* lights = state.data() + e.firstLight;
            FastTracing::shadeSurface(
                *walk_.surface(e.obstacle), m, e.point, e.t, glow, lights_, transmission_,
                [lights](std::size_t j, const Vec3&) { return lights[j] == LIGHT_REACHES; },
                e.colour);
        }
    }
    const std::vector<PathEntry>& first = waves[0];
    for (std::size_t k = 0; k < scratch.hitPixels.size(); ++k) {
        if (pixels != nullptr) {
            pixels[scratch.hitPixels[k]] = packChannels(first[k].colour);
        } else {
            colours[scratch.hitPixels[k]] = first[k].colour;
        }
    }
}

}  // namespace kelvo
