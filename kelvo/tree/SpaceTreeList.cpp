#include "kelvo/tree/SpaceTreeList.h"

namespace kelvo {

SpaceTreeList::SpaceTreeList(const vell::ListNode* obstacles) {
    for (const vell::ListNode* n = obstacles; n != nullptr; n = n->next) {
        vell::pushFront(head_, new STEntry(static_cast<const Obstacle*>(n->item)));
    }
}

SpaceTreeList::SpaceTreeList(const SpaceTreeList& other, const Box& box) {
    Box scratch;
    for (const vell::ListNode* n = other.head_; n != nullptr; n = n->next) {
        if (entry(n).obstacle->touchesBox(box, scratch)) {
            vell::pushFront(head_, n->item);
        }
    }
}

SpaceTreeList::~SpaceTreeList() { vell::freeList(head_); }

void SpaceTreeList::appendObstacles(vell::ListNode*& target) const {
    for (const vell::ListNode* n = head_; n != nullptr; n = n->next) {
        vell::pushFront(target, const_cast<Obstacle*>(entry(n).obstacle));
    }
}

void SpaceTreeList::releaseEntries() {
    for (vell::ListNode* n = head_; n != nullptr; n = n->next) {
        delete static_cast<STEntry*>(n->item);
        n->item = nullptr;
    }
}

}  // namespace kelvo
