#pragma once

#include <cstdint>

#include "velllib/colour.h"

namespace kelvo {

// Surfaces one pixel may shade along its chain of reflections.
inline constexpr int TRACE_DEPTH = 10;

// A pixel's colour as the back buffer's word: scaled by 255 in single
// precision, rounded half to even, limited to 0..255; blue in bits 0-7, green
// 8-15, red 16-23.
std::uint32_t packColour(const vell::Colour& colour);

}  // namespace kelvo
