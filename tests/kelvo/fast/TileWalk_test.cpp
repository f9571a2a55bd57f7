#include "kelvo/fast/TileWalk.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "kelvo/app/kelvo.h"
#include "kelvo/world/World.h"
#include "tests/kelvo/tree/tree_helpers.h"
#include "tests/kelvo/tree/walk_oracle.h"

namespace kelvo {
namespace {

using testing::literalHit;
using testing::sameHit;

// The camera's rays through every pixel of a width x height image, each
// jittered anywhere in its pixel, the pixel's edges included, in chunks of
// rows x columns as the tracer makes them: each chunk stepped by its tiles
// (from the leaf it is known to start in, and again from each ray's own start
// leaf), and the rays they leave walked on from where the tiles left them.
// Every answer is compared with the literal query's. Returns how many rays
// the tiles answered themselves, both times counted.
long expectLiteralAnswers(const World& world, const Camera& camera, int width, int height,
                          std::uint32_t seed) {
    const FastWalk walk(world);
    EXPECT_TRUE(walk.usable());
    FastWalk::Mailbox mailbox(walk.obstacleCount());
    std::mt19937 random(seed);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    const auto jitter = [&] {
        const double r = unit(random);
        return r < 0.15 ? 0.0 : r > 0.85 ? 1.0 : r;
    };
    const double pixelWidth = 1.0 / width, pixelHeight = 1.0 / height;
    // Chunks of an odd width, so that the last block of columns is partial.
    constexpr int ROWS = 4, COLUMNS = 44;
    long answered = 0;
    int wrong = 0;
    for (int y0 = 0; y0 < height; y0 += ROWS) {
        for (int x0 = 0; x0 < width; x0 += COLUMNS) {
            const int rows = std::min(ROWS, height - y0);
            const int count = std::min(COLUMNS, width - x0);
            const int n = rows * count;
            std::vector<Ray> rays(static_cast<std::size_t>(n));
            std::vector<int> located(rays.size());
            std::vector<double> u(rays.size()), v(rays.size());
            for (int r = 0; r < rows; ++r) {
                for (int x = 0; x < count; ++x) {
                    const std::size_t i = static_cast<std::size_t>(r * count + x);
                    u[i] = (x0 + x + jitter()) * pixelWidth;
                    v[i] = (y0 + r + jitter()) * pixelHeight;
                    const double point[2] = {u[i], v[i]};
                    camera.rayThrough(point, rays[i]);
                    located[i] = walk.locate(rays[i].origin);
                }
            }
            // From the leaf the chunk is known to start in, where it is
            // known, and from each ray's own start leaf.
            const TileWalk::Screen screen{x0, y0, pixelWidth, pixelHeight};
            const int known = TileWalk::startLeaf(walk, camera, screen, rows, count);
            for (const int start : {known, -1}) {
                if (start >= 0) {
                    EXPECT_EQ(std::count(located.begin(), located.end(), start), n);
                } else if (start == known && known < 0) {
                    continue;
                }
                std::vector<int> starts = located, crossed(rays.size(), 0), order(rays.size()),
                                 spare(rays.size());
                std::vector<FastWalk::Hit> hits(rays.size());
                const std::unique_ptr<bool[]> left(new bool[rays.size()]);
                std::fill_n(left.get(), n, true);
                TileWalk::stepTogether(walk, camera, screen,
                                       {rows, count, u.data(), v.data(), starts.data(),
                                        hits.data(), crossed.data(), left.get(), order.data(),
                                        spare.data()},
                                       count, start);
                for (std::size_t i = 0; i < rays.size(); ++i) {
                    FastWalk::Hit hit = hits[i];
                    if (left[i]) {
                        hit = walk.nearestHit(rays[i], starts[i], nullptr, mailbox);
                        hit.leaves += crossed[i];
                    } else {
                        ++answered;
                    }
                    if (!sameHit(walk, literalHit(world, rays[i]), hit) && ++wrong <= 5) {
                        const Ray& ray = rays[i];
                        ADD_FAILURE() << (left[i] ? "left" : "answered") << " ray " << i
                                      << " of the chunk at (" << x0 << ", " << y0
                                      << ") from leaf " << start << ": origin (" << ray.origin.x
                                      << ", " << ray.origin.y << ", " << ray.origin.z
                                      << ") direction (" << ray.direction.x << ", "
                                      << ray.direction.y << ", " << ray.direction.z << ")";
                    }
                }
            }
        }
    }
    EXPECT_EQ(wrong, 0);
    return answered;
}

Vec3 cross(const Vec3& a, const Vec3& b) {
    return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}

// Cameras that look along the axes from the corners of leaves, where the
// planes through the eye cut every tile's frustum edge-on, and from random
// places in random directions, wide and narrow.
std::vector<Camera> awkwardCameras(const World& world, std::uint32_t seed) {
    std::vector<Camera> cameras;
    std::mt19937 random(seed);
    std::vector<const STNode*> leaves;
    testing::collectLeaves(world.tree.root, leaves);
    const Vec3 axes[3] = {{1, 0, 0}, {0, 1, 0}, {0, 0, 1}};
    for (int k = 0; k < 6; ++k) {
        const Box box = testing::regionOf(leaves[random() % leaves.size()]);
        Vec3 eye;
        for (int a = 0; a < 3; ++a) {
            const double low = box.min(a), high = box.max(a);
            eye[a] = std::fabs(low) < 1e3 ? low : std::fabs(high) < 1e3 ? high : 0.0;
        }
        const int along = k % 3;
        const double sign = k < 3 ? 1.0 : -1.0;
        cameras.emplace_back(eye, axes[(along + 1) % 3], axes[(along + 2) % 3], axes[along] * sign,
                             Vec3{0.5, 0.5, 0.66});
    }
    std::uniform_real_distribution<double> place(-9.0, 9.0), turn(-1.0, 1.0);
    for (const double size : {0.5, 4.0, 0.01}) {
        const Vec3 eye{place(random), place(random), place(random)};
        Vec3 forward{turn(random), turn(random), turn(random)};
        forward = forward * (1.0 / forward.length());
        Vec3 right = cross(forward, {0.0, 1.0, 0.0});
        right = right * (1.0 / right.length());
        cameras.emplace_back(eye, right, cross(right, forward), forward, Vec3{size, size, 0.66});
    }
    return cameras;
}

TEST(TileWalk, EveryRayAnswersAsTheLiteralWalkWhereverTheCameraStands) {
    if (!TileWalk::available()) {
        GTEST_SKIP() << "this build walks every ray on its own";
    }
    // The view's own camera over flakes of 2 and 3 levels, then the awkward
    // ones. A tile cut along the wrong line still answers right (each part
    // proves its own steps) but soon leaves its rays to walk alone: a
    // quarter of the view's rays must be the tiles' own answers, each time.
    for (const int levels : {2, 3}) {
        SCOPED_TRACE(levels);
        const Scene scene(levels);
        const long answered =
            expectLiteralAnswers(scene.world, Scene::makeObserver(), 320, 180, 3u + levels);
        EXPECT_GT(answered, 2 * (320 * 180 / 4)) << answered;
        for (const Camera& camera : awkwardCameras(scene.world, 5u + levels)) {
            expectLiteralAnswers(scene.world, camera, 48, 24, 9u);
        }
    }
    // Random spheres, some overlapping, around and behind the eye.
    testing::SphereWorld spheres(testing::randomSpheres(200, 13));
    spheres.world.buildTree(TreeBuild::SURFACE_AREA);
    for (const Camera& camera : awkwardCameras(spheres.world, 17u)) {
        expectLiteralAnswers(spheres.world, camera, 48, 24, 19u);
    }
}

}  // namespace
}  // namespace kelvo
