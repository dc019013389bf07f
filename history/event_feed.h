// The hand-over of the worker's events to the thread that keeps the history: a ring of fixed
// size with one writer (the worker) and one reader. The worker never waits and never
// allocates; when the ring is full it counts what it could not hand over, and the reader learns
// how many events were lost before the next one it gets, so that no loss goes unnoticed.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>

#include "worker/worker_event.h"

namespace pz4 {

class EventFeed final : public WorkerEventSink {
  public:
    // Over half an hour of the worker's events (about eight a second): the reader would have to
    // stall that long before anything is lost.
    static constexpr std::size_t kDefaultCapacity = 16384;

    // capacity is rounded up to a power of two.
    explicit EventFeed(std::size_t capacity = kDefaultCapacity);

    // The worker's side.
    void record(const WorkerEvent& event) noexcept override;

    // The reader's side: calls take(event, lostBefore) for every event waiting, oldest first;
    // lostBefore counts the events the worker could not hand over just before this one.
    // Returns the number of events taken.
    template <typename Take>
    std::size_t drain(Take&& take) {
        const std::uint64_t head = head_.load(std::memory_order_acquire);
        std::uint64_t tail = tail_.load(std::memory_order_relaxed);
        const std::size_t taken = static_cast<std::size_t>(head - tail);
        for (; tail != head; ++tail) {
            const Slot& slot = slots_[tail & mask_];
            take(slot.event, slot.lostBefore);
            // Released one by one: the worker may refill a slot as soon as it is read.
            tail_.store(tail + 1, std::memory_order_release);
        }
        return taken;
    }

    // Events lost so far, for display; the reader learns of each loss through drain too.
    std::uint64_t lostTotal() const { return lostTotal_.load(std::memory_order_relaxed); }

  private:
    struct Slot {
        WorkerEvent event;
        std::uint32_t lostBefore = 0;
    };

    std::size_t mask_;
    std::unique_ptr<Slot[]> slots_;
    // Written by the worker, read by the reader; apart so that the two do not share a line.
    alignas(64) std::atomic<std::uint64_t> head_{0};
    std::uint32_t lostPending_ = 0;  // the worker's own: losses not yet attached to an event
    alignas(64) std::atomic<std::uint64_t> tail_{0};
    std::atomic<std::uint64_t> lostTotal_{0};
};

}  // namespace pz4
