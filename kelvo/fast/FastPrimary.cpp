#include "kelvo/fast/FastTracer.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>

#include "kelvo/fast/FastScratch.h"
#include "kelvo/fast/PacketWalk.h"
#include "kelvo/view/Jitter.h"

// The primary rays of a chunk of rows: their image-plane points made in
// pixel order, stepped together in tiles (TileWalk), the rays the tiles leave
// made, located where need be, and walked in packets; then shaded by the
// waves (FastWaves.cpp), or their hits given as they are (primaryHits).

namespace kelvo {

using FastTracing::CHUNK;
using FastTracing::predictionsOf;
using FastTracing::RayBatch;
using FastTracing::ROWS;
using FastTracing::ScratchData;
using FastTracing::walkAll;

namespace {

// The jittered image-plane points of count pixels from (x0, y), the generator
// stepped twice per pixel in pixel order, into points[0] (u) and points[1]
// (v) from index at.
void primaryPoints(double pixelWidth, double pixelHeight, int x0, int y, int count,
                   std::uint32_t& state, double* const* points, std::size_t at) {
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
    std::copy(u, u + count, points[0] + at);
    std::copy(v, v + count, points[1] + at);
    if (count > 0) {  // an empty chunk leaves the generator where it was
        state = steps.multiplier[1][count - 1] * start + steps.increment[1][count - 1];
    }
}

// The camera's rays through the count image-plane points from index at, into
// rays at the same indices.
void raysThrough(const Observer& observer, const double* const* points, std::size_t at,
                 int count, RayBatch& rays) {
#if defined(KELVO_PACKETS)
    double* origin[3] = {rays.component[0].data() + at, rays.component[1].data() + at,
                         rays.component[2].data() + at};
    double* direction[3] = {rays.component[3].data() + at, rays.component[4].data() + at,
                            rays.component[5].data() + at};
    PacketWalk::raysThrough(observer, points[0] + at, points[1] + at, count, origin, direction);
#else
    for (int i = 0; i < count; ++i) {
        const std::size_t k = at + static_cast<std::size_t>(i);
        const double point[2] = {points[0][k], points[1][k]};
        Ray ray;
        observer.rayThrough(point, ray);
        rays.set(k, ray.origin, ray.direction, -1);
    }
#endif
}

// The start leaves of the first count of scratch's rays, each origin's leaf
// found from the previous one's.
void locateOrigins(const FastWalk& walk, ScratchData& scratch, int count) {
    RayBatch& rays = scratch.rays;
#if defined(KELVO_PACKETS)
    const double* origin[3] = {rays.component[0].data(), rays.component[1].data(),
                               rays.component[2].data()};
    PacketWalk::locateAll(walk, origin, count, scratch.originLeaf, rays.starts.data());
#else
    for (int i = 0; i < count; ++i) {
        const Vec3 origin{rays.component[0][i], rays.component[1][i], rays.component[2][i]};
        scratch.originLeaf = scratch.originLeaf >= 0 ? walk.locateNear(scratch.originLeaf, origin)
                                                     : walk.locate(origin);
        rays.starts[i] = scratch.originLeaf;
    }
#endif
}

}  // namespace

void FastTracer::primaryHits(const Observer& observer, double pixelWidth, double pixelHeight,
                             FastWalk::Hit* hits, int width, int firstRow, int endRow,
                             std::uint32_t& state, Scratch& handle) const {
    // Chunks of a row as tracePackets makes them, so that the walk runs in
    // packets here too.
    ScratchData& scratch = *handle.data_;
    FastWalk::Prediction* predictions = walk_.usable() ? predictionsOf(walk_, scratch) : nullptr;
    scratch.hits.resize(CHUNK);
    for (int y = firstRow; y < endRow; ++y) {
        for (int x0 = 0; x0 < width; x0 += CHUNK) {
            const int n = width - x0 < CHUNK ? width - x0 : CHUNK;
            double* const points[2] = {scratch.pointU, scratch.pointV};
            primaryPoints(pixelWidth, pixelHeight, x0, y, n, state, points, 0);
            scratch.rays.reserve(CHUNK);
            raysThrough(observer, points, 0, n, scratch.rays);
            if (walk_.usable()) {
                locateOrigins(walk_, scratch, n);
                walkAll(walk_, scratch, 0, n, 1, predictions);
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

void FastTracer::walkTiles(const Observer& observer, const TileWalk::Screen& screen,
                           ScratchData& scratch, int rows, int count,
                           FastWalk::Prediction* predictions) const {
    // Tiles step together through the empty leaves they share; the rays they
    // leave are walked in packets of two rows from where they stopped, and
    // count the leaves crossed before. A ray beside them in a packet is
    // walked from its start again, to the same answer. Where the chunk's
    // rays are known to start in one leaf, only the rays walked are made.
    RayBatch& rays = scratch.rays;
    rays.reserve(static_cast<std::size_t>(ROWS * CHUNK));
    const double* const points[2] = {scratch.pointU, scratch.pointV};
    const int n = rows * count;
    const int start = TileWalk::startLeaf(walk_, observer, screen, rows, count);
    if (start >= 0) {
        std::fill_n(rays.starts.begin(), n, start);
    } else {
        for (int r = 0; r < rows; ++r) {
            raysThrough(observer, points, static_cast<std::size_t>(r * count), count, rays);
        }
        locateOrigins(walk_, scratch, n);
    }
    if (!TileWalk::available()) {
        for (int r = 0; r < rows; r += 2) {
            walkAll(walk_, scratch, static_cast<std::size_t>(r * count), count,
                    std::min(2, rows - r), predictions);
        }
        return;
    }
    std::fill_n(scratch.crossed, n, 0);
    std::fill_n(scratch.left, n, true);
    TileWalk::stepTogether(walk_, observer, screen,
                           {rows, count, scratch.pointU, scratch.pointV, rays.starts.data(),
                            scratch.hits.data(), scratch.crossed, scratch.left,
                            scratch.tileOrder, scratch.tileSpare},
                           count, start);
    for (int r = 0; r < rows; r += 2) {
        const int pair = std::min(2, rows - r);
        const bool* left = scratch.left + r * count;
        const bool* below = pair == 2 ? left + count : left;
        for (int x = 0; x < count;) {
            if (!left[x] && !below[x]) {
                ++x;
                continue;
            }
            int end = x + 1;
            while (end < count && (left[end] || below[end])) {
                ++end;
            }
            if (start >= 0) {
                for (int k = r; k < r + pair; ++k) {
                    raysThrough(observer, points, static_cast<std::size_t>(k * count + x),
                                end - x, rays);
                }
            }
            walkAll(walk_, scratch, static_cast<std::size_t>(r * count + x), end - x, pair,
                    predictions, count);
            x = end;
        }
    }
    FastWalk::Hit* hits = scratch.hits.data();
    for (int i = 0; i < n; ++i) {
        hits[i].leaves += scratch.crossed[i];
    }
}

void FastTracer::tracePackets(const Observer& observer, double pixelWidth, double pixelHeight,
                              std::uint32_t* pixels, vell::Colour* colours, int width,
                              int firstRow, int endRow, std::uint32_t& state,
                              ScratchData& scratch, RayCounts* counts) const {
    // Chunks of up to ROWS rows side by side: image-plane points made in pixel
    // order (the generator's order), stepped in tiles and walked in packets
    // (walkTiles), then shaded pixel by pixel. The rays left to walk go two
    // rows by two in packets that are tiles of both, whose rays stay closer
    // together than a row's: fewer packets split over several leaves.
    FastWalk::Prediction* predictions = predictionsOf(walk_, scratch);
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
            double* const points[2] = {scratch.pointU, scratch.pointV};
            for (int r = 0; r < rows; ++r) {
                primaryPoints(pixelWidth, pixelHeight, x0, y + r, n, rowState[r], points,
                              r * row);
            }
            walkTiles(observer, {x0, y, pixelWidth, pixelHeight}, scratch, rows, n, predictions);
            if (pixels != nullptr) {
                traceWaves(scratch, rows * n, rows, scratch.pixels, nullptr, counts);
                for (int r = 0; r < rows; ++r) {
                    std::copy(scratch.pixels + r * n, scratch.pixels + (r + 1) * n,
                              pixels + static_cast<std::ptrdiff_t>(r) * width + x0);
                }
            } else {
                traceWaves(scratch, rows * n, rows, nullptr, scratch.colours, counts);
                for (int r = 0; r < rows; ++r) {
                    std::copy(scratch.colours + r * n, scratch.colours + (r + 1) * n,
                              colours + static_cast<std::ptrdiff_t>(r) * width + x0);
                }
            }
            if (counts != nullptr) {
                counts->primary += static_cast<std::uint64_t>(rows * n);
            }
        }
        state = rowState[rows - 1];
        if (pixels != nullptr) {
            pixels += static_cast<std::ptrdiff_t>(rows) * width;
        } else {
            colours += static_cast<std::ptrdiff_t>(rows) * width;
        }
        y += rows;
    }
}

}  // namespace kelvo
