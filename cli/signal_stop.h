// Ctrl-C and SIGTERM for pz4ctl: a thread of its own takes them (in the usual context, not in a
// handler, so that it may raise a stop signal, which takes a lock), and runs what the command
// set up to stop its waits. A second one ends the process at once, for a driver call that never
// returns.
#pragma once

#include <functional>
#include <mutex>
#include <thread>

namespace pz4::cli {

class SignalStop {
  public:
    // Make it before any other thread: the signals are blocked in this thread and every thread
    // started after it, and taken by its own.
    SignalStop();
    ~SignalStop();

    SignalStop(const SignalStop&) = delete;
    SignalStop& operator=(const SignalStop&) = delete;

    // What a signal runs; at once when one has come already. Clear it (an empty function)
    // before what it stops goes away.
    void onStop(std::function<void()> stop);
    bool stopped();

  private:
    void take();

    std::mutex mutex_;
    std::function<void()> stop_;
    bool stopped_ = false;
    std::thread thread_;
};

}  // namespace pz4::cli

namespace pz4::cli {

// Runs stop on a signal for as long as it lives.
class StopHook {
  public:
    StopHook(SignalStop& signals, std::function<void()> stop) : signals_(signals) {
        signals_.onStop(std::move(stop));
    }
    ~StopHook() { signals_.onStop({}); }
    StopHook(const StopHook&) = delete;
    StopHook& operator=(const StopHook&) = delete;

  private:
    SignalStop& signals_;
};

}  // namespace pz4::cli
