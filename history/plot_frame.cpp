#include "history/plot_frame.h"

#include <algorithm>

namespace pz4 {
namespace {

// The first entry of a time-ordered list that still holds at fromMs: the last one at or before
// it, or the first after it.
template <typename List>
std::size_t firstInForce(const List& list, std::int64_t fromMs) {
    const auto after = std::partition_point(list.begin(), list.end(),
                                            [fromMs](const auto& e) { return e.wallMs <= fromMs; });
    const auto i = static_cast<std::size_t>(after - list.begin());
    return i > 0 ? i - 1 : 0;
}

std::vector<StatusSpan> statusSpans(const std::deque<StatusMark>& marks, TimeRange range,
                                    std::int64_t newestMs) {
    std::vector<StatusSpan> spans;
    for (std::size_t i = firstInForce(marks, range.fromMs); i < marks.size(); ++i) {
        const StatusMark& m = marks[i];
        if (m.wallMs >= range.toMs) {
            break;
        }
        const std::int64_t to = i + 1 < marks.size() ? marks[i + 1].wallMs : newestMs;
        if (m.state != '\0' && to > range.fromMs) {
            spans.push_back({m.wallMs, to, m.state, m.mode});
        }
    }
    return spans;
}

void setSteps(const std::deque<SetMark>& marks, TimeRange range, std::int64_t newestMs,
              ChannelFrame& out) {
    // A failed value leaves the one in force as it was: a step runs to the next acknowledged
    // value or to the turn of the connection.
    const SetMark* inForce = nullptr;
    const auto close = [&](std::int64_t to) {
        if (inForce != nullptr && to > range.fromMs && inForce->wallMs < range.toMs) {
            out.steps.push_back({inForce->wallMs, to, inForce->value});
        }
    };
    for (std::size_t i = firstInForce(marks, range.fromMs); i < marks.size(); ++i) {
        const SetMark& m = marks[i];
        if (m.wallMs >= range.toMs) {
            break;
        }
        if (m.kind == SetMarkKind::Failed) {
            if (m.wallMs >= range.fromMs) {
                out.failed.push_back({m.wallMs, m.value, m.outcome});
            }
            continue;
        }
        close(m.wallMs);
        inForce = m.kind == SetMarkKind::Set ? &m : nullptr;
    }
    close(newestMs);
}

bool concerns(const Marker& m, std::string_view serial) {
    switch (m.kind) {
        case MarkerKind::Chosen:
        case MarkerKind::Lost:
            return true;
        case MarkerKind::GivenUp:
        case MarkerKind::Unplugged:
            return m.serial.view() == serial;
        case MarkerKind::Opened:
            return false;
    }
    return false;
}

}  // namespace

PlotFrame buildFrame(const History& history, std::string_view serial, TimeRange range,
                     int columns) {
    PlotFrame frame;
    frame.range = range;
    frame.columns = std::max(columns, 1);
    if (const SupplyHistory* supply = history.supply(serial)) {
        for (std::size_t ch = 0; ch < 3; ++ch) {
            const ChannelHistory& c = (*supply)[ch];
            ChannelFrame& out = frame.channels[ch];
            out.voltage = traceOf(c.voltage, range, frame.columns);
            out.current = traceOf(c.current, range, frame.columns);
            out.status = statusSpans(c.status, range, history.newestMs());
            setSteps(c.sets, range, history.newestMs(), out);
        }
    }
    const auto& markers = history.markers();
    for (std::size_t i = firstInForce(markers, range.fromMs); i < markers.size(); ++i) {
        const Marker& m = markers[i];
        if (m.wallMs >= range.toMs) {
            break;
        }
        if (m.wallMs >= range.fromMs && concerns(m, serial)) {
            frame.markers.push_back(m);
        }
    }
    return frame;
}

std::optional<std::int64_t> firstTimeOf(const History& history, std::string_view serial) {
    const SupplyHistory* supply = history.supply(serial);
    if (supply == nullptr) {
        return std::nullopt;
    }
    std::optional<std::int64_t> first;
    const auto take = [&first](std::int64_t t) { first = first ? std::min(*first, t) : t; };
    for (const ChannelHistory& c : *supply) {
        for (const Series* s : {&c.voltage, &c.current}) {
            if (!s->buckets().empty()) {
                take(s->buckets().front().startMs);
            } else if (!s->samples().empty()) {
                take(s->samples().front().wallMs);
            }
        }
        if (!c.status.empty()) {
            take(c.status.front().wallMs);
        }
        if (!c.sets.empty()) {
            take(c.sets.front().wallMs);
        }
    }
    return first;
}

ChannelAt channelAt(const History& history, std::string_view serial, int channel, std::int64_t t,
                    std::int64_t slackMs) {
    ChannelAt at;
    const SupplyHistory* supply = history.supply(serial);
    if (supply == nullptr || channel < 0 || channel > 2) {
        return at;
    }
    const ChannelHistory& c = (*supply)[static_cast<std::size_t>(channel)];
    at.voltage = readingAt(c.voltage, t, slackMs);
    at.current = readingAt(c.current, t, slackMs);
    const auto status = std::partition_point(c.status.begin(), c.status.end(),
                                             [t](const StatusMark& m) { return m.wallMs <= t; });
    if (status != c.status.begin()) {
        at.state = (status - 1)->state;
        at.mode = (status - 1)->mode;
    }
    // The last acknowledged value, unless the connection turned since.
    for (auto set = std::partition_point(c.sets.begin(), c.sets.end(),
                                         [t](const SetMark& m) { return m.wallMs <= t; });
         set != c.sets.begin();) {
        --set;
        if (set->kind == SetMarkKind::Set) {
            at.set = set->value;
        }
        if (set->kind != SetMarkKind::Failed) {
            break;
        }
    }
    return at;
}

}  // namespace pz4
