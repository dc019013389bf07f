// Command texts of the supply's protocol, formatted into their fixed buffers. A text that does
// not fit is refused rather than cut: a cut set command could carry a wrong value or address
// another supply.
#pragma once

#include <array>
#include <cstdint>

#include "protocol/serial_text.h"

namespace pz4 {

// Room for the longest command: "PZ4", a serial of 24 characters (an FTDI bridge holds 15),
// "S ", a channel, a comma, a set value of magnitude below 11000 with its sign, and the NUL.
inline constexpr std::size_t kCommandSize = 40;
static_assert(kCommandSize >= 3 + (SerialText::kSize - 1) + 2 + 1 + 1 + 6 + 1);
using CommandText = std::array<char, kCommandSize>;

// What became of a set value the worker took.
enum class SetOutcome : std::uint8_t {
    Acknowledged,
    NotFormed,        // no command text holds this serial and value
    NotSent,          // the line did not settle, or the driver refused the write
    NotAcknowledged,  // silence, or a reply other than the acknowledgement
    ChannelClosed,    // the latest status says the channel takes no set value: never sent
};

// Why a value was not set, for the operator: "not set: " and the reason.
const char* setOutcomeText(SetOutcome outcome);

// "PZ4%sS %i,%i"
bool formatSetCommand(CommandText& out, const SerialText& serial, std::int32_t channel,
                      std::int32_t value);
// "PZ4%sGU"
bool formatVoltageQuery(CommandText& out, const SerialText& serial);
// "PZ4%sGI"
bool formatCurrentQuery(CommandText& out, const SerialText& serial);
// "%s,ok": the good reply to a set command.
bool formatAcknowledgement(CommandText& out, const SerialText& serial);

}  // namespace pz4
