#include "kelvo/tree/SpaceTreeMemoBuild.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <limits>
#include <stdexcept>
#include <typeinfo>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "kelvo/scene/ObstacleSphere.h"
#include "kelvo/tree/MemoTables.h"
#include "velllib/vell_memory.h"

namespace kelvo {

namespace {

// One trial child's share of its parent's cost, in the literal build's order of
// operations (the float weights widened to double).
inline double trialTerm(int nodes, int elements, double depth) {
    return static_cast<double>(NODE_WEIGHT) * nodes +
           static_cast<double>(ELEMENT_WEIGHT) * elements +
           static_cast<double>(DEPTH_WEIGHT) * depth;
}

// Up to this height a subtree's average depth, carried up from its children's
// as ((d0 + 1) + (d1 + 1)) / 2, is an exact dyadic rational and so equals the
// literal build's sum over absolute depths; above it the literal sum is redone.
constexpr int EXACT_DEPTH_HEIGHT = 46;

// a < b ? a : b and a > b ? a : b, without a branch where the CPU has the
// instructions: minsd and maxsd return their second operand when the first is
// not less (or greater), unordered included, exactly as these expressions do.
// The build's comparisons go either way as often as not, so branches on them
// are mispredicted half the time.
inline double lessOf(double a, double b) {
#if defined(__SSE2__)
    return _mm_cvtsd_f64(_mm_min_sd(_mm_set_sd(a), _mm_set_sd(b)));
#else
    return a < b ? a : b;
#endif
}
inline double greaterOf(double a, double b) {
#if defined(__SSE2__)
    return _mm_cvtsd_f64(_mm_max_sd(_mm_set_sd(a), _mm_set_sd(b)));
#else
    return a > b ? a : b;
#endif
}

}  // namespace

SpaceTreeMemoBuild::SpaceTreeMemoBuild(const vell::ListNode* obstacles)
    : SpaceTreeMemoBuild(obstacles, Options{}) {}

SpaceTreeMemoBuild::SpaceTreeMemoBuild(const vell::ListNode* obstacles, const Options& options)
    : options_(options) {
    static_assert(sizeof(Record) == 32);
    // The literal build list is the obstacle list reversed (filled at its head).
    for (const vell::ListNode* n = obstacles; n != nullptr; n = n->next) {
        Entry e{static_cast<const Obstacle*>(n->item), {}, {}, {}};
        e.obstacle->boundingBox(e.box);
        entries_.push_back(e);
    }
    std::reverse(entries_.begin(), entries_.end());
    makeFaceTables();
    for (int a = 0; a < 3; ++a) {
        // A record holds a split as a 24-bit face index (millions of obstacles,
        // far beyond what any tree build of this kind can finish).
        if (faces_[a].size() > (std::size_t{1} << 24)) {
            throw std::length_error("space tree: too many obstacles for the memoised build");
        }
    }

    int bits = 1;
    for (int a = 0; a < 3; ++a) {
        while ((std::size_t{1} << bits) < faces_[a].size()) {
            ++bits;
        }
    }
    figures_.regionKeys =
        options_.keys == Keys::Automatic && 6 * bits + 1 <= 64 &&
        regionKeysAllowed();
    if (figures_.regionKeys) {
        for (Entry& e : entries_) {
            e.reach = SphereReach::of(*static_cast<const ObstacleSphere*>(e.obstacle));
        }
        // Sub-problems grow steeply with the number of entries (the scene's 37
        // make 58,000); a table sized for that from the start is not rehashed
        // and copied twice on the way.
        const std::size_t n = entries_.size();
        std::size_t capacity = std::size_t{1} << 12;
        while (capacity < (std::size_t{1} << 17) && capacity < 64 * n * n) {
            capacity *= 2;
        }
        regionTable_ = std::make_unique<RegionTable>(bits, capacity);
    }

    // Records and lists grow with the sub-problems (the scene's 37 entries
    // make 58,000 records and 177,000 list words). Reserving what a scene of
    // this size may need takes address space, not memory: pages are touched as
    // they are written, and no growth copies them.
    {
        const std::size_t n = entries_.size();
        records_ = std::make_unique<RecordStore>(
            std::min<std::size_t>(64 * n * n + 1024, std::size_t{1} << 22));
        lists_.reserve(std::min<std::size_t>(256 * n * n + 1024, std::size_t{1} << 22));
    }
    // The root: the whole domain and every entry, unfiltered.
    Region root;
    for (int a = 0; a < 3; ++a) {
        root[a] = 0;
        root[3 + a] = static_cast<std::uint32_t>(faces_[a].size() - 1);
    }
    lists_.push_back(static_cast<std::uint32_t>(entries_.size()));
    for (std::uint32_t i = 0; i < entries_.size(); ++i) {
        lists_.push_back(i);
    }
    const std::uint64_t rootKey = regionTable_ != nullptr ? regionTable_->key(root, 0) : 0;
    root_ = solve(root, rootKey, 1, static_cast<std::uint32_t>(entries_.size()), 0).record;
    if (!options_.bounds) {
        figures_.literalTrialNodes = trialNodes_[static_cast<std::size_t>(root_)];
    }
}

SpaceTreeMemoBuild::~SpaceTreeMemoBuild() = default;

void SpaceTreeMemoBuild::makeFaceTables() {
    // Faces are told apart by bit pattern, so 0.0 and -0.0 stay two faces, as
    // they are two different split values in the literal build. The unbounded
    // faces are the first and last index of every axis.
    for (int a = 0; a < 3; ++a) {
        std::vector<std::uint64_t> bits;
        for (const Entry& e : entries_) {
            bits.push_back(std::bit_cast<std::uint64_t>(e.box.min(a)));
            bits.push_back(std::bit_cast<std::uint64_t>(e.box.max(a)));
        }
        std::sort(bits.begin(), bits.end());
        bits.erase(std::unique(bits.begin(), bits.end()), bits.end());
        faces_[a].push_back(-ST_INFINITY);
        for (const std::uint64_t b : bits) {
            faces_[a].push_back(std::bit_cast<double>(b));
        }
        faces_[a].push_back(ST_INFINITY);
        for (Entry& e : entries_) {
            for (int side = 0; side < 2; ++side) {
                const std::uint64_t b = std::bit_cast<std::uint64_t>(e.box[3 * side + a]);
                e.face[3 * side + a] = static_cast<std::uint32_t>(
                    1 + (std::lower_bound(bits.begin(), bits.end(), b) - bits.begin()));
            }
        }
    }
}

// A region's list can be told from its region alone when an obstacle that
// reaches into a region always reaches into every region containing it. For a
// sphere's touchesBox that holds when its centre lies strictly inside its box
// (so the clipped box still straddles the centre when a corner test passes on
// the larger region) and when the centre test's product of two face distances
// cannot underflow to zero. Other obstacle types are not known to be monotone.
bool SpaceTreeMemoBuild::regionKeysAllowed() const {
    for (const Entry& e : entries_) {
        if (typeid(*e.obstacle) != typeid(ObstacleSphere)) {
            return false;
        }
        const auto* sphere = static_cast<const ObstacleSphere*>(e.obstacle);
        for (int a = 0; a < 3; ++a) {
            const double c = sphere->centre[a];
            if (!(e.box.min(a) < c && c < e.box.max(a))) {
                return false;
            }
            // Every clipped face is a face of the table; the smallest non-zero
            // distance bounds every product's magnitude from below.
            double nearest = ST_INFINITY;
            for (const double v : faces_[a]) {
                const double d = std::fabs(v - c);
                if (d != 0.0 && d < nearest) {
                    nearest = d;
                }
            }
            if (!(nearest * nearest > 0.0)) {
                return false;
            }
        }
    }
    return true;
}

SpaceTreeMemoBuild::SphereReach SpaceTreeMemoBuild::SphereReach::of(const ObstacleSphere& sphere) {
    SphereReach reach;
    for (int a = 0; a < 3; ++a) {
        reach.centre[a] = sphere.centre[a];
    }
    reach.radiusSquare = sphere.radius * sphere.radius;
    sphere.boundingBox(reach.bounds);
    return reach;
}

bool SpaceTreeMemoBuild::SphereReach::touches(const Box& box) const {
    // Every test is made, without a branch: which way each goes is as likely
    // as not. NaN fails every comparison here as it does in the corner tests.
    double nearSquare[3];
    double farSquare[3];
    bool overlaps = true;
    bool straddles = false;
    for (int a = 0; a < 3; ++a) {
        const double low = box.min(a) - centre[a];
        const double high = box.max(a) - centre[a];
        const double lowSquare = low * low;
        const double highSquare = high * high;
        nearSquare[a] = lessOf(lowSquare, highSquare);
        farSquare[a] = greaterOf(highSquare, lowSquare);  // lowSquare < highSquare ? high : low
        // Strict at every face: boxes that only share a face do not overlap.
        const bool belowTop = box.min(a) < bounds.max(a);
        const bool aboveBottom = box.max(a) > bounds.min(a);
        overlaps &= belowTop & aboveBottom;
        // The centre strictly between the box's faces clipped to the bounds.
        const double clippedLow = greaterOf(box.min(a), bounds.min(a));
        const double clippedHigh = lessOf(box.max(a), bounds.max(a));
        straddles |= (clippedLow - centre[a]) * (clippedHigh - centre[a]) < 0.0;
    }
    // All corners inside: the box lies within the solid sphere.
    const bool within = radiusSquare > (farSquare[0] + farSquare[1]) + farSquare[2];
    const bool someCornerInside = radiusSquare > (nearSquare[0] + nearSquare[1]) + nearSquare[2];
    return !within & overlaps & (someCornerInside | straddles);
}

bool SpaceTreeMemoBuild::touches(const Entry& entry, const Box& box) {
    ++figures_.touchesBoxCalls;
    if (figures_.regionKeys) {
        return entry.reach.touches(box);
    }
    Box scratch;
    return entry.obstacle->touchesBox(box, scratch);
}

std::uint32_t SpaceTreeMemoBuild::filter(const Box& box, std::uint32_t parentBegin,
                                         std::uint32_t parentLength) {
    // Appends the entries that reach into box in reverse order of the parent's
    // list, as the literal list made at its head holds them.
    const std::size_t begin = lists_.size();
    for (std::uint32_t i = parentLength; i-- > 0;) {
        const std::uint32_t e = lists_[parentBegin + i];
        if (touches(entries_[e], box)) {
            lists_.push_back(e);
        }
    }
    return static_cast<std::uint32_t>(lists_.size() - begin);
}

Box SpaceTreeMemoBuild::boxOf(const Region& region) const {
    Box box;
    for (int a = 0; a < 3; ++a) {
        box.min(a) = faces_[a][region[a]];
        box.max(a) = faces_[a][region[3 + a]];
    }
    return box;
}

SpaceTreeMemoBuild::Solved SpaceTreeMemoBuild::child(const Region& region, std::uint64_t key,
                                                     std::uint32_t parentBegin,
                                                     std::uint32_t parentLength, int parity) {
    if (figures_.regionKeys) {
        const RegionTable::Found found = regionTable_->find(key);
        if (found.same != nullptr) {
            ++figures_.reuses;
            if (options_.verifyReusedLists) {
                const std::uint32_t begin = static_cast<std::uint32_t>(lists_.size());
                const std::uint32_t length = filter(boxOf(region), parentBegin, parentLength);
                if (!sameList(found.same->record, begin, length)) {
                    ++figures_.listMismatches;
                }
                lists_.resize(begin);
            }
            return {found.same->record, found.same->term};
        }
        // The same region at the other depth parity lists the same entries in
        // reverse order: no need to ask the obstacles again.
        lists_.push_back(0);  // the list's length, set below
        const std::uint32_t begin = static_cast<std::uint32_t>(lists_.size());
        std::uint32_t length = 0;
        if (found.twin == nullptr) {
            length = filter(boxOf(region), parentBegin, parentLength);
        } else {
            const std::uint32_t twinBegin = found.twin->listBegin;
            length = lists_[twinBegin - 1];
            for (std::uint32_t i = length; i-- > 0;) {
                const std::uint32_t e = lists_[twinBegin + i];
                lists_.push_back(e);
            }
            if (options_.verifyReusedLists) {
                const std::uint32_t scratch = static_cast<std::uint32_t>(lists_.size());
                const std::uint32_t filtered = filter(boxOf(region), parentBegin, parentLength);
                if (filtered != length ||
                    !std::equal(lists_.begin() + begin, lists_.begin() + scratch,
                                lists_.begin() + scratch)) {
                    ++figures_.listMismatches;
                }
                lists_.resize(scratch);
            }
        }
        lists_[begin - 1] = length;
        if (found.twin != nullptr && length <= 1) {
            // At most one entry reads the same in either order: one sub-problem.
            ++figures_.reuses;
            lists_.resize(begin - 1);
            return {found.twin->record, found.twin->term};
        }
        const Solved solved = solve(region, key, begin, length, parity);
        regionTable_->insert(key, solved.record, solved.term, begin);
        return solved;
    }

    lists_.push_back(0);  // the list's length, set below
    const std::uint32_t begin = static_cast<std::uint32_t>(lists_.size());
    const std::uint32_t length = filter(boxOf(region), parentBegin, parentLength);
    lists_[begin - 1] = length;
    std::string fullKey = fullListKey(region, lists_.data() + begin, length);
    const auto found = fullTable_.find(fullKey);
    if (found != fullTable_.end()) {
        ++figures_.reuses;
        lists_.resize(begin - 1);
        return found->second;
    }
    const Solved solved = solve(region, key, begin, length, parity);
    fullTable_.emplace(std::move(fullKey), solved);
    return solved;
}

bool SpaceTreeMemoBuild::sameList(std::int32_t record, std::uint32_t begin,
                                  std::uint32_t length) const {
    const Record& r = (*records_)[record];
    if (listLength(r) != length) {
        return false;
    }
    for (std::uint32_t i = 0; i < length; ++i) {
        if (lists_[begin + i] != lists_[r.listBegin + i]) {
            return false;
        }
    }
    return true;
}

SpaceTreeMemoBuild::Solved SpaceTreeMemoBuild::solve(const Region& region, std::uint64_t key,
                                                     std::uint32_t listBegin,
                                                     std::uint32_t listLength, int parity) {
    ++figures_.subProblems;
    Record result;
    result.listBegin = listBegin;
    result.elements = static_cast<int>(listLength);
    if (listLength > 0) {
        // A node with a list tries every axis; a leaf keeps the last one tried.
        result.axis = 2;
    }

    double bestCost = ST_INFINITY;
    std::uint32_t bestSplitFace = 0;
    int bestAxis = 0;
    std::int32_t best[2] = {NO_RECORD, NO_RECORD};
    double trialNodes = 1.0;  // nodes the literal build makes for this sub-problem

    // The candidate of every axis first, so that the memo slots of all six
    // trial children can be fetched from memory while the trials run.
    //
    // The face nearest the middle, ties to the face met first (min before
    // max), exactly as the literal candidate search. A face strictly inside a
    // region is finite and so is its distance from the middle: no comparison
    // below meets a NaN, and a first find needs no flag of its own. The three
    // axes share one pass over the list, without branches: whether a face is
    // inside or nearer is as likely as not.
    std::uint32_t candidate[3] = {0, 0, 0};
    std::uint64_t childKeys[3][2] = {};
    if (listLength > 0) {
        double lo[3];
        double hi[3];
        double mid[3];
        double nearest[3];
        for (int a = 0; a < 3; ++a) {
            lo[a] = faces_[a][region[a]];
            hi[a] = faces_[a][region[3 + a]];
            mid[a] = (lo[a] + hi[a]) * 0.5;
            nearest[a] = std::numeric_limits<double>::infinity();
        }
        const std::uint64_t outside =
            std::bit_cast<std::uint64_t>(std::numeric_limits<double>::infinity());
        const std::uint32_t* list = lists_.data() + listBegin;
        for (std::uint32_t i = 0; i < listLength; ++i) {
            const Entry& e = entries_[list[i]];
            for (int side = 0; side < 2; ++side) {
                for (int a = 0; a < 3; ++a) {
                    const double v = e.box[3 * side + a];
                    // The distance, or infinity for a face not inside, chosen by
                    // bits rather than by a branch.
                    const std::uint64_t inside = (lo[a] < v) & (v < hi[a]);
                    const std::uint64_t keep = 0 - inside;
                    const double distance = std::bit_cast<double>(
                        (std::bit_cast<std::uint64_t>(std::fabs(v - mid[a])) & keep) |
                        (outside & ~keep));
                    const std::uint32_t take = 0u - static_cast<std::uint32_t>(distance < nearest[a]);
                    candidate[a] = (e.face[3 * side + a] & take) | (candidate[a] & ~take);
                    nearest[a] = lessOf(distance, nearest[a]);
                }
            }
        }
        if (regionTable_ != nullptr) {
            for (int a = 0; a < 3; ++a) {
                if (candidate[a] == 0) {
                    continue;
                }
                // The low child moves the high face, the high child the low.
                childKeys[a][0] = regionTable_->childKey(key, 3 + a, candidate[a]);
                childKeys[a][1] = regionTable_->childKey(key, a, candidate[a]);
                regionTable_->prefetch(childKeys[a][0]);
                regionTable_->prefetch(childKeys[a][1]);
            }
        }
    }

    for (int a = 0; a < 3; ++a) {
        const std::uint32_t splitFace = candidate[a];
        if (splitFace == 0) {
            continue;  // no face strictly inside the region on this axis
        }

        double cost = 0.0;
        std::int32_t trial[2] = {NO_RECORD, NO_RECORD};
        bool cut = false;
        for (int j = 0; j < 2; ++j) {
            Region sub;
            std::copy(region, region + 6, sub);
            sub[j == 0 ? 3 + a : a] = splitFace;
            const Solved solved = child(sub, childKeys[a][j], listBegin, listLength, parity ^ 1);
            trial[j] = solved.record;
            // Should this trial win, its record is read at the end: fetch it
            // while the other trials run.
            records_->prefetch(solved.record);
            if (!options_.bounds) {
                trialNodes += trialNodes_[static_cast<std::size_t>(solved.record)];
            }
            cost += solved.term;
            // Every subtree costs at least a bare leaf's term, and rounding is
            // monotone: a trial whose partial cost plus that cannot get strictly
            // below the best cannot win (ties go to the earlier axis).
            if (j == 0 && options_.bounds && !(cost + trialTerm(1, 0, 1.0) < bestCost)) {
                ++figures_.boundedTrials;
                cut = true;
                break;
            }
        }
        if (!cut && cost < bestCost) {
            bestCost = cost;
            bestSplitFace = splitFace;
            bestAxis = a;
            best[0] = trial[0];
            best[1] = trial[1];
        }
    }

    if (bestCost < ST_INFINITY) {
        const Record& low = (*records_)[best[0]];
        const Record& high = (*records_)[best[1]];
        result.splitFace = bestSplitFace;
        result.axis = bestAxis;
        result.children[0] = best[0];
        result.children[1] = best[1];
        result.nodes = low.nodes + high.nodes + 1;
        result.elements = low.elements + high.elements;
        // Only compared with EXACT_DEPTH_HEIGHT: saturating keeps the record small.
        result.height = std::min(1 + std::max<int>(low.height, high.height), 63) & 63;
        if (result.height <= EXACT_DEPTH_HEIGHT) {
            result.depth = ((low.depth + 1.0) + (high.depth + 1.0)) * 0.5;
        } else {
            result.depth = (literalDepth(best[0], 2.0) + literalDepth(best[1], 2.0)) * 0.5;
        }
    }
    if (!options_.bounds) {
        trialNodes_.push_back(trialNodes);
    }
    const double term = trialTerm(result.nodes, result.elements, result.depth);
    return {records_->push(result), term};
}

std::uint32_t SpaceTreeMemoBuild::listLength(const Record& record) const {
    return lists_[record.listBegin - 1];
}

double SpaceTreeMemoBuild::literalDepth(std::int32_t record, double depth) const {
    const Record& r = (*records_)[record];
    if (r.children[0] == NO_RECORD) {
        return depth;
    }
    return (literalDepth(r.children[0], depth + 1.0) + literalDepth(r.children[1], depth + 1.0)) *
           0.5;
}

STNode* SpaceTreeMemoBuild::makeTree() const { return make(root_, STBorderNodes{}); }

STNode* SpaceTreeMemoBuild::make(std::int32_t record, const STBorderNodes& border) const {
    // An empty list makes a bare leaf; the fields are set from the record.
    const SpaceTreeList noEntries;
    STNode* node = new STNode(noEntries);
    const Record& r = (*records_)[record];
    node->border = border;
    node->axis = r.axis;
    // A leaf's split is never set: 0.0, as in the literal build.
    node->split = r.splitFace != 0 ? faces_[r.axis][r.splitFace] : 0.0;
    if (r.children[0] == NO_RECORD) {
        // A leaf lists its obstacles in reverse order of its entry list.
        for (std::uint32_t i = 0; i < listLength(r); ++i) {
            vell::pushFront(node->obstacles,
                            const_cast<Obstacle*>(entries_[lists_[r.listBegin + i]].obstacle));
        }
        return node;
    }
    for (int j = 0; j < 2; ++j) {
        STBorderNodes faces = border;
        faces.link(1 - j, r.axis) = node;
        node->children[j] = make(r.children[j], faces);
    }
    return node;
}

}  // namespace kelvo
