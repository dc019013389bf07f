#include "history/history.h"

#include <algorithm>

namespace pz4 {
namespace {

template <typename T>
void pushCapped(std::deque<T>& list, const T& entry) {
    if (list.size() >= kMaxMarks) {
        list.pop_front();
    }
    list.push_back(entry);
}

// Forgets what lies wholly before keepFromMs, but keeps the last entry before it: it says what
// held at keepFromMs.
template <typename T>
void forgetBefore(std::deque<T>& list, std::int64_t keepFromMs) {
    while (list.size() > 1 && list[1].wallMs <= keepFromMs) {
        list.pop_front();
    }
}

std::size_t joint(Quantity q, std::size_t channel) {
    return (q == Quantity::Voltage ? 0 : 3) + channel;
}

}  // namespace

History::Supply& History::supplyOf(const SerialText& serial) {
    const auto found = supplies_.find(serial.view());
    if (found != supplies_.end()) {
        return found->second;
    }
    return supplies_.emplace(std::string(serial.view()), Supply{}).first->second;
}

void History::add(const WorkerEvent& event) {
    newestMs_ = seen_ ? std::max(newestMs_, event.wallMs) : event.wallMs;
    seen_ = true;
    const auto channel = static_cast<std::size_t>(event.channel);
    switch (event.kind) {
        case WorkerEventKind::Voltage:
            addReadings(supplyOf(event.serial), event, Quantity::Voltage);
            return;
        case WorkerEventKind::Current:
            addReadings(supplyOf(event.serial), event, Quantity::Current);
            return;
        case WorkerEventKind::Status:
            if (channel < 3) {
                pushCapped(supplyOf(event.serial).channels[channel].status,
                           StatusMark{event.wallMs, event.state, event.mode});
            }
            return;
        case WorkerEventKind::Set:
        case WorkerEventKind::SetFailed:
            if (channel < 3) {
                const bool set = event.kind == WorkerEventKind::Set;
                pushCapped(supplyOf(event.serial).channels[channel].sets,
                           SetMark{event.wallMs, event.values[0],
                                   set ? SetMarkKind::Set : SetMarkKind::Failed, event.outcome});
            }
            return;
        case WorkerEventKind::Chosen:
            // The worker leaves whichever supply it had open.
            for (auto& [serial, supply] : supplies_) {
                forget(supply, event.wallMs);
            }
            addMarker({event.wallMs, MarkerKind::Chosen, event.serial});
            return;
        case WorkerEventKind::Opened:
            forget(supplyOf(event.serial), event.wallMs);
            addMarker({event.wallMs, MarkerKind::Opened, event.serial});
            return;
        case WorkerEventKind::GivenUp:
            forget(supplyOf(event.serial), event.wallMs);
            addMarker({event.wallMs, MarkerKind::GivenUp, event.serial});
            return;
        case WorkerEventKind::Unplugged:
            forget(supplyOf(event.serial), event.wallMs);
            addMarker({event.wallMs, MarkerKind::Unplugged, event.serial});
            return;
    }
}

void History::addReadings(Supply& supply, const WorkerEvent& event, Quantity quantity) {
    const Quantity other = quantity == Quantity::Voltage ? Quantity::Current : Quantity::Voltage;
    for (std::size_t ch = 0; ch < 3; ++ch) {
        Joint& j = supply.joints[joint(other, ch)];
        j.otherReplies = static_cast<std::uint8_t>(std::min(j.otherReplies + 1, 2));
    }
    const std::size_t count = std::min<std::size_t>(event.count, 3);
    for (std::size_t ch = 0; ch < count; ++ch) {
        Joint& j = supply.joints[joint(quantity, ch)];
        const bool gap = j.open || j.otherReplies > 1 || event.tickMs < j.tickMs ||
                         event.tickMs - j.tickMs > kGapMs || event.wallMs < j.wallMs;
        ChannelHistory& c = supply.channels[ch];
        (quantity == Quantity::Voltage ? c.voltage : c.current)
            .add({event.wallMs, event.values[ch], gap});
        j = {event.tickMs, event.wallMs, 0, false};
    }
}

void History::forget(Supply& supply, std::int64_t wallMs) {
    for (Joint& j : supply.joints) {
        j.open = true;
    }
    for (ChannelHistory& c : supply.channels) {
        if (!c.status.empty() && c.status.back().state != '\0') {
            pushCapped(c.status, StatusMark{wallMs, '\0', '\0'});
        }
        if (!c.sets.empty() && c.sets.back().kind != SetMarkKind::Unknown) {
            pushCapped(c.sets, SetMark{wallMs, 0, SetMarkKind::Unknown, SetOutcome::Acknowledged});
        }
    }
}

void History::noteLost(std::uint32_t count, std::int64_t wallMs) {
    for (auto& [serial, supply] : supplies_) {
        for (Joint& j : supply.joints) {
            j.open = true;
        }
    }
    addMarker({wallMs, MarkerKind::Lost, {}, count});
}

void History::addMarker(const Marker& marker) {
    pushCapped(markers_, marker);
}

void History::trim() {
    const std::int64_t fullFrom = newestMs_ - kFullResolutionMs;
    const std::int64_t keepFrom = newestMs_ - kKeptMs;
    for (auto& [serial, supply] : supplies_) {
        for (ChannelHistory& c : supply.channels) {
            c.voltage.thin(fullFrom, keepFrom);
            c.current.thin(fullFrom, keepFrom);
            forgetBefore(c.status, keepFrom);
            forgetBefore(c.sets, keepFrom);
        }
    }
    while (!markers_.empty() && markers_.front().wallMs < keepFrom) {
        markers_.pop_front();
    }
}

const SupplyHistory* History::supply(std::string_view serial) const {
    const auto found = supplies_.find(serial);
    return found == supplies_.end() ? nullptr : &found->second.channels;
}

std::size_t History::bytesHeld() const {
    std::size_t bytes = markers_.size() * sizeof(Marker);
    for (const auto& [serial, supply] : supplies_) {
        bytes += sizeof(Supply) + serial.capacity();
        for (const ChannelHistory& c : supply.channels) {
            bytes += c.voltage.bytesHeld() + c.current.bytesHeld() +
                     c.status.size() * sizeof(StatusMark) + c.sets.size() * sizeof(SetMark);
        }
    }
    return bytes;
}

}  // namespace pz4
