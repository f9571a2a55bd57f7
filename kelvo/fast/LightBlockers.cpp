#include "kelvo/fast/LightBlockers.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <limits>

namespace kelvo {

namespace {

// A sphere is binned by its box, grown by this share of its radius and of its
// distance from the light: far more than the rounding of any computed hit.
constexpr double GROWTH = 1e-6;
// Face coordinates of a box are widened by this much before binning: far
// more than their rounding, or a point's.
constexpr double MARGIN = 1e-9;

// The cell along a face's side of the face coordinate x in [-1, 1]: one
// monotone rounding for both the binning and the queries, so that a
// coordinate within a range falls within the range's cells.
int cellAlong(double x, int resolution) {
    const double at = (x + 1.0) * 0.5 * resolution;
    if (!(at >= 1.0)) {
        return 0;  // also NaN
    }
    // Truncation is the floor here: at is positive.
    return at >= resolution - 1 ? resolution - 1 : static_cast<int>(at);
}

}  // namespace

LightBlockers::LightBlockers(const FastWalk& walk, const Vec3& light) : light_(light) {
    const int count = walk.obstacleCount();
    // Some four times as many cells on a face as spheres, so that a far
    // sphere covers a cell or a few.
    resolution_ = std::clamp(static_cast<int>(std::ceil(4.0 * std::sqrt(count))), 8, 128);
    const int r = resolution_;
    const std::size_t cells = 6u * static_cast<std::size_t>(r) * static_cast<std::size_t>(r);

    // Each sphere's cell rectangle on each face it is seen through.
    struct Rectangle {
        int sphere, face, i0, i1, j0, j1;
    };
    // No point of the grown sphere is nearer the light than its reach.
    std::vector<double> reach(static_cast<std::size_t>(count));
    std::vector<Rectangle> rectangles;
    const double l[3] = {light.x, light.y, light.z};
    for (int s = 0; s < count; ++s) {
        const FastWalk::Sphere& sphere = walk.sphere(s);
        const double radius = std::sqrt(sphere.radiusSquared);
        double lo[3], hi[3];
        double far = 0.0;
        for (int a = 0; a < 3; ++a) {
            far = std::max(far, std::fabs(sphere.centre[a] - l[a]));
        }
        const double grown = radius + (radius + far) * GROWTH;
        const double d0 = sphere.centre[0] - l[0], d1 = sphere.centre[1] - l[1],
                     d2 = sphere.centre[2] - l[2];
        reach[static_cast<std::size_t>(s)] = std::sqrt(d0 * d0 + d1 * d1 + d2 * d2) - grown;
        bool finite = std::isfinite(grown);
        for (int a = 0; a < 3; ++a) {
            lo[a] = sphere.centre[a] - l[a] - grown;
            hi[a] = sphere.centre[a] - l[a] + grown;
            finite = finite && std::isfinite(lo[a]) && std::isfinite(hi[a]);
        }
        for (int face = 0; face < 6; ++face) {
            const int a = face % 3;
            const int b = (a + 1) % 3;
            const int c = (a + 2) % 3;
            // The major coordinate's range on the face's side.
            const double m0 = face < 3 ? lo[a] : -hi[a];
            const double m1 = face < 3 ? hi[a] : -lo[a];
            if (finite && !(m1 > 0.0)) {
                continue;  // wholly behind the face
            }
            Rectangle rect{s, face, 0, r - 1, 0, r - 1};
            if (finite && m0 > 0.0) {
                // In front of the face: each coordinate ratio's extremes over
                // the box are at its corners.
                double range[2][2];
                const int other[2] = {b, c};
                for (int k = 0; k < 2; ++k) {
                    const int o = other[k];
                    const double q[4] = {lo[o] / m0, lo[o] / m1, hi[o] / m0, hi[o] / m1};
                    range[k][0] = *std::min_element(q, q + 4) - MARGIN;
                    range[k][1] = *std::max_element(q, q + 4) + MARGIN;
                }
                if (range[0][0] > 1.0 || range[0][1] < -1.0 || range[1][0] > 1.0 ||
                    range[1][1] < -1.0) {
                    continue;  // seen through a neighbouring face only
                }
                rect.i0 = cellAlong(range[0][0], r);
                rect.i1 = cellAlong(range[0][1], r);
                rect.j0 = cellAlong(range[1][0], r);
                rect.j1 = cellAlong(range[1][1], r);
            }
            // Otherwise the box reaches the light's side of the face, or is
            // not finite: every cell of the face.
            rectangles.push_back(rect);
        }
    }

    // Counted, then placed: each cell's list nearest the light first, so
    // that a query stops at the first sphere beyond its point.
    std::stable_sort(rectangles.begin(), rectangles.end(),
                     [&reach](const Rectangle& x, const Rectangle& y) {
                         return reach[static_cast<std::size_t>(x.sphere)] <
                                reach[static_cast<std::size_t>(y.sphere)];
                     });
    first_.assign(cells + 1, 0);
    for (const Rectangle& rect : rectangles) {
        for (int j = rect.j0; j <= rect.j1; ++j) {
            for (int i = rect.i0; i <= rect.i1; ++i) {
                ++first_[(static_cast<std::size_t>(rect.face) * r + j) * r + i + 1];
            }
        }
    }
    for (std::size_t cell = 0; cell < cells; ++cell) {
        first_[cell + 1] += first_[cell];
    }
    candidates_.resize(static_cast<std::size_t>(first_[cells]));
    std::vector<std::int32_t> next(first_.begin(), first_.end() - 1);
    for (const Rectangle& rect : rectangles) {
        const FastWalk::Sphere& sphere = walk.sphere(rect.sphere);
        const Candidate candidate{{sphere.centre[0], sphere.centre[1], sphere.centre[2]},
                                  sphere.radiusSquared,
                                  reach[static_cast<std::size_t>(rect.sphere)]};
        for (int j = rect.j0; j <= rect.j1; ++j) {
            for (int i = rect.i0; i <= rect.i1; ++i) {
                candidates_[static_cast<std::size_t>(
                    next[(static_cast<std::size_t>(rect.face) * r + j) * r + i]++)] = candidate;
            }
        }
    }
}

int LightBlockers::cellOf(const Vec3& w) const {
    const double q[3] = {w.x, w.y, w.z};
    const double size[3] = {std::fabs(w.x), std::fabs(w.y), std::fabs(w.z)};
    // Not finite (NaN or infinite) or zero: no direction.
    const double sum = size[0] + size[1] + size[2];
    if (!(sum > 0.0 && sum <= std::numeric_limits<double>::max())) {
        return -1;
    }
    const int a = size[0] >= size[1] ? (size[0] >= size[2] ? 0 : 2) : (size[1] >= size[2] ? 1 : 2);
    // A reciprocal's rounding is far within the binning's margin.
    const double inverse = 1.0 / size[a];
    const int face = q[a] > 0.0 ? a : a + 3;
    const int i = cellAlong(q[(a + 1) % 3] * inverse, resolution_);
    const int j = cellAlong(q[(a + 2) % 3] * inverse, resolution_);
    return (face * resolution_ + j) * resolution_ + i;
}

int LightBlockers::candidates(const Vec3& p) const {
    const int cell = cellOf(p - light_);
    return cell < 0 ? -1
                    : first_[static_cast<std::size_t>(cell) + 1] -
                          first_[static_cast<std::size_t>(cell)];
}

LightBlockers::Answer LightBlockers::blocked(const Vec3& p, const Vec3& l) const {
    const Vec3 w = p - light_;
    const int cell = cellOf(w);
    if (cell < 0) {
        return ASK_THE_WALK;
    }
    // A blocking sphere's hit lies on the segment, nearer the light than p.
    const double distanceSquared = w.x * w.x + w.y * w.y + w.z * w.z;
    // The walk's sphere test, operation for operation.
    const double a = l.x * l.x + l.y * l.y + l.z * l.z;
    const Candidate* c = candidates_.data() + first_[static_cast<std::size_t>(cell)];
    const Candidate* end = candidates_.data() + first_[static_cast<std::size_t>(cell) + 1];
    for (; c != end; ++c) {
        if (c->reach > 0.0 && c->reach * c->reach > distanceSquared) {
            break;  // this one and all after it lie beyond p
        }
        const double e0 = p.x - c->centre[0];
        const double e1 = p.y - c->centre[1];
        const double e2 = p.z - c->centre[2];
        const double b = e0 * l.x + e1 * l.y + e2 * l.z;
        // Heading away from the centre, the nearer root is below 0 (or NaN):
        // no block, whatever the rest gives.
        if (b > 0.0) {
            continue;
        }
        const double k = (e0 * e0 + e1 * e1 + e2 * e2) - c->radiusSquared;
        const double disc = b * b - a * k;
        if (disc < 0.0) {
            continue;
        }
        const double u = -(b + std::sqrt(disc)) / a;
        if (u > 0.0 && u < 1.0) {
            return BLOCKED;
        }
    }
    return REACHES;
}

}  // namespace kelvo
