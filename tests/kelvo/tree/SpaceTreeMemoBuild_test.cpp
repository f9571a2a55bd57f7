#include "kelvo/tree/SpaceTreeMemoBuild.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <random>
#include <sstream>
#include <unordered_map>

#include "kelvo/app/kelvo.h"
#include "tests/kelvo/tree/tree_helpers.h"

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
    // Some scenes spread out, where the spheres rarely overlap.
    const double spread = rng() % 2 == 0 ? 3.0 : 8.0;
    std::uniform_real_distribution<double> coordinate(-spread, spread);
    std::uniform_real_distribution<double> size(0.1, 1.0);
    for (int i = 0; i < count; ++i) {
        SphereGeometry g;
        const auto pick = rng() % 8;
        if (lattice) {
            g.radius = 0.5 * static_cast<double>(1 + rng() % 3);
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

// What the literal build of these obstacles would cost, in nodes made.
double literalCost(const vell::ListNode* obstacles) {
    SpaceTreeMemoBuild::Options exact;
    exact.bounds = false;
    return SpaceTreeMemoBuild(obstacles, exact).figures().literalTrialNodes;
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
    // The literal build makes 12,700,053 nodes for the scene, trials included.
    EXPECT_EQ(literalCost(scene.world.obstacles), 12700053.0);
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

// The literal build runs several times slower under the address sanitizer.
#ifdef __SANITIZE_ADDRESS__
constexpr int RANDOM_SCENES = 72;
constexpr double LITERAL_BUDGET = 150000;
#else
constexpr int RANDOM_SCENES = 168;
constexpr double LITERAL_BUDGET = 300000;
#endif

TEST(SpaceTreeMemoBuild, RandomScenesAreTheLiteralTree) {
    // Scenes whose literal build is cheap are compared with it; the others
    // (overlapping spheres can cost the literal build minutes) with the fast
    // build keyed by full lists and without bounds.
    std::mt19937_64 rng(2026);
    int literal = 0;
    int literalLarge = 0;
    int lattices = 0;
    for (int i = 0; i < RANDOM_SCENES; ++i) {
        const int count = 1 + i % 12;
        const std::vector<SphereGeometry> geometry = randomScene(rng, count);
        SphereWorld s(geometry);
        lattices += geometry[0].radius == 0.5 * std::round(geometry[0].radius * 2.0);
        SpaceTreeMemoBuild::Options full;
        full.keys = SpaceTreeMemoBuild::Keys::FullLists;
        if (literalCost(s.world.obstacles) <= LITERAL_BUDGET) {
            const auto reference = literalTree(s.world.obstacles);
            ASSERT_EQ(differences(reference.get(), s.world.obstacles), "") << "scene " << i;
            ASSERT_EQ(differences(reference.get(), s.world.obstacles, full), "") << "scene " << i;
            ++literal;
            literalLarge += count >= 8;
        } else {
            full.bounds = false;
            const auto reference = fastTree(s.world.obstacles, full);
            ASSERT_EQ(differences(reference.get(), s.world.obstacles), "") << "scene " << i;
        }
    }
    EXPECT_GT(literal, RANDOM_SCENES * 2 / 5);
    EXPECT_GE(literalLarge, RANDOM_SCENES / 40);
    EXPECT_GT(lattices, RANDOM_SCENES / 6);
}

TEST(SpaceTreeMemoBuild, LargerScenesAgreeWithTheFullListVariant) {
    std::mt19937_64 rng(13);
    for (int count = 13; count <= 20; count += 2) {
        const std::vector<SphereGeometry> geometry = randomScene(rng, count);
        SphereWorld s(geometry);
        SpaceTreeMemoBuild::Options full;
        full.keys = SpaceTreeMemoBuild::Keys::FullLists;
        full.bounds = false;
        const auto reference = fastTree(s.world.obstacles, full);
        ASSERT_EQ(differences(reference.get(), s.world.obstacles), "") << count << " spheres";
    }
}

// A sphere that is not a plain ObstacleSphere: its touchesBox could be anything.
class MarkedSphere final : public ObstacleSphere {
public:
    using ObstacleSphere::ObstacleSphere;
};

TEST(SpaceTreeMemoBuild, ObstaclesThatMayNotShrinkWithTheirRegionUseFullKeys) {
    const Surface* surface = &testing::plainSurface;
    // A sphere so small that its box has no room around the centre, another
    // type of obstacle, a subclass of the sphere: each turns the region key off.
    ObstacleSphere a({1.0, {0, 0, 0}}, surface), b({0.5, {1, 0.5, 0}}, surface);
    ObstacleSphere speck({1e-17, {1.0, 0.25, 0.5}}, surface);
    MarkedSphere marked({0.75, {0.5, 0, 0.25}}, surface);
    const testing::Slab slab(-0.5, 1.5);
    const std::vector<std::vector<const Obstacle*>> scenes = {
        {&a, &b}, {&a, &speck, &b}, {&a, &marked, &b}, {&slab, &a, &b}, {&slab, &speck}};
    for (std::size_t i = 0; i < scenes.size(); ++i) {
        World world(0.0f);
        for (const Obstacle* o : scenes[i]) {
            world.addObstacle(o);
        }
        EXPECT_EQ(SpaceTreeMemoBuild(world.obstacles).figures().regionKeys, i == 0) << i;
        const auto reference = literalTree(world.obstacles);
        EXPECT_EQ(differences(reference.get(), world.obstacles), "") << "scene " << i;
        world.buildTree();
        EXPECT_EQ(TreeComparison().compare(world.tree.root, reference.get()), "") << i;
    }
}

// The build's two-corner test of a sphere against a box answers as the
// sphere's own eight-corner test, on boxes whose faces sit where the answers
// turn: on the centre, on the sphere's bounds, one ulp either side of those,
// at the tree's unbounded faces, on the lattice, and anywhere.
TEST(SpaceTreeMemoBuild, TwoCornerReachAnswersAsTheSpheresOwnTest) {
    std::mt19937_64 rng(77);
    const Surface* surface = &testing::plainSurface;
    int touching = 0;
    int boxes = 0;
    for (int s = 0; s < 60; ++s) {
        SphereGeometry g;
        g.radius = s % 3 == 0 ? 0.5 * static_cast<double>(1 + rng() % 4)
                              : std::uniform_real_distribution<double>(0.01, 3.0)(rng);
        for (int a = 0; a < 3; ++a) {
            g.centre[a] = s % 3 == 0 ? 0.5 * (static_cast<double>(rng() % 9) - 4.0)
                                     : std::uniform_real_distribution<double>(-4.0, 4.0)(rng);
        }
        const ObstacleSphere sphere(g, surface);
        const auto reach = SpaceTreeMemoBuild::SphereReach::of(sphere);
        std::vector<double> values[3];
        for (int a = 0; a < 3; ++a) {
            const double c = g.centre[a];
            const double r = g.radius;
            for (const double v : {c, c - r, c + r, c - 0.5 * r, c + 0.5 * r, c - 2.0 * r,
                                   c + 2.0 * r, c - r * 0.7071067811865476,
                                   c + r * 0.7071067811865476}) {
                values[a].push_back(v);
                values[a].push_back(std::nextafter(v, -ST_INFINITY));
                values[a].push_back(std::nextafter(v, ST_INFINITY));
            }
            values[a].push_back(-ST_INFINITY);
            values[a].push_back(ST_INFINITY);
            values[a].push_back(0.0);
            values[a].push_back(-0.0);
        }
        for (int i = 0; i < 5000; ++i) {
            Box box;
            for (int a = 0; a < 3; ++a) {
                const auto& v = values[a];
                double low = v[rng() % v.size()];
                double high = v[rng() % v.size()];
                if (rng() % 8 == 0) {
                    high = std::uniform_real_distribution<double>(-8.0, 8.0)(rng);
                }
                if (high < low) {
                    std::swap(low, high);
                }
                box.min(a) = low;
                box.max(a) = high;
            }
            Box clipped;
            const bool expected = sphere.touchesBox(box, clipped);
            ASSERT_EQ(reach.touches(box), expected) << "sphere " << s << ", box " << i;
            touching += expected;
            ++boxes;
        }
    }
    // Both answers were met often.
    EXPECT_GT(touching, boxes / 10);
    EXPECT_LT(touching, boxes * 9 / 10);
}

int depthOf(const STNode* root, const STNode* target) {
    int depth = 0;
    for (const STNode* n = root; n != target; ++depth) {
        if (n->isLeaf()) {
            return -1;
        }
        const STNode* low = n->children[0];
        std::vector<const STNode*> leaves;
        testing::collectLeaves(low, leaves);
        n = std::find(leaves.begin(), leaves.end(), target) != leaves.end() ? low : n->children[1];
    }
    return depth;
}

// Each filtering pass reverses a list and a leaf lists its obstacles in
// reverse order of its list, so of two coincident spheres the one added to
// the World first is listed first in leaves at odd depth and second at even
// depth. The nearest-hit query keeps the first of equal distances, so that
// order decides which sphere a ray sees. Checked for both builds.
TEST(SpaceTree, CoincidentSpheresAreListedInBuildOrderAndTheFirstListedIsHit) {
    const Surface red{vell::black, vell::Colour(1, 0, 0), 0.0f};
    const Surface blue{vell::black, vell::Colour(0, 0, 1), 0.0f};
    // The pair alone, and with neighbours that move the pair's leaf up or down.
    const std::vector<std::vector<SphereGeometry>> others = {
        {}, {{1.0, {3, 0, 0}}, {0.5, {0, 2.5, 0}}}, {{0.25, {0, 0, 0}}},
        {{1.0, {-1, 0, 0}}, {1.0, {1, 0, 0}}}, {{1.0, {0.5, 0.5, 0.5}}}};
    bool parities[2] = {false, false};
    for (const bool literal : {false, true}) {
        for (std::size_t k = 0; k < others.size(); ++k) {
            const ObstacleSphere first({1.0, {0, 0, 0}}, &red);
            const ObstacleSphere second({1.0, {0, 0, 0}}, &blue);
            SphereWorld s(others[k]);
            s.world.addObstacle(&first);
            s.world.addObstacle(&second);
            literal ? s.world.buildTreeLiteral() : s.world.buildTree();

            const Ray ray{{0.3, 0.2, -5.0}, {0.0, 0.0, 1.0}};
            STNodeIterator walker(s.world.tree.root);
            walker.locate(ray.origin);
            double t = 0.0;
            const Obstacle* hit = World::nearestHit(ray, t, walker, nullptr);
            ASSERT_TRUE(hit == &first || hit == &second) << k;
            const STNode* leaf = walker.current;
            const int depth = depthOf(s.world.tree.root, leaf);
            ASSERT_GE(depth, 0);
            parities[depth % 2] = true;

            std::vector<const void*> listed;
            for (const vell::ListNode* n = leaf->obstacles; n != nullptr; n = n->next) {
                if (n->item == &first || n->item == &second) {
                    listed.push_back(n->item);
                }
            }
            const Obstacle* expected = depth % 2 == 1 ? &first : &second;
            ASSERT_EQ(listed.size(), 2u) << k;
            EXPECT_EQ(listed[0], expected) << "scene " << k << ", leaf depth " << depth;
            EXPECT_EQ(hit, expected) << "scene " << k << ", leaf depth " << depth;
            vell::Colour out;
            s.world.trace(ray, out, 1);
            EXPECT_EQ(out.r > out.b, expected == &first) << "the colour of the sphere hit";
        }
    }
    EXPECT_TRUE(parities[0] && parities[1]) << "leaves at both parities of depth";
}

}  // namespace
}  // namespace kelvo
