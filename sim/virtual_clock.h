// A clock whose time moves only when someone sleeps on it or advances it: passes of the worker
// and reply reads run in virtual time, fast and repeatable.
#pragma once

#include <atomic>
#include <cstdint>

#include "platform/clock.h"

namespace pz4::sim {

class VirtualClock final : public platform::Clock {
  public:
    // 2026-01-05 08:00:00 UTC.
    static constexpr std::int64_t kWallAtStartMs = 1'767'600'000'000;

    explicit VirtualClock(std::uint64_t startMs = 1'000'000) : startMs_(startMs), now_(startMs) {}

    std::uint64_t tickMs() override { return now_.load(); }
    // A wall clock that moves with the virtual one, from a fixed day: stamps are repeatable.
    std::int64_t wallMs() override {
        return kWallAtStartMs + static_cast<std::int64_t>(now_.load() - startMs_);
    }
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
    std::uint64_t startMs_;
    std::atomic<std::uint64_t> now_;
    std::atomic<std::uint64_t> sleeps_{0};
    std::atomic<std::uint64_t> yields_{0};
};

}  // namespace pz4::sim
