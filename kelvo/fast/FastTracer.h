#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <unordered_map>
#include <vector>

#include "kelvo/fast/FastWalk.h"
#include "kelvo/scene/RayCounts.h"
#include "kelvo/view/Observer.h"
#include "velllib/colour.h"

namespace kelvo {

class World;

namespace FastTracing {
struct Light;  // kelvo/fast/FastShading.h
}  // namespace FastTracing

// The program's per-pixel path: the same pixels, bit for bit, as the view's
// literal loop over World::trace, from the flattened tree of a FastWalk.
// Constructed once the World's tree is built; only read afterwards, so any
// number of threads may trace with it at once, each with its own Scratch.
class FastTracer {
public:
    // What one thread keeps across rows and frames: the next-leaf predictions.
    // Made once per worker; its contents never change a result, only how fast
    // it comes.
    class Scratch;

private:
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

    // Leaves crossed for which the packed colour of a miss is tabled.
    static constexpr int GLOW_PIXELS = 64;
    // Primary rays of a row's chunk: at most CHUNK pixels from x0 of row y.
    static constexpr int CHUNK = 128;
    // Rows whose chunks are traced together.
    static constexpr int ROWS = 4;

public:
    class Scratch {
    public:
        Scratch() = default;

    private:
        friend class FastTracer;
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
        // The packed colour of a ray that hits nothing, by the leaves it
        // crossed, for the rounding mode glowRounding (-1: not made yet).
        std::uint32_t glowPixels[GLOW_PIXELS];
        // The packed colours of a chunk.
        std::uint32_t pixels[ROWS * CHUNK];
        int glowRounding = -1;
        std::vector<std::vector<signed char>> lightStates;
        // The light state each shadow ray of a wave answers.
        std::vector<int> shadowTargets;
    };

    explicit FastTracer(const World& world);
    ~FastTracer();

    // As RayTracer::traceRows: rows [firstRow, endRow) of a width-wide image
    // into pixels (the first word is row firstRow's), stepping the generator on
    // from state. counts, when given, grows by the rays walked.
    void traceRows(const Observer& observer, double pixelWidth, double pixelHeight,
                   std::uint32_t* pixels, int width, int firstRow, int endRow,
                   std::uint32_t& state, Scratch& scratch, RayCounts* counts) const;

    // The same without packets, each primary ray walked on its own (what
    // traceRows does where no vector unit is compiled in).
    void traceRowsOneByOne(const Observer& observer, double pixelWidth, double pixelHeight,
                           std::uint32_t* pixels, int width, int firstRow, int endRow,
                           std::uint32_t& state, Scratch& scratch, RayCounts* counts) const;

    // The nearest-hit answers of the primary rays of rows [firstRow, endRow),
    // the rays made and the generator stepped as traceRows does, one hit per
    // pixel into hits (the first is row firstRow's). Where the flattened walk
    // is not usable the literal walk answers, with leaves numbered as the
    // flattened tree numbers them (depth first, low child first).
    void primaryHits(const Observer& observer, double pixelWidth, double pixelHeight,
                     FastWalk::Hit* hits, int width, int firstRow, int endRow,
                     std::uint32_t& state, Scratch& scratch) const;

    // The colour of one ray as World::trace gives it, and its distance.
    double trace(const Ray& ray, vell::Colour& out, int depth, Scratch& scratch,
                 RayCounts* counts) const;

    // kelvo::packColour to the bit, without its library call per channel.
    static std::uint32_t packColour(const vell::Colour& colour);

    // The vector instruction set the primary rays run on.
    static const char* instructionSet();

    const FastWalk& walk() const { return walk_; }

private:
    // The view's rays for count pixels from (x0, y), the generator stepped
    // twice per pixel in pixel order.
    void primaryRays(const Observer& observer, double pixelWidth, double pixelHeight, int x0,
                     int y, int count, std::uint32_t& state, RayBatch& rays,
                     std::size_t at) const;
    // The literal walk's answer, for worlds the flattened walk cannot take.
    FastWalk::Hit literalHit(const Ray& ray) const;
    // As World::shade, the origin's leaf already known.
    double shade(const Ray& ray, int leaf, vell::Colour& out, int depth, Scratch& scratch,
                 RayCounts* counts) const;
    // The rest of World::shade once the nearest-hit query has answered.
    double shadeHit(const Ray& ray, const FastWalk::Hit& hit, vell::Colour& out, int depth,
                    Scratch& scratch, RayCounts* counts) const;
    // The view's loop with the primary rays of each chunk walked in packets.
    void tracePackets(const Observer& observer, double pixelWidth, double pixelHeight,
                      std::uint32_t* pixels, int width, int firstRow, int endRow,
                      std::uint32_t& state, Scratch& scratch, RayCounts* counts) const;
    FastWalk::Prediction* predictionsOf(Scratch& scratch) const;
    // The secondary rays of a chunk's primaries, traced wave by wave in
    // packets, and every pixel's colour composed back to front and packed
    // into pixels.
    void traceWaves(Scratch& scratch, int count, int rows, std::uint32_t* pixels,
                    RayCounts* counts) const;
    // The packed colours of misses by leaves crossed, made for the current
    // rounding mode.
    const std::uint32_t* glowTable(Scratch& scratch) const;
    // The start leaves of the first count of scratch's rays, each origin's
    // leaf found from the previous one's.
    void locateOrigins(Scratch& scratch, int count) const;
    // The queries of rows (1 or 2) rows of count of scratch's rays each, one
    // after the other from index first, from their start leaves into its
    // hits at the same indices: in packets where compiled in (two rows in
    // tiles of both), else one by one.
    void walkAll(Scratch& scratch, std::size_t first, int count, int rows,
                 FastWalk::Prediction* predictions) const;
    // The shading arithmetic in its fixed order, from the mirrored colour and
    // the lights that reach the point.
    void compose(const PathEntry& entry, const vell::Colour& mirrored,
                 const signed char* lights, vell::Colour& out) const;

    const World& world_;
    FastWalk walk_;
    // The tree's leaves in depth-first order, for the literal walk's answers
    // (filled only when the flattened walk is not usable).
    std::unordered_map<const STNode*, int> literalLeafIndex_;
    std::vector<FastTracing::Light> lights_;
    float transmission_;
};

}  // namespace kelvo
