#pragma once

// What a FastTracer::Scratch holds, and the small steps on it that the rows
// of primary rays (FastPrimary.cpp) and the waves of secondary rays
// (FastWaves.cpp) share: for the fast layer's own files, not an interface.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "kelvo/fast/FastWalk.h"
#include "kelvo/fast/LightBlockers.h"
#include "kelvo/fast/PacketWalk.h"
#include "kelvo/fast/TileWalk.h"
#include "kelvo/scene/Ray.h"
#include "kelvo/scene/Vec3.h"
#include "velllib/colour.h"

namespace kelvo {
namespace FastTracing {

// Leaves crossed for which the packed colour of a miss is tabled.
inline constexpr int GLOW_PIXELS = 64;
// Primary rays of a row's chunk: at most CHUNK pixels from x0 of row y.
inline constexpr int CHUNK = 128;
// Rows whose chunks are traced together.
inline constexpr int ROWS = 4;

// What the composing of one ray's colour needs, in the wave of its
// generation. The ray itself and its budget are not kept: while a wave is
// extended its rays stand in the batch in the wave's order, and its budget
// is the wave's.
struct PathEntry {
    int obstacle;    // the hit's, or -1
    int leaves;      // leaves crossed without a confirmed hit
    double t;        // the hit's distance
    Vec3 point;      // the hit point
    int child;       // its mirrored ray in the next wave, or -1
    int firstLight;  // its light states in the wave's list
    vell::Colour colour;
};
// What becomes of one light at one surface.
enum LightState : signed char { LIGHT_AWAY, LIGHT_PENDING, LIGHT_BLOCKED, LIGHT_REACHES };
// Rays by component, as the packets load them, and each ray's start leaf.
struct RayBatch {
    std::vector<double> component[6];  // origin x, y, z, then direction x, y, z
    std::vector<int> starts;

    // Room for at least n rays.
    void reserve(std::size_t n) {
        if (starts.size() < n) {
            for (std::vector<double>& c : component) {
                c.resize(n);
            }
            starts.resize(n);
        }
    }
    void set(std::size_t i, const Vec3& origin, const Vec3& direction, int start) {
        component[0][i] = origin.x;
        component[1][i] = origin.y;
        component[2][i] = origin.z;
        component[3][i] = direction.x;
        component[4][i] = direction.y;
        component[5][i] = direction.z;
        starts[i] = start;
    }
    Ray ray(std::size_t i) const {
        return {{component[0][i], component[1][i], component[2][i]},
                {component[3][i], component[4][i], component[5][i]}};
    }
    // The count rays from index from, moved down to index to.
    void move(std::size_t from, std::size_t to, std::size_t count) {
        for (std::vector<double>& c : component) {
            std::copy(c.begin() + from, c.begin() + from + count, c.begin() + to);
        }
        std::copy(starts.begin() + from, starts.begin() + from + count, starts.begin() + to);
    }
};

// One light's shadow queries of a wave: as rays from each point p, l the
// vector to the light, from the leaf p stands in; the light state each
// answers.
struct ShadowQueries {
    RayBatch rays;
    std::vector<int> target;
    std::vector<LightBlockers::Answer> answers;
    std::size_t count = 0;

    // No queries, and room for n.
    void clear(std::size_t n) {
        count = 0;
        rays.reserve(n);
        if (target.size() < n) {
            target.resize(n);
            answers.resize(n);
        }
    }
    void add(const Vec3& p, const Vec3& l, int state, int leaf) {
        rays.set(count, p, l, leaf);
        target[count] = state;
        ++count;
    }
};

// What one thread keeps across rows and frames: the next-leaf predictions and
// the room its chunks are traced in. Its contents never change a result, only
// how fast it comes. A cache line of its own, as each worker's is written
// all the time.
struct alignas(64) ScratchData {
    std::vector<FastWalk::Prediction> predictions;
    // The leaf of the previous primary ray's origin.
    int originLeaf = -1;
    // One chunk of a row's primary rays, or one wave's secondary rays,
    // and their hits.
    RayBatch rays;
    std::vector<FastWalk::Hit> hits;
    // The waves of a chunk, generation by generation: the first holds
    // only the primary rays that hit, from the pixels hitPixels names.
    std::vector<std::vector<PathEntry>> waves;
    std::vector<int> hitPixels;
    // Where the rays and hits of the primaries that hit are gathered.
    RayBatch gathered;
    std::vector<FastWalk::Hit> gatheredHits;
    // The colour of a ray that hits nothing, by the leaves it crossed, and
    // packed, for the rounding mode glowRounding (-1: not made yet).
    vell::Colour glowColours[GLOW_PIXELS];
    std::uint32_t glowPixels[GLOW_PIXELS];
    // The packed colours of a chunk.
    std::uint32_t pixels[ROWS * CHUNK];
    // Or their colours, unpacked.
    vell::Colour colours[ROWS * CHUNK];
    int glowRounding = -1;
    double glowStep = 0.0;  // the glow per leaf the table was made for
    std::vector<std::vector<signed char>> lightStates;
    // The light state each shadow ray of a wave answers.
    std::vector<int> shadowTargets;
    // Per light, the shadow queries of a wave.
    std::vector<ShadowQueries> shadowQueries;
    // The worker's tested-once marks, for walks of more obstacles than the
    // 64-bit set holds.
    FastWalk::Mailbox mailbox;
    // For each primary ray of a chunk that its tile did not finish, the
    // leaves crossed together before it walks on alone.
    int crossed[ROWS * CHUNK];
    bool left[ROWS * CHUNK];
    // The image-plane point of each primary ray of a chunk, and room for the
    // tiles' orders of them.
    double pointU[ROWS * CHUNK];
    double pointV[ROWS * CHUNK];
    int tileOrder[ROWS * CHUNK];
    int tileSpare[ROWS * CHUNK];
};

// The scratch's prediction table for walk.
inline FastWalk::Prediction* predictionsOf(const FastWalk& walk, ScratchData& scratch) {
    // Sized on first use by a worker, then kept: a table per frame would cost
    // page faults.
    if (scratch.predictions.size() != walk.predictionSlots()) {
        scratch.predictions.assign(walk.predictionSlots(), FastWalk::Prediction{});
        scratch.originLeaf = -1;
    }
    return scratch.predictions.data();
}

// The flattened query from leaf, tested-once marks in one 64-bit word where
// the obstacles fit, else in the worker's mailbox.
inline FastWalk::Mailbox& mailboxOf(const FastWalk& walk, ScratchData& scratch) {
    if (scratch.mailbox.size() != walk.obstacleCount()) {
        scratch.mailbox.resize(walk.obstacleCount());
    }
    return scratch.mailbox;
}

inline FastWalk::Hit nearestHitOf(const FastWalk& walk, const Ray& ray, int leaf,
                                  ScratchData& scratch) {
    FastWalk::Prediction* predictions = predictionsOf(walk, scratch);
    if (walk.obstacleCount() <= 64) {
        return walk.nearestHit(ray, leaf, predictions);
    }
    return walk.nearestHit(ray, leaf, predictions, mailboxOf(walk, scratch));
}

// The queries of rows (1 or 2) rows of count of scratch's rays each, the
// first from index first, the second stride further (0: count, the rows one
// after the other), from their start leaves into its hits at the same
// indices: in packets where compiled in (two rows in tiles of both), else one
// by one.
inline void walkAll(const FastWalk& walk, ScratchData& scratch, std::size_t first, int count,
                    int rows, FastWalk::Prediction* predictions, int stride = 0) {
    const RayBatch& rays = scratch.rays;
    if (stride == 0) {
        stride = count;
    }
#if defined(KELVO_PACKETS)
    const PacketWalk::RayLanes lanes{
        {rays.component[0].data() + first, rays.component[1].data() + first,
         rays.component[2].data() + first},
        {rays.component[3].data() + first, rays.component[4].data() + first,
         rays.component[5].data() + first}};
    if (rows == 2) {
        PacketWalk::nearestHitsInRows(walk, lanes, rays.starts.data() + first, count,
                                      scratch.hits.data() + first, predictions,
                                      &mailboxOf(walk, scratch), stride);
    } else {
        PacketWalk::nearestHits(walk, lanes, rays.starts.data() + first, count,
                                scratch.hits.data() + first, predictions, &mailboxOf(walk, scratch));
    }
#else
    for (int r = 0; r < rows; ++r) {
        for (int q = 0; q < count; ++q) {
            const std::size_t i = first + static_cast<std::size_t>(r * stride + q);
            scratch.hits[i] = walk.nearestHit(rays.ray(i), rays.starts[i], predictions,
                                              mailboxOf(walk, scratch));
        }
    }
#endif
}

}  // namespace FastTracing
}  // namespace kelvo
