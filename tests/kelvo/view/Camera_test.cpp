#include "kelvo/view/Camera.h"

#include <gtest/gtest.h>

#include <cmath>

#include "kelvo/app/kelvo.h"
#include "kelvo/view/Observer.h"

namespace kelvo {
namespace {

void expectNear(const Vec3& a, const Vec3& b, double tolerance = 1e-15) {
    EXPECT_NEAR(a.x, b.x, tolerance);
    EXPECT_NEAR(a.y, b.y, tolerance);
    EXPECT_NEAR(a.z, b.z, tolerance);
}

Ray through(const Camera& c, double u, double v) {
    const double point[2] = {u, v};
    Ray r;
    c.rayThrough(point, r);
    return r;
}

TEST(Camera, MapsScreenPointsToRaysFromTheImagePlane) {
    Camera c({0, 0, -10}, {1, 0, 0}, {0, 1, 0}, {0, 0, 1}, {0.5, 0.5, 0.66});
    expectNear(c.screenOrigin, {-0.25, 0.25, -9.34});
    Ray centre = through(c, 0.5, 0.5);
    expectNear(centre.origin, {0, 0, -9.34});
    expectNear(centre.direction, {0, 0, 1});
    Ray corner = through(c, 0, 0);
    expectNear(corner.origin, {-0.25, 0.25, -9.34});
    const double length = 0.7487322618933955;
    expectNear(corner.direction, {-0.25 / length, 0.25 / length, 0.66 / length});
    expectNear(through(c, 1, 1).origin, {0.25, -0.25, -9.34});

    // Only the screen changes: position and basis stay, the corner moves.
    c.set(std::nullopt, std::nullopt, std::nullopt, std::nullopt, Vec3{1.0, 0.5, 0.66});
    EXPECT_EQ(c.position, Vec3(0, 0, -10));
    EXPECT_EQ(c.right, Vec3(1, 0, 0));
    expectNear(c.screenOrigin, {-0.5, 0.25, -9.34});

    // A screen of zero width maps every u to the same point.
    c.setScreen({0.0, 0.5, 0.66});
    expectNear(through(c, 0.1, 0.3).origin, through(c, 0.9, 0.3).origin);
}

TEST(Camera, ObstaclesBetweenEyeAndImagePlaneAreNotSeen) {
    // The ray starts on the plane, 0.66 in front of the eye: a sphere around the
    // eye that ends before the plane is behind every ray's origin.
    Camera c({0, 0, -10}, {1, 0, 0}, {0, 1, 0}, {0, 0, 1}, {0.5, 0.5, 0.66});
    const ObstacleSphere nearEye({0.3, {0, 0, -10}}, nullptr);
    double t = 0.0;
    const Ray r = through(c, 0.5, 0.5);
    ASSERT_NE(nearEye.intersect(r, t), nullptr);
    EXPECT_LT(t, 0.0);
}

TEST(Observer, BasisFollowsTheAnglesAndStaysOrthonormal) {
    Observer o = Scene::makeObserver();
    EXPECT_EQ(o.right, Vec3(1, 0, 0));
    EXPECT_EQ(o.up, Vec3(0, 1, 0));
    EXPECT_EQ(o.forward, Vec3(0, 0, 1));
    const double quarter = std::acos(0.0);
    o.angles = {0, quarter, 0};  // yaw turns forward towards +x
    o.updateBasis();
    expectNear(o.forward, {1, 0, 0});
    o.angles = {quarter, 0, 0};  // pitch turns it down
    o.updateBasis();
    expectNear(o.forward, {0, -1, 0});
    o.angles = {0, 0, quarter};  // roll turns right upwards
    o.updateBasis();
    expectNear(o.right, {0, 1, 0});
    o.angles = {0.3, -1.2, 2.5};
    o.updateBasis();
    EXPECT_NEAR(o.right.dot(o.up), 0.0, 1e-15);
    EXPECT_NEAR(o.up.dot(o.forward), 0.0, 1e-15);
    EXPECT_NEAR(o.forward.length(), 1.0, 1e-15);
}

TEST(Observer, MovesWithInertiaAndTurnsByAFixedStep) {
    Observer o = Scene::makeObserver();
    o.thrust = {0, 0, 1};
    o.move(0.1f);
    // dt is a float: 0.1f widened, as the program hands it over.
    const double dt = static_cast<double>(0.1f);
    EXPECT_DOUBLE_EQ(o.velocity.z, 10.0 * dt * std::pow(0.5, dt));
    EXPECT_NEAR(o.velocity.z, 0.9330329915368074, 1e-7);
    EXPECT_NEAR(o.position.z, -10.0 + 0.09330329915368074, 1e-7);
    EXPECT_EQ(o.velocity.x, 0.0);

    // Without input, the velocity halves over a second and the position moves
    // by the halved velocity.
    o.thrust = {0, 0, 0};
    const Vec3 before = o.position;
    const double v = o.velocity.z;
    o.move(1.0f);
    EXPECT_DOUBLE_EQ(o.velocity.z, v * 0.5);
    EXPECT_DOUBLE_EQ(o.position.z, before.z + v * 0.5);
    expectNear(o.screenOrigin, o.position + Vec3(-0.25, 0.25, 0.66), 1e-14);

    // Yaw grows by the rate per move, whatever the step; 0 and NaN do nothing.
    o.turn = {0, 1, 0};
    const double rate = 0.07999999821186066;
    o.move(0.5f);
    EXPECT_EQ(o.angles.y, rate);
    o.move(0.001f);
    EXPECT_EQ(o.angles.y, rate + rate);
    const Vec3 still = o.position;
    o.move(0.0f);
    o.move(std::nanf(""));
    EXPECT_EQ(o.angles.y, rate + rate);
    EXPECT_EQ(o.position, still);
    EXPECT_FALSE(std::isnan(o.velocity.z));
}

TEST(Observer, SpeedUnderConstantThrustApproachesItsLimit) {
    for (const auto& [step, limit] : {std::pair{0.1f, 13.932726172912965},
                                      std::pair{1.0f / 60.0f, 14.343777525935666}}) {
        Observer o = Scene::makeObserver();
        o.thrust = {0, 0, 1};
        for (int i = 0; i < 4000; ++i) {
            o.move(step);
        }
        EXPECT_NEAR(o.velocity.z, limit, 1e-5) << "step " << step;
        EXPECT_LT(o.velocity.z, 10.0 / std::log(2.0));
    }
}

TEST(Observer, CopyLeavesTheInputsBehind) {
    Observer o = Scene::makeObserver();
    o.thrust = {1, -1, 1};
    o.turn = {0, 1, 0};
    o.velocity = {1, 2, 3};
    const Observer copy(o);
    EXPECT_EQ(copy.thrust, Vec3(0, 0, 0));
    EXPECT_EQ(copy.turn, Vec3(0, 0, 0));
    EXPECT_EQ(copy.velocity, Vec3(1, 2, 3));
    EXPECT_EQ(copy.screen, o.screen);
    EXPECT_EQ(copy.friction, 0.5f);
}

}  // namespace
}  // namespace kelvo
