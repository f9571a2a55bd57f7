#pragma once

#include <cstdint>

#include "kelvo/fast/FastWalk.h"
#include "kelvo/view/Camera.h"

namespace kelvo {

// The nearest-hit queries of several rays at once, one ray per SIMD lane, for
// the vector instruction set the CPU offers (chosen at run time). Each lane
// performs exactly the scalar walk's operations in the scalar order, so every
// answer is the scalar one to the bit. Built only where Google Highway is
// available (KELVO_PACKETS); elsewhere the tracer walks ray by ray.
namespace PacketWalk {

// Rays with each component in its own array, as lanes load them: origin[c][i]
// and direction[c][i] are component c of ray i.
struct RayLanes {
    const double* origin[3];
    const double* direction[3];
};

// Queries count rays from their start leaves into hits, in packets of
// vectors of width() lanes.
// mailbox: the calling worker's tested-once marks (null: a table of the
// call's own, made and cleared for it).
// vectors: how many vectors a packet holds, 1 or 2; 0 chooses by the tree:
// one in trees of NARROW_PACKET_LEAVES leaves or more, where rays that start
// together soon part (mirrored rays from the many small spheres of a deep
// flake), two elsewhere.
inline constexpr int NARROW_PACKET_LEAVES = 1024;
void nearestHits(const FastWalk& walk, const RayLanes& rays, const int* startLeaves, int count,
                 FastWalk::Hit* hits, FastWalk::Prediction* predictions,
                 FastWalk::Mailbox* mailbox = nullptr, int vectors = 0);
// The same for two rows of count rays each, rays 0 to count and stride to
// stride + count (stride 0: count), walked in tiles: each packet holds rays
// from both rows, one above the other.
void nearestHitsInRows(const FastWalk& walk, const RayLanes& rays, const int* startLeaves,
                       int count, FastWalk::Hit* hits, FastWalk::Prediction* predictions,
                       FastWalk::Mailbox* mailbox = nullptr, int stride = 0);
// The camera's rays through count image-plane points (u[i], v[i]), as
// Camera::rayThrough makes them, to the bit, component by component into
// origin[c][i] and direction[c][i].
void raysThrough(const Camera& camera, const double* u, const double* v, int count,
                 double* const origin[3], double* const direction[3]);
// The jittered image-plane points of count pixels from (x0, y), as the view's
// loop makes them: u[i] = (x0 + i + r * scale) * pixelWidth, a float sum then
// a double product, where r is bits 16 to 30 of the generator state
// multiplier[0][i] * start + increment[0][i]; v[i] likewise from y and the
// tables [1]. The tables, u and v hold count rounded up to whole packets of
// MAX_WIDTH.
void jitteredPoints(std::uint32_t start, const std::uint32_t* const multiplier[2],
                    const std::uint32_t* const increment[2], int x0, int y, int count,
                    float scale, double pixelWidth, double pixelHeight, double* u, double* v);
// The leaf locate reaches from each of count points (point[c][i] is component
// c of point i) into leaves: the guess's leaf where the descent from the root
// ends there, as FastWalk::locateNear tests it, else the leaf found from the
// nearest such answer before. guess (a leaf, or -1 for none) becomes the last
// point's leaf.
void locateAll(const FastWalk& walk, const double* const point[3], int count, int& guess,
               int* leaves);
// The same two with whole rays.
void nearestHits(const FastWalk& walk, const Ray* rays, const int* startLeaves, int count,
                 FastWalk::Hit* hits, FastWalk::Prediction* predictions, int vectors = 0);
void raysThrough(const Camera& camera, const double* u, const double* v, int count, Ray* out);
// Lanes per vector on the chosen instruction set (at most MAX_WIDTH).
int width();
// The chosen instruction set's name.
const char* instructionSet();

inline constexpr int MAX_WIDTH = 8;

// The instruction sets compiled in that this CPU can run, for tests: each
// call of useOnly(i) makes the calls above run on the i-th of them; useAll()
// returns to the best.
int compiledSets();
void useOnly(int index);
void useAll();

}  // namespace PacketWalk
}  // namespace kelvo
