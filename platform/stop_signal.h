// A flag that one thread raises to stop another, and that the other can wait on: raising it
// ends a wait at once, so the waiting thread sleeps instead of looking every few milliseconds.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>

namespace pz4::platform {

class StopSignal {
  public:
    StopSignal() = default;
    StopSignal(const StopSignal&) = delete;
    StopSignal& operator=(const StopSignal&) = delete;

    void store(bool raised) {
        {
            // Under the lock, so that a waiter between its look and its wait cannot miss it.
            std::lock_guard lock(mutex_);
            raised_.store(raised);
        }
        if (raised) {
            changed_.notify_all();
        }
    }
    bool load() const { return raised_.load(); }

    StopSignal& operator=(bool raised) {
        store(raised);
        return *this;
    }
    operator bool() const { return load(); }

    // Waits until the flag is raised or ms have passed; true when it is raised.
    bool waitFor(std::uint32_t ms) {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, std::chrono::milliseconds(ms), [this] { return load(); });
    }

  private:
    std::atomic<bool> raised_{false};
    std::mutex mutex_;
    std::condition_variable changed_;
};

}  // namespace pz4::platform
