#pragma once

#include "kelvo/scene/Box.h"

namespace kelvo {

class STNode;

// The coordinate of an unbounded face of the space tree: a quarter of the
// largest float, kept apart from the obstacles' unbounded box.
inline constexpr double ST_INFINITY = 8.5070586659632215e+37;

// A node's six faces as links to the ancestors whose split planes form them.
// A null link is a face at infinity. Link for side s (0 low, 1 high) of axis a
// is element 3 * s + a.
struct STBorderNodes {
    STNode* low[3] = {nullptr, nullptr, nullptr};
    STNode* high[3] = {nullptr, nullptr, nullptr};

    STNode*& link(int side, int axis) { return side == 0 ? low[axis] : high[axis]; }
    STNode* link(int side, int axis) const { return side == 0 ? low[axis] : high[axis]; }

    Box bounds() const;
    // Faces belong to the region; unbounded faces never exclude.
    bool contains(const double point[3]) const;
    double faceValue(int side, int axis) const;
};

double lowValue(const STNode* link);
double highValue(const STNode* link);

}  // namespace kelvo
