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

}  // namespace pz4
