// The MQTT bridge's topics and payloads, and how a set message is judged before anything of it
// goes near a supply.
//
//   <prefix>/bridge/<client-id>/status          online | offline (retained; the last will)
//   <prefix>/<serial>/availability              online | offline (retained)
//   <prefix>/<serial>/ch<N>/voltage             whole volts (retained)
//   <prefix>/<serial>/ch<N>/current             whole microamperes (retained)
//   <prefix>/<serial>/ch<N>/state               on | off | error (retained)
//   <prefix>/<serial>/ch<N>/mode                U, I, ... (retained)
//   <prefix>/<serial>/ch<N>/voltage/set         a whole number of volts, from a client
//   <prefix>/<serial>/ch<N>/voltage/set/result  {"value": 500, "result": "sent", "reason": ...}
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace pz4::cli {

// A serial that can stand as one topic level: printable, and none of '/', '+', '#'.
bool servableSerial(std::string_view serial);

std::string channelTopic(std::string_view prefix, std::string_view serial, int channel,
                         std::string_view leaf);

struct SetTopic {
    std::string serial;
    int channel = 0;  // 0..2
};
// The supply and channel a set topic names; nothing for any other topic.
std::optional<SetTopic> parseSetTopic(std::string_view topic, std::string_view prefix);

// A set payload: a whole number of volts of magnitude below 11000, blanks around it allowed,
// nothing else. The value, or the reason it is refused.
struct SetPayload {
    std::optional<std::int32_t> value;
    std::string refusal;
};
SetPayload judgeSetPayload(std::string_view payload);

// {"value": <value or null>, "result": "sent" | "refused" | "failed", "reason": "..."}
std::string setResult(std::optional<std::int32_t> value, std::string_view result,
                      std::string_view reason);

}  // namespace pz4::cli
