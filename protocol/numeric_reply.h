// The grammar of a voltage or current reply: the serial, then per channel a comma and a value.
#pragma once

#include <string_view>

#include "protocol/readings.h"

namespace pz4 {

inline constexpr std::size_t kMaxLeadingToken = 24;
inline constexpr std::size_t kMaxValueToken = 9;

// Parses text (already cut at its line end) against serial. True when the reply is accepted:
// it carries at least one reading, and readings then holds every value it carried, in channel
// order. A reply naming another serial in front of a value, of another form, or with no value
// at all is refused; values read before the refusal stay in readings (count tells how many).
bool parseNumericReply(std::string_view text, std::string_view serial, Readings& readings);

// A status reply counts only when more than 30 bytes arrived, line end included.
inline bool statusReplyAccepted(std::int32_t received) {
    return received > 30;
}

}  // namespace pz4
