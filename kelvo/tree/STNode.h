#pragma once

#include "kelvo/tree/STBorderNodes.h"
#include "kelvo/tree/SpaceTreeList.h"
#include "velllib/vell_list.h"

namespace kelvo {

// Weights of a trial subtree's cost. Single-precision constants, so the element
// weight is 0.009999999776482582 when widened.
inline constexpr float NODE_WEIGHT = 3.0f;
inline constexpr float ELEMENT_WEIGHT = 0.01f;
inline constexpr float DEPTH_WEIGHT = 1200.0f;

// One node of the space tree. A node is a leaf exactly when children[0] is null.
class STNode {
public:
    // The root: all faces unbounded; subdivided when the list is not empty.
    explicit STNode(const SpaceTreeList& list);
    // A trial child: the given faces, always subdivided (also for an empty list).
    STNode(const STBorderNodes& faces, const SpaceTreeList& list);
    ~STNode();
    STNode(const STNode&) = delete;
    STNode& operator=(const STNode&) = delete;

    bool isLeaf() const { return children[0] == nullptr; }

    // Node count and element count written to the outputs; returns the depth
    // expected when descending from here and taking either child with
    // probability one half, this node being at depth.
    double statistics(int& nodes, int& elements, double depth) const;

    double split = 0.0;
    int axis = 0;
    vell::ListNode* obstacles = nullptr;
    STNode* children[2] = {nullptr, nullptr};
    STBorderNodes border;

private:
    void subdivide(const SpaceTreeList& list);
};

}  // namespace kelvo
