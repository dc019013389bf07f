// Shared set-up for the link and protocol tests: a clock that keeps every pause it was asked
// for, and a simulated driver with a link bound to it.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "link/ftdi_link.h"
#include "platform/clock.h"
#include "sim/sim_driver.h"

namespace pz4::testing_support {

// Virtual time that records each sleep; onSleep runs after the time has moved on, so a test
// can change the world between two polls.
class TraceClock final : public platform::Clock {
  public:
    std::uint64_t tickMs() override { return now; }
    void sleepMs(std::uint32_t ms) override {
        now += ms;
        pauses.push_back(ms);
        if (onSleep) {
            onSleep(ms);
        }
    }

    // One pause, as the real clock waits in one piece; a stop raised before it ends it at once.
    bool waitMs(std::uint32_t ms, platform::StopSignal& stop) override {
        if (!stop.load()) {
            sleepMs(ms);
        }
        return stop.load();
    }

    std::uint64_t totalPaused() const {
        std::uint64_t sum = 0;
        for (auto p : pauses) {
            sum += p;
        }
        return sum;
    }

    std::uint64_t now = 1'000'000;
    std::vector<std::uint32_t> pauses;
    std::function<void(std::uint32_t)> onSleep;
};

struct SimBench {
    TraceClock clock;
    sim::SimDriver driver{clock};

    // A link over the simulated entry points; edit may remove some of them first.
    std::unique_ptr<FtdiLink> makeLink(void (*edit)(D2xxEntries&) = nullptr) {
        D2xxEntries entries = driver.entries();
        if (edit != nullptr) {
            edit(entries);
        }
        return std::make_unique<FtdiLink>(entries, clock);
    }

    std::vector<sim::WireEvent> events(sim::WireKind kind) const {
        std::vector<sim::WireEvent> out;
        for (auto& e : driver.wireLog()) {
            if (e.kind == kind) {
                out.push_back(e);
            }
        }
        return out;
    }

    // Every byte written to any device, NULs included, one string per write.
    std::vector<std::string> writes() const {
        std::vector<std::string> out;
        for (auto& e : events(sim::WireKind::Write)) {
            out.push_back(e.bytes);
        }
        return out;
    }
};

// Supply 42 at steady readings, no one of which is another's: 500, 700 and 0 V, 51, 37 and 3 uA
// (channel 1 on at 500 V in mode U, channel 2 on at 700 V into 20 Mohm, channel 3 off). A
// reading in the wrong readout cannot pass unnoticed.
inline constexpr std::array<std::int32_t, 3> kSteadyVolts = {500, 700, 0};
inline constexpr std::array<std::int32_t, 3> kSteadyMicroamps = {51, 37, 3};

inline sim::SimSupply& addSteadySupply(sim::SimDriver& driver, char channel2Mode) {
    sim::SimSupply& s = driver.addSupply("42");
    s.rampVoltsPerSecond = 0;
    s.setChannel(0, '1', 'U');
    s.setSetVoltage(0, 500, 0);
    s.setChannel(1, '1', channel2Mode);
    s.setSetVoltage(1, 700, 0);
    s.setLoad(1, 20.0);
    return s;
}

// A command as it goes over the wire: its text and the terminating NUL.
inline std::string wire(const std::string& text) {
    return text + '\0';
}

}  // namespace pz4::testing_support
