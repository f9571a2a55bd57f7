#include "kelvo/world/World.h"

#include <cmath>

#include "kelvo/tree/SpaceTreeMemoBuild.h"
#include "kelvo/tree/SpaceTreeSahBuild.h"

namespace kelvo {

World::World(float absorption) : transmission(1.0f - absorption) {}

World::~World() {
    tree.destroy();
    vell::freeList(lights);
    vell::freeList(obstacles);
}

bool World::addObstacle(const Obstacle* obstacle) {
    vell::pushFront(obstacles, const_cast<Obstacle*>(obstacle));
    return true;
}

bool World::addLight(const PointLight* light) {
    vell::pushFront(lights, const_cast<PointLight*>(light));
    return true;
}

void World::buildTree(TreeBuild build) {
    tree.destroy();
    if (build == TreeBuild::AUTOMATIC) {
        int count = 0;
        for (const vell::ListNode* n = obstacles; n != nullptr && count <= TRIAL_BUILD_LIMIT;
             n = n->next) {
            ++count;
        }
        build = count <= TRIAL_BUILD_LIMIT ? TreeBuild::TRIAL : TreeBuild::SURFACE_AREA;
    }
    builtBy = build;
    tree.root = build == TreeBuild::TRIAL ? SpaceTreeMemoBuild(obstacles).makeTree()
                                          : SpaceTreeSahBuild(obstacles).makeTree();
    averageDepth = static_cast<float>(tree.statistics(nodeCount, elementCount));
}

void World::buildTreeLiteral() {
    tree.destroy();
    builtBy = TreeBuild::TRIAL;
    tree.build(obstacles);
    averageDepth = static_cast<float>(tree.statistics(nodeCount, elementCount));
}

const Obstacle* World::nearestHit(const Ray& ray, double& t, STNodeIterator& walker,
                                  int* leafCount) {
    // Obstacles listed in several leaves are tested once per query.
    vell::ListNode* tested = nullptr;
    const Obstacle* best = nullptr;
    double h[3] = {0.0, 0.0, 0.0};
    t = NO_HIT_DISTANCE;
    for (;;) {
        const STNode* leaf = walker.current;
        const Obstacle* find = nullptr;
        for (const vell::ListNode* n = leaf->obstacles; n != nullptr; n = n->next) {
            const Obstacle* candidate = static_cast<const Obstacle*>(n->item);
            bool seen = false;
            for (const vell::ListNode* m = tested; m != nullptr; m = m->next) {
                if (m->item == candidate) {
                    seen = true;
                    break;
                }
            }
            if (seen) {
                continue;
            }
            vell::pushFront(tested, const_cast<Obstacle*>(candidate));
            double u = 0.0;
            const Obstacle* hit = candidate->intersect(ray, u);
            // Strictly nearer: between equal distances the one tested first wins.
            if (hit != nullptr && u > 0.0 && u < t) {
                t = u;
                find = hit;
            }
        }
        if (find != nullptr) {
            best = find;
            for (int a = 0; a < 3; ++a) {
                h[a] = ray.origin[a] + t * ray.direction[a];
            }
        }
        // A hit is confirmed only in the leaf that contains its point: no leaf
        // further along can hold a nearer one.
        if (best != nullptr && leaf->border.contains(h)) {
            vell::freeList(tested);
            return best;
        }
        if (leafCount != nullptr) {
            ++*leafCount;
        }
        if (!walker.next(ray)) {
            vell::freeList(tested);
            return nullptr;
        }
    }
}

double World::shade(const Ray& ray, vell::Colour& out, int depth, STNodeIterator& walker,
                    RayCounts* counts) const {
    double glow = 0.0;
    if (depth == 0) {
        out = vell::black;
        return NO_HIT_DISTANCE;
    }
    int leaves = 0;
    double t = 0.0;
    const Obstacle* hit = nearestHit(ray, t, walker, &leaves);
    glow = leaves * stepGlow;
    if (hit == nullptr) {
        out = vell::black;
        if (glow != 0.0) {
            out.r = static_cast<float>(out.r + glow);
            out.g = static_cast<float>(out.g + glow);
            out.b = static_cast<float>(out.b + glow);
        }
        return NO_HIT_DISTANCE;
    }

    const Surface& s = *hit->getSurface();
    out = s.emission;
    const Vec3& o = ray.origin;
    const Vec3& d = ray.direction;
    const Vec3 p{o.x + t * d.x, o.y + t * d.y, o.z + t * d.z};
    Vec3 n;
    hit->normalAt(ray, p, n);

    if (s.reflects()) {
        const double k = d.dot(n) * -2.0;
        // No offset: the sphere the mirrored ray leaves has a negative near root.
        const Ray mirrored{p, {d.x + k * n.x, d.y + k * n.y, d.z + k * n.z}};
        vell::Colour m;
        if (counts != nullptr && depth > 1) {
            ++counts->reflected;
        }
        trace(mirrored, m, depth - 1, counts);
        out.r = m.r * s.reflectivity + out.r;
        out.g = m.g * s.reflectivity + out.g;
        out.b = m.b * s.reflectivity + out.b;
    }

    if (s.isLitByLights()) {
        for (const vell::ListNode* node = lights; node != nullptr; node = node->next) {
            const PointLight& light = *static_cast<const PointLight*>(node->item);
            // Not normalised: u = 1.0 is the light itself.
            const Vec3 l = light.position - p;
            if (l.dot(n) <= 0.0) {
                continue;  // behind the surface or in its tangent plane
            }
            if (counts != nullptr) {
                ++counts->shadow;
            }
            STNodeIterator shadowWalker(tree.root);
            shadowWalker.locate(p);
            double u = 0.0;
            const Obstacle* blocker = nearestHit({p, l}, u, shadowWalker, nullptr);
            if (blocker != nullptr && u > 0.0 && u < 1.0) {
                continue;
            }
            const double a = std::pow(static_cast<double>(transmission), l.length());
            out.r = static_cast<float>(s.diffuse.r * light.colour.r * a + out.r);
            out.g = static_cast<float>(s.diffuse.g * light.colour.g * a + out.g);
            out.b = static_cast<float>(s.diffuse.b * light.colour.b * a + out.b);
        }
    }

    const double f = std::pow(static_cast<double>(transmission), t);
    out.r = static_cast<float>(out.r * f);
    out.g = static_cast<float>(out.g * f);
    out.b = static_cast<float>(out.b * f);
    if (glow != 0.0) {
        out.r = static_cast<float>(out.r + glow);
        out.g = static_cast<float>(out.g + glow);
        out.b = static_cast<float>(out.b + glow);
    }
    return t;
}

double World::trace(const Ray& ray, vell::Colour& out, int depth, RayCounts* counts) const {
    if (tree.root == nullptr) {
        out = vell::black;  // never built: nothing to hit
        return NO_HIT_DISTANCE;
    }
    STNodeIterator walker(tree.root);
    walker.locate(ray.origin);
    return shade(ray, out, depth, walker, counts);
}

}  // namespace kelvo
