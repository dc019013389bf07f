// What the supplies did, kept for the operator to look back on: per supply and channel every
// voltage and current reading, the status changes and the set commands, and the turns of the
// connection, each at the wall-clock time it happened. Fed from the worker's events on one
// thread, which owns it. Memory is bounded: readings are thinned after two hours and forgotten
// after seven days (see series.h), and the lists of changes are capped.
//
// Gaps are data: no line may join two readings between which readings are missing. A reading
// starts a gap when
//   - it is its series' first, or the first since a turn of its supply's connection (chosen,
//     opened, given up, unplugged) or since events were lost on the way from the worker;
//   - the supply answered the other reading query more than once since the last one of its
//     series: a pass went by without this reading (a failed query, or a short reply that
//     carried fewer channels);
//   - more than kGapMs went by since the last one on the worker's monotonic clock (passes that
//     failed altogether, a worker held up), or the wall clock went back.
#pragma once

#include <array>
#include <cstdint>
#include <deque>
#include <map>
#include <string>
#include <string_view>

#include "history/series.h"
#include "protocol/commands.h"
#include "protocol/serial_text.h"
#include "worker/worker_event.h"

namespace pz4 {

// A pass takes about 260 ms; readings further apart than this have a gap between them.
inline constexpr std::uint64_t kGapMs = 1000;
// Most entries a list of status changes, set commands or connection turns keeps; the oldest go
// first. Enough for a change at every status query for several days.
inline constexpr std::size_t kMaxMarks = std::size_t{1} << 17;

enum class Quantity : std::uint8_t { Voltage, Current };

// The channel's state and mode from this time on; state '\0' when they are not known.
struct StatusMark {
    std::int64_t wallMs;
    char state;
    char mode;
};

enum class SetMarkKind : std::uint8_t {
    Set,      // the supply acknowledged the value
    Failed,   // the value was not set (outcome says why)
    Unknown,  // the connection turned: what the supply is set to is not known from here on
};

struct SetMark {
    std::int64_t wallMs;
    std::int32_t value;
    SetMarkKind kind;
    SetOutcome outcome;
};

enum class MarkerKind : std::uint8_t { Chosen, Opened, GivenUp, Unplugged, Lost };

struct Marker {
    std::int64_t wallMs;
    MarkerKind kind;
    SerialText serial;       // the supply concerned; empty for Lost
    std::uint32_t lost = 0;  // Lost: how many events
};

struct ChannelHistory {
    Series voltage;
    Series current;
    std::deque<StatusMark> status;
    std::deque<SetMark> sets;

    const Series& series(Quantity q) const { return q == Quantity::Voltage ? voltage : current; }
};

using SupplyHistory = std::array<ChannelHistory, 3>;

class History {
  public:
    void add(const WorkerEvent& event);
    // count events were lost on the way just before the one at wallMs: every line breaks there.
    void noteLost(std::uint32_t count, std::int64_t wallMs);
    // Thins and forgets by the newest time seen; call after a batch of events.
    void trim();

    // Null for a supply never seen.
    const SupplyHistory* supply(std::string_view serial) const;
    const std::deque<Marker>& markers() const { return markers_; }
    // The newest wall-clock time seen, 0 before any event.
    std::int64_t newestMs() const { return newestMs_; }
    std::size_t bytesHeld() const;

  private:
    // How the next reading of a series joins the last one.
    struct Joint {
        std::uint64_t tickMs = 0;
        std::int64_t wallMs = 0;
        std::uint8_t otherReplies = 0;  // replies to the other reading query since
        bool open = true;               // no reading to join to
    };
    struct Supply {
        SupplyHistory channels;
        std::array<Joint, 6> joints;  // voltages, then currents, by channel
    };

    Supply& supplyOf(const SerialText& serial);
    void addReadings(Supply& supply, const WorkerEvent& event, Quantity quantity);
    // The connection of the supply turned: its lines break, its state and set values are no
    // longer known.
    void forget(Supply& supply, std::int64_t wallMs);
    void addMarker(const Marker& marker);

    std::map<std::string, Supply, std::less<>> supplies_;
    std::deque<Marker> markers_;
    std::int64_t newestMs_ = 0;
    bool seen_ = false;
};

}  // namespace pz4
