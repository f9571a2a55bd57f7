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
// How much the tile's exact quantities must clear a comparison by, relative
// to their scale: far more than every ray's rounding (each ray's origin and
// direction a few units in the last place from the exact line through its
// image point, and the step's own operations a few more), far less than a
// tile's spread.
constexpr double CLEARANCE = 1e-10;
// The same for a sphere left out of a tile's tests: its quadratic's
// discriminant rounds with an error relative to the square of the distance.
constexpr double SPHERE_CLEARANCE = 1e-6;
// A tile's corners at most, its cuts at most, and the fewest rays a tile
// steps for (fewer walk on alone).
constexpr int MAX_CORNERS = 12;
constexpr int MAX_CUTS = 40;
constexpr int FEWEST_RAYS = 4;

// A convex polygon of image-plane points (u, v), corners in turn.
struct Shape {
    double u[MAX_CORNERS];
    double v[MAX_CORNERS];
    int n = 0;
};

// The lines from the eye through a tile's corners. Every ray of the tile
// starts on the image plane at q = eye + w, where w is a convex combination of
// the corners' w, and points along w.
struct Frustum {
    double eye[3];
    double w[MAX_CORNERS][3];
    int n;
    // The scale of the points and of the w.
    double scale;
    double wMax;
    // The unit normals of its sides, pointing out (zero where a side is
    // degenerate), once worked out (sided).
    double side[MAX_CORNERS][3];
    bool sided;
    // Per axis, whether every w points up along it, and the least |w| on
    // it; an axis along which some w points neither clearly up nor clearly
    // down (the tile is parallel to a face somewhere), or -1.
    bool up[3];
    double least[3];
    int level;
};

// Where the rays' steps part: along the zero of c . w, the rays on each side
// by more than margin making one choice.
struct Cut {
    double c[3];
    double margin;
};

// The step's outcomes besides a next leaf.
constexpr int UNDECIDED = -2;  // some ray might choose otherwise
constexpr int LEAVES = -1;     // every ray leaves the domain

// Whether no ray of the tile can find a hit on any sphere of leaf. A ray's
// line misses a sphere that lies outside a side of the frustum by a clearance
// (its quadratic has no roots, to the bit, as its distance from the line
// exceeds the radius by far more than the rounding); a line that meets the
// sphere behind the eye meets it at negative u.
bool missesAll(const FastWalk& walk, Frustum& f, int leaf) {
    if (!f.sided) {
        // The sides in turn around the corners; outward is away from the
        // corners' sum.
        double inward[3] = {0.0, 0.0, 0.0};
        for (int c = 0; c < f.n; ++c) {
            for (int i = 0; i < 3; ++i) {
                inward[i] += f.w[c][i];
            }
        }
        for (int c = 0; c < f.n; ++c) {
            const double* a = f.w[c];
            const double* b = f.w[(c + 1) % f.n];
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
        f.sided = true;
    }
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
        for (int c = 0; c < f.n && !outside; ++c) {
            const double* n = f.side[c];
            outside = e[0] * n[0] + e[1] * n[1] + e[2] * n[2] > radius + clearance;
        }
        if (!outside) {
            return false;
        }
    }
    return true;
}

// Where every ray of the tile in leaf (with nothing found so far) goes next,
// as FastWalk::next computes it ray by ray: the face ahead with the least
// t, then the descent from the node across it with the exit point. A ray
// from q = eye + w along w reaches the plane x_k = F_k at distance
// |w| (G_k / w_k - 1), G_k = F_k - eye_k: which of two planes comes first,
// and where on a plane the ray meets it, are the same for its line from the
// eye. Across the tile, G_k w_b - G_b w_k is linear in w and so has its sign
// at the corners; the points where the lines meet a plane make a convex
// polygon, the corners' own. Undecided, it gives the cut that decides.
int stepOf(const FastWalk& walk, const Frustum& f, int leaf, Cut& cut) {
    const FastWalk::Leaf& l = walk.leaf(leaf);
    double face[3], g[3];
    for (int k = 0; k < 3; ++k) {
        face[k] = l.face[3 * f.up[k] + k];
        g[k] = face[k] - f.eye[k];
    }
    cut = {{0.0, 0.0, 0.0}, -1.0};
    // The face ahead with the least t: on a tie the lower axis stays, so a
    // tile close to a tie steps ray by ray.
    int b = 0;
    for (int k = 1; k < 3; ++k) {
        const double clearance =
            CLEARANCE * (std::fabs(g[k]) + std::fabs(g[b]) + f.scale) * f.wMax;
        const double sign = f.up[k] == f.up[b] ? 1.0 : -1.0;
        int sooner = 0, later = 0;
        for (int c = 0; c < f.n; ++c) {
            const double* w = f.w[c];
            const double h = sign * (g[k] * w[b] - g[b] * w[k]);
            sooner += h < -clearance;
            later += h > clearance;
        }
        if (sooner == f.n) {
            b = k;
        } else if (later != f.n) {
            cut.c[b] = g[k];
            cut.c[k] = -g[b];
            cut.margin = clearance;
            return UNDECIDED;
        }
    }
    const int entry = l.entry[3 * f.up[b] + b];
    if (entry < 0) {
        return LEAVES;
    }
    // The exit points' extent on the face's plane.
    double low[3], high[3], reach = 0.0, most = 0.0;
    for (int a = 0; a < 3; ++a) {
        low[a] = a == b ? face[b] : HUGE_VAL;
        high[a] = a == b ? face[b] : -HUGE_VAL;
    }
    for (int c = 0; c < f.n; ++c) {
        const double* w = f.w[c];
        const double s = g[b] / w[b];
        reach = std::max(reach, std::fabs(s));
        most = std::max(most, std::fabs(w[b]));
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
                             (f.wMax / f.least[b]);
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
            // The lines meet the split where (eye_a - s) w_b + G_b w_a = 0,
            // p_a - s being that over w_b. A split in the exit face's own
            // plane parts the rays by their rounding alone: no cut.
            if (n.axis != b) {
                cut.c[b] = f.eye[n.axis] - n.split;
                cut.c[n.axis] = g[b];
                cut.margin = clearance * most;
            }
            return UNDECIDED;
        }
    }
}

class Tiles {
public:
    Tiles(const FastWalk& walk, const Camera& camera, const Screen& screen, const Rays& rays)
        : walk_(walk), camera_(camera), screen_(screen), rays_(rays) {
        for (int i = 0; i < 3; ++i) {
            // w(u, v) = base + u * along[0] + v * along[1], as the camera
            // makes q(u, v) less the eye.
            base_[i] = camera.screenOrigin[i] - camera.position[i];
            along_[0][i] = camera.screenAxes[i][0];
            along_[1][i] = camera.screenAxes[i][1];
        }
    }

    // Columns [first, first + count), at most MAX_BLOCKS blocks, from leaf
    // start (-1: from each ray's start).
    void run(int first, int count, int start) {
        first_ = first;
        count_ = count;
        next_ = 0;
        const int blocks = (count + COLUMNS - 1) / COLUMNS;
        if (start >= 0) {
            tileFrom(0, blocks, start);
        } else {
            startFrom(0, blocks);
        }
    }

private:
    int columnOf(int block) const { return first_ + std::min(block * COLUMNS, count_); }

    // The tile of blocks [b0, b1) of every row, from the rays' start leaf
    // where they share one; else halved, down to single blocks that walk on
    // alone.
    void startFrom(int b0, int b1) {
        const int x0 = columnOf(b0), x1 = columnOf(b1);
        const int leaf = rays_.starts[x0];
        bool same = true;
        for (int r = 0; r < rays_.rows && same; ++r) {
            const int* start = rays_.starts + r * rays_.stride;
            same = std::all_of(start + x0, start + x1, [leaf](int s) { return s == leaf; });
        }
        if (!same) {
            if (b1 - b0 > 1) {
                const int middle = b0 + (b1 - b0) / 2;
                startFrom(b0, middle);
                startFrom(middle, b1);
            }
            return;  // the rays stay left, from their own starts
        }
        tileFrom(b0, b1, leaf);
    }

    // The tile of blocks [b0, b1) of every row, all its rays starting in leaf.
    void tileFrom(int b0, int b1, int leaf) {
        const int x0 = columnOf(b0), x1 = columnOf(b1);
        const int lo = next_;
        for (int r = 0; r < rays_.rows; ++r) {
            for (int x = x0; x < x1; ++x) {
                rays_.order[next_++] = r * rays_.stride + x;
            }
        }
        Shape rectangle;
        const double u0 = (screen_.x0 + x0) * screen_.pixelWidth;
        const double u1 = (screen_.x0 + x1) * screen_.pixelWidth;
        const double v0 = screen_.y0 * screen_.pixelHeight;
        const double v1 = (screen_.y0 + rays_.rows) * screen_.pixelHeight;
        rectangle.n = 4;
        rectangle.u[0] = u0, rectangle.v[0] = v0;
        rectangle.u[1] = u1, rectangle.v[1] = v0;
        rectangle.u[2] = u1, rectangle.v[2] = v1;
        rectangle.u[3] = u0, rectangle.v[3] = v1;
        tile(rectangle, lo, next_, leaf, 0, 0);
    }

    void wOf(double u, double v, double* w) const {
        for (int i = 0; i < 3; ++i) {
            w[i] = base_[i] + (along_[0][i] * u + along_[1][i] * v);
        }
    }

    Frustum frustumOf(const Shape& shape) const {
        Frustum f;
        const Vec3& eye = camera_.position;
        f.eye[0] = eye.x;
        f.eye[1] = eye.y;
        f.eye[2] = eye.z;
        f.n = shape.n;
        f.wMax = 0.0;
        double reach = 0.0;
        for (int c = 0; c < f.n; ++c) {
            wOf(shape.u[c], shape.v[c], f.w[c]);
            for (int i = 0; i < 3; ++i) {
                f.wMax = std::max(f.wMax, std::fabs(f.w[c][i]));
                reach = std::max(reach, std::fabs(f.w[c][i] + f.eye[i]));
            }
        }
        f.scale = reach + std::max({std::fabs(eye.x), std::fabs(eye.y), std::fabs(eye.z)});
        const double tiny = CLEARANCE * (f.wMax + f.scale);
        f.level = -1;
        for (int k = 0; k < 3; ++k) {
            int above = 0, below = 0;
            f.least[k] = HUGE_VAL;
            for (int c = 0; c < f.n; ++c) {
                above += f.w[c][k] > tiny;
                below += f.w[c][k] < -tiny;
                f.least[k] = std::min(f.least[k], std::fabs(f.w[c][k]));
            }
            f.up[k] = above == f.n;
            if (above != f.n && below != f.n && f.level < 0) {
                f.level = k;
            }
        }
        f.sided = false;
        return f;
    }

    // The part of shape where a + b u + c v >= m.
    static Shape clipped(const Shape& shape, double a, double b, double c, double m) {
        Shape out;
        for (int i = 0; i < shape.n; ++i) {
            const int j = (i + 1) % shape.n;
            const double fi = a + b * shape.u[i] + c * shape.v[i] - m;
            const double fj = a + b * shape.u[j] + c * shape.v[j] - m;
            if (out.n + 2 > MAX_CORNERS) {
                out.n = 0;
                return out;
            }
            if (fi >= 0.0) {
                out.u[out.n] = shape.u[i];
                out.v[out.n] = shape.v[i];
                ++out.n;
            }
            if ((fi >= 0.0) != (fj >= 0.0)) {
                const double t = fi / (fi - fj);
                out.u[out.n] = shape.u[i] + t * (shape.u[j] - shape.u[i]);
                out.v[out.n] = shape.v[i] + t * (shape.v[j] - shape.v[i]);
                ++out.n;
            }
        }
        return out;
    }

    // The rays order[lo, hi), all within shape and standing together in
    // leaf after crossing `crossed` leaves, after `cuts` cuts.
    void tile(const Shape& shape, int lo, int hi, int leaf, int crossed, int cuts) {
        if (hi - lo < FEWEST_RAYS || shape.n < 3 || cuts > MAX_CUTS) {
            leave(lo, hi, leaf, crossed);
            return;
        }
        Frustum frustum = frustumOf(shape);
        Cut cut = {{0.0, 0.0, 0.0}, -1.0};
        if (frustum.level >= 0) {
            cut.c[frustum.level] = 1.0;
            cut.margin = CLEARANCE * (frustum.wMax + frustum.scale);
        } else {
            for (;;) {
                if (walk_.leaf(leaf).obstacleCount > 0 && !missesAll(walk_, frustum, leaf)) {
                    leave(lo, hi, leaf, crossed);
                    return;
                }
                const int next = stepOf(walk_, frustum, leaf, cut);
                if (next == UNDECIDED) {
                    break;
                }
                ++crossed;
                if (next == LEAVES) {
                    FastWalk::Hit hit;
                    hit.t = NO_HIT_DISTANCE;
                    hit.leaves = crossed;
                    hit.leaf = leaf;
                    for (int k = lo; k < hi; ++k) {
                        rays_.hits[rays_.order[k]] = hit;
                        rays_.left[rays_.order[k]] = false;
                    }
                    return;
                }
                leaf = next;
            }
        }
        if (!(cut.margin >= 0.0)) {
            leave(lo, hi, leaf, crossed);
            return;
        }
        // The cut in image-plane terms, a + b u + c v; the rays well on each
        // side go on in the part of the shape on their side, those near it
        // walk on alone.
        double a = 0.0, b = 0.0, c = 0.0;
        for (int i = 0; i < 3; ++i) {
            a += cut.c[i] * base_[i];
            b += cut.c[i] * along_[0][i];
            c += cut.c[i] * along_[1][i];
        }
        // Three ways in one pass, each part keeping the rays' order (so that
        // neighbours stay together, and the sides of later cuts come in
        // runs): the rays clearly on the plus side stay in front, those
        // clearly on the minus side go to the back, those near the line
        // between, by way of the spare room.
        const double margin = 2.0 * cut.margin;
        int* order = rays_.order;
        int* spare = rays_.spare;
        int plus = lo, under = lo, near = hi;
        for (int k = lo; k < hi; ++k) {
            const int i = order[k];
            const double side = a + b * rays_.u[i] + c * rays_.v[i];
            if (side > margin) {
                order[plus++] = i;
            } else if (side < -margin) {
                spare[under++] = i;
            } else {
                spare[--near] = i;
            }
        }
        const int minus = plus + (hi - near);
        std::reverse_copy(spare + near, spare + hi, order + plus);
        std::copy(spare + lo, spare + under, order + minus);
        leave(plus, minus, leaf, crossed);
        const double m = 1.5 * cut.margin;
        tile(clipped(shape, a, b, c, m), lo, plus, leaf, crossed, cuts + 1);
        tile(clipped(shape, -a, -b, -c, m), minus, hi, leaf, crossed, cuts + 1);
    }

    // The rays order[lo, hi), to be walked one by one from leaf.
    void leave(int lo, int hi, int leaf, int crossed) {
        for (int k = lo; k < hi; ++k) {
            const int i = rays_.order[k];
            rays_.starts[i] = leaf;
            rays_.crossed[i] = crossed;
        }
    }

    const FastWalk& walk_;
    const Camera& camera_;
    const Screen& screen_;
    const Rays& rays_;
    double base_[3];
    double along_[2][3];
    int first_ = 0;
    int count_ = 0;
    int next_ = 0;
};

}  // namespace

bool available() { return ROUNDS_TO_DOUBLE; }

int startLeaf(const FastWalk& walk, const Camera& camera, const Screen& screen, int rows,
              int count) {
    if (!ROUNDS_TO_DOUBLE || rows <= 0 || count <= 0) {
        return -1;
    }
    // The rays start on the image plane at q(u, v), the corners' q spanning
    // them; a leaf that holds all four well inside is where the descent from
    // the root ends for each.
    const double u[2] = {screen.x0 * screen.pixelWidth, (screen.x0 + count) * screen.pixelWidth};
    const double v[2] = {screen.y0 * screen.pixelHeight, (screen.y0 + rows) * screen.pixelHeight};
    double q[4][3];
    double scale = 0.0;
    for (int c = 0; c < 4; ++c) {
        for (int i = 0; i < 3; ++i) {
            q[c][i] = camera.screenOrigin[i] +
                      (camera.screenAxes[i][0] * u[c & 1] + camera.screenAxes[i][1] * v[c >> 1]);
            scale = std::max(scale, std::fabs(q[c][i]));
        }
    }
    const int leaf = walk.locate({q[0][0], q[0][1], q[0][2]});
    const double* bound = walk.leaf(leaf).bound;
    const double clearance = CLEARANCE * scale;
    bool inside = true;
    for (const double* p : q) {
        for (int i = 0; i < 3; ++i) {
            inside &= bound[i] + clearance < p[i] && p[i] + clearance <= bound[3 + i];
        }
    }
    return inside ? leaf : -1;
}

void stepTogether(const FastWalk& walk, const Camera& camera, const Screen& screen,
                  const Rays& rays, int count, int start) {
    Tiles tiles(walk, camera, screen, rays);
    for (int first = 0; first < count; first += MAX_BLOCKS * COLUMNS) {
        tiles.run(first, std::min(count - first, MAX_BLOCKS * COLUMNS), start);
    }
}

}  // namespace TileWalk
}  // namespace kelvo
