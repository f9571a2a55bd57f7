#pragma once

// Awkward rays for a space tree and the literal answer to a nearest-hit query,
// shared by the tests of the fast walk.

#include <cstring>
#include <random>
#include <vector>

#include "kelvo/fast/FastWalk.h"
#include "kelvo/scene/ObstacleSphere.h"
#include "kelvo/world/World.h"

namespace kelvo::testing {

// What the literal query answers: walker on the root, locate the origin,
// nearestHit with a leaf count.
struct LiteralHit {
    const Obstacle* obstacle = nullptr;
    double t = 0.0;
    int leaves = 0;
    const STNode* leaf = nullptr;
};

inline LiteralHit literalHit(const World& world, const Ray& ray) {
    STNodeIterator walker(world.tree.root);
    walker.locate(ray.origin);
    LiteralHit hit;
    hit.obstacle = World::nearestHit(ray, hit.t, walker, &hit.leaves);
    hit.leaf = walker.current;
    return hit;
}

inline bool sameBits(double a, double b) { return std::memcmp(&a, &b, sizeof a) == 0; }

// Whether a fast answer is the literal one: obstacle, bits of t, leaves
// crossed and the confirming (or last) leaf.
inline bool sameHit(const FastWalk& walk, const LiteralHit& literal, const FastWalk::Hit& fast) {
    const Obstacle* obstacle = fast.obstacle >= 0 ? walk.obstacle(fast.obstacle) : nullptr;
    return obstacle == literal.obstacle && sameBits(fast.t, literal.t) &&
           fast.leaves == literal.leaves && walk.leafNode(fast.leaf) == literal.leaf;
}

// Rays that sit on the tree's own planes, edges and corners, on sphere poles,
// outside the domain, along axes and inside split planes, and their
// one-ulp neighbours.
class AwkwardRays {
public:
    AwkwardRays(const World& world, std::uint64_t seed) : random_(seed) {
        collect(world.tree.root);
        for (const vell::ListNode* n = world.obstacles; n != nullptr; n = n->next) {
            const auto* s = dynamic_cast<const ObstacleSphere*>(static_cast<const Obstacle*>(n->item));
            if (s == nullptr) {
                continue;
            }
            for (int a = 0; a < 3; ++a) {
                for (double side : {-1.0, 1.0}) {
                    Vec3 pole = s->centre;
                    pole[a] = s->centre[a] + side * s->radius;
                    poles_.push_back(pole);
                }
            }
        }
        for (const vell::ListNode* n = world.lights; n != nullptr; n = n->next) {
            poles_.push_back(static_cast<const PointLight*>(n->item)->position);
        }
        for (int a = 0; a < 3; ++a) {
            if (splits_[a].empty()) {
                splits_[a].push_back(0.0);
            }
        }
        if (corners_.empty()) {
            corners_.push_back({0, 0, 0});
        }
        if (poles_.empty()) {
            poles_.push_back({0, 0, 0});
        }
    }

    // A base ray followed by `neighbours` one-ulp variants of it.
    void batch(std::vector<Ray>& out, int neighbours) {
        const Ray base = make();
        out.push_back(base);
        for (int i = 0; i < neighbours; ++i) {
            Ray r = base;
            const int which = pick(6);
            double& c = which < 3 ? r.origin[which] : r.direction[which - 3];
            const int steps = 1 + pick(2);
            for (int s = 0; s < steps; ++s) {
                c = std::nextafter(c, pick(2) ? 1e300 : -1e300);
            }
            out.push_back(r);
        }
    }

private:
    int pick(int n) { return static_cast<int>(random_() % static_cast<std::uint64_t>(n)); }
    double uniform(double lo, double hi) {
        return std::uniform_real_distribution<double>(lo, hi)(random_);
    }
    double split(int a) { return splits_[a][pick(static_cast<int>(splits_[a].size()))]; }

    Vec3 origin() {
        Vec3 p{uniform(-7, 7), uniform(-7, 7), uniform(-7, 7)};
        switch (pick(7)) {
        case 0:
            return p;
        case 1:  // on a split plane
            lastAxis_ = pick(3);
            p[lastAxis_] = split(lastAxis_);
            return p;
        case 2: {  // on an edge where two planes meet
            const int a = pick(3);
            const int b = (a + 1 + pick(2)) % 3;
            p[a] = split(a);
            p[b] = split(b);
            lastAxis_ = a;
            return p;
        }
        case 3:
            return poles_[pick(static_cast<int>(poles_.size()))];
        case 4:
            return corners_[pick(static_cast<int>(corners_.size()))];
        case 5: {  // outside the domain, or exactly on its boundary
            const double far[] = {1e38, ST_INFINITY, 3.4028234663852886e38, 9e37};
            p[pick(3)] = (pick(2) ? 1.0 : -1.0) * far[pick(4)];
            return p;
        }
        default:  // far away, inside the domain
            p[pick(3)] = (pick(2) ? 1.0 : -1.0) * uniform(10, 1e6);
            return p;
        }
    }

    Ray make() {
        lastAxis_ = -1;
        const Vec3 o = origin();
        Vec3 d;
        switch (pick(5)) {
        case 0: {  // along an axis, any length
            const int a = pick(3);
            d[a] = (pick(2) ? 1.0 : -1.0) * (pick(2) ? 1.0 : uniform(0.1, 10));
            break;
        }
        case 1: {  // inside the origin's split plane, or one zero component
            d = {uniform(-1, 1), uniform(-1, 1), uniform(-1, 1)};
            d[lastAxis_ >= 0 ? lastAxis_ : pick(3)] = 0.0;
            break;
        }
        case 2:  // through a leaf's corner
            d = corners_[pick(static_cast<int>(corners_.size()))] - o;
            break;
        case 3:  // through a pole or the light
            d = poles_[pick(static_cast<int>(poles_.size()))] - o;
            break;
        default:
            d = {uniform(-1, 1), uniform(-1, 1), uniform(-1, 1)};
            break;
        }
        if (d == Vec3{}) {
            d = {0, 0, 1};
        }
        return {o, d};
    }

    void collect(const STNode* node) {
        if (node == nullptr) {
            return;
        }
        if (!node->isLeaf()) {
            splits_[node->axis].push_back(node->split);
            collect(node->children[0]);
            collect(node->children[1]);
            return;
        }
        const Box b = node->border.bounds();
        // Unbounded faces are moved in to a finite stand-in.
        auto finite = [](double v) { return v < -1e30 ? -40.0 : (v > 1e30 ? 40.0 : v); };
        for (int c = 0; c < 8; ++c) {
            corners_.push_back({finite((c & 1) ? b.max(0) : b.min(0)),
                                finite((c & 2) ? b.max(1) : b.min(1)),
                                finite((c & 4) ? b.max(2) : b.min(2))});
        }
    }

    std::mt19937_64 random_;
    std::vector<double> splits_[3];
    std::vector<Vec3> corners_;
    std::vector<Vec3> poles_;
    int lastAxis_ = -1;
};

}  // namespace kelvo::testing
