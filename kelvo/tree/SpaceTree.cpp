#include "kelvo/tree/SpaceTree.h"

namespace kelvo {

SpaceTree::~SpaceTree() { destroy(); }

void SpaceTree::destroy() {
    delete root;
    root = nullptr;
}

void SpaceTree::build(const vell::ListNode* obstacles) {
    destroy();
    SpaceTreeList list(obstacles);
    root = new STNode(list);
    // Leaves refer to obstacles, never to entries, so the entries can go.
    list.releaseEntries();
}

double SpaceTree::statistics(int& nodes, int& elements) const {
    if (root == nullptr) {
        nodes = 0;
        elements = 0;
        return 0.0;
    }
    return root->statistics(nodes, elements, 1.0);
}

}  // namespace kelvo
