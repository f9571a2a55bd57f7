#pragma once

#include "kelvo/tree/STNode.h"
#include "velllib/vell_list.h"

namespace kelvo {

// The k-d tree over the World's obstacles.
class SpaceTree {
public:
    SpaceTree() = default;
    ~SpaceTree();
    SpaceTree(const SpaceTree&) = delete;
    SpaceTree& operator=(const SpaceTree&) = delete;

    // Replaces the tree with one over the obstacle list, walked from its head.
    void build(const vell::ListNode* obstacles);
    // Returns the average depth; no tree gives 0, 0 and 0.0.
    double statistics(int& nodes, int& elements) const;
    void destroy();

    STNode* root = nullptr;
};

}  // namespace kelvo
