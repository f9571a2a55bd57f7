#pragma once

#include "kelvo/scene/Obstacle.h"
#include "kelvo/scene/PointLight.h"
#include "kelvo/scene/Ray.h"
#include "kelvo/scene/RayCounts.h"
#include "kelvo/tree/STNodeIterator.h"
#include "kelvo/tree/SpaceTree.h"
#include "velllib/colour.h"
#include "velllib/vell_list.h"

namespace kelvo {

// The distance of a miss: the largest finite float, held as a double.
inline constexpr double NO_HIT_DISTANCE = 3.4028234663852886e38;
// Grey added to each channel per leaf crossed before the hit was confirmed.
inline constexpr double STEP_GLOW = 0.05;

// How the space tree is built. The trial build (memoised, the same tree as
// the literal one) measures whole trial subtrees and grows steeply with the
// obstacle count; the surface-area build grows as n log n.
enum class TreeBuild { AUTOMATIC, TRIAL, SURFACE_AREA };
// Scenes up to this many obstacles take the trial build when automatic: the
// program's flake of 37 spheres in tens of milliseconds (its regular faces
// repeat), scattered spheres in a second or two at 40, and steeply more
// beyond (the flake of 187 spheres takes seconds).
inline constexpr int TRIAL_BUILD_LIMIT = 40;

// The scene container: obstacles and lights by reference, the space tree over
// the obstacles, its statistics, and the absorption of light with distance.
// Tracing only reads it; every query keeps its state on its own stack and in
// the calling thread's node pool.
class World {
public:
    explicit World(float absorption);
    virtual ~World();
    World(const World&) = delete;
    World& operator=(const World&) = delete;

    // Both put the reference at the front of their list.
    bool addObstacle(const Obstacle* obstacle);
    bool addLight(const PointLight* light);
    // Indexes the obstacles added so far and records the statistics and the
    // build that made the tree (never AUTOMATIC afterwards).
    void buildTree(TreeBuild build = TreeBuild::AUTOMATIC);
    // The same tree, built by the literal trial-by-trial build (seconds for
    // the scene): the reference that the fast build is checked against.
    void buildTreeLiteral();

    // The colour seen along the ray into out; returns the hit's distance or
    // NO_HIT_DISTANCE. The tree must have been built. counts, when given,
    // grows by the reflected and shadow rays walked through the tree: a
    // mirrored ray only while depth is left for it (the last one is never
    // traced), a shadow ray for every light that faces a lit surface, blocked
    // or not. The caller counts the ray it traces itself.
    double trace(const Ray& ray, vell::Colour& out, int depth, RayCounts* counts = nullptr) const;
    // As trace, with the walker already standing on the leaf of the origin.
    double shade(const Ray& ray, vell::Colour& out, int depth, STNodeIterator& walker,
                 RayCounts* counts = nullptr) const;
    // The obstacle hit nearest along the ray, or null. leafCount, when given,
    // grows by the number of leaves examined without a confirmed hit.
    static const Obstacle* nearestHit(const Ray& ray, double& t, STNodeIterator& walker,
                                      int* leafCount);

    float transmission;
    vell::ListNode* obstacles = nullptr;
    vell::ListNode* lights = nullptr;
    SpaceTree tree;
    int nodeCount = 0;
    int elementCount = 0;
    float averageDepth = 0.0f;
    // The grey per leaf crossed; deep trees cross many leaves and may take less.
    double stepGlow = STEP_GLOW;
    TreeBuild builtBy = TreeBuild::AUTOMATIC;
};

}  // namespace kelvo
