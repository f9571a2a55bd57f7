#pragma once

#include <cmath>

namespace kelvo {

// Three doubles: points, directions, velocities, angle triples, sizes. Per-axis
// code addresses the components by index 0, 1, 2 (x, y, z).
struct Vec3 {
    double x = 0.0;
    double y = 0.0;
    double z = 0.0;

    constexpr Vec3() = default;
    constexpr Vec3(double x0, double y0, double z0) : x(x0), y(y0), z(z0) {}

    constexpr double& operator[](int axis) { return axis == 0 ? x : (axis == 1 ? y : z); }
    constexpr double operator[](int axis) const { return axis == 0 ? x : (axis == 1 ? y : z); }

    constexpr Vec3 operator+(const Vec3& v) const { return {x + v.x, y + v.y, z + v.z}; }
    constexpr Vec3 operator-(const Vec3& v) const { return {x - v.x, y - v.y, z - v.z}; }
    constexpr Vec3 operator*(double s) const { return {x * s, y * s, z * s}; }
    constexpr Vec3& operator+=(const Vec3& v) {
        x += v.x;
        y += v.y;
        z += v.z;
        return *this;
    }
    constexpr Vec3& operator*=(double s) {
        x *= s;
        y *= s;
        z *= s;
        return *this;
    }
    constexpr bool operator==(const Vec3&) const = default;

    // Summed x, then y, then z: the order is part of every result's rounding.
    constexpr double dot(const Vec3& v) const { return x * v.x + y * v.y + z * v.z; }
    double length() const { return std::sqrt(dot(*this)); }
    Vec3 normalised() const { return *this * (1.0 / length()); }
};

constexpr Vec3 operator*(double s, const Vec3& v) { return v * s; }

}  // namespace kelvo
