#include "kelvo/tree/STNode.h"

#include <cmath>
#include <initializer_list>

namespace kelvo {

STNode::STNode(const SpaceTreeList& list) {
    if (!list.empty()) {
        subdivide(list);
    }
}

STNode::STNode(const STBorderNodes& faces, const SpaceTreeList& list) : border(faces) {
    subdivide(list);
}

STNode::~STNode() {
    delete children[0];
    delete children[1];
    vell::freeList(obstacles);
}

void STNode::subdivide(const SpaceTreeList& list) {
    children[0] = children[1] = nullptr;
    const Box region = border.bounds();
    if (list.empty()) {
        return;
    }

    double bestCost = ST_INFINITY;
    double bestSplit = 0.0;
    int bestAxis = 0;
    STNode* best[2] = {nullptr, nullptr};

    for (int a = 0; a < 3; ++a) {
        axis = a;
        const double lo = region.min(a);
        const double hi = region.max(a);
        const double mid = (lo + hi) * 0.5;

        // The face nearest the middle; ties keep the face met first, a box's min
        // before its max. Unbounded on one side, mid is near +-ST_INFINITY / 2 and
        // every finite face is equally far in double precision, so the first face
        // in list order wins there.
        bool found = false;
        double nearest = 0.0;
        for (const vell::ListNode* n = list.head(); n != nullptr; n = n->next) {
            const Box& b = SpaceTreeList::entry(n).box;
            for (const double v : {b.min(a), b.max(a)}) {
                if (lo < v && v < hi) {
                    const double distance = std::fabs(v - mid);
                    if (!found || distance < nearest) {
                        split = v;
                        nearest = distance;
                        found = true;
                    }
                }
            }
        }
        if (!found) {
            continue;
        }

        // Build and measure both complete trial subtrees. The children's border
        // links read this node's split and axis while they are built.
        double cost = 0.0;
        STNode* trial[2];
        for (int j = 0; j < 2; ++j) {
            STBorderNodes faces = border;
            faces.link(1 - j, a) = this;
            const SpaceTreeList childList(list, faces.bounds());
            trial[j] = new STNode(faces, childList);
            int nodes = 0;
            int elements = 0;
            const double depth = trial[j]->statistics(nodes, elements, 1.0);
            cost += static_cast<double>(NODE_WEIGHT) * nodes +
                    static_cast<double>(ELEMENT_WEIGHT) * elements +
                    static_cast<double>(DEPTH_WEIGHT) * depth;
        }

        // Strictly cheaper only: ties go to the earlier axis.
        if (cost < bestCost) {
            bestCost = cost;
            bestSplit = split;
            bestAxis = a;
            delete best[0];
            delete best[1];
            best[0] = trial[0];
            best[1] = trial[1];
        } else {
            delete trial[0];
            delete trial[1];
        }
    }

    if (bestCost < ST_INFINITY) {
        split = bestSplit;
        axis = bestAxis;
        children[0] = best[0];
        children[1] = best[1];
    } else {
        list.appendObstacles(obstacles);
    }
}

double STNode::statistics(int& nodes, int& elements, double depth) const {
    if (isLeaf()) {
        nodes = 1;
        elements = 0;
        for (const vell::ListNode* n = obstacles; n != nullptr; n = n->next) {
            ++elements;
        }
        return depth;
    }
    const double first = children[0]->statistics(nodes, elements, depth + 1.0);
    int secondNodes = 0;
    int secondElements = 0;
    const double second = children[1]->statistics(secondNodes, secondElements, depth + 1.0);
    nodes += secondNodes + 1;
    elements += secondElements;
    return (first + second) * 0.5;
}

}  // namespace kelvo
