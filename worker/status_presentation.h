// Turns a status reply into what the operator sees of each channel: a state word in the set
// field and whether the field can be edited; recognises firmware that cannot answer.
#pragma once

#include <cstdint>

#include "protocol/device_session.h"
#include "worker/channel_tables.h"
#include "worker/readout_view.h"

namespace pz4 {

// The word for a channel's state character: "off", "on", "error"; null for one of no meaning.
const char* stateWord(char state);

// The text a channel's state puts into its set field: "off", "on", "error", the empty text for a
// channel that takes set values; null for a state character of no meaning.
const char* stateText(char state, char mode);

// Handles one reply of the status query (received as QueryStatus reported), with the bus held.
// Returns true when the worker must stop: the operator has been told that the supply's firmware
// cannot answer the status query, and StopRequested is raised.
bool presentStatus(DeviceSession& session, ReadoutView& view, const StatusReply& reply,
                   std::int32_t received, WorkerShared& shared = WindowWorker);

}  // namespace pz4
