#include "kelvo/SpaceTreeMemoBuild.h"

#include <gtest/gtest.h>

#include <bit>
#include <chrono>
#include <random>
#include <sstream>
#include <unordered_map>

#include "kelvo/kelvo.h"
#include "tree_helpers.h"

namespace kelvo {
namespace {

using testing::SphereWorld;

// Walks two trees side by side and describes the first difference: shape,
// axis, split bits, leaf lists in list order, and border links (each link must
// name the node at the same place in the other tree).
class TreeComparison {
public:
    std::string compare(const STNode* fast, const STNode* literal) {
        twin_.clear();
        if ((fast == nullptr) != (literal == nullptr)) {
            return "one tree is missing";
        }
        return fast == nullptr ? "" : node(fast, literal, "root");
    }

private:
    std::string node(const STNode* a, const STNode* b, const std::string& path) {
        twin_[a] = b;
        std::ostringstream why;
        if (a->isLeaf() != b->isLeaf() || (a->children[1] == nullptr) != a->isLeaf()) {
            why << path << ": leaf in one tree only";
        } else if (a->axis != b->axis) {
            why << path << ": axis " << a->axis << " against " << b->axis;
        } else if (std::bit_cast<std::uint64_t>(a->split) !=
                   std::bit_cast<std::uint64_t>(b->split)) {
            why << path << ": split " << a->split << " against " << b->split;
        } else if (a->border.bounds() != b->border.bounds()) {
            why << path << ": region differs";
        }
        for (int k = 0; k < 6 && why.str().empty(); ++k) {
            const STNode* la = a->border.link(k / 3, k % 3);
            const STNode* lb = b->border.link(k / 3, k % 3);
            const auto seen = twin_.find(la);
            if ((la == nullptr) ? lb != nullptr : (seen == twin_.end() || seen->second != lb)) {
                why << path << ": border link " << k << " differs";
            }
        }
        const vell::ListNode* na = a->obstacles;
        const vell::ListNode* nb = b->obstacles;
        for (int i = 0; why.str().empty() && (na != nullptr || nb != nullptr); ++i) {
            if (na == nullptr || nb == nullptr || na->item != nb->item) {
                why << path << ": leaf list differs at position " << i;
            } else {
                na = na->next;
                nb = nb->next;
            }
        }
        if (!why.str().empty() || a->isLeaf()) {
            return why.str();
        }
        const std::string low = node(a->children[0], b->children[0], path + "/0");
        return low.empty() ? node(a->children[1], b->children[1], path + "/1") : low;
    }

    std::unordered_map<const STNode*, const STNode*> twin_;
};

struct Statistics {
    int nodes = 0;
    int elements = 0;
    double depth = 0.0;
    bool operator==(const Statistics&) const = default;
};

Statistics statisticsOf(const STNode* root) {
    Statistics s;
    if (root != nullptr) {
        s.depth = root->statistics(s.nodes, s.elements, 1.0);
    }
    return s;
}

// The literal tree of a World's obstacles, owned.
std::unique_ptr<STNode> literalTree(const vell::ListNode* obstacles) {
    SpaceTree tree;
    tree.build(obstacles);
    std::unique_ptr<STNode> root(tree.root);
    tree.root = nullptr;
    return root;
}

std::unique_ptr<STNode> fastTree(const vell::ListNode* obstacles,
                                 const SpaceTreeMemoBuild::Options& options = {},
                                 SpaceTreeMemoBuild::Figures* figures = nullptr) {
    SpaceTreeMemoBuild build(obstacles, options);
    if (figures != nullptr) {
        *figures = build.figures();
    }
    return std::unique_ptr<STNode>(build.makeTree());
}

// Compares the fast build (its usual keys, checking every reuse) with another
// tree of the same obstacles; an empty string when they are identical.
std::string differences(const STNode* reference, const vell::ListNode* obstacles,
                        const SpaceTreeMemoBuild::Options& options = {}) {
    SpaceTreeMemoBuild::Options checked = options;
    checked.verifyReusedLists = true;
    SpaceTreeMemoBuild::Figures figures;
    const auto fast = fastTree(obstacles, checked, &figures);
    std::string why = TreeComparison().compare(fast.get(), reference);
    if (why.empty() && !(statisticsOf(fast.get()) == statisticsOf(reference))) {
        why = "statistics differ";
    }
    if (why.empty() && figures.listMismatches != 0) {
        why = "a region key stood for two different lists";
    }
    return why;
}

// Random scenes of a few spheres. Every third one sits on a coarse lattice,
// where faces, centres and radii coincide: spheres touch, nest, share faces and
// lie exactly on top of each other, which makes many exact ties of candidates
// and of trial costs.
std::vector<SphereGeometry> randomScene(std::mt19937_64& rng, int count) {
    std::vector<SphereGeometry> scene;
    const bool lattice = rng() % 3 == 0;
    std::uniform_real_distribution<double> coordinate(-3.0, 3.0);
    std::uniform_real_distribution<double> size(0.1, 2.0);
    for (int i = 0; i < count; ++i) {
        SphereGeometry g;
        const auto pick = rng() % 8;
        if (lattice) {
            g.radius = 0.5 * static_cast<double>(1 + rng() % 4);
            for (int a = 0; a < 3; ++a) {
                g.centre[a] = 0.5 * (static_cast<double>(rng() % 9) - 4.0);
            }
        } else {
            g.radius = size(rng);
            g.centre = {coordinate(rng), coordinate(rng), coordinate(rng)};
        }
        if (i > 0 && pick == 0) {
            g = scene[rng() % scene.size()];  // coincident
        } else if (i > 0 && pick == 1) {
            // Touching another one along an axis, or nested inside it.
            const SphereGeometry& other = scene[rng() % scene.size()];
            const int axis = static_cast<int>(rng() % 3);
            g.centre = other.centre;
            if (rng() % 2 == 0) {
                g.centre[axis] += other.radius + g.radius;
            } else {
                g.radius = other.radius * 0.5;
                g.centre[axis] += other.radius * 0.25;
            }
        }
        scene.push_back(g);
    }
    return scene;
}

TEST(SpaceTreeMemoBuild, SceneTreeIsTheLiteralTreeNodeByNode) {
    const Scene& scene = testing::sharedScene();
    // The scene's own World was built the fast way; build the literal tree of
    // the same obstacle list next to it.
    const auto literal = literalTree(scene.world.obstacles);
    EXPECT_EQ(TreeComparison().compare(scene.world.tree.root, literal.get()), "");
    EXPECT_EQ(statisticsOf(scene.world.tree.root), statisticsOf(literal.get()));
    EXPECT_EQ(scene.world.nodeCount, 833);
    EXPECT_EQ(scene.world.elementCount, 406);
    EXPECT_EQ(statisticsOf(literal.get()).depth, 7.335205078125);

    // Both kinds of key, with and without the bound, give the same tree.
    for (const auto keys : {SpaceTreeMemoBuild::Keys::Automatic,
                            SpaceTreeMemoBuild::Keys::FullLists}) {
        for (const bool bounds : {true, false}) {
            SpaceTreeMemoBuild::Options options;
            options.keys = keys;
            options.bounds = bounds;
            EXPECT_EQ(differences(literal.get(), scene.world.obstacles, options), "")
                << "full lists " << (keys == SpaceTreeMemoBuild::Keys::FullLists) << ", bounds "
                << bounds;
        }
    }

    // The spheres of the scene allow the cheap key.
    SpaceTreeMemoBuild build(scene.world.obstacles);
    EXPECT_TRUE(build.figures().regionKeys);
    EXPECT_GT(build.figures().reuses, build.figures().subProblems);
}

TEST(SpaceTreeMemoBuild, SmallScenesAreTheLiteralTree) {
    // No obstacles: the root is a bare leaf.
    World empty(0.0f);
    EXPECT_EQ(differences(literalTree(nullptr).get(), nullptr), "");
    empty.buildTree();
    EXPECT_EQ(statisticsOf(empty.tree.root), (Statistics{1, 0, 1.0}));

    SphereWorld unit({{1.0, {0, 0, 0}}});
    EXPECT_EQ(differences(literalTree(unit.world.obstacles).get(), unit.world.obstacles), "");
    unit.world.buildTree();
    EXPECT_EQ(unit.world.nodeCount, 13);
    EXPECT_EQ(unit.world.averageDepth, 2.96875f);
}

TEST(SpaceTreeMemoBuild, RandomScenesAreTheLiteralTree) {
    std::mt19937_64 rng(2026);
    int lattices = 0;
    for (int i = 0; i < 120; ++i) {
        const int count = 1 + i % 10;
        const std::vector<SphereGeometry> geometry = randomScene(rng, count);
        SphereWorld s(geometry);
        auto t0 = std::chrono::steady_clock::now();
        const auto literal = literalTree(s.world.obstacles);
        auto t1 = std::chrono::steady_clock::now();
        SpaceTreeMemoBuild probe(s.world.obstacles);
        if (getenv("PROBE")) printf("scene %d count %d lattice %d literal %.1f ms subproblems %d\n", i, count, (int)(geometry[0].radius == 0.5 * std::round(geometry[0].radius * 2.0)), std::chrono::duration<double, std::milli>(t1-t0).count(), probe.figures().subProblems);
        ASSERT_EQ(differences(literal.get(), s.world.obstacles), "") << "scene " << i;
        SpaceTreeMemoBuild::Options full;
        full.keys = SpaceTreeMemoBuild::Keys::FullLists;
        ASSERT_EQ(differences(literal.get(), s.world.obstacles, full), "") << "scene " << i;
        lattices += geometry[0].radius == 0.5 * std::round(geometry[0].radius * 2.0);
    }
    EXPECT_GT(lattices, 20);
}

}  // namespace
}  // namespace kelvo
