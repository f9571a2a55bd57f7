#include "velllib/vell_time.h"

namespace vell {

double clockSeconds = 0.0;

namespace {

MillisecondCounter counter = systemMilliseconds;
std::int64_t base = 0;
// 0 marks that no reading has been taken yet.
std::uint32_t lastReading = 0;

}  // namespace

std::uint32_t updateClock() {
    const std::uint32_t now = counter();
    if (now < lastReading) {
        base += std::int64_t{1} << 32;  // the counter wrapped
    } else if (lastReading == 0) {
        base -= now;  // the first reading is time 0
    }
    lastReading = now;
    clockSeconds = static_cast<double>(base + now) * 0.001;
    return now;
}

MillisecondCounter setMillisecondCounter(MillisecondCounter replacement) {
    MillisecondCounter previous = counter;
    counter = replacement != nullptr ? replacement : systemMilliseconds;
    return previous;
}

void resetClock() {
    base = 0;
    lastReading = 0;
    clockSeconds = 0.0;
}

}  // namespace vell
