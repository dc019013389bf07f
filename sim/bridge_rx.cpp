#include "sim/bridge_rx.h"

#include <algorithm>
#include <cmath>

namespace pz4::sim {

void BridgeRx::setLatencyTimer(std::uint32_t timerMs, double phaseMs) {
    timerMs_ = timerMs;
    phaseMs_ = timerMs == 0 ? 0.0 : std::fmod(std::fabs(phaseMs), static_cast<double>(timerMs));
}

void BridgeRx::arrive(double atMs, char byte) {
    // Later bytes are the rule; an earlier one goes behind those of its own time.
    const auto at = std::upper_bound(wire_.begin(), wire_.end(), atMs,
                                     [](double t, const OnWire& b) { return t < b.atMs; });
    wire_.insert(at, OnWire{atMs, byte});
}

double BridgeRx::timerAfter(double atMs) const {
    const double period = static_cast<double>(timerMs_);
    return phaseMs_ + (std::floor((atMs - phaseMs_) / period) + 1.0) * period;
}

void BridgeRx::flushChip() {
    host_.insert(host_.end(), chip_.begin(), chip_.end());
    chip_.clear();
}

void BridgeRx::handOver(double nowMs) {
    if (timerMs_ == 0) {
        while (!wire_.empty() && wire_.front().atMs <= nowMs) {
            host_.push_back(wire_.front().byte);
            wire_.pop_front();
        }
        return;
    }
    for (;;) {
        const bool byteDue = !wire_.empty() && wire_.front().atMs <= nowMs;
        if (!chip_.empty() && chipDueMs_ <= nowMs &&
            (!byteDue || chipDueMs_ <= wire_.front().atMs)) {
            flushChip();
            continue;
        }
        if (!byteDue) {
            return;
        }
        if (chip_.empty()) {
            chipDueMs_ = timerAfter(wire_.front().atMs);
        }
        chip_.push_back(wire_.front().byte);
        wire_.pop_front();
        if (chip_.size() == kPacketBytes) {
            flushChip();
        }
    }
}

std::size_t BridgeRx::available(std::uint64_t nowMs) {
    handOver(static_cast<double>(nowMs));
    return host_.size();
}

char BridgeRx::take() {
    const char byte = host_.front();
    host_.pop_front();
    return byte;
}

void BridgeRx::clear() {
    wire_.clear();
    chip_.clear();
    host_.clear();
}

}  // namespace pz4::sim
