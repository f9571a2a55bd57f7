#include "kelvo/tree/STBorderNodes.h"

#include "kelvo/tree/STNode.h"

namespace kelvo {

namespace {
constexpr double UNBOUNDED_FACE[2] = {-ST_INFINITY, ST_INFINITY};
}

double lowValue(const STNode* link) { return link != nullptr ? link->split : -ST_INFINITY; }

double highValue(const STNode* link) { return link != nullptr ? link->split : ST_INFINITY; }

Box STBorderNodes::bounds() const {
    Box b;
    for (int a = 0; a < 3; ++a) {
        b.min(a) = lowValue(low[a]);
        b.max(a) = highValue(high[a]);
    }
    return b;
}

bool STBorderNodes::contains(const double point[3]) const {
    for (int a = 0; a < 3; ++a) {
        if (low[a] != nullptr && low[a]->split > point[a]) {
            return false;
        }
        if (high[a] != nullptr && high[a]->split < point[a]) {
            return false;
        }
    }
    return true;
}

double STBorderNodes::faceValue(int side, int axis) const {
    const STNode* face = link(side, axis);
    return face != nullptr ? face->split : UNBOUNDED_FACE[side];
}

}  // namespace kelvo
