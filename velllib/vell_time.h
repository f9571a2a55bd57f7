#pragma once

#include <cstdint>

namespace vell {

// Seconds since the first reading; refreshed only by updateClock, so every
// reader within one frame sees the same time.
extern double clockSeconds;

// The raw millisecond counter: 32 bits, wrapping after 2^32 ms.
using MillisecondCounter = std::uint32_t (*)();

// Takes a reading, sets clockSeconds and returns the raw reading.
std::uint32_t updateClock();

// Replaces the raw counter (null: the system's monotonic clock) and returns the
// previous one. The clock keeps its base; call resetClock for a fresh start.
MillisecondCounter setMillisecondCounter(MillisecondCounter counter);

// Back to the state at program start: no reading taken, clockSeconds 0.0.
void resetClock();

std::uint32_t systemMilliseconds();

}  // namespace vell
