#pragma once

#include <cstddef>
#include <cstdint>

namespace vell {

// The node of every list in the system. While a node is free its `item` word
// links it into the pool's free list.
struct ListNode {
    void* item;
    ListNode* next;
};

// Where the pool gets its blocks. The default takes them from the system (fixed
// global memory on Windows, the C++ runtime elsewhere);
// tests put in one that refuses.
class BlockSource {
public:
    virtual ~BlockSource() = default;
    // bytes writable bytes that stay in place until released, or null.
    virtual void* acquireBlock(std::size_t bytes) = 0;
    virtual void releaseBlock(void* block) = 0;
};

BlockSource& runtimeBlockSource();

// A block is 1024 node-sized slots; slot 0 is the header, 1 to 1023 are nodes.
inline constexpr std::size_t NODE_BLOCK_SLOTS = 1024;
inline constexpr std::size_t NODE_BLOCK_BYTES = NODE_BLOCK_SLOTS * sizeof(ListNode);
inline constexpr std::size_t NODES_PER_BLOCK = NODE_BLOCK_SLOTS - 1;
// "vell" as a little-endian word, 'v' in the low byte.
inline constexpr std::uint32_t NODE_BLOCK_TAG = 0x6c6c6576u;

// Fixed-size list nodes handed out from large blocks, reused last in, first
// out, and given back to the block source block by block.
class NodePool {
public:
    explicit NodePool(BlockSource& source = runtimeBlockSource());
    ~NodePool();  // returns every block; nodes still in use vanish with them
    NodePool(const NodePool&) = delete;
    NodePool& operator=(const NodePool&) = delete;

    // A node with a null item and an undefined next, or null when the pool
    // needed a block and the source refused it (the pool stays usable).
    ListNode* allocNode();
    void freeNode(ListNode* node);
    // Returns every block whose nodes are all free.
    void compactNodes();

    std::size_t blockCount() const;
    std::size_t freeCount() const;
    // The newest block's first address, for checks of slot order.
    const void* newestBlock() const { return blocks_; }

private:
    struct BlockHeader {
        BlockHeader* next;
        std::uint32_t tag;
    };
    static_assert(sizeof(BlockHeader) <= sizeof(ListNode), "the header fits slot 0");

    // Guards against re-entry on one thread; a pool is never shared between
    // threads, each thread that needs one gets its own.
    struct BusyGuard;

    BlockSource* source_;
    BlockHeader* blocks_ = nullptr;
    ListNode* freeList_ = nullptr;
    bool busy_ = false;
};

// The pool that the free functions below use on the calling thread. It is the
// process's pool unless the thread installed its own.
NodePool& currentPool();
// Installs pool for the calling thread (null: back to the process's pool) and
// returns the one that was installed before.
NodePool* setCurrentPool(NodePool* pool);

inline ListNode* allocNode() { return currentPool().allocNode(); }
inline void freeNode(ListNode* node) { currentPool().freeNode(node); }
inline void compactNodes() { currentPool().compactNodes(); }

// The system's callers write into a node at once and cannot go on without it:
// an exhausted pool ends the program with a message and a non-zero exit code.
[[noreturn]] void outOfMemory(const char* what);

// A node that is never null (see outOfMemory).
ListNode* takeNode();

// Puts item at the front of the list whose head is head.
inline void pushFront(ListNode*& head, void* item) {
    ListNode* node = takeNode();
    node->item = item;
    node->next = head;
    head = node;
}

// Gives every node of the list back, from the head on, and empties it.
void freeList(ListNode*& head);

}  // namespace vell
