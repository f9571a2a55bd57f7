#pragma once

#include <cstdint>

#include "kelvo/fast/ParallelRows.h"

namespace kelvo {

class FastTracer;
class Viewer;

// The leaf counts the leaves view tells apart: a count from 0 to this has a
// colour of its own, a larger one takes the top colour. From the start and
// from around the flake (either side, above, below, behind, nearer) the
// median primary ray crosses 5 to 9 leaves, one in a thousand more than 19
// and none more than 21: the scale spends its colours where the counts are.
inline constexpr int LEAVES_SCALE_MAX = 20;

// The leaves view's colour of a ray that crossed `leaves` leaves before its
// hit was confirmed or it left the tree: a perceptual scale from dark violet
// (0) through blue and green to yellow (LEAVES_SCALE_MAX and above), packed
// as RayTracer::packColour packs.
std::uint32_t leavesColour(int leaves);

// The cells view's colour of a ray whose hit leaf `leaf` (its index in the
// flattened tree's depth-first order) confirmed; leaf < 0, or a ray with no
// hit: CELLS_MISS. Neighbouring indices, which are mostly neighbouring
// cells, get hues far apart.
std::uint32_t cellColour(int leaf);
inline constexpr std::uint32_t CELLS_MISS = 0x00282828u;

// The view's frames on the fast tracer, one scratch per worker, in whichever
// mode the view shows at the call: the traced picture (exactly fastRows'
// pixels) or a view of the tree. Every mode makes the same primary rays and
// steps the generator by the same two steps per pixel.
RowKernelFactory viewRows(const Viewer& view, const FastTracer& tracer);

}  // namespace kelvo
