#include "cli/signal_stop.h"

#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include "cli/exit_codes.h"

namespace pz4::cli {
namespace {

// SIGUSR1 only wakes the thread to end it.
sigset_t takenSignals() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    sigaddset(&set, SIGUSR1);
    return set;
}

}  // namespace

SignalStop::SignalStop() {
    const sigset_t set = takenSignals();
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
    thread_ = std::thread([this] { take(); });
}

SignalStop::~SignalStop() {
    pthread_kill(thread_.native_handle(), SIGUSR1);
    thread_.join();
}

void SignalStop::take() {
    const sigset_t set = takenSignals();
    for (;;) {
        int signal = 0;
        if (sigwait(&set, &signal) != 0 || signal == SIGUSR1) {
            return;
        }
        // Under the lock, so that what it stops cannot go away meanwhile (onStop({}) waits).
        std::lock_guard lock(mutex_);
        if (stopped_) {
            _exit(kExitInterrupted);
        }
        stopped_ = true;
        if (stop_) {
            stop_();
        }
    }
}

void SignalStop::onStop(std::function<void()> stop) {
    std::lock_guard lock(mutex_);
    stop_ = std::move(stop);
    if (stopped_ && stop_) {
        stop_();
    }
}

bool SignalStop::stopped() {
    std::lock_guard lock(mutex_);
    return stopped_;
}

}  // namespace pz4::cli
