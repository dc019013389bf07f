// Replies on a wire that is not kind: split by the bridge's timer, with LFs that lag, replies
// that come late and bytes nobody asked for. Each query must get its own reply or fail; it must
// never take the reply of another.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "protocol/commands.h"
#include "protocol/device_session.h"
#include "tests/core/sim_bench.h"

namespace pz4 {
namespace {

using testing_support::SimBench;

class StaleInputTest : public ::testing::Test {
  protected:
    void start() {
        session.reset();
        bench = std::make_unique<SimBench>();
        testing_support::addSteadySupply(bench->driver, 'U');
        session = DeviceSession::create(bench->makeLink(), nullptr);
        session->serial.store("42");
        ASSERT_TRUE(session->link->openBySerial("42"));
    }

    // "V" or "I" when the query got the readings of its own kind, "fail" when it failed, and
    // the readings themselves when it took anything else.
    std::string query(bool voltages) {
        CommandText command;
        const SerialText serial = session->addressed();
        voltages ? formatVoltageQuery(command, serial) : formatCurrentQuery(command, serial);
        Readings readings;
        if (session->QueryValues(command.data(), readings) == 0) {
            return "fail";
        }
        if (readings.count == 3 &&
            readings.values ==
                (voltages ? testing_support::kSteadyVolts : testing_support::kSteadyMicroamps)) {
            return voltages ? "V" : "I";
        }
        std::string taken = "took";
        for (int i = 0; i < readings.count; ++i) {
            taken += ' ' + std::to_string(readings.values[static_cast<std::size_t>(i)]);
        }
        return taken;
    }

    std::unique_ptr<SimBench> bench;
    std::unique_ptr<DeviceSession> session;
};

TEST_F(StaleInputTest, EveryQueryGetsItsOwnReplyOrFails) {
    struct Case {
        std::string name;
        std::function<void(sim::SimFaults&)> fault;
        bool firstOnly;  // the fault holds for the first query only
        // Of GU, GI, GU, GI while the fault holds; none given where they hang on the moment a
        // stray byte happens to come, but then each is its own kind or a failure.
        std::vector<std::string> results;
        std::uint32_t answerMs = 0;  // how long the supply takes to answer, throughout
    };
    std::vector<Case> cases = {
        {"the bridge's batches alone", [](sim::SimFaults&) {}, false, {"V", "I", "V", "I"}},
        {"LF 30 ms behind its CR",
         [](sim::SimFaults& f) { f.lfLagMs = 30; },
         false,
         {"V", "I", "V", "I"}},
        {"LF 300 ms behind its CR",
         [](sim::SimFaults& f) { f.lfLagMs = 300; },
         false,
         {"V", "I", "V", "I"}},
        {"replies in pieces", [](sim::SimFaults& f) { f.pieces = 6; }, false, {"V", "I", "V", "I"}},
        {"a reply 600 ms late",
         [](sim::SimFaults& f) { f.replyDelayMs = 600; },
         true,
         {"fail", "I", "V", "I"}},
        {"a reply 2 s late",
         [](sim::SimFaults& f) { f.replyDelayMs = 2000; },
         true,
         {"fail", "fail", "fail", "I"}},
        {"a stray byte 40 ms behind every reply",
         [](sim::SimFaults& f) {
             f.strayBytes = "X";
             f.strayGapMs = 40;
         },
         false,
         {}},
        // Which reply a line right behind another belongs to cannot be told: none counts.
        {"a stray line right behind every reply",
         [](sim::SimFaults& f) {
             f.strayBytes = "junk\r\n";
             f.strayGapMs = 5;
         },
         false,
         {"fail", "fail", "fail", "fail"}},
        {"a stray byte before a reply",
         [](sim::SimFaults& f) { f.replyPrefix = "\n"; },
         true,
         {"fail", "I", "V", "I"}},
        {"a reply lost", [](sim::SimFaults& f) { f.silent = true; }, true, {"fail", "I", "V", "I"}},
    };
    // A slow supply, and a reply so late that it lands just after the next command went out:
    // the late line comes first, and the supply's own answer only later.
    for (const std::uint32_t answerMs : {1u, 50u, 150u}) {
        for (const std::uint32_t lateMs : {1005u, 1030u, 1100u}) {
            cases.push_back({"a supply answering in " + std::to_string(answerMs) +
                                 " ms, one reply " + std::to_string(lateMs) + " ms late",
                             [lateMs](sim::SimFaults& f) { f.replyDelayMs = lateMs; },
                             true,
                             {},
                             answerMs});
        }
    }
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        start();
        sim::SimFaults afterwards;
        afterwards.replyDelayMs = c.answerMs;
        bench->driver.setFaults("42", afterwards);
        bench->driver.withFaults("42", c.fault);
        std::vector<std::string> results;
        for (int i = 0; i < 4; ++i) {
            results.push_back(query(i % 2 == 0));
            if (c.firstOnly && i == 0) {
                bench->driver.setFaults("42", afterwards);
            }
        }
        if (!c.results.empty()) {
            EXPECT_EQ(results, c.results);
        } else {
            // Which ones depends on when the stray bytes come; most are answered all the same.
            EXPECT_LE(std::count(results.begin(), results.end(), "fail"), 2);
        }
        for (const std::string& r : results) {
            EXPECT_TRUE(r == "V" || r == "I" || r == "fail") << r;
        }
        // The fault gone (bytes it had on their way still come), the worker is back in step
        // within two queries.
        bench->driver.setFaults("42", afterwards);
        query(true);
        query(false);
        EXPECT_EQ(query(true), "V");
        EXPECT_EQ(query(false), "I");
        EXPECT_EQ(bench->driver.misaddressedCount(), 0u);
        EXPECT_EQ(session->busy.load(), 0);
    }
}

// A device that never stops sending cannot hold the worker: the exchange fails without
// writing, within about two seconds.
TEST_F(StaleInputTest, AStreamingDeviceFailsTheExchangeInsteadOfHoldingIt) {
    start();
    bench->clock.onSleep = [this](std::uint32_t) { bench->driver.injectBytes("42", "~~~~"); };
    bench->driver.injectBytes("42", "~");
    bench->clock.now += 20;
    const std::uint64_t t0 = bench->clock.now;
    EXPECT_EQ(query(true), "fail");
    EXPECT_LE(bench->clock.now - t0, 2100u);
    EXPECT_TRUE(bench->writes().empty());

    // Once it stops, the next query goes through.
    bench->clock.onSleep = nullptr;
    bench->clock.now += 100;
    EXPECT_EQ(query(false), "I");
}

}  // namespace
}  // namespace pz4
