#include "worker/channel_tables.h"

namespace pz4 {

WorkerShared WindowWorker;
ChannelSlots& SetRequest = WindowWorker.SetRequest;
ChannelSlots& VoltageShown = WindowWorker.VoltageShown;
ChannelSlots& CurrentShown = WindowWorker.CurrentShown;
platform::StopSignal& StopRequested = WindowWorker.StopRequested;
std::atomic<bool>& WorkerRunning = WindowWorker.WorkerRunning;

void fillSlots(ChannelSlots& slots, std::int64_t value) {
    for (auto& slot : slots) {
        slot.store(value);
    }
}

void WorkerShared::fill(std::int64_t value) {
    for (std::size_t ch = 0; ch < 3; ++ch) {
        SetRequest[ch].store(value);
        VoltageShown[ch].store(value);
        CurrentShown[ch].store(value);
    }
}

std::optional<std::int32_t> WorkerShared::takeSetRequest(int channel) {
    auto& slot = SetRequest[static_cast<std::size_t>(channel)];
    std::int64_t value = slot.load();
    // A failed exchange reloads value; an unsendable value stays where it is.
    while (value > -kSetValueLimit && value < kSetValueLimit) {
        if (slot.compare_exchange_weak(value, NO_VALUE)) {
            return static_cast<std::int32_t>(value);
        }
    }
    return std::nullopt;
}

}  // namespace pz4
