// The worker's pause in real time: a stop raised from another thread ends it at once, and an
// unraised wait lasts what it says. The bounds are loose on purpose: timing is the benchmark's
// business, this only tells a wait that ends from one that does not.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "platform/clock.h"
#include "platform/stop_signal.h"

namespace pz4::platform {
namespace {

using Clock = std::chrono::steady_clock;

TEST(StopSignalTest, RaisingEndsTheWaitAtOnceAndAWaitLastsItsTime) {
    StopSignal stop;
    auto start = Clock::now();
    EXPECT_FALSE(systemClock().waitMs(50, stop));
    EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(50));

    std::thread raiser([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        stop = true;
    });
    start = Clock::now();
    EXPECT_TRUE(systemClock().waitMs(60'000, stop));
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(10));
    raiser.join();

    // Raised before the wait: no wait at all; lowered again: a full one.
    EXPECT_TRUE(systemClock().waitMs(60'000, stop));
    stop = false;
    start = Clock::now();
    EXPECT_FALSE(systemClock().waitMs(20, stop));
    EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(20));
}

}  // namespace
}  // namespace pz4::platform
