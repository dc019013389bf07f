// Command texts of the supply's protocol, formatted into their fixed buffers. A text that does
// not fit is refused rather than cut: a cut set command could carry a wrong value or address
// another supply.
#pragma once

#include <array>
#include <cstdint>

#include "protocol/serial_text.h"

namespace pz4 {

inline constexpr std::size_t kCommandSize = 20;
using CommandText = std::array<char, kCommandSize>;

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
