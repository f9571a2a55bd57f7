#pragma once

#include <cstdint>

namespace kelvo {

// Rays traced, by kind: one frame's or one row's, summed per thread and then
// added together, so that counting never shares state between threads.
struct RayCounts {
    std::uint64_t primary = 0;
    std::uint64_t reflected = 0;
    std::uint64_t shadow = 0;

    RayCounts& operator+=(const RayCounts& other) {
        primary += other.primary;
        reflected += other.reflected;
        shadow += other.shadow;
        return *this;
    }
};

}  // namespace kelvo
