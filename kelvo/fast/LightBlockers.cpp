#include "kelvo/fast/LightBlockers.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <limits>

namespace kelvo {

namespace {

// A sphere is binned by its box, grown by this share of its radius and of its
// distance from the light; face coordinates of a box are widened by this
// much before binning. Both far exceed the rounding of any computed hit, face
// coordinate or distance, also where the x87 unit computes at single
// precision (the 32-bit build).
constexpr double GROWTH = 1e-5;
constexpr double MARGIN = 1e-5;

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
        const double nearest = std::sqrt(d0 * d0 + d1 * d1 + d2 * d2) - grown;
        // Not a number: tested by every query, first.
        reach[static_cast<std::size_t>(s)] =
            nearest == nearest ? nearest : -std::numeric_limits<double>::infinity();
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
    // that a query stops at the first sphere beyond its point, and padded to
    // whole groups.
    std::stable_sort(rectangles.begin(), rectangles.end(),
                     [&reach](const Rectangle& x, const Rectangle& y) {
                         return reach[static_cast<std::size_t>(x.sphere)] <
                                reach[static_cast<std::size_t>(y.sphere)];
                     });
    const auto cellAt = [r](int face, int i, int j) {
        return (static_cast<std::size_t>(face) * r + j) * r + i;
    };
    std::vector<std::int32_t> listed(cells, 0);
    for (const Rectangle& rect : rectangles) {
        for (int j = rect.j0; j <= rect.j1; ++j) {
            for (int i = rect.i0; i <= rect.i1; ++i) {
                ++listed[cellAt(rect.face, i, j)];
            }
        }
    }
    first_.assign(cells + 1, 0);
    for (std::size_t cell = 0; cell < cells; ++cell) {
        first_[cell + 1] = first_[cell] + (listed[cell] + GROUP - 1) / GROUP * GROUP;
    }
    const std::size_t entries = static_cast<std::size_t>(first_[cells]);
    // The padding never blocks: its reach ends every query, and its NaN
    // centre fails every comparison.
    const double nan = std::numeric_limits<double>::quiet_NaN();
    for (std::vector<double>& c : centre_) {
        c.assign(entries, nan);
    }
    radiusSquared_.assign(entries, nan);
    reach_.assign(entries, std::numeric_limits<double>::infinity());
    std::vector<std::int32_t> next(first_.begin(), first_.end() - 1);
    for (const Rectangle& rect : rectangles) {
        const FastWalk::Sphere& sphere = walk.sphere(rect.sphere);
        for (int j = rect.j0; j <= rect.j1; ++j) {
            for (int i = rect.i0; i <= rect.i1; ++i) {
                const std::size_t at = static_cast<std::size_t>(next[cellAt(rect.face, i, j)]++);
                for (int c = 0; c < 3; ++c) {
                    centre_[c][at] = sphere.centre[c];
                }
                radiusSquared_[at] = sphere.radiusSquared;
                reach_[at] = reach[static_cast<std::size_t>(rect.sphere)];
            }
        }
    }
}

LightBlockers::Lists LightBlockers::lists() const {
    return {first_.data(),
            {centre_[0].data(), centre_[1].data(), centre_[2].data()},
            radiusSquared_.data(),
            reach_.data()};
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
    const std::size_t end = static_cast<std::size_t>(first_[static_cast<std::size_t>(cell) + 1]);
    for (std::size_t s = static_cast<std::size_t>(first_[static_cast<std::size_t>(cell)]); s < end;
         ++s) {
        const double reach = reach_[s];
        if (reach > 0.0 && reach * reach > distanceSquared) {
            break;  // this one and all after it lie beyond p
        }
        const double e0 = p.x - centre_[0][s];
        const double e1 = p.y - centre_[1][s];
        const double e2 = p.z - centre_[2][s];
        const double b = e0 * l.x + e1 * l.y + e2 * l.z;
        // Heading away from the centre, the nearer root is below 0 (or NaN):
        // no block, whatever the rest gives.
        if (b > 0.0) {
            continue;
        }
        const double k = (e0 * e0 + e1 * e1 + e2 * e2) - radiusSquared_[s];
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

void LightBlockers::blockedAll(const double* const point[3], const double* const towards[3],
                               int count, Answer* answers) const {
#if defined(KELVO_PACKETS)
    ShadowLanes::blockedAll(*this, point, towards, count, answers);
#else
    for (int i = 0; i < count; ++i) {
        answers[i] = blocked({point[0][i], point[1][i], point[2][i]},
                             {towards[0][i], towards[1][i], towards[2][i]});
    }
#endif
}

}  // namespace kelvo
