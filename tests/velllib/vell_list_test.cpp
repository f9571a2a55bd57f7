#include "velllib/vell_list.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <set>
#include <vector>

namespace vell {
namespace {

// Counts blocks and can be told to refuse.
class CountingSource final : public BlockSource {
public:
    void* acquireBlock(std::size_t bytes) override {
        if (refuse) {
            return nullptr;
        }
        ++live;
        lastBytes = bytes;
        return std::malloc(bytes);
    }
    void releaseBlock(void* block) override {
        --live;
        ++released;
        std::free(block);
    }
    bool refuse = false;
    int live = 0;
    int released = 0;
    std::size_t lastBytes = 0;
};

const ListNode* slot(const void* block, std::size_t i) {
    return static_cast<const ListNode*>(block) + i;
}

TEST(NodePool, FreshBlockHandsOutSlotsInAddressOrderAndReusesLastFreed) {
    CountingSource source;
    NodePool pool(source);
    ListNode* first = pool.allocNode();
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(source.lastBytes, NODE_BLOCK_SLOTS * sizeof(ListNode));
    EXPECT_EQ(sizeof(ListNode), 16u);
    EXPECT_EQ(first, slot(pool.newestBlock(), 1));
    ListNode* second = pool.allocNode();
    EXPECT_EQ(second, slot(pool.newestBlock(), 2));
    EXPECT_EQ(first->item, nullptr);

    // The header carries the tag in its second word.
    const auto* header = static_cast<const std::uint32_t*>(pool.newestBlock()) + 2;
    EXPECT_EQ(*header, NODE_BLOCK_TAG);

    second->item = &source;
    pool.freeNode(second);
    pool.freeNode(first);
    ListNode* again = pool.allocNode();
    EXPECT_EQ(again, first) << "last in, first out";
    EXPECT_EQ(again->item, nullptr);
    EXPECT_EQ(pool.allocNode(), second);
    EXPECT_EQ(second->item, nullptr);
}

TEST(NodePool, GrowsByOneBlockAtThe1024thNode) {
    CountingSource source;
    NodePool pool(source);
    std::set<ListNode*> seen;
    for (std::size_t i = 0; i < NODES_PER_BLOCK; ++i) {
        seen.insert(pool.allocNode());
    }
    EXPECT_EQ(seen.size(), NODES_PER_BLOCK);
    EXPECT_EQ(pool.blockCount(), 1u);
    const void* oldBlock = pool.newestBlock();
    ListNode* next = pool.allocNode();
    EXPECT_EQ(pool.blockCount(), 2u);
    EXPECT_NE(pool.newestBlock(), oldBlock) << "the new block heads the block list";
    EXPECT_EQ(next, slot(pool.newestBlock(), 1));
    EXPECT_EQ(pool.freeCount(), NODES_PER_BLOCK - 1);
}

TEST(NodePool, CompactionReturnsOnlyWhollyFreeBlocks) {
    CountingSource source;
    NodePool pool(source);
    pool.compactNodes();  // empty pool: nothing happens
    EXPECT_EQ(pool.blockCount(), 0u);

    std::vector<ListNode*> nodes;
    for (std::size_t i = 0; i < 3 * NODES_PER_BLOCK; ++i) {
        nodes.push_back(pool.allocNode());
    }
    ASSERT_EQ(pool.blockCount(), 3u);
    // Free the oldest block entirely and all but one node of the middle block.
    for (std::size_t i = 0; i < 2 * NODES_PER_BLOCK; ++i) {
        if (i != NODES_PER_BLOCK + 7) {
            pool.freeNode(nodes[i]);
        }
    }
    pool.compactNodes();
    EXPECT_EQ(pool.blockCount(), 2u);
    EXPECT_EQ(source.released, 1);
    EXPECT_EQ(pool.freeCount(), NODES_PER_BLOCK - 1) << "no node of the returned block stays free";
    // What is handed out next comes from a kept block.
    for (std::size_t i = 0; i < NODES_PER_BLOCK - 1; ++i) {
        ListNode* n = pool.allocNode();
        const char* p = reinterpret_cast<const char*>(n);
        const char* middle = reinterpret_cast<const char*>(nodes[NODES_PER_BLOCK]) - sizeof(ListNode);
        EXPECT_TRUE(p > middle && p < middle + NODE_BLOCK_BYTES);
        pool.freeNode(n);
    }
}

TEST(NodePool, CompactionReturnsTwoAdjacentFreeBlocksAndTheDestructorTheRest) {
    CountingSource source;
    {
        NodePool pool(source);
        std::vector<ListNode*> nodes;
        for (std::size_t i = 0; i < 3 * NODES_PER_BLOCK; ++i) {
            nodes.push_back(pool.allocNode());
        }
        // The two newest blocks, adjacent in the block list, become free.
        for (std::size_t i = NODES_PER_BLOCK; i < nodes.size(); ++i) {
            pool.freeNode(nodes[i]);
        }
        pool.compactNodes();
        EXPECT_EQ(pool.blockCount(), 1u);
        EXPECT_EQ(source.released, 2);
        EXPECT_EQ(pool.freeCount(), 0u);
        ListNode* fresh = pool.allocNode();
        EXPECT_EQ(pool.blockCount(), 2u);
        EXPECT_EQ(fresh, slot(pool.newestBlock(), 1)) << "a fresh block after compaction";
    }
    EXPECT_EQ(source.live, 0) << "all blocks go back when the pool ends";
}

TEST(NodePool, RefusedBlockYieldsNullAndLeavesThePoolUsable) {
    CountingSource source;
    NodePool pool(source);
    source.refuse = true;
    EXPECT_EQ(pool.allocNode(), nullptr);
    EXPECT_EQ(pool.blockCount(), 0u);
    source.refuse = false;
    EXPECT_NE(pool.allocNode(), nullptr);
    EXPECT_EQ(pool.blockCount(), 1u);
}

TEST(NodePoolDeathTest, CheckedAllocationEndsTheProgramWithAMessage) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            CountingSource source;
            source.refuse = true;
            NodePool pool(source);
            setCurrentPool(&pool);
            ListNode* head = nullptr;
            pushFront(head, nullptr);
        },
        testing::ExitedWithCode(EXIT_FAILURE), "out of memory");
}

TEST(NodePool, CurrentPoolIsSwappablePerThreadAndListsFreeFromTheHead) {
    CountingSource source;
    NodePool pool(source);
    NodePool* previous = setCurrentPool(&pool);
    EXPECT_EQ(&currentPool(), &pool);
    ListNode* head = nullptr;
    int a = 1, b = 2;
    pushFront(head, &a);
    pushFront(head, &b);
    EXPECT_EQ(head->item, &b);
    EXPECT_EQ(head->next->item, &a);
    EXPECT_EQ(head->next->next, nullptr);
    ListNode* firstPushed = head->next;
    freeList(head);
    EXPECT_EQ(head, nullptr);
    // Freed from the head on, so the last freed (the older node) comes back first.
    EXPECT_EQ(allocNode(), firstPushed);
    EXPECT_EQ(setCurrentPool(previous), &pool);
    EXPECT_NE(&currentPool(), &pool);
}

}  // namespace
}  // namespace vell
