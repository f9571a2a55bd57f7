#pragma once

// The fast tracer's shading arithmetic, for the fast layer's own files (not
// an interface): written once here, inline, for both of its paths, the waves
// of secondary rays (FastWaves.cpp) and the per-ray path (FastTracer.cpp).
// Each operation is World::shade's, in its order and at its precision (float
// where it computes in float, double where in double), so that every pixel
// is the literal view's to the bit.

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <vector>
#if defined(__SSE2__)
#include <immintrin.h>
#endif

#include "kelvo/scene/Surface.h"
#include "kelvo/scene/Vec3.h"
#include "kelvo/view/Pixel.h"
#include "velllib/colour.h"

namespace kelvo {
namespace FastTracing {

// A point light, as the tracer keeps its World's lights.
struct Light {
    Vec3 position;
    vell::Colour colour;
};

// The glow of the leaves a ray crossed, added to each channel.
inline void addGlow(double glow, vell::Colour& out) {
    if (glow != 0.0) {
        out.r = static_cast<float>(out.r + glow);
        out.g = static_cast<float>(out.g + glow);
        out.b = static_cast<float>(out.b + glow);
    }
}

// What a ray that hits nothing shows: black, brightened by the glow of the
// leaves it crossed.
inline void glowOnly(double glow, vell::Colour& out) {
    out = vell::black;
    addGlow(glow, out);
}

// The end of the shading arithmetic: the colour attenuated over the distance
// t, then the glow of the leaves crossed added.
inline void attenuate(float transmission, double t, double glow, vell::Colour& out) {
    // With transmission 1 every factor is exactly 1; pow is skipped, not changed.
    const double f = transmission == 1.0f ? 1.0 : std::pow(static_cast<double>(transmission), t);
    out.r = static_cast<float>(out.r * f);
    out.g = static_cast<float>(out.g * f);
    out.b = static_cast<float>(out.b * f);
    addGlow(glow, out);
}

// The colour of a hit on surface s at point, t along its ray, in World::shade's
// fixed order: the emission, plus the mirrored colour times the reflectivity
// (where the surface reflects), plus each light's diffuse share where
// reaches(j, l) holds for lights[j] and l, the vector from the point to it;
// then attenuated over t, and the glow of the leaves crossed added. The waves
// pass the light states their shadow rays found; the per-ray path walks each
// shadow ray in reaches.
template <class Reaches>
inline void shadeSurface(const Surface& s, const vell::Colour& mirrored, const Vec3& point,
                         double t, double glow, const std::vector<Light>& lights,
                         float transmission, Reaches&& reaches, vell::Colour& out) {
    out = s.emission;
    if (s.reflects()) {
        out.r = mirrored.r * s.reflectivity + out.r;
        out.g = mirrored.g * s.reflectivity + out.g;
        out.b = mirrored.b * s.reflectivity + out.b;
    }
    if (s.isLitByLights()) {
        for (std::size_t j = 0; j < lights.size(); ++j) {
            const Light& light = lights[j];
            // Not normalised: u = 1.0 is the light itself.
            const Vec3 l = light.position - point;
            if (!reaches(j, l)) {
                continue;
            }
            // pow(1, x) is 1 for every x, NaN included.
            const double a = transmission == 1.0f
                                 ? 1.0
                                 : std::pow(static_cast<double>(transmission), l.length());
            out.r = static_cast<float>(s.diffuse.r * light.colour.r * a + out.r);
            out.g = static_cast<float>(s.diffuse.g * light.colour.g * a + out.g);
            out.b = static_cast<float>(s.diffuse.b * light.colour.b * a + out.b);
        }
    }
    attenuate(transmission, t, glow, out);
}

// kelvo::packColour per channel, all three at once: each channel scaled
// by 255, held to [0, 255] (NaN to 0: the maximum gives its second operand
// when either is NaN), then rounded in the current mode, as nearbyint rounds.
// Within (0, 255) the clamps change nothing; at 255 and beyond every rounding
// mode gives 255 or more, and 255 exactly converts to 255.
inline std::uint32_t packChannels(const vell::Colour& colour) {
#if defined(__SSE2__)
    const __m128 scaled = _mm_mul_ps(_mm_set_ps(0.0f, colour.r, colour.g, colour.b),
                                     _mm_set1_ps(255.0f));
    const __m128 held = _mm_min_ps(_mm_max_ps(scaled, _mm_setzero_ps()), _mm_set1_ps(255.0f));
    const __m128i channels = _mm_cvtps_epi32(held);
    // Each channel fits a byte: b, g, r into the low three bytes.
    const __m128i words = _mm_packs_epi32(channels, channels);
    return static_cast<std::uint32_t>(_mm_cvtsi128_si32(_mm_packus_epi16(words, words)));
#else
    return kelvo::packColour(colour);
#endif
}

}  // namespace FastTracing
}  // namespace kelvo
