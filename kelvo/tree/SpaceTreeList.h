#pragma once

#include "kelvo/scene/Box.h"
#include "kelvo/tree/STEntry.h"
#include "velllib/vell_list.h"

namespace kelvo {

// A build-time list of entry references made of pool nodes. Every list is
// filled at its head, so a list made by walking another one is reversed; the
// tree's tie-breaks depend on these orders.
class SpaceTreeList {
public:
    SpaceTreeList() = default;
    // One new entry per obstacle of the obstacle list; the entries belong to
    // this list (see releaseEntries).
    explicit SpaceTreeList(const vell::ListNode* obstacles);
    // The entries of other whose obstacle reaches into box, shared, not copied.
    SpaceTreeList(const SpaceTreeList& other, const Box& box);
    ~SpaceTreeList();
    SpaceTreeList(const SpaceTreeList&) = delete;
    SpaceTreeList& operator=(const SpaceTreeList&) = delete;

    // Pushes each entry's obstacle at the head of target.
    void appendObstacles(vell::ListNode*& target) const;
    // Deletes the entries (only for a list that made them).
    void releaseEntries();

    const vell::ListNode* head() const { return head_; }
    bool empty() const { return head_ == nullptr; }
    static const STEntry& entry(const vell::ListNode* node) {
        return *static_cast<const STEntry*>(node->item);
    }

private:
    vell::ListNode* head_ = nullptr;
};

}  // namespace kelvo
