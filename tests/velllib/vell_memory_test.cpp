#include "velllib/vell_memory.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

namespace vell {
namespace {

// Vectors on both sides of the large-block threshold keep what is written,
// across growth from small to large, and release through the same path they
// were allocated by (the sanitizers check the pairing).
TEST(VellMemory, VectorsKeepTheirContentAcrossTheLargeBlockThreshold) {
    std::vector<std::uint32_t, LargeBlockAllocator<std::uint32_t>> values;
    const std::size_t count = 3 * LARGE_BLOCK_BYTES / sizeof(std::uint32_t) + 7;
    for (std::size_t i = 0; i < count; ++i) {
        values.push_back(static_cast<std::uint32_t>(i * 2654435761u));
    }
    for (std::size_t i = 0; i < count; ++i) {
        ASSERT_EQ(values[i], static_cast<std::uint32_t>(i * 2654435761u)) << i;
    }
    values.resize(10);
    values.shrink_to_fit();
    EXPECT_EQ(values[9], static_cast<std::uint32_t>(9 * 2654435761u));
}

TEST(VellMemory, ReservingALargeBlockKeepsElementsInPlace) {
    std::vector<double, LargeBlockAllocator<double>> values;
    values.reserve(LARGE_BLOCK_BYTES);  // address space for 8 MiB
    values.push_back(1.5);
    const double* first = values.data();
    for (int i = 0; i < 100000; ++i) {
        values.push_back(i);
    }
    EXPECT_EQ(values.data(), first);
    EXPECT_EQ(values.front(), 1.5);
    EXPECT_EQ(values.back(), 99999.0);
}

}  // namespace
}  // namespace vell
