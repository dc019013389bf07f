// State a worker shares with its front end: the per-channel tables of pending set values and
// shown readings, and the two flags of the worker's lifecycle.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <optional>

#include "platform/stop_signal.h"

namespace pz4 {

inline constexpr std::int64_t NO_VALUE = 999999;
inline constexpr std::int64_t FORCE_REFRESH = 49999999;
// Set values of this magnitude or more are never sent.
inline constexpr std::int64_t kSetValueLimit = 11000;

using ChannelSlots = std::array<std::atomic<std::int64_t>, 3>;

// What one worker shares with its front end. Each slot is read and written as one whole 64-bit
// value.
struct WorkerShared {
    ChannelSlots SetRequest{};    // a set voltage waiting to be sent, or NO_VALUE
    ChannelSlots VoltageShown{};  // what a voltage readout shows, NO_VALUE, or FORCE_REFRESH
    ChannelSlots CurrentShown{};  // what a current readout shows, or NO_VALUE
    // False at the start. Raising it also ends the worker's waits at once.
    platform::StopSignal StopRequested;
    std::atomic<bool> WorkerRunning{true};  // true at the start, before the worker exists

    // Sets all nine slots to value.
    void fill(std::int64_t value);
    // Takes a pending set value of the channel that may be sent and resets its slot, in one
    // atomic step, so that a value entered meanwhile is never overwritten unsent.
    std::optional<std::int32_t> takeSetRequest(int channel);
};

// The window's worker's (one window, one worker), under the names the window uses.
extern WorkerShared WindowWorker;
extern ChannelSlots& SetRequest;
extern ChannelSlots& VoltageShown;
extern ChannelSlots& CurrentShown;
extern platform::StopSignal& StopRequested;
extern std::atomic<bool>& WorkerRunning;

void fillSlots(ChannelSlots& slots, std::int64_t value);
// Sets all nine slots of the window's worker to value.
inline void fillChannelTables(std::int64_t value) {
    WindowWorker.fill(value);
}
inline std::optional<std::int32_t> takeSetRequest(int channel) {
    return WindowWorker.takeSetRequest(channel);
}

}  // namespace pz4
