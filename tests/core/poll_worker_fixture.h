// The worker pass by pass in virtual time, against simulated supplies: a fixture that records
// what it shows in the window and what it sends on the wire, in order. Commands on the wire
// appear as "> ..." lines among the window operations.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "protocol/device_session.h"
#include "sim/sim_driver.h"
#include "sim/virtual_clock.h"
#include "tests/core/recording_view.h"
#include "worker/channel_tables.h"
#include "worker/poll_worker.h"

namespace pz4::testing_support {

using Lines = std::vector<std::string>;
using test::RecordingView;

// Virtual time that can run a hook after every sleep, to raise a flag at a chosen moment.
class HookClock final : public platform::Clock {
  public:
    std::uint64_t tickMs() override { return clock_.tickMs(); }
    std::int64_t wallMs() override { return clock_.wallMs(); }
    void sleepMs(std::uint32_t ms) override {
        clock_.sleepMs(ms);
        if (onSleep) {
            onSleep(clock_.tickMs());
        }
    }
    void advance(std::uint64_t ms) { clock_.advance(ms); }

    std::function<void(std::uint64_t nowMs)> onSleep;

  private:
    sim::VirtualClock clock_;
};

struct Pass {
    Lines lines;
    bool goOn;
    std::uint64_t startMs;
    std::uint64_t endMs;
};

inline bool contains(const Lines& lines, const std::string& line) {
    return std::find(lines.begin(), lines.end(), line) != lines.end();
}

inline Lines commandsOf(const Lines& lines) {
    Lines commands;
    std::copy_if(lines.begin(), lines.end(), std::back_inserter(commands),
                 [](const std::string& l) { return l.starts_with("> "); });
    return commands;
}

inline Lines concat(Lines a, const Lines& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// Supply "42" as the fixture sets it up: channel 0 on in mode U at 500 V, channel 1 off,
// channel 2 on in mode I at 300 V; 10 Mohm loads and 1, 2 and 3 uA standing, so 51, 2 and 33 uA.
inline const Lines kFullPresentation = {
    "> PZ442GSS",
    "SetSetFieldText 0 <empty>",
    "SetSetFieldText 1 off",
    "SetSetFieldText 2 on",
    "SetSetFieldReadOnly 0 false",
    "SetSetFieldReadOnly 1 true",
    "SetSetFieldReadOnly 2 true",
    "> PZ442GU",
    "ShowReading 1000 500",
    "SetSetFieldText 0 500",
    "ShowReading 1001 0",
    "ShowReading 1002 300",
    "> PZ442GI",
    "ShowReading 1003 51",
    "ShowReading 1004 2",
    "ShowReading 1005 33",
};
inline const Lines kQueries = {"> PZ442GU", "> PZ442GI"};
// Both queries failed: every readout that shows a reading is marked stale, once.
inline const Lines kStaleVoltages = {"MarkStale 1000", "MarkStale 1001", "MarkStale 1002"};
inline const Lines kStaleCurrents = {"MarkStale 1003", "MarkStale 1004", "MarkStale 1005"};
inline const Lines kFailedQueries = {"> PZ442GU",      "MarkStale 1000", "MarkStale 1001",
                                     "MarkStale 1002", "> PZ442GI",      "MarkStale 1003",
                                     "MarkStale 1004", "MarkStale 1005"};
// Giving a connection up: nothing shown, no number in a set field, no field open for a value.
inline const Lines kGiveUp = {"ClearReadings",
                              "SetSetFieldText 0 <empty>",
                              "SetSetFieldReadOnly 0 true",
                              "SetSetFieldText 1 <empty>",
                              "SetSetFieldReadOnly 1 true",
                              "SetSetFieldText 2 <empty>",
                              "SetSetFieldReadOnly 2 true"};

class PollWorkerTest : public ::testing::Test {
  protected:
    PollWorkerTest() {
        fillChannelTables(NO_VALUE);
        StopRequested = false;
        WorkerRunning = true;
        driver.setCommandObserver([this](std::uint64_t, std::string_view, std::string_view cmd) {
            view.note("> " + std::string(cmd));
        });
        sim::SimSupply& s = addSupply("42");
        s.setChannel(0, '1', 'U');
        s.setSetVoltage(0, 500, 0);
        s.setChannel(2, '1', 'I');
        s.setSetVoltage(2, 300, 0);
    }

    sim::SimSupply& addSupply(const std::string& serial) {
        sim::SimSupply& s = driver.addSupply(serial);
        s.rampVoltsPerSecond = 0;  // readings follow the set voltage at once
        return s;
    }
    sim::SimSupply& supply(std::string_view serial) { return *driver.supply(serial); }

    // What the window does before it starts the worker: list the supplies, fill the list,
    // choose serial.
    void startWorker(std::string_view serial) {
        session =
            DeviceSession::create(std::make_unique<FtdiLink>(driver.entries(), clock), nullptr);
        session->deviceCount = session->link->listDevices();
        Lines listed;
        for (int j = 0; j < session->deviceCount; ++j) {
            listed.emplace_back(session->link->serials()[static_cast<std::size_t>(j)].data());
        }
        view.presetSerialList(listed, serial);
        session->serial.store(serial);
        worker = std::make_unique<PollWorker>(*session, view, clock);
        worker->start();
    }

    Pass runPass() {
        view.takeLines();
        const std::uint64_t start = clock.tickMs();
        const bool goOn = worker->runPass();
        return {view.takeLines(), goOn, start, clock.tickMs()};
    }
    Lines pass() { return runPass().lines; }
    // Moves time on so that the next pass makes its timing checks exactly at atMs.
    void nextChecksAt(std::uint64_t atMs) {
        ASSERT_GE(atMs, clock.tickMs() + 200);
        clock.advance(atMs - clock.tickMs() - 200);
    }
    std::string serial() const { return std::string(session->serial.load().view()); }
    // What the window does when the operator picks another supply from the list.
    void choose(std::string_view serial) {
        session->serial.store(serial);
        session->supplyChoice.fetch_add(1);
    }
    std::array<std::int64_t, 3> shown(const ChannelSlots& slots) const {
        return {slots[0].load(), slots[1].load(), slots[2].load()};
    }

    HookClock clock;
    sim::SimDriver driver{clock};
    RecordingView view;
    std::unique_ptr<DeviceSession> session;
    std::unique_ptr<PollWorker> worker;
};

}  // namespace pz4::testing_support
