#pragma once

#include <cstdint>
#include <vector>

#include "kelvo/FastWalk.h"
#include "kelvo/Observer.h"
#include "kelvo/RayCounts.h"
#include "velllib/colour.h"

namespace kelvo {

class World;

// The program's per-pixel path: the same pixels, bit for bit, as the view's
// literal loop over World::trace, from the flattened tree of a FastWalk.
// Constructed once the World's tree is built; only read afterwards, so any
// number of threads may trace with it at once, each with its own Scratch.
class FastTracer {
public:
    // What one thread keeps across rows and frames: the next-leaf predictions.
    // Made once per worker; its contents never change a result, only how fast
    // it comes.
    class Scratch {
    public:
        Scratch() = default;

    private:
        friend class FastTracer;
        std::vector<FastWalk::Prediction> predictions;
        // The leaf of the previous primary ray's origin.
        int originLeaf = -1;
        // One chunk of a row's primary rays, their start leaves and hits.
        std::vector<Ray> rays;
        std::vector<int> starts;
        std::vector<FastWalk::Hit> hits;
    };

    explicit FastTracer(const World& world);

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

    // The colour of one ray as World::trace gives it, and its distance.
    double trace(const Ray& ray, vell::Colour& out, int depth, Scratch& scratch,
                 RayCounts* counts) const;

    // The vector instruction set the primary rays run on.
    static const char* instructionSet();

    const FastWalk& walk() const { return walk_; }

private:
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

    struct Light {
        Vec3 position;
        vell::Colour colour;
    };

    const World& world_;
    FastWalk walk_;
    std::vector<Light> lights_;
    float transmission_;
};

}  // namespace kelvo
