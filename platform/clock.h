// Millisecond ticks and sleeps, behind an interface so that tests can run in virtual time.
#pragma once

#include <chrono>
#include <cstdint>

#include "platform/stop_signal.h"

namespace pz4::platform {

class Clock {
  public:
    virtual ~Clock() = default;

    // Monotonic milliseconds since an arbitrary start; never wraps in practice.
    virtual std::uint64_t tickMs() = 0;

    // The wall clock, in milliseconds since 1970-01-01 UTC: only for stamping what happened,
    // never for timing, since it may jump.
    virtual std::int64_t wallMs() {
        using namespace std::chrono;
        return duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
    }

    // Sleeps ms milliseconds; 0 only yields the rest of the time slice.
    virtual void sleepMs(std::uint32_t ms) = 0;

    // Waits ms milliseconds, or less when stop is raised meanwhile; true when stop is raised.
    // Virtual time moves on in steps of 1 ms, looking at stop after each, so that a test can
    // raise it at a chosen moment.
    virtual bool waitMs(std::uint32_t ms, StopSignal& stop) {
        for (std::uint32_t waited = 0; waited < ms && !stop.load(); ++waited) {
            sleepMs(1);
        }
        return stop.load();
    }
};

// The real clock: a steady clock and the operating system's sleeps.
Clock& systemClock();

}  // namespace pz4::platform
