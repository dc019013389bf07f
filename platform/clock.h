// Millisecond ticks and sleeps, behind an interface so that tests can run in virtual time.
#pragma once

#include <cstdint>

namespace pz4::platform {

class Clock {
  public:
    virtual ~Clock() = default;

    // Monotonic milliseconds since an arbitrary start; never wraps in practice.
    virtual std::uint64_t tickMs() = 0;

    // Sleeps ms milliseconds; 0 only yields the rest of the time slice.
    virtual void sleepMs(std::uint32_t ms) = 0;
};

// The real clock: a steady clock and the operating system's sleeps.
Clock& systemClock();

}  // namespace pz4::platform
