#pragma once

#include <cstdint>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "velllib/colour.h"

namespace kelvo {

// Surfaces one pixel may shade along its chain of reflections.
inline constexpr int TRACE_DEPTH = 10;

// A pixel's colour as the back buffer's word: scaled by 255 in single
// precision, rounded half to even, limited to 0..255; blue in bits 0-7, green
// 8-15, red 16-23.
std::uint32_t packColour(const vell::Colour& colour);

// packColour to the bit, all three channels at once where SSE2 is compiled
// in: each scaled by 255, held to [0, 255] (NaN to 0: the maximum gives its
// second operand when either is NaN), then rounded in the current mode, as
// nearbyint rounds. Within (0, 255) the clamps change nothing; at 255 and
// beyond every rounding mode gives 255 or more, and 255 converts to 255.
#if defined(__SSE2__)
// The packing of packColourQuick below, of a colour already in lanes: b, g,
// r from the lowest lane up.
inline std::uint32_t packColourLanes(__m128 colour) {
    const __m128 scaled = _mm_mul_ps(colour, _mm_set1_ps(255.0f));
    const __m128 held = _mm_min_ps(_mm_max_ps(scaled, _mm_setzero_ps()), _mm_set1_ps(255.0f));
    const __m128i channels = _mm_cvtps_epi32(held);
    // Each channel fits a byte: b, g, r into the low three bytes.
    const __m128i words = _mm_packs_epi32(channels, channels);
    return static_cast<std::uint32_t>(_mm_cvtsi128_si32(_mm_packus_epi16(words, words)));
}
#endif

inline std::uint32_t packColourQuick(float r, float g, float b) {
#if defined(__SSE2__)
    return packColourLanes(_mm_set_ps(0.0f, r, g, b));
#else
    return packColour({r, g, b});
#endif
}

}  // namespace kelvo
