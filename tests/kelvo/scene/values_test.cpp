#include "kelvo/scene/PointLight.h"
#include "kelvo/scene/Ray.h"
#include "kelvo/scene/Surface.h"
#include "kelvo/scene/Vec3.h"

#include <gtest/gtest.h>

namespace kelvo {
namespace {

TEST(Vec3, AxisIndexAddressesTheComponentsInOrder) {
    Vec3 v{1.0, 2.0, 3.0};
    EXPECT_EQ(v[0], 1.0);
    EXPECT_EQ(v[1], 2.0);
    EXPECT_EQ(v[2], 3.0);
    v[1] = -7.0;
    EXPECT_EQ(v.y, -7.0);
    EXPECT_EQ(v + Vec3(1, 1, 1), Vec3(2, -6, 4));
    EXPECT_EQ(v - Vec3(1, 1, 1), Vec3(0, -8, 2));
    EXPECT_EQ(v * 2.0, Vec3(2, -14, 6));
    EXPECT_EQ(v.dot(Vec3(1, 1, 1)), -3.0);
    EXPECT_EQ(Vec3(3, 4, 12).length(), 13.0);
    const Vec3 unit = Vec3(0, 3, 4).normalised();
    EXPECT_DOUBLE_EQ(unit.y, 0.6);
    EXPECT_DOUBLE_EQ(unit.z, 0.8);
    const Ray r{{1, 2, 3}, {0, 0, 2}};
    EXPECT_EQ(r.at(1.5), Vec3(1, 2, 6));
}

TEST(Surface, LightsAndMirrorRaysAreDecidedByExactComparisons) {
    const Surface dark{vell::black, vell::black, 0.0f};
    const Surface dim{vell::Colour(0.0f, 0.25f, 0.0f), vell::black, -0.5f};
    EXPECT_FALSE(dark.isLitByLights());
    EXPECT_FALSE(dark.reflects());
    EXPECT_TRUE(dim.isLitByLights());
    EXPECT_TRUE(dim.reflects()) << "a negative reflectivity still reflects";

    const Surface original{vell::Colour(0.1f, 0.2f, 0.3f), vell::Colour(0.4f, 0.5f, 0.6f), 0.7f};
    Surface copy = dark;
    copy = original;
    EXPECT_EQ(copy.diffuse, original.diffuse);
    EXPECT_EQ(copy.emission, original.emission);
    EXPECT_EQ(copy.reflectivity, original.reflectivity);

    const PointLight light{{5, 10, -7}, vell::white};
    EXPECT_EQ(light.position, Vec3(5, 10, -7));
    EXPECT_EQ(light.colour, vell::white);
}

}  // namespace
}  // namespace kelvo
