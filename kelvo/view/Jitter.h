#pragma once

#include <cstdint>

namespace kelvo {

// The view's jitter generator is the affine map s -> s * 214013 + 2531011
// modulo 2^32. Rows traced on other threads start from the state the
// single-threaded loop would have reached there.
inline constexpr std::uint32_t JITTER_MULTIPLIER = 214013u;
inline constexpr std::uint32_t JITTER_INCREMENT = 2531011u;

// The generator's step to a sub-pixel offset: 1/32768, exact in floats.
inline constexpr float JITTER_SCALE = 1.0f / 32768.0f;

// Steps the generator and returns bits 16 to 30 of the new state.
inline int nextJitter(std::uint32_t& state) {
    // Unsigned: the generator relies on wrap-around modulo 2^32.
    state = state * JITTER_MULTIPLIER + JITTER_INCREMENT;
    return static_cast<int>((state >> 16) & 0x7fffu);
}

// The state after steps steps of the generator from state, in O(log steps):
// the map is raised to the power steps by repeated squaring. Unsigned
// arithmetic wraps modulo 2^32 exactly as the stepping does.
constexpr std::uint32_t jitterJump(std::uint32_t state, std::uint64_t steps) {
    // (multiplier, increment) is the map applied 2^k times at bit k of steps;
    // (jumpMultiplier, jumpIncrement) the product of the powers taken so far.
    std::uint32_t multiplier = JITTER_MULTIPLIER;
    std::uint32_t increment = JITTER_INCREMENT;
    std::uint32_t jumpMultiplier = 1u;
    std::uint32_t jumpIncrement = 0u;
    while (steps != 0) {
        if ((steps & 1u) != 0) {
            jumpMultiplier *= multiplier;
            jumpIncrement = jumpIncrement * multiplier + increment;
        }
        increment = (multiplier + 1u) * increment;
        multiplier *= multiplier;
        steps >>= 1;
    }
    return jumpMultiplier * state + jumpIncrement;
}

}  // namespace kelvo
