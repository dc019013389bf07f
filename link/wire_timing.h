// The timing of the wire as the link handles it: how often the reader looks, and how long it
// waits for a line to settle after an exchange went wrong.
#pragma once

#include <cstddef>
#include <cstdint>

namespace pz4::wire_timing {

// The reader gives a reply up after this long; measured on the clock, so coarse sleeps (Windows'
// 15.6 ms tick) do not stretch it.
inline constexpr std::uint64_t kReplyWaitMs = 500;
inline constexpr std::uint32_t kIdlePauseMs = 5;     // nothing was waiting
inline constexpr std::uint32_t kTricklePauseMs = 1;  // part of a line has arrived

// After an exchange that did not end in a clean line, its reply may still come late: the next
// command goes out only this long after the one that went wrong (a reply later than that counts
// as lost) ...
inline constexpr std::uint64_t kLateReplyMs = 1000;
// ... and once the line has been quiet this long.
inline constexpr std::uint64_t kSettleQuietMs = 100;
// A line that never goes quiet (a device streaming garbage) fails the exchange after this long,
// or after this many bytes, instead of holding the worker.
inline constexpr std::uint64_t kSettleLimitMs = kLateReplyMs + 1000;
inline constexpr std::size_t kMaxStaleBytes = 16384;
// The reply to that next command counts only if nothing else follows it this long: two
// latency-timer periods of the bridge, and a reply's time on the wire ...
inline constexpr std::uint64_t kConfirmMs = 40;
// ... and only once the real reply would have come had the line been the late one: a supply
// may take this long to answer.
inline constexpr std::uint64_t kSlowestAnswerMs = 150;

}  // namespace pz4::wire_timing
