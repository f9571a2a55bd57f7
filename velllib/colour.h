#pragma once

namespace vell {

// A colour as three floats. Shading may push components above 1.0; only the
// pixel packing limits them.
struct Colour {
    float r = 0.0f;
    float g = 0.0f;
    float b = 0.0f;

    constexpr Colour() = default;
    constexpr Colour(float red, float green, float blue) : r(red), g(green), b(blue) {}

    constexpr Colour operator*(float s) const { return {r * s, g * s, b * s}; }
    constexpr Colour operator*(const Colour& c) const { return {r * c.r, g * c.g, b * c.b}; }
    constexpr Colour operator+(const Colour& c) const { return {r + c.r, g + c.g, b + c.b}; }
    // Exact comparison: the shading asks whether a diffuse colour is black.
    constexpr bool operator==(const Colour& c) const = default;
};

// The named colours. constexpr, so they are constant-initialised: no other
// module's static initialisation can read them before they hold their values.
inline constexpr Colour black{0.0f, 0.0f, 0.0f};
inline constexpr Colour red{1.0f, 0.0f, 0.0f};
inline constexpr Colour green{0.0f, 1.0f, 0.0f};
inline constexpr Colour blue{0.0f, 0.0f, 1.0f};
inline constexpr Colour grey{0.5f, 0.5f, 0.5f};
inline constexpr Colour cyan{0.0f, 1.0f, 1.0f};
inline constexpr Colour magenta{1.0f, 0.0f, 1.0f};
inline constexpr Colour yellow{1.0f, 1.0f, 0.0f};
inline constexpr Colour olive{0.5f, 0.5f, 0.0f};
inline constexpr Colour white{1.0f, 1.0f, 1.0f};

}  // namespace vell
