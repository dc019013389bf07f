// The worker when the supply misbehaves: a stop request ends it within 100 ms whatever the line
// does, and starts no exchange after it; a set value goes out only while the latest status lets
// its channel take one, and one that was not set says so.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "protocol/device_session.h"
#include "sim/sim_driver.h"
#include "tests/core/poll_worker_fixture.h"
#include "tests/core/recording_view.h"
#include "worker/channel_tables.h"
#include "worker/poll_worker.h"

namespace pz4 {
namespace {

using testing_support::HookClock;

class EventLog final : public WorkerEventSink {
  public:
    void record(const WorkerEvent& event) noexcept override { events.push_back(event); }
    std::vector<WorkerEvent> events;
};

// A worker over supply 42, all three channels on in mode U, after its first pass.
struct Bench {
    Bench() {
        fillChannelTables(NO_VALUE);
        StopRequested = false;
        WorkerRunning = true;
        sim::SimSupply& s = driver.addSupply("42");
        s.rampVoltsPerSecond = 0;
        for (int ch = 0; ch < 3; ++ch) {
            s.setChannel(ch, '1', 'U');
            s.setSetVoltage(ch, 500 + 100 * ch, 0);
        }
        session =
            DeviceSession::create(std::make_unique<FtdiLink>(driver.entries(), clock), nullptr);
        session->deviceCount = session->link->listDevices();
        session->serial.store("42");
        worker = std::make_unique<PollWorker>(*session, view, clock);
        worker->setEventSink(&log);
        worker->start();
        worker->runPass();
        view.takeLines();
        driver.clearWireLog();
    }
    ~Bench() {
        clock.onSleep = nullptr;
        worker->exit();
    }
    std::size_t writes() const {
        std::size_t n = 0;
        for (const auto& e : driver.wireLog()) {
            n += e.kind == sim::WireKind::Write ? 1 : 0;
        }
        return n;
    }

    HookClock clock;
    sim::SimDriver driver{clock};
    test::RecordingView view;
    EventLog log;
    std::unique_ptr<DeviceSession> session;
    std::unique_ptr<PollWorker> worker;
};

struct LineFault {
    const char* name;
    void (*apply)(sim::SimFaults&);
    bool strayEvery50Ms;
};

const LineFault kLineFaults[] = {
    {"none", [](sim::SimFaults&) {}, false},
    {"silent", [](sim::SimFaults& f) { f.silent = true; }, false},
    {"ERR replies", [](sim::SimFaults& f) { f.errReplies = true; }, false},
    {"garbage", [](sim::SimFaults& f) { f.garbageReplies = true; }, false},
    {"stray bytes every 50 ms", [](sim::SimFaults&) {}, true},
    {"late replies", [](sim::SimFaults& f) { f.replyDelayMs = 700; }, false},
};

// The stop is raised at many moments of the passes that follow, in each state of the line.
TEST(StopTest, EndsTheWorkerWithin100MsAndStartsNoExchangeAfterIt) {
    for (const LineFault& fault : kLineFaults) {
        for (const bool busyPass : {false, true}) {
            for (std::uint64_t after = 0; after < 2600; after += 37) {
                SCOPED_TRACE(std::string(fault.name) + (busyPass ? ", status due, 3 pending" : "") +
                             ", raised after " + std::to_string(after) + " ms");
                Bench b;
                b.driver.withFaults("42", fault.apply);
                if (busyPass) {
                    b.clock.advance(3100);
                    for (std::size_t ch = 0; ch < 3; ++ch) {
                        SetRequest[ch] = 100 + static_cast<std::int64_t>(ch);
                    }
                }
                const std::uint64_t raiseAt = b.clock.tickMs() + after;
                std::uint64_t nextStray = b.clock.tickMs();
                std::size_t writesAtRaise = 0;
                b.clock.onSleep = [&](std::uint64_t now) {
                    if (fault.strayEvery50Ms && now >= nextStray) {
                        b.driver.injectBytes("42", "~");
                        nextStray += 50;
                    }
                    if (now >= raiseAt && !StopRequested) {
                        writesAtRaise = b.writes();
                        StopRequested = true;
                    }
                };
                int passes = 0;
                while (b.worker->runPass()) {
                    ASSERT_LT(++passes, 20) << "never stopped";
                }
                ASSERT_TRUE(StopRequested);
                EXPECT_LE(b.clock.tickMs() - raiseAt, 100u);
                EXPECT_EQ(b.writes(), writesAtRaise) << "an exchange started after the stop";
                EXPECT_TRUE(b.view.errors().empty());
            }
        }
    }
}

// A value confirmed while its channel took one: the status of the same pass says the channel
// no longer does, or the supply does not take the command. Nothing is resent by itself.
TEST(SetValueTest, GoesOutOnlyWhileItsChannelTakesOneAndSaysWhenItWasNotSet) {
    struct Case {
        const char* name;
        char state;  // what the status of the pass says of channel 1 (index 0)
        char mode;
        void (*fault)(sim::SimFaults&);  // in force for the set command alone ...
        const char* from;                // ... from the command that ends so on
        const char* wire;                // the set command on the wire, or null
        const char* field;               // what the field shows afterwards
        SetOutcome outcome;
    };
    const Case cases[] = {
        {"acknowledged", '1', 'U', nullptr, "", "PZ442S 0,73", "73", SetOutcome::Acknowledged},
        {"turned off", '0', 'U', nullptr, "", nullptr, "off", SetOutcome::ChannelClosed},
        {"in error", '2', 'U', nullptr, "", nullptr, "error", SetOutcome::ChannelClosed},
        {"in mode I", '1', 'I', nullptr, "", nullptr, "on", SetOutcome::ChannelClosed},
        // A reply is chosen once the command is in, a write fails before.
        {"refused by the supply", '1', 'U', [](sim::SimFaults& f) { f.refuseSets = true; }, "GSS",
         "PZ442S 0,73", "73", SetOutcome::NotAcknowledged},
        {"silence", '1', 'U', [](sim::SimFaults& f) { f.silent = true; }, ",73", "PZ442S 0,73",
         "73", SetOutcome::NotAcknowledged},
        {"not sent", '1', 'U', [](sim::SimFaults& f) { f.failWrite = true; }, "GI", nullptr, "73",
         SetOutcome::NotSent},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Bench b;
        b.view.typeIntoSetField(0, "73");
        SetRequest[0] = 73;
        b.driver.withSupply("42", [&](sim::SimSupply& s) { s.setChannel(0, c.state, c.mode); });
        b.clock.advance(3100);  // the status is due in this pass
        b.driver.setCommandObserver([&](std::uint64_t, std::string_view, std::string_view cmd) {
            if (c.fault != nullptr && cmd.ends_with(c.from)) {
                b.driver.withFaults("42", c.fault);
            }
        });
        b.log.events.clear();
        b.worker->runPass();

        std::vector<std::string> sets;
        for (const std::string& cmd : b.driver.commands()) {
            if (cmd.starts_with("PZ442S")) {
                sets.push_back(cmd);
            }
        }
        EXPECT_EQ(sets, c.wire ? std::vector<std::string>{c.wire} : std::vector<std::string>{});
        EXPECT_EQ(b.view.setField(0).text, c.field);
        EXPECT_EQ(b.view.setField(0).notSet.empty(),
                  c.outcome == SetOutcome::Acknowledged || c.outcome == SetOutcome::ChannelClosed);
        if (!b.view.setField(0).notSet.empty()) {
            EXPECT_EQ(b.view.setField(0).notSet, setOutcomeText(c.outcome));
        }
        EXPECT_EQ(SetRequest[0], NO_VALUE);
        int setEvents = 0;
        for (const WorkerEvent& e : b.log.events) {
            if (e.kind == WorkerEventKind::Set || e.kind == WorkerEventKind::SetFailed) {
                ++setEvents;
                EXPECT_EQ(e.kind == WorkerEventKind::Set, c.outcome == SetOutcome::Acknowledged);
                EXPECT_EQ(e.outcome, c.outcome);
                EXPECT_EQ(e.values[0], 73);
                EXPECT_EQ(e.channel, 0);
                EXPECT_EQ(e.serial.view(), "42");
            }
        }
        EXPECT_EQ(setEvents, 1);

        // Nothing is resent by itself.
        b.driver.setFaults("42", {});
        b.driver.clearWireLog();
        b.worker->runPass();
        for (const std::string& cmd : b.driver.commands()) {
            EXPECT_FALSE(cmd.starts_with("PZ442S")) << cmd;
        }
    }
}

}  // namespace
}  // namespace pz4
