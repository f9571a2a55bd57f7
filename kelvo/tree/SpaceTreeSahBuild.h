#pragma once

#include <cstdint>
#include <vector>

#include "kelvo/scene/Box.h"
#include "kelvo/scene/Obstacle.h"
#include "kelvo/tree/STNode.h"
#include "velllib/vell_list.h"

namespace kelvo {

// A space tree for scenes too large for the trial build: each split is the
// box face that minimises the surface-area cost of the two children, found by
// sweeping the sorted faces of the node's obstacles on each axis (n log n per
// node). The tree is the same kind as the trial build's: heap STNodes with
// border links to the ancestors, every split strictly inside its node's
// region, and each leaf listing exactly the obstacles whose surface reaches
// into it (touchesBox, narrowed node by node as the trial build does), so every
// walk, view and statistic works on it unchanged. It is not the trial build's
// tree and is not meant to be.
class SpaceTreeSahBuild {
public:
    // Cost of stepping through one node against that of one intersection test.
    static constexpr double STEP_COST = 12.0;
    static constexpr double TEST_COST = 3.0;
    // A split that leaves one side empty costs this fraction: cutting away
    // empty space pays more than the areas say (the walk stops early there).
    static constexpr double EMPTY_SIDE_FACTOR = 0.8;

    struct Figures {
        int leaves = 0;
        int deepest = 0;  // depth of the deepest leaf, the root at 1
        long long touchesBoxCalls = 0;
    };

    // A new tree over the obstacle list (walked from its head), owned by the
    // caller and freed like the literal tree; null for no obstacles is never
    // returned: an empty list gives a root leaf with no obstacles.
    explicit SpaceTreeSahBuild(const vell::ListNode* obstacles);
    STNode* makeTree();

    const Figures& figures() const { return figures_; }

private:
    struct Entry {
        const Obstacle* obstacle;
        Box box;
    };
    struct Split {
        double cost;
        double value;
        int axis;
    };

    void subdivide(STNode* node, const Box& region, std::vector<std::uint32_t>& items, int depth);
    Split bestSplit(const Box& region, const std::vector<std::uint32_t>& items);

    std::vector<Entry> entries_;  // in list order
    std::vector<double> mins_;    // sweep scratch, one axis at a time
    std::vector<double> maxs_;
    int maxDepth_ = 0;
    Figures figures_;
};

}  // namespace kelvo
