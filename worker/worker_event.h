// What the worker saw, as it saw it, for whoever keeps a history or a record: every reading it
// accepted, every status change, every set command and what became of it, and every turn of the
// connection. Plain fixed-size values, so that a hand-over never allocates and never waits.
#pragma once

#include <array>
#include <cstdint>

#include "protocol/commands.h"
#include "protocol/serial_text.h"

namespace pz4 {

enum class WorkerEventKind : std::uint8_t {
    Voltage,    // a voltage reply: values[0..count-1] in V, channel by channel
    Current,    // a current reply: values[0..count-1] in uA
    Status,     // a channel's state or mode changed: state, mode
    Set,        // a set command the supply acknowledged: values[0] in V
    SetFailed,  // a set value that did not go out or was not acknowledged: values[0], outcome
    Chosen,     // the operator chose the supply named by serial
    Opened,     // the supply was opened
    GivenUp,    // the connection was given up after three failed passes
    Unplugged,  // the supply is no longer attached
};

struct WorkerEvent {
    WorkerEventKind kind = WorkerEventKind::Voltage;
    std::int64_t wallMs = 0;   // the wall clock, ms since 1970-01-01 UTC
    std::uint64_t tickMs = 0;  // the worker's monotonic clock
    SerialText serial{};       // the supply concerned
    std::int8_t channel = -1;  // 0..2, or -1 for the whole supply
    std::uint8_t count = 0;    // Voltage, Current: the channels the reply carried
    std::array<std::int32_t, 3> values{};
    char state = '\0';  // Status: '0' off, '1' on, '2' error, or another character
    char mode = '\0';   // Status: 'U', 'I', ...
    SetOutcome outcome = SetOutcome::Acknowledged;  // Set, SetFailed
};

// Takes the worker's events on the worker's thread. It must return at once: it may not wait
// for the window, nor take a lock the window thread holds.
class WorkerEventSink {
  public:
    virtual ~WorkerEventSink() = default;
    virtual void record(const WorkerEvent& event) noexcept = 0;
};

}  // namespace pz4
