// What a plot of one supply's history draws over a span of time, per channel: the voltage and
// current traces, the spans of known state, the set values in force and the failed ones, and the
// turns of the connection. Built from the history for one repaint; the window's tests read it
// instead of pixels.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

#include "history/history.h"
#include "history/trace.h"

namespace pz4 {

// A stretch in which the channel's state and mode were known and unchanged.
struct StatusSpan {
    std::int64_t fromMs;
    std::int64_t toMs;
    char state;
    char mode;
};

// A value the supply acknowledged, in force from fromMs until the next one or until the
// connection turned.
struct SetStep {
    std::int64_t fromMs;
    std::int64_t toMs;
    std::int32_t value;
};

struct FailedSet {
    std::int64_t wallMs;
    std::int32_t value;
    SetOutcome outcome;
};

struct ChannelFrame {
    std::vector<TracePoint> voltage;
    std::vector<TracePoint> current;
    std::vector<StatusSpan> status;
    std::vector<SetStep> steps;
    std::vector<FailedSet> failed;
};

struct PlotFrame {
    TimeRange range{0, 1};
    int columns = 1;
    std::array<ChannelFrame, 3> channels;
    // Another supply chosen, this one given up or unplugged, events lost.
    std::vector<Marker> markers;
};

// serial's history over range, in columns pixel columns. What is still in force (a state, a set
// value) runs to the newest time the history has seen.
PlotFrame buildFrame(const History& history, std::string_view serial, TimeRange range, int columns);

// The earliest time serial's history holds anything of, if it holds anything.
std::optional<std::int64_t> firstTimeOf(const History& history, std::string_view serial);

// One channel of serial at time t, for the values under the mouse: the readings (see readingAt),
// the state and mode in force, and the set value in force.
struct ChannelAt {
    std::optional<ReadingAt> voltage;
    std::optional<ReadingAt> current;
    char state = '\0';
    char mode = '\0';
    std::optional<std::int32_t> set;
};
ChannelAt channelAt(const History& history, std::string_view serial, int channel, std::int64_t t,
                    std::int64_t slackMs);

}  // namespace pz4
