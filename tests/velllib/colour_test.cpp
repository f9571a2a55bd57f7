#include "velllib/colour.h"

#include <gtest/gtest.h>

namespace vell {
namespace {

// Read during static initialisation of this test module: constant
// initialisation guarantees the values are already there.
const Colour earlyWhite = white;

TEST(Colour, ConstantsHoldTheirValuesBeforeAnyDynamicInitialisation) {
    EXPECT_EQ(earlyWhite, Colour(1.0f, 1.0f, 1.0f));
    const Colour all[] = {black, red, green, blue, grey, cyan, magenta, yellow, olive, white};
    const Colour expected[] = {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {0, 0, 1}, {0.5f, 0.5f, 0.5f},
                               {0, 1, 1}, {1, 0, 1}, {1, 1, 0}, {0.5f, 0.5f, 0}, {1, 1, 1}};
    for (int i = 0; i < 10; ++i) {
        EXPECT_EQ(all[i], expected[i]) << "constant " << i;
    }
}

TEST(Colour, ArithmeticIsComponentWiseInSinglePrecision) {
    const Colour a{0.25f, 0.5f, 2.0f};
    EXPECT_EQ(a * 2.0f, Colour(0.5f, 1.0f, 4.0f));
    EXPECT_EQ(a * Colour(2.0f, 0.0f, 0.5f), Colour(0.5f, 0.0f, 1.0f));
    EXPECT_EQ(a + Colour(0.75f, 0.5f, -2.0f), Colour(1.0f, 1.0f, 0.0f));
    // Black is tested exactly: the smallest positive component is not black.
    EXPECT_FALSE(Colour(0.0f, 1e-30f, 0.0f) == black);
    EXPECT_TRUE(Colour(-0.0f, 0.0f, 0.0f) == black);
}

}  // namespace
}  // namespace vell
