// The bridge's receive path: bytes reach the host in latency-timer batches or full packets,
// whatever the reply's shape, so a line end can be split anywhere.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "sim/bridge_rx.h"

namespace pz4::sim {
namespace {

struct Arrival {
    double atMs;
    std::string bytes;  // one every 0.1 ms from atMs on
};

struct Look {
    std::uint64_t atMs;
    std::string handedOver;  // everything the host has by then, taken so far included
};

struct Case {
    const char* name;
    std::uint32_t timerMs;
    double phaseMs;
    std::vector<Arrival> arrivals;
    std::vector<Look> looks;
};

TEST(BridgeRxTest, HandsBytesOverInBatches) {
    const std::string seventy(70, 'x');
    const Case cases[] = {
        {"timer off: each byte once it has crossed",
         0,
         0,
         {{1.0, "ab"}},
         {{0, ""}, {1, "a"}, {2, "ab"}}},
        {"a reply within one period waits for the timer",
         16,
         0,
         {{1.0, "42,ok\r\n"}},
         {{15, ""}, {16, "42,ok\r\n"}}},
        {"the timer's phase decides, not the reply",
         16,
         5.0,
         {{1.0, "42,ok\r\n"}},
         {{4, ""}, {5, "42,ok\r\n"}}},
        {"a line end split between two batches",
         16,
         0,
         {{15.7, "ok\r\n"}},
         {{16, "ok\r"}, {31, "ok\r"}, {32, "ok\r\n"}}},
        {"a full packet goes at once, the rest with the timer",
         16,
         0,
         {{1.0, seventy}},
         {{7, ""}, {8, std::string(62, 'x')}, {15, std::string(62, 'x')}, {16, seventy}}},
        {"a byte arriving on the tick waits for the next one",
         16,
         0,
         {{16.0, "z"}},
         {{16, ""}, {32, "z"}}},
        {"bytes of an earlier time go ahead of later ones",
         0,
         0,
         {{5.0, "late"}, {2.0, "!"}},
         {{3, "!"}, {9, "!late"}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        BridgeRx rx;
        rx.setLatencyTimer(c.timerMs, c.phaseMs);
        for (const Arrival& a : c.arrivals) {
            for (std::size_t i = 0; i < a.bytes.size(); ++i) {
                rx.arrive(a.atMs + 0.1 * static_cast<double>(i), a.bytes[i]);
            }
        }
        std::string host;
        for (const Look& look : c.looks) {
            for (std::size_t n = rx.available(look.atMs); n > 0; --n) {
                host += rx.take();
            }
            EXPECT_EQ(host, look.handedOver) << "at " << look.atMs << " ms";
        }
    }
}

}  // namespace
}  // namespace pz4::sim
