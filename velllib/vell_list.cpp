#include "velllib/vell_list.h"

#include <cstdio>
#include <cstdlib>
#include <new>

namespace vell {

namespace {

thread_local NodePool* threadPool = nullptr;

}  // namespace

struct NodePool::BusyGuard {
    explicit BusyGuard(bool& flag) : flag_(flag) {
        if (flag_) {
            std::fputs("fatal: the node pool was re-entered\n", stderr);
            std::abort();
        }
        flag_ = true;
    }
    ~BusyGuard() { flag_ = false; }
    bool& flag_;
};

NodePool::NodePool(BlockSource& source) : source_(&source) {}

NodePool::~NodePool() {
    while (blocks_ != nullptr) {
        BlockHeader* next = blocks_->next;
        source_->releaseBlock(blocks_);
        blocks_ = next;
    }
    freeList_ = nullptr;
}

ListNode* NodePool::allocNode() {
    BusyGuard guard(busy_);
    if (freeList_ == nullptr) {
        void* memory = source_->acquireBlock(NODE_BLOCK_BYTES);
        if (memory == nullptr) {
            return nullptr;
        }
        ListNode* slots = static_cast<ListNode*>(memory);
        // Slot 0 holds the header, made there as an object of its own type.
        blocks_ = new (memory) BlockHeader{blocks_, NODE_BLOCK_TAG};
        // Chain the nodes in address order, so a fresh block hands out slot 1,
        // then slot 2, and so on.
        for (std::size_t i = 1; i < NODES_PER_BLOCK; ++i) {
            slots[i].item = &slots[i + 1];
        }
        slots[NODES_PER_BLOCK].item = freeList_;
        freeList_ = &slots[1];
    }
    ListNode* node = freeList_;
    freeList_ = static_cast<ListNode*>(node->item);
    node->item = nullptr;
    return node;
}

void NodePool::freeNode(ListNode* node) {
    BusyGuard guard(busy_);
    node->item = freeList_;
    freeList_ = node;
}

void NodePool::compactNodes() {
    BusyGuard guard(busy_);
    BlockHeader** link = &blocks_;
    while (*link != nullptr) {
        BlockHeader* block = *link;
        const char* start = reinterpret_cast<const char*>(block);
        const char* end = start + NODE_BLOCK_BYTES;
        auto inBlock = [&](const ListNode* node) {
            const char* address = reinterpret_cast<const char*>(node);
            return address > start && address < end;
        };
        std::size_t count = 0;
        for (ListNode* node = freeList_; node != nullptr;
             node = static_cast<ListNode*>(node->item)) {
            if (inBlock(node)) {
                ++count;
            }
        }
        if (count != NODES_PER_BLOCK) {
            link = &block->next;
            continue;
        }
        // Unlinks the block's nodes. The free list runs through `item`, a
        // void*, so the link before a node is either freeList_ or the previous
        // node's item, each written as its own type.
        ListNode* previous = nullptr;
        for (ListNode* node = freeList_; node != nullptr;) {
            ListNode* next = static_cast<ListNode*>(node->item);
            if (!inBlock(node)) {
                previous = node;
            } else if (previous != nullptr) {
                previous->item = next;
            } else {
                freeList_ = next;
            }
            node = next;
        }
        *link = block->next;
        source_->releaseBlock(block);
    }
}

std::size_t NodePool::blockCount() const {
    std::size_t count = 0;
    for (const BlockHeader* block = blocks_; block != nullptr; block = block->next) {
        ++count;
    }
    return count;
}

std::size_t NodePool::freeCount() const {
    std::size_t count = 0;
    for (const ListNode* node = freeList_; node != nullptr;
         node = static_cast<const ListNode*>(node->item)) {
        ++count;
    }
    return count;
}

NodePool& currentPool() {
    if (threadPool != nullptr) {
        return *threadPool;
    }
    // Constructed on first use and destroyed at exit, which returns its blocks.
    static NodePool processPool;
    return processPool;
}

NodePool* setCurrentPool(NodePool* pool) {
    NodePool* previous = threadPool;
    threadPool = pool;
    return previous;
}

void outOfMemory(const char* what) {
    std::fprintf(stderr, "fatal: out of memory (%s)\n", what);
    std::fflush(stderr);
    std::_Exit(EXIT_FAILURE);
}

ListNode* takeNode() {
    ListNode* node = allocNode();
    if (node == nullptr) {
        outOfMemory("the node pool could not get a new block");
    }
    return node;
}

void freeList(ListNode*& head) {
    while (head != nullptr) {
        ListNode* next = head->next;
        freeNode(head);
        head = next;
    }
}

}  // namespace vell
