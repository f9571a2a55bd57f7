#include "kelvo/fast/FastWalk.h"

#include <cmath>
#include <limits>
#include <typeinfo>
#include <unordered_map>

#include "kelvo/scene/ObstacleSphere.h"
#include "kelvo/world/World.h"

namespace kelvo {

namespace {
constexpr double INF = std::numeric_limits<double>::infinity();
}

FastWalk::FastWalk(const World& world) {
    const STNode* root = world.tree.root;
    if (root == nullptr) {
        return;
    }
    std::unordered_map<const Obstacle*, int> obstacleIndex;
    for (const vell::ListNode* n = world.obstacles; n != nullptr; n = n->next) {
        const Obstacle* o = static_cast<const Obstacle*>(n->item);
        // A subclass may answer intersect differently: only the sphere itself
        // is flattened.
        if (o == nullptr || typeid(*o) != typeid(ObstacleSphere)) {
            return;
        }
        if (obstacleIndex.emplace(o, static_cast<int>(obstacles_.size())).second) {
            const ObstacleSphere& s = static_cast<const ObstacleSphere&>(*o);
            obstacles_.push_back(o);
            surfaces_.push_back(s.getSurface());
            spheres_.push_back({{s.centre.x, s.centre.y, s.centre.z}, s.radius * s.radius,
                                s.inverseRadius});
        }
    }
    std::vector<const STNode*> order;
    flatten(root, order);
    std::unordered_map<const STNode*, int> nodeIndex;
    for (std::size_t i = 0; i < order.size(); ++i) {
        nodeIndex.emplace(order[i], static_cast<int>(i));
    }
    auto indexOf = [&](const STNode* node) { return node != nullptr ? nodeIndex.at(node) : -1; };
    for (std::size_t i = 0; i < order.size(); ++i) {
        const STNode* node = order[i];
        if (!node->isLeaf()) {
            nodes_[i].high = indexOf(node->children[1]);
            continue;
        }
        Leaf leaf{};
        for (int side = 0; side < 2; ++side) {
            for (int a = 0; a < 3; ++a) {
                const int f = 3 * side + a;
                const STNode* link = node->border.link(side, a);
                leaf.face[f] = node->border.faceValue(side, a);
                leaf.bound[f] = link != nullptr ? link->split : (side == 0 ? -INF : INF);
                leaf.link[f] = indexOf(link);
                leaf.entry[f] = link != nullptr ? indexOf(link->children[side]) : -1;
            }
        }
        leaf.firstObstacle = static_cast<std::int32_t>(leafList_.size());
        for (const vell::ListNode* n = node->obstacles; n != nullptr; n = n->next) {
            const auto found = obstacleIndex.find(static_cast<const Obstacle*>(n->item));
            if (found == obstacleIndex.end()) {
                return;  // a leaf lists an obstacle the World does not hold
            }
            leafList_.push_back(found->second);
        }
        leaf.obstacleCount = static_cast<std::int32_t>(leafList_.size()) - leaf.firstObstacle;
        nodes_[i].high = static_cast<std::int32_t>(leaves_.size());
        leaves_.push_back(leaf);
        leafNodes_.push_back(node);
    }
    if (obstacles_.size() <= 64) {
        leafObstacles_.assign(leafList_.begin(), leafList_.end());
    }
    flattened_ = true;
}

int FastWalk::flatten(const STNode* node, std::vector<const STNode*>& order) {
    const int index = static_cast<int>(order.size());
    order.push_back(node);
    nodes_.push_back({node->split, node->isLeaf() ? -1 : node->axis, -1});
    subtreeEnd_.push_back(index + 1);
    if (!node->isLeaf()) {
        flatten(node->children[0], order);
        flatten(node->children[1], order);
        subtreeEnd_[index] = static_cast<std::int32_t>(order.size());
    }
    return index;
}

int FastWalk::leafIndexOf(const STNode* node) const {
    for (std::size_t i = 0; i < leafNodes_.size(); ++i) {
        if (leafNodes_[i] == node) {
            return static_cast<int>(i);
        }
    }
    return -1;
}

int FastWalk::descend(int node, const Vec3& point) const {
    const double p[3] = {point.x, point.y, point.z};
    // A point exactly on a split plane goes to the low side.
    while (nodes_[node].axis >= 0) {
        const Node& n = nodes_[node];
        node = n.split < p[n.axis] ? n.high : node + 1;
    }
    return nodes_[node].high;
}

void FastWalk::predict(int entry, int leaf, Prediction& guess) const {
    // The descent from entry tests exactly the leaf's links inside entry's
    // subtree (the deepest link per side and axis is the tightest test).
    const double infinity = std::numeric_limits<double>::infinity();
    const Leaf& l = leaves_[leaf];
    for (int i = 0; i < 3; ++i) {
        const int low = l.link[i];
        const int high = l.link[3 + i];
        guess.low[i] = low >= entry && low < subtreeEnd_[entry] ? l.face[i] : -infinity;
        guess.high[i] = high >= entry && high < subtreeEnd_[entry] ? l.face[3 + i] : infinity;
    }
    guess.leaf = leaf;
}

int FastWalk::next(const Ray& ray, int leaf, Prediction* predictions) const {
    const Leaf& l = leaves_[leaf];
    const double o[3] = {ray.origin.x, ray.origin.y, ray.origin.z};
    const double d[3] = {ray.direction.x, ray.direction.y, ray.direction.z};
    int side[3];
    double num[3];
    int b = -1;
    for (int k = 0; k < 3; ++k) {
        side[k] = d[k] > 0.0 ? 1 : 0;
        num[k] = l.face[3 * side[k] + k] - o[k];
        if (d[k] == 0.0) {
            continue;
        }
        // t_k < t_b without dividing; on a tie the lower axis stays.
        if (b < 0 || num[k] * d[k] * (d[b] * d[b]) < num[b] * d[b] * (d[k] * d[k])) {
            b = k;
        }
    }
    if (b < 0) {
        return -1;
    }
    const int f = 3 * side[b] + b;
    if (l.entry[f] < 0) {
        return -1;
    }
    const double t = num[b] / d[b];
    const double p[3] = {d[0] * t + o[0], d[1] * t + o[1], d[2] * t + o[2]};
    return enter(leaf, f, p, predictions);
}

int FastWalk::enter(int leaf, int f, const double p[3], Prediction* predictions) const {
    const int entry = leaves_[leaf].entry[f];
    if (predictions == nullptr) {
        return descend(entry, {p[0], p[1], p[2]});
    }
    Prediction& guess = predictions[leaf * 6 + f];
    // Every comparison, no early exit: the six are cheaper than the branches.
    const bool pass = (guess.low[0] < p[0]) & (guess.low[1] < p[1]) & (guess.low[2] < p[2]) &
                      (p[0] <= guess.high[0]) & (p[1] <= guess.high[1]) &
                      (p[2] <= guess.high[2]);
    if (pass && guess.leaf >= 0) {
        return guess.leaf;
    }
    const int reached = descend(entry, {p[0], p[1], p[2]});
    predict(entry, reached, guess);
    return reached;
}

FastWalk::Hit FastWalk::nearestHit(const Ray& ray, int leaf, Prediction* predictions,
                                   Mailbox& mailbox) const {
    const std::uint32_t query = mailbox.nextQuery();
    return walkFrom(ray, leaf, predictions, [&](int s) { return mailbox.firstTest(s, query); });
}

FastWalk::Hit FastWalk::nearestHit(const Ray& ray, int leaf, Prediction* predictions) const {
    std::uint64_t tested = 0;
    return walkFrom(ray, leaf, predictions, [&](int s) {
        const std::uint64_t bit = std::uint64_t{1} << s;
        const bool first = (tested & bit) == 0;
        tested |= bit;
        return first;
    });
}

template <class Tested>
FastWalk::Hit FastWalk::walkFrom(const Ray& ray, int leaf, Prediction* predictions,
                                 Tested&& firstTest) const {
    const double o[3] = {ray.origin.x, ray.origin.y, ray.origin.z};
    const double d[3] = {ray.direction.x, ray.direction.y, ray.direction.z};
    // The same for every sphere of the query, and the same bits as each
    // sphere's own d.d.
    const double a = d[0] * d[0] + d[1] * d[1] + d[2] * d[2];
    Hit hit;
    hit.t = NO_HIT_DISTANCE;
    double h[3] = {0.0, 0.0, 0.0};
    for (;;) {
        const Leaf& l = leaves_[leaf];
        int find = -1;
        const std::int32_t* list = leafList_.data() + l.firstObstacle;
        for (int i = 0; i < l.obstacleCount; ++i) {
            const int s = list[i];
            if (!firstTest(s)) {
                continue;
            }
            ++hit.tests;
            const Sphere& sphere = spheres_[s];
            const double e0 = o[0] - sphere.centre[0];
            const double e1 = o[1] - sphere.centre[1];
            const double e2 = o[2] - sphere.centre[2];
            const double b = e0 * d[0] + e1 * d[1] + e2 * d[2];
            const double k = (e0 * e0 + e1 * e1 + e2 * e2) - sphere.radiusSquared;
            const double disc = b * b - a * k;
            if (disc < 0.0) {
                continue;
            }
            const double u = -(b + std::sqrt(disc)) / a;
            // Strictly nearer: between equal distances the one tested first wins.
            if (u > 0.0 && u < hit.t) {
                hit.t = u;
                find = s;
            }
        }
        if (find >= 0) {
            hit.obstacle = find;
            for (int i = 0; i < 3; ++i) {
                h[i] = o[i] + hit.t * d[i];
            }
        }
        if (hit.obstacle >= 0) {
            // Closed: a point on a face belongs to the leaf.
            bool inside = true;
            for (int i = 0; i < 3; ++i) {
                inside &= !(l.bound[i] > h[i]);
                inside &= !(l.bound[3 + i] < h[i]);
            }
            if (inside) {
                hit.leaf = leaf;
                return hit;
            }
        }
        ++hit.leaves;
        const int following = next(ray, leaf, predictions);
        if (following < 0) {
            hit.leaf = leaf;
            hit.obstacle = -1;
            return hit;
        }
        leaf = following;
    }
}

}  // namespace kelvo
