#include "kelvo/fast/TileWalk.h"

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstdint>

#include "kelvo/world/World.h"

namespace kelvo {
namespace TileWalk {

namespace {

#if defined(FLT_EVAL_METHOD) && FLT_EVAL_METHOD == 0
constexpr bool ROUNDS_TO_DOUBLE = true;
#else
constexpr bool ROUNDS_TO_DOUBLE = false;
#endif

// Blocks of COLUMNS columns a call handles at once.
constexpr int MAX_BLOCKS = 64;
constexpr int MIN_ROWS = 4;
// How much the tile's exact quantities must clear a comparison by, relative
// to their scale: far more than every ray's rounding (each ray's origin and
// direction a few units in the last place from the exact line through its
// image point, and the step's own operations a few more), far less than a
// tile's spread.
constexpr double CLEARANCE = 1e-10;
// The same for a sphere left out of a tile's tests: its quadratic's
// discriminant rounds with an error relative to the square of the distance.
constexpr double SPHERE_CLEARANCE = 1e-6;

// The lines from the eye through a tile's four image-plane corners. Every ray
// of the tile starts on the image plane at q = eye + w, where w is a convex
// combination of the corners' w, and points along w.
struct Frustum {
    double eye[3];
    double w[4][3];
    // The scale of the points and of the w.
    double scale;
    double wMax;
    // The unit normals of its four sides, pointing out (zero where a side
    // is degenerate).
    double side[4][3];
    // Per axis, whether every w points up along it, and the least |w| on
    // it; whether every w points clearly up or down on every axis (a tile
    // parallel to a face somewhere does not step).
    bool up[3];
    double least[3];
    bool steps;
};

// Whether no ray of the tile can find a hit on any sphere of leaf. A ray's
// line misses a sphere that lies outside a side of the frustum by a clearance
// (its quadratic has no roots, to the bit, as its distance from the line
// exceeds the radius by far more than the rounding); a line that meets the
// sphere behind the eye meets it at negative u.
bool missesAll(const FastWalk& walk, const Frustum& f, int leaf) {
    const FastWalk::Leaf& l = walk.leaf(leaf);
    const std::int32_t* list = walk.leafList() + l.firstObstacle;
    for (int j = 0; j < l.obstacleCount; ++j) {
        const FastWalk::Sphere& sphere = walk.sphere(list[j]);
        const double e[3] = {sphere.centre[0] - f.eye[0], sphere.centre[1] - f.eye[1],
                             sphere.centre[2] - f.eye[2]};
        const double radius = std::sqrt(sphere.radiusSquared);
        const double far = std::max({std::fabs(e[0]), std::fabs(e[1]), std::fabs(e[2])});
        const double clearance = SPHERE_CLEARANCE * (far + radius + f.scale);
        bool outside = false;
        for (const double* n : f.side) {
            outside = outside || e[0] * n[0] + e[1] * n[1] + e[2] * n[2] > radius + clearance;
        }
        if (!outside) {
            return false;
        }
    }
    return true;
}

// The step's outcomes besides a next leaf.
constexpr int UNDECIDED = -2;  // some ray might choose otherwise
constexpr int LEAVES = -1;     // every ray leaves the domain

// Where every ray of the tile in leaf (with nothing found so far) goes next,
// as FastWalk::next computes it ray by ray: the face ahead with the least
// t, then the descent from the node across it with the exit point. A ray
// from q = eye + w along w reaches the plane x_k = F_k at distance
// |w| (G_k / w_k - 1), G_k = F_k - eye_k: which of two planes comes first,
// and where on a plane the ray meets it, are the same for its line from the
// eye. Across the tile, G_k w_b - G_b w_k is linear in w and so has its sign
// at the corners; the points where the lines meet a plane make a convex
// quadrilateral, the corners' own.
int stepOf(const FastWalk& walk, const Frustum& f, int leaf) {
    const FastWalk::Leaf& l = walk.leaf(leaf);
    double face[3], g[3];
    for (int k = 0; k < 3; ++k) {
        face[k] = l.face[3 * f.up[k] + k];
        g[k] = face[k] - f.eye[k];
    }
    const bool* up = f.up;
    const double* least = f.least;
    // The face ahead with the least t: on a tie the lower axis stays, so a
    // tile close to a tie steps ray by ray.
    int b = 0;
    for (int k = 1; k < 3; ++k) {
        const double clearance = CLEARANCE * (std::fabs(g[k]) + std::fabs(g[b]) + f.scale) * f.wMax;
        const double sign = up[k] == up[b] ? 1.0 : -1.0;
        int sooner = 0, later = 0;
        for (const double* w : f.w) {
            const double h = sign * (g[k] * w[b] - g[b] * w[k]);
            sooner += h < -clearance;
            later += h > clearance;
        }
        if (sooner == 4) {
            b = k;
        } else if (later != 4) {
            return UNDECIDED;
        }
    }
    const int entry = l.entry[3 * up[b] + b];
    if (entry < 0) {
        return LEAVES;
    }
    // The exit points' extent on the face's plane.
    double low[3], high[3], reach = 0.0;
    for (int a = 0; a < 3; ++a) {
        low[a] = a == b ? face[b] : HUGE_VAL;
        high[a] = a == b ? face[b] : -HUGE_VAL;
    }
    for (const double* w : f.w) {
        const double s = g[b] / w[b];
        reach = std::max(reach, std::fabs(s));
        for (int a = 0; a < 3; ++a) {
            if (a != b) {
                const double p = f.eye[a] + w[a] * s;
                low[a] = std::min(low[a], p);
                high[a] = std::max(high[a], p);
            }
        }
    }
    // A grazing exit spreads each ray's small errors along the plane.
    const double clearance = CLEARANCE * (f.scale + reach * f.wMax + std::fabs(face[b])) *
                             (f.wMax / least[b]);
    // The descent: a point on a split plane goes to the low side.
    int node = entry;
    for (;;) {
        const FastWalk::Node& n = walk.node(node);
        if (n.axis < 0) {
            return n.high;
        }
        if (n.split < low[n.axis] - clearance) {
            node = n.high;
        } else if (high[n.axis] + clearance <= n.split) {
            node = node + 1;
        } else {
            return UNDECIDED;
        }
    }
}

class Tiles {
public:
    Tiles(const FastWalk& walk, const Camera& camera, const Screen& screen, const Rays& rays)
        : walk_(walk), camera_(camera), screen_(screen), rays_(rays) {}

    // Columns [first, first + count), at most MAX_BLOCKS blocks.
    void run(int first, int count) {
        first_ = first;
        count_ = count;
        tile(0, (count + COLUMNS - 1) / COLUMNS, 0, rays_.rows, -1, 0);
    }

private:
    int columnOf(int block) const { return first_ + std::min(block * COLUMNS, count_); }

    // The lines through the corners of the image-plane rectangle that holds
    // the jittered points of the tile's pixels.
    Frustum frustumOf(int b0, int b1, int r0, int r1) const {
        const double u[2] = {(screen_.x0 + columnOf(b0)) * screen_.pixelWidth,
                             (screen_.x0 + columnOf(b1)) * screen_.pixelWidth};
        const double v[2] = {(screen_.y0 + r0) * screen_.pixelHeight,
                             (screen_.y0 + r1) * screen_.pixelHeight};
        Frustum f;
        const Vec3& eye = camera_.position;
        f.eye[0] = eye.x;
        f.eye[1] = eye.y;
        f.eye[2] = eye.z;
        f.wMax = 0.0;
        double reach = 0.0;
        for (int c = 0; c < 4; ++c) {
            for (int i = 0; i < 3; ++i) {
                const double q = camera_.screenOrigin[i] + (camera_.screenAxes[i][0] * u[c & 1] +
                                                            camera_.screenAxes[i][1] * v[c >> 1]);
                f.w[c][i] = q - f.eye[i];
                f.wMax = std::max(f.wMax, std::fabs(f.w[c][i]));
                reach = std::max(reach, std::fabs(q));
            }
        }
        f.scale = reach + std::max({std::fabs(eye.x), std::fabs(eye.y), std::fabs(eye.z)});
        const double tiny = CLEARANCE * (f.wMax + f.scale);
        f.steps = true;
        for (int k = 0; k < 3; ++k) {
            int above = 0, below = 0;
            f.least[k] = HUGE_VAL;
            for (const double* w : f.w) {
                above += w[k] > tiny;
                below += w[k] < -tiny;
                f.least[k] = std::min(f.least[k], std::fabs(w[k]));
            }
            f.up[k] = above == 4;
            f.steps = f.steps && (above == 4 || below == 4);
        }
        // The sides in turn around the corners: (u0, v0), (u1, v0), (u1, v1),
        // (u0, v1); outward is away from the corners' sum.
        const int around[4] = {0, 1, 3, 2};
        double inward[3];
        for (int i = 0; i < 3; ++i) {
            inward[i] = f.w[0][i] + f.w[1][i] + f.w[2][i] + f.w[3][i];
        }
        for (int c = 0; c < 4; ++c) {
            const double* a = f.w[around[c]];
            const double* b = f.w[around[(c + 1) % 4]];
            const double n[3] = {a[1] * b[2] - a[2] * b[1], a[2] * b[0] - a[0] * b[2],
                                 a[0] * b[1] - a[1] * b[0]};
            const double length = std::sqrt(n[0] * n[0] + n[1] * n[1] + n[2] * n[2]);
            const double facing = n[0] * inward[0] + n[1] * inward[1] + n[2] * inward[2];
            const double unit = length > 0.0 && std::isfinite(length)
                                    ? (facing > 0.0 ? -1.0 : 1.0) / length
                                    : 0.0;
            for (int i = 0; i < 3; ++i) {
                f.side[c][i] = n[i] * unit;
            }
        }
        return f;
    }

    // The tile of blocks [b0, b1) and rows [r0, r1), standing together in
    // leaf (or, at -1, each ray in its start leaf) after crossing `crossed`
    // leaves.
    void tile(int b0, int b1, int r0, int r1, int leaf, int crossed) {
        const int x0 = columnOf(b0), x1 = columnOf(b1);
        if (leaf < 0) {
            leaf = rays_.starts[r0 * rays_.stride + x0];
            bool same = true;
            for (int r = r0; r < r1; ++r) {
                const int* start = rays_.starts + r * rays_.stride;
                for (int x = x0; x < x1; ++x) {
                    same &= start[x] == leaf;
                }
            }
            if (!same) {
                split(b0, b1, r0, r1, -1, 0);
                return;
            }
        }
        const Frustum frustum = frustumOf(b0, b1, r0, r1);
        if (!frustum.steps) {
            split(b0, b1, r0, r1, leaf, crossed);
            return;
        }
        while (walk_.leaf(leaf).obstacleCount == 0 || missesAll(walk_, frustum, leaf)) {
            const int next = stepOf(walk_, frustum, leaf);
            if (next == UNDECIDED) {
                split(b0, b1, r0, r1, leaf, crossed);
                return;
            }
            ++crossed;
            if (next == LEAVES) {
                FastWalk::Hit hit;
                hit.t = NO_HIT_DISTANCE;
                hit.leaves = crossed;
                hit.leaf = leaf;
                for (int r = r0; r < r1; ++r) {
                    const int row = r * rays_.stride;
                    std::fill(rays_.hits + row + x0, rays_.hits + row + x1, hit);
                    std::fill(rays_.left + row + x0, rays_.left + row + x1, false);
                }
                return;
            }
            leaf = next;
        }
        leave(x0, x1, r0, r1, leaf, crossed);
    }

    // Halves the tile: its columns while it has more than one block, then its
    // rows down to two.
    void split(int b0, int b1, int r0, int r1, int leaf, int crossed) {
        if (b1 - b0 > 1) {
            const int middle = b0 + (b1 - b0) / 2;
            tile(b0, middle, r0, r1, leaf, crossed);
            tile(middle, b1, r0, r1, leaf, crossed);
        } else if (r1 - r0 > MIN_ROWS) {
            const int middle = r0 + MIN_ROWS;
            tile(b0, b1, r0, middle, leaf, crossed);
            tile(b0, b1, middle, r1, leaf, crossed);
        } else {
            leave(columnOf(b0), columnOf(b1), r0, r1, leaf, crossed);
        }
    }

    // The tile's rays, to be walked one by one from leaf.
    void leave(int x0, int x1, int r0, int r1, int leaf, int crossed) {
        for (int r = r0; r < r1; ++r) {
            const int row = r * rays_.stride;
            if (leaf >= 0) {
                std::fill(rays_.starts + row + x0, rays_.starts + row + x1, leaf);
            }
            std::fill(rays_.crossed + row + x0, rays_.crossed + row + x1, crossed);
            std::fill(rays_.left + row + x0, rays_.left + row + x1, true);
        }
    }

    const FastWalk& walk_;
    const Camera& camera_;
    const Screen& screen_;
    const Rays& rays_;
    int first_ = 0;
    int count_ = 0;
};

}  // namespace

bool available() { return ROUNDS_TO_DOUBLE; }

void stepTogether(const FastWalk& walk, const Camera& camera, const Screen& screen,
                  const Rays& rays, int count) {
    Tiles tiles(walk, camera, screen, rays);
    for (int first = 0; first < count; first += MAX_BLOCKS * COLUMNS) {
        tiles.run(first, std::min(count - first, MAX_BLOCKS * COLUMNS));
    }
}

}  // namespace TileWalk
}  // namespace kelvo
