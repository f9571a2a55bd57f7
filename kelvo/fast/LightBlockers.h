#pragma once

#include <cmath>
#include <cstdint>
#include <limits>
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
// every sphere that may be seen from the light through it, nearest the light
// first. A point's segment to the light lies along one direction, so only
// its cell's spheres can block it, and only those that begin nearer the
// light than the point. Made once for a tree's spheres and one light; only
// read afterwards.
class LightBlockers {
public:
    enum Answer : signed char { REACHES, BLOCKED, ASK_THE_WALK };

    // A cell's list is padded to whole groups of this many, with spheres
    // that never block, so that lanes read it group by group.
    static constexpr int GROUP = 4;

    LightBlockers(const FastWalk& walk, const Vec3& light);

    // For the segment from p to the light, l the vector from p to it as the
    // tracer forms it: REACHES or BLOCKED; ASK_THE_WALK where p's direction
    // from the light has no cell (p at the light, or not finite).
    Answer blocked(const Vec3& p, const Vec3& l) const;

    // The same for count segments, point[c][i] and towards[c][i] component c
    // of segment i's p and l, into answers[i]: in lanes where compiled in.
    void blockedAll(const double* const point[3], const double* const towards[3], int count,
                    Answer* answers) const;

    // Cells per side of each face.
    int resolution() const { return resolution_; }

    // The cell of the direction w from the light, or -1.
    int cellOf(const Vec3& w) const {
        const double q[3] = {w.x, w.y, w.z};
        const double size[3] = {std::fabs(w.x), std::fabs(w.y), std::fabs(w.z)};
        // Not finite (NaN or infinite) or zero: no direction.
        const double sum = size[0] + size[1] + size[2];
        if (!(sum > 0.0 && sum <= std::numeric_limits<double>::max())) {
            return -1;
        }
        const int a =
            size[0] >= size[1] ? (size[0] >= size[2] ? 0 : 2) : (size[1] >= size[2] ? 1 : 2);
        // A reciprocal's rounding is far within the binning's margin.
        const double inverse = 1.0 / size[a];
        const int face = q[a] > 0.0 ? a : a + 3;
        const int i = cellAlong(q[(a + 1) % 3] * inverse, resolution_);
        const int j = cellAlong(q[(a + 2) % 3] * inverse, resolution_);
        return (face * resolution_ + j) * resolution_ + i;
    }

    // The candidates in lanes: cell c lists entries first[c] to first[c + 1]
    // of each array, a whole number of groups.
    struct Lists {
        const std::int32_t* first;
        const double* centre[3];
        const double* radiusSquared;
        // No point of the sphere is nearer the light than this, less a margin
        // far beyond rounding; a cell lists its spheres in its order. The
        // padding's reach is infinite.
        const double* reach;
    };
    Lists lists() const;
    const Vec3& light() const { return light_; }

private:
    // The cell along a face's side of the face coordinate x in [-1, 1]: one
    // monotone rounding for both the binning and the queries, so that a
    // coordinate within a range falls within the range's cells.
    static int cellAlong(double x, int resolution) {
        const double at = (x + 1.0) * 0.5 * resolution;
        if (!(at >= 1.0)) {
            return 0;  // also NaN
        }
        // Truncation is the floor here: at is positive.
        return at >= resolution - 1 ? resolution - 1 : static_cast<int>(at);
    }

    Vec3 light_;
    int resolution_ = 1;
    std::vector<std::int32_t> first_;
    std::vector<double> centre_[3];
    std::vector<double> radiusSquared_;
    std::vector<double> reach_;
};

namespace ShadowLanes {
// LightBlockers::blockedAll in the lanes of the best instruction set the CPU
// has (ShadowLanes.cpp).
void blockedAll(const LightBlockers& blockers, const double* const point[3],
                const double* const towards[3], int count, LightBlockers::Answer* answers);
}  // namespace ShadowLanes

}  // namespace kelvo
