#include "platform/clock.h"

#include <chrono>
#include <thread>

namespace pz4::platform {
namespace {

class SystemClock final : public Clock {
  public:
    std::uint64_t tickMs() override {
        using namespace std::chrono;
        return static_cast<std::uint64_t>(
            duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
    }

    void sleepMs(std::uint32_t ms) override {
        if (ms == 0) {
            std::this_thread::yield();
        } else {
            std::this_thread::sleep_for(std::chrono::milliseconds(ms));
        }
    }

    // One wait that a raised stop ends at once, rather than a look every few milliseconds.
    bool waitMs(std::uint32_t ms, StopSignal& stop) override { return stop.waitFor(ms); }
};

}  // namespace

Clock& systemClock() {
    static SystemClock clock;
    return clock;
}

}  // namespace pz4::platform
