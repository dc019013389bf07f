// The worker hands its events over while the window's thread takes them: every event arrives
// whole and in order, and every one that did not fit is counted just before the next that did.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "history/event_feed.h"

namespace pz4 {
namespace {

TEST(EventFeedRace, EventsArriveInOrderAndLossesAreCountedWhereTheyHappened) {
    constexpr std::int32_t kEvents = 200'000;
    EventFeed feed(64);  // small, so that the worker outruns the reader now and then
    std::atomic<bool> done{false};
    std::thread worker([&] {
        for (std::int32_t i = 0; i < kEvents; ++i) {
            WorkerEvent e;
            e.count = 3;
            e.values = {i, -i, i};
            feed.record(e);
        }
        done = true;
    });
    std::int32_t expected = 0;
    std::uint64_t received = 0;
    bool ordered = true;
    const auto take = [&](const WorkerEvent& e, std::uint32_t lostBefore) {
        ordered = ordered && e.values[0] == expected + static_cast<std::int32_t>(lostBefore) &&
                  e.values[1] == -e.values[0] && e.values[2] == e.values[0];
        expected = e.values[0] + 1;
        ++received;
    };
    while (!done.load()) {
        feed.drain(take);
    }
    worker.join();
    feed.drain(take);
    EXPECT_TRUE(ordered);
    EXPECT_EQ(received + feed.lostTotal(), static_cast<std::uint64_t>(kEvents));
}

}  // namespace
}  // namespace pz4
