#include "velllib/vell_time.h"

#include <gtest/gtest.h>

namespace vell {
namespace {

std::uint32_t reading = 0;
std::uint32_t fakeCounter() { return reading; }

class Clock : public testing::Test {
protected:
    void SetUp() override {
        previous_ = setMillisecondCounter(fakeCounter);
        resetClock();
    }
    void TearDown() override {
        setMillisecondCounter(previous_);
        resetClock();
    }
    double at(std::uint32_t raw) {
        reading = raw;
        EXPECT_EQ(updateClock(), raw);
        return clockSeconds;
    }
    MillisecondCounter previous_ = nullptr;
};

TEST_F(Clock, FirstReadingIsZeroAndLaterReadingsCountSeconds) {
    EXPECT_EQ(clockSeconds, 0.0);
    EXPECT_EQ(at(123456789), 0.0);
    EXPECT_DOUBLE_EQ(at(123457789), 1.0);
    EXPECT_DOUBLE_EQ(at(123457789), 1.0) << "no time passed";
    EXPECT_DOUBLE_EQ(at(123460289), 3.5);
}

TEST_F(Clock, WrapOfTheCounterAddsTwoToThe32Milliseconds) {
    const std::uint32_t nearTop = 0xffffffffu - 295;  // 296 ms below 2^32
    at(nearTop - 5000);
    const double t = at(nearTop);
    EXPECT_DOUBLE_EQ(t, 5.0);
    EXPECT_DOUBLE_EQ(at(704), t + 1.0);
    EXPECT_DOUBLE_EQ(at(1704), t + 2.0);
}

TEST_F(Clock, AReadingOfZeroCountsAsNoReadingYet) {
    at(1000);
    const double atZero = at(0);  // wrapped to exactly 0
    EXPECT_EQ(atZero, (4294967296.0 - 1000.0) * 0.001);
    // The next call repeats that time and the clock runs on from there.
    EXPECT_DOUBLE_EQ(at(5000), atZero);
    EXPECT_DOUBLE_EQ(at(6000), atZero + 1.0);
}

TEST_F(Clock, SystemCounterNeverRunsBackwards) {
    setMillisecondCounter(nullptr);
    resetClock();
    updateClock();
    double last = clockSeconds;
    for (int i = 0; i < 1000; ++i) {
        updateClock();
        ASSERT_GE(clockSeconds, last);
        last = clockSeconds;
    }
}

}  // namespace
}  // namespace vell
