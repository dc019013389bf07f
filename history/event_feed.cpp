#include "history/event_feed.h"

#include <bit>

namespace pz4 {

EventFeed::EventFeed(std::size_t capacity)
    : mask_(std::bit_ceil(capacity < 2 ? std::size_t{2} : capacity) - 1),
      slots_(std::make_unique<Slot[]>(mask_ + 1)) {}

void EventFeed::record(const WorkerEvent& event) noexcept {
    const std::uint64_t head = head_.load(std::memory_order_relaxed);
    if (head - tail_.load(std::memory_order_acquire) > mask_) {
        ++lostPending_;
        lostTotal_.fetch_add(1, std::memory_order_relaxed);
        return;
    }
    Slot& slot = slots_[head & mask_];
    slot.event = event;
    slot.lostBefore = lostPending_;
    lostPending_ = 0;
    head_.store(head + 1, std::memory_order_release);
}

}  // namespace pz4
