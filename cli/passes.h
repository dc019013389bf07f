// Running a supply's worker until something has happened: the one loop of get, set and watch.
#pragma once

#include <chrono>

#include "cli/supply_worker.h"

namespace pz4::cli {

enum class Waited { Done, Stopped, TimedOut, Lost };

// Runs passes until done() holds after one, the limit has passed, a stop came, or the supply
// could not be opened (the worker then forgets its serial).
template <typename Done>
Waited runUntil(SupplyWorker& w, std::chrono::milliseconds limit, Done done) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    for (;;) {
        if (!w.runPass()) {
            return Waited::Stopped;
        }
        if (done()) {
            return Waited::Done;
        }
        if (!w.supplyOpen() && w.session().serial.load().empty()) {
            return Waited::Lost;
        }
        if (std::chrono::steady_clock::now() > deadline) {
            return Waited::TimedOut;
        }
    }
}

}  // namespace pz4::cli
