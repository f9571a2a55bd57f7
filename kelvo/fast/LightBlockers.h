#pragma once

#include <cstdint>
#include <vector>

#include "kelvo/fast/FastWalk.h"
#include "kelvo/scene/Vec3.h"

namespace kelvo {

// Whether anything stands between a point and one point light, without a
// walk. A shadow ray asks only that: the light is blocked when some sphere's
// nearer root u of the ray p + u * l (l the vector from p to the light) has
// 0 < u < 1, computed as the walk computes it, operation for operation. The
// walk's nearest confirmed hit is in (0, 1) exactly then: every sphere
// crossing the segment is listed in the leaves the segment runs through, and
// the nearest of them is confirmed before anything further.
//
// The spheres are binned by their direction from the light: each of the six
// faces of a cube around the light is a grid of cells, and a cell lists
// every sphere that may be seen from the light through it, with a cell of
// margin all round. A point's segment to the light lies along one
// direction, so only its cell's spheres can block it. Made once for a
// tree's spheres and one light; only read afterwards.
class LightBlockers {
public:
    enum Answer : signed char { REACHES, BLOCKED, ASK_THE_WALK };

    LightBlockers(const FastWalk& walk, const Vec3& light);

    // For the segment from p to the light, l the vector from p to it as the
    // tracer forms it: REACHES or BLOCKED; ASK_THE_WALK where p's direction
    // from the light has no cell (p at the light, or not finite).
    Answer blocked(const Vec3& p, const Vec3& l) const;

    // Cells per side of each face.
    int resolution() const { return resolution_; }
    // How many spheres the cell of p's direction lists (-1 without a cell).
    int candidates(const Vec3& p) const;

private:
    // One sphere in a cell's list: its own copy, so that a cell is read
    // straight through.
    struct Candidate {
        double centre[3];
        double radiusSquared;
        // No point of the sphere is nearer the light than this, less a
        // margin far beyond rounding; the cell's list is in its order.
        double reach;
    };

    // The cell of the direction w from the light, or -1.
    int cellOf(const Vec3& w) const;

    Vec3 light_;
    int resolution_ = 1;
    // Cell c lists candidates_[first_[c]] to candidates_[first_[c + 1]].
    std::vector<std::int32_t> first_;
    std::vector<Candidate> candidates_;
};

}  // namespace kelvo
