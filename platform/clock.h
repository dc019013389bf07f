// Millisecond ticks and sleeps, behind an interface so that tests can run in virtual time.
#pragma once

#include <cstdint>

#include "platform/stop_signal.h"

namespace pz4::platform {

class Clock {
  public:
    virtual ~Clock() = default;

    // Monotonic milliseconds since an arbitrary start; never wraps in practice.
    virtual std::uint64_t tickMs() = 0;

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
