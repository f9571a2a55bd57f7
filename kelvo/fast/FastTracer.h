#pragma once

#include <cstdint>
#include <memory>
#include <unordered_map>
#include <vector>

#include "kelvo/fast/FastWalk.h"
#include "kelvo/fast/LightBlockers.h"
#include "kelvo/fast/TileWalk.h"
#include "kelvo/scene/RayCounts.h"
#include "kelvo/view/Observer.h"
#include "velllib/colour.h"

namespace kelvo {

class World;

// The tracer's own parts, in the fast layer's internal headers.
namespace FastTracing {
struct Light;        // kelvo/fast/FastShading.h
struct ScratchData;  // kelvo/fast/FastScratch.h
}  // namespace FastTracing

// The program's per-pixel path: the same pixels, bit for bit, as the view's
// literal loop over World::trace, from the flattened tree of a FastWalk.
// Constructed once the World's tree is built; only read afterwards, so any
// number of threads may trace with it at once, each with its own Scratch.
class FastTracer {
public:
    // What one thread keeps across rows and frames: the next-leaf predictions
    // and the room its rows are traced in. Made once per worker; its contents
    // are the tracer's own, and never change a result, only how fast it comes.
    class Scratch {
    public:
        Scratch();
        ~Scratch();
        Scratch(const Scratch&) = delete;
        Scratch& operator=(const Scratch&) = delete;

    private:
        friend class FastTracer;
        std::unique_ptr<FastTracing::ScratchData> data_;
    };

    explicit FastTracer(const World& world);
    ~FastTracer();

    // As RayTracer::traceRows: rows [firstRow, endRow) of a width-wide image
    // into pixels (the first word is row firstRow's), stepping the generator on
    // from state. counts, when given, grows by the rays walked.
    void traceRows(const Observer& observer, double pixelWidth, double pixelHeight,
                   std::uint32_t* pixels, int width, int firstRow, int endRow,
                   std::uint32_t& state, Scratch& scratch, RayCounts* counts) const;

    // As traceRows, each pixel's colour before packing into colours instead:
    // what traceRows packs, bit for bit.
    void traceColours(const Observer& observer, double pixelWidth, double pixelHeight,
                      vell::Colour* colours, int width, int firstRow, int endRow,
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

    // Gives scratch the room the most demanding rows will need (the
    // prediction table, a chunk's rays, hits and waves to the full depth with
    // every light), so that tracing allocates nothing. May throw
    // std::bad_alloc.
    void prepare(Scratch& scratch) const;

    // The colour of one ray as World::trace gives it, and its distance.
    double trace(const Ray& ray, vell::Colour& out, int depth, Scratch& scratch,
                 RayCounts* counts) const;

    // kelvo::packColour to the bit, without its library call per channel.
    static std::uint32_t packColour(const vell::Colour& colour);

    // The vector instruction set the primary rays run on.
    static const char* instructionSet();

    const FastWalk& walk() const { return walk_; }

private:
    // The view's loop with the primary rays of each chunk walked in packets
    // (FastPrimary.cpp), into pixels, packed, or (pixels null) into colours.
    void tracePackets(const Observer& observer, double pixelWidth, double pixelHeight,
                      std::uint32_t* pixels, vell::Colour* colours, int width, int firstRow,
                      int endRow, std::uint32_t& state, FastTracing::ScratchData& scratch,
                      RayCounts* counts) const;
    // The hits of a chunk's primary rays, rows rows of count: tiles step
    // together as far as they can, and the rest is walked in packets.
    void walkTiles(const Observer& observer, const TileWalk::Screen& screen,
                   FastTracing::ScratchData& scratch, int rows, int count,
                   FastWalk::Prediction* predictions) const;
    // The secondary rays of a chunk's primaries, traced wave by wave in
    // packets, and every pixel's colour composed back to front and packed
    // into pixels (FastWaves.cpp); or, pixels null, their colours into colours.
    void traceWaves(FastTracing::ScratchData& scratch, int count, int rows,
                    std::uint32_t* pixels, vell::Colour* colours, RayCounts* counts) const;
    // As World::shade, the origin's leaf already known.
    double shade(const Ray& ray, int leaf, vell::Colour& out, int depth,
                 FastTracing::ScratchData& scratch, RayCounts* counts) const;
    // The rest of World::shade once the nearest-hit query has answered.
    double shadeHit(const Ray& ray, const FastWalk::Hit& hit, vell::Colour& out, int depth,
                    FastTracing::ScratchData& scratch, RayCounts* counts) const;
    // The literal walk's answer, for worlds the flattened walk cannot take.
    FastWalk::Hit literalHit(const Ray& ray) const;

    const World& world_;
    FastWalk walk_;
    // The tree's leaves in depth-first order, for the literal walk's answers
    // (filled only when the flattened walk is not usable).
    std::unordered_map<const STNode*, int> literalLeafIndex_;
    std::vector<FastTracing::Light> lights_;
    // Per light, what answers its shadow rays without a walk (filled only
    // when the flattened walk is usable).
    std::vector<LightBlockers> blockers_;
    float transmission_;
};

}  // namespace kelvo
