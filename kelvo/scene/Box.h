#pragma once

namespace kelvo {

// An axis-aligned box: min x, min y, min z, max x, max y, max z. Axis a's min
// is element a, its max element 3 + a.
struct Box {
    double e[6] = {0.0, 0.0, 0.0, 0.0, 0.0, 0.0};

    constexpr double& operator[](int i) { return e[i]; }
    constexpr double operator[](int i) const { return e[i]; }
    constexpr double& min(int axis) { return e[axis]; }
    constexpr double min(int axis) const { return e[axis]; }
    constexpr double& max(int axis) { return e[3 + axis]; }
    constexpr double max(int axis) const { return e[3 + axis]; }

    constexpr bool operator==(const Box&) const = default;
};

}  // namespace kelvo
