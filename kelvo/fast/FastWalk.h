#pragma once

#include <algorithm>
#include <cstdint>
#include <vector>

#include "kelvo/scene/Obstacle.h"
#include "kelvo/scene/Ray.h"
#include "kelvo/scene/Surface.h"
#include "kelvo/scene/Vec3.h"
#include "kelvo/tree/STNode.h"

namespace kelvo {

class World;

// The space tree and its spheres flattened into arrays, and the nearest-hit
// query over them. Every query gives the literal walk's answer to the bit: the
// same obstacle, the same t, the same count of leaves crossed and the same
// confirming leaf. The shortcuts only skip work whose outcome is already known:
// a tested-once mark per obstacle instead of a list, a remembered next leaf that is
// accepted only when the exit point passes the very comparisons the descent
// would make, and the leaf of a hit point reused when the descent from the
// root would end there.
class FastWalk {
public:
    // Nodes in preorder: the low child of node i is node i + 1.
    struct Node {
        double split;
        std::int32_t axis;  // -1 in a leaf
        std::int32_t high;  // the high child's index, or in a leaf its leaf index
    };
    // Faces are indexed as the border links: 3 * side + axis.
    struct Leaf {
        // The face coordinates the exit step measures to (+-ST_INFINITY when
        // unbounded).
        double face[6];
        // The same faces for the containment tests, with true infinities where
        // unbounded, so that an unbounded face never excludes.
        double bound[6];
        // The node the descent starts from after leaving through a face, or -1
        // where the face is the domain's boundary.
        std::int32_t entry[6];
        // Node indices of the border links, -1 when null.
        std::int32_t link[6];
        std::int32_t firstObstacle;
        std::int32_t obstacleCount;
    };
    struct Sphere {
        double centre[3];
        double radiusSquared;
        double inverseRadius;
    };
    // The leaf that the descent from a face's entry node reached last time,
    // with the bounds of the faces that descent tests; a face it does not test
    // is an infinite one. A point passes with the descent's rule (low < p,
    // p <= high); an infinite bound only fails points the descent would also
    // have to examine (infinite or NaN), which then descend.
    struct Prediction {
        double low[3];
        double high[3];
        std::int32_t leaf = -1;
    };
    // The tested-once marks of one worker: for each obstacle the number of the
    // query (or packet of queries) that tested it last, and for a packet the
    // bits of its lanes that did. Numbering clears every mark at once; the
    // table is wiped only when the numbers wrap around.
    class Mailbox {
    public:
        Mailbox() = default;
        explicit Mailbox(int obstacles) { resize(obstacles); }
        void resize(int obstacles) {
            marks_.assign(static_cast<std::size_t>(obstacles), Mark{});
            number_ = 0;
        }
        int size() const { return static_cast<int>(marks_.size()); }
        std::uint32_t nextQuery() {
            if (++number_ == 0) {
                std::fill(marks_.begin(), marks_.end(), Mark{});
                number_ = 1;
            }
            return number_;
        }
        // True the first time the query asks for obstacle s.
        bool firstTest(int s, std::uint32_t query) {
            Mark& mark = marks_[static_cast<std::size_t>(s)];
            if (mark.query == query) {
                return false;
            }
            mark.query = query;
            return true;
        }
        // Of the lanes asking, those that have not yet tested obstacle s in
        // this packet; they count as having tested it from now on.
        std::uint32_t firstTests(int s, std::uint32_t packet, std::uint32_t lanes) {
            Mark& mark = marks_[static_cast<std::size_t>(s)];
            if (mark.query != packet) {
                mark = {packet, 0};
            }
            const std::uint32_t fresh = lanes & ~mark.lanes;
            mark.lanes |= fresh;
            return fresh;
        }

    private:
        struct Mark {
            std::uint32_t query = 0;
            std::uint32_t lanes = 0;
        };
        std::vector<Mark> marks_;
        std::uint32_t number_ = 0;
    };
    struct Hit {
        int obstacle = -1;  // index into the World's obstacle list; -1: none
        double t = 0.0;     // as the literal query leaves it, also on a miss
        int leaves = 0;     // leaves examined without a confirmed hit
        int leaf = -1;      // the confirming leaf, or the last one on a miss
        int tests = 0;      // spheres intersected
    };

    // Flattens the World's built tree when every obstacle is an ObstacleSphere
    // itself (not a subclass).
    explicit FastWalk(const World& world);

    bool flattened() const { return flattened_; }
    bool usable() const { return flattened_; }
    int leafCount() const { return static_cast<int>(leaves_.size()); }
    int obstacleCount() const { return static_cast<int>(spheres_.size()); }
    // Prediction slots a thread needs.
    std::size_t predictionSlots() const { return leaves_.size() * 6; }
    // Obstacle index i's original and its surface.
    const Obstacle* obstacle(int i) const { return obstacles_[i]; }
    const Surface* surface(int i) const { return surfaces_[i]; }
    const Sphere& sphere(int i) const { return spheres_[i]; }
    // The literal node of a leaf index, and back.
    const STNode* leafNode(int leaf) const { return leafNodes_[leaf]; }
    int leafIndexOf(const STNode* node) const;

    // The leaf that locate from the root reaches.
    int locate(const Vec3& point) const { return descend(0, point); }
    // As locate, starting with a guess (the previous origin's leaf, or the leaf
    // that confirmed the hit a secondary ray starts from): the guess is kept
    // when the descent from the root would end there.
    int locateNear(int leaf, const Vec3& point) const {
        // From the root, the descent ends in the leaf exactly when the point
        // passes the descent's own test at each of the leaf's six links: above
        // every low face strictly, at or below every high face. NaN fails and
        // descends.
        const double* b = leaves_[leaf].bound;
        const bool inside = (b[0] < point.x) & (b[1] < point.y) & (b[2] < point.z) &
                            (point.x <= b[3]) & (point.y <= b[4]) & (point.z <= b[5]);
        return inside ? leaf : locate(point);
    }

    // The nearest-hit query from the leaf that contains the ray's origin.
    // predictions: leafCount() * 6 slots of the calling thread, or null;
    // mailbox: the calling thread's, of obstacleCount() marks.
    Hit nearestHit(const Ray& ray, int startLeaf, Prediction* predictions,
                   Mailbox& mailbox) const;
    // The same with a 64-bit tested-once set (walks of 64 obstacles at most).
    Hit nearestHit(const Ray& ray, int startLeaf, Prediction* predictions) const;
    // The leaf after the current one along the ray, or -1 at the boundary.
    int next(const Ray& ray, int leaf, Prediction* predictions) const;
    // The literal descent from a node to a leaf index.
    int descend(int node, const Vec3& point) const;
    // The leaf after an exit through face f of leaf at point p, by the
    // prediction when it holds, else by the descent (which it then records).
    int enter(int leaf, int f, const double p[3], Prediction* predictions) const;

    // The flattened arrays, for the packet and tile walks.
    const Node& node(int i) const { return nodes_[i]; }
    const Leaf& leaf(int i) const { return leaves_[i]; }
    const std::int32_t* leafList() const { return leafList_.data(); }
    // The same as bytes, filled for walks of 64 obstacles at most.
    const std::uint8_t* leafObstacles() const { return leafObstacles_.data(); }

private:
    int flatten(const STNode* node, std::vector<const STNode*>& order);
    void predict(int entry, int leaf, Prediction& guess) const;

    template <class Tested>
    Hit walkFrom(const Ray& ray, int leaf, Prediction* predictions, Tested&& firstTest) const;

    bool flattened_ = false;
    std::vector<Node> nodes_;
    std::vector<std::int32_t> subtreeEnd_;
    std::vector<Leaf> leaves_;
    std::vector<const STNode*> leafNodes_;
    std::vector<std::int32_t> leafList_;
    std::vector<std::uint8_t> leafObstacles_;
    std::vector<Sphere> spheres_;
    std::vector<const Obstacle*> obstacles_;
    std::vector<const Surface*> surfaces_;
};

}  // namespace kelvo
