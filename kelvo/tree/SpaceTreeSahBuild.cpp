#include "kelvo/tree/SpaceTreeSahBuild.h"

#include <algorithm>
#include <cmath>

namespace kelvo {

namespace {

double area(const Box& b) {
    const double dx = b.max(0) - b.min(0);
    const double dy = b.max(1) - b.min(1);
    const double dz = b.max(2) - b.min(2);
    return 2.0 * (dx * dy + dy * dz + dz * dx);
}

}  // namespace

SpaceTreeSahBuild::SpaceTreeSahBuild(const vell::ListNode* obstacles) {
    for (const vell::ListNode* n = obstacles; n != nullptr; n = n->next) {
        Entry entry{static_cast<const Obstacle*>(n->item), {}};
        entry.obstacle->boundingBox(entry.box);
        entries_.push_back(entry);
    }
    // Deep enough for a leaf per obstacle in a balanced tree, with room for
    // the cuts that trim empty space.
    const double n = static_cast<double>(std::max<std::size_t>(entries_.size(), 1));
    maxDepth_ = 8 + static_cast<int>(1.3 * std::log2(n));
}

STNode* SpaceTreeSahBuild::makeTree() {
    const SpaceTreeList noEntries;
    STNode* root = new STNode(noEntries);
    std::vector<std::uint32_t> items(entries_.size());
    for (std::uint32_t i = 0; i < items.size(); ++i) {
        items[i] = i;
    }
    subdivide(root, root->border.bounds(), items, 1);
    return root;
}

SpaceTreeSahBuild::Split SpaceTreeSahBuild::bestSplit(const Box& region,
                                                      const std::vector<std::uint32_t>& items) {
    const std::size_t n = items.size();
    // The costs are measured in the part of the region the obstacles occupy;
    // an unbounded region would make every area infinite.
    Box used = region;
    for (int a = 0; a < 3; ++a) {
        double lo = region.max(a);
        double hi = region.min(a);
        for (const std::uint32_t i : items) {
            lo = std::min(lo, entries_[i].box.min(a));
            hi = std::max(hi, entries_[i].box.max(a));
        }
        used.min(a) = std::max(region.min(a), lo);
        used.max(a) = std::min(region.max(a), hi);
    }
    const double whole = area(used);
    Split best{ST_INFINITY, 0.0, -1};
    if (!(whole > 0.0) || !std::isfinite(whole)) {
        return best;
    }

    mins_.resize(n);
    maxs_.resize(n);
    for (int a = 0; a < 3; ++a) {
        const double lo = region.min(a);
        const double hi = region.max(a);
        for (std::size_t k = 0; k < n; ++k) {
            const Box& b = entries_[items[k]].box;
            mins_[k] = std::max(b.min(a), lo);
            maxs_[k] = std::min(b.max(a), hi);
        }
        std::sort(mins_.begin(), mins_.end());
        std::sort(maxs_.begin(), maxs_.end());
        // Sweep the distinct faces in order: left holds the boxes that start
        // below the plane, right those that end above it.
        std::size_t i = 0;
        std::size_t j = 0;
        while (i < n || j < n) {
            const double v = i < n && (j >= n || mins_[i] < maxs_[j]) ? mins_[i] : maxs_[j];
            const std::size_t left = i;
            while (j < n && maxs_[j] <= v) {
                ++j;
            }
            const std::size_t right = n - j;
            while (i < n && mins_[i] <= v) {
                ++i;
            }
            if (!(lo < v && v < hi)) {
                continue;
            }
            Box low = used;
            Box high = used;
            low.max(a) = std::min(v, used.max(a));
            high.min(a) = std::max(v, used.min(a));
            double cost = STEP_COST + TEST_COST * (area(low) * static_cast<double>(left) +
                                                   area(high) * static_cast<double>(right)) /
                                          whole;
            if (left == 0 || right == 0) {
                cost *= EMPTY_SIDE_FACTOR;
            }
            // Strictly cheaper: ties keep the lower axis and the lower plane.
            if (cost < best.cost) {
                best = {cost, v, a};
            }
        }
    }
    return best;
}

void SpaceTreeSahBuild::subdivide(STNode* node, const Box& region,
                                  std::vector<std::uint32_t>& items, int depth) {
    const Split split = items.empty() || depth >= maxDepth_
                            ? Split{ST_INFINITY, 0.0, -1}
                            : bestSplit(region, items);
    if (split.axis < 0 || !(split.cost < TEST_COST * static_cast<double>(items.size()))) {
        // Listed in the World's order, the first obstacle at the head.
        for (auto i = items.rbegin(); i != items.rend(); ++i) {
            vell::pushFront(node->obstacles, const_cast<Obstacle*>(entries_[*i].obstacle));
        }
        ++figures_.leaves;
        figures_.deepest = std::max(figures_.deepest, depth);
        return;
    }
    node->axis = split.axis;
    node->split = split.value;
    const SpaceTreeList noEntries;
    for (int j = 0; j < 2; ++j) {
        Box childRegion = region;
        (j == 0 ? childRegion.max(split.axis) : childRegion.min(split.axis)) = split.value;
        std::vector<std::uint32_t> childItems;
        for (const std::uint32_t i : items) {
            Box clipped;
            if (entries_[i].obstacle->touchesBox(childRegion, clipped)) {
                childItems.push_back(i);
            }
        }
        figures_.touchesBoxCalls += static_cast<long long>(items.size());
        STNode* child = new STNode(noEntries);
        child->border = node->border;
        child->border.link(1 - j, split.axis) = node;
        node->children[j] = child;
        if (j == 1) {
            // The parent's list is not needed for the last child.
            std::vector<std::uint32_t>().swap(items);
        }
        subdivide(child, childRegion, childItems, depth + 1);
    }
}

}  // namespace kelvo
