// A clock whose time moves only when someone sleeps on it or advances it: passes of the worker
// and reply reads run in virtual time, fast and repeatable.
#pragma once

#include <atomic>
#include <cstdint>

#include "platform/clock.h"

namespace pz4::sim {

class VirtualClock final : public platform::Clock {
  public:
    explicit VirtualClock(std::uint64_t startMs = 1'000'000) : now_(startMs) {}

    std::uint64_t tickMs() override { return now_.load(); }
    void sleepMs(std::uint32_t ms) override {
        now_ += ms;
        ++sleeps_;
        if (ms == 0) {
            ++yields_;
        }
    }

    void advance(std::uint64_t ms) { now_ += ms; }
    // Number of sleeps so far (zero-length ones included), and of zero-length ones.
    std::uint64_t sleeps() const { return sleeps_.load(); }
    std::uint64_t yields() const { return yields_.load(); }

  private:
    std::atomic<std::uint64_t> now_;
    std::atomic<std::uint64_t> sleeps_{0};
    std::atomic<std::uint64_t> yields_{0};
};

}  // namespace pz4::sim
