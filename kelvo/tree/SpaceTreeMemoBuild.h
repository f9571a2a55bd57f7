#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "kelvo/scene/Box.h"
#include "kelvo/scene/Obstacle.h"
#include "kelvo/scene/ObstacleSphere.h"
#include "kelvo/tree/STNode.h"
#include "velllib/vell_list.h"
#include "velllib/vell_memory.h"

namespace kelvo {

// Builds the same space tree as the literal trial-by-trial build (every axis,
// split, leaf list order, border link and statistic), in milliseconds instead
// of seconds.
//
// A trial subtree depends only on its region and its ordered obstacle list, so
// each distinct (region, list) sub-problem is solved once and its winning
// subtree recorded; the tree is made from the records at the end. Regions are
// six indices into the sorted face values of each axis. When every obstacle is
// a plain sphere whose reach can only shrink with its region, the list of a
// node is fixed by its region and the parity of its depth, and that is the key;
// otherwise the key is the region with the full list.
class SpaceTreeMemoBuild {
public:
    enum class Keys {
        Automatic,  // region and depth parity when the obstacles allow it
        FullLists,  // region and ordered list, always
    };
    struct Options {
        Keys keys = Keys::Automatic;
        // Skip the second trial child of an axis that can no longer win.
        bool bounds = true;
        // On every reuse by region key, recompute the list and compare it with
        // the recorded one (for tests; costs the filtering that reuse saves).
        bool verifyReusedLists = false;
    };
    struct Figures {
        bool regionKeys = false;      // keyed by region and depth parity
        int subProblems = 0;          // distinct sub-problems solved
        long long reuses = 0;         // sub-problems found already solved
        long long touchesBoxCalls = 0;
        long long boundedTrials = 0;  // trials cut short by the bound
        long long listMismatches = 0; // verifyReusedLists: reuses whose list differed
        // Nodes the literal build would make, trial subtrees included: what the
        // literal build costs. Counted only without bounds (0 with them).
        double literalTrialNodes = 0.0;
    };

    // A plain sphere's touchesBox, answer for answer, from figures taken once
    // and without its eight corner tests. A corner's squared distance, summed
    // x then y then z, grows with each axis's squared difference (rounding is
    // monotone), so all eight corners are inside exactly when the farthest one
    // is, and some corner exactly when the nearest one is.
    struct SphereReach {
        double centre[3] = {0.0, 0.0, 0.0};
        double radiusSquare = 0.0;
        Box bounds;  // the sphere's bounding box

        static SphereReach of(const ObstacleSphere& sphere);
        bool touches(const Box& box) const;
    };

    // Solves the build for the obstacle list, walked from its head.
    explicit SpaceTreeMemoBuild(const vell::ListNode* obstacles);
    SpaceTreeMemoBuild(const vell::ListNode* obstacles, const Options& options);
    ~SpaceTreeMemoBuild();
    SpaceTreeMemoBuild(const SpaceTreeMemoBuild&) = delete;
    SpaceTreeMemoBuild& operator=(const SpaceTreeMemoBuild&) = delete;

    // A new tree of heap STNodes with pool leaf lists, owned by the caller and
    // freed like the literal tree (delete of the root, or SpaceTree::destroy).
    STNode* makeTree() const;

    const Figures& figures() const { return figures_; }

private:
    struct Entry {
        const Obstacle* obstacle;
        Box box;
        std::uint32_t face[6];  // index of each box face in its axis's face table
        SphereReach reach;      // when keyed by region: every obstacle is a plain sphere
    };
    struct Record;
    struct RegionTable;
    struct RecordStore;
    using Region = std::uint32_t[6];

    bool regionKeysAllowed() const;
    void makeFaceTables();
    struct Solved {
        std::int32_t record;
        double term;  // its cost as a trial child
    };
    Solved solve(const Region& region, std::uint64_t key, std::uint32_t listBegin,
                 std::uint32_t listLength, int parity);
    Solved child(const Region& region, std::uint64_t key, std::uint32_t parentBegin,
                 std::uint32_t parentLength, int parity);
    std::uint32_t filter(const Box& box, std::uint32_t parentBegin, std::uint32_t parentLength);
    bool touches(const Entry& entry, const Box& box);
    Box boxOf(const Region& region) const;
    std::uint32_t listLength(const Record& record) const;
    bool sameList(std::int32_t record, std::uint32_t begin, std::uint32_t length) const;
    double literalDepth(std::int32_t record, double depth) const;
    STNode* make(std::int32_t record, const STBorderNodes& border) const;

    Options options_;
    Figures figures_;
    std::vector<Entry> entries_;      // in root list order
    std::vector<double> faces_[3];    // per axis, every face value once (by bit pattern)
    std::unique_ptr<RecordStore> records_;
    // Every record's list: its length, then its entry indices in list order.
    std::vector<std::uint32_t, vell::LargeBlockAllocator<std::uint32_t>> lists_;
    std::vector<double> trialNodes_;  // per record, without bounds only
    std::unique_ptr<RegionTable> regionTable_;
    std::unordered_map<std::string, Solved> fullTable_;
    std::int32_t root_ = -1;
};

}  // namespace kelvo
