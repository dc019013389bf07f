#include "history/history_export.h"

#include <algorithm>

namespace pz4 {
namespace {

// The state and mode in force at t by the channel's status changes.
const StatusMark* statusAt(const std::deque<StatusMark>& marks, std::int64_t t) {
    const auto after = std::partition_point(marks.begin(), marks.end(),
                                            [t](const StatusMark& m) { return m.wallMs <= t; });
    return after == marks.begin() ? nullptr : &*(after - 1);
}

void withState(CsvRow& row, const std::deque<StatusMark>& marks) {
    if (const StatusMark* m = statusAt(marks, row.wallMs)) {
        row.state = m->state;
        row.mode = m->mode;
    }
}

}  // namespace

ExportedRows exportRows(const History& history, std::string_view serial, TimeRange range) {
    ExportedRows out;
    const SerialText name = SerialText::from(serial);
    const auto inRange = [&](std::int64_t t) { return t >= range.fromMs && t < range.toMs; };
    for (const Marker& m : history.markers()) {
        const bool concerns = m.kind == MarkerKind::Chosen ||
                              (m.kind != MarkerKind::Lost && m.serial.view() == serial);
        if (!concerns || !inRange(m.wallMs)) {
            continue;
        }
        static constexpr WorkerEventKind kKinds[] = {
            WorkerEventKind::Chosen, WorkerEventKind::Opened, WorkerEventKind::GivenUp,
            WorkerEventKind::Unplugged};
        out.rows.push_back({.wallMs = m.wallMs,
                            .serial = m.serial,
                            .kind = kKinds[static_cast<std::size_t>(m.kind)]});
    }
    const SupplyHistory* supply = history.supply(serial);
    if (supply == nullptr) {
        return out;
    }
    for (int ch = 0; ch < 3; ++ch) {
        for (const StatusMark& m : (*supply)[static_cast<std::size_t>(ch)].status) {
            if (m.state != '\0' && inRange(m.wallMs)) {
                out.rows.push_back({.wallMs = m.wallMs,
                                    .serial = name,
                                    .channel = ch,
                                    .kind = WorkerEventKind::Status,
                                    .state = m.state,
                                    .mode = m.mode});
            }
        }
    }
    for (const Quantity q : {Quantity::Voltage, Quantity::Current}) {
        for (int ch = 0; ch < 3; ++ch) {
            const ChannelHistory& c = (*supply)[static_cast<std::size_t>(ch)];
            const Series& series = c.series(q);
            for (const Bucket& b : series.buckets()) {
                if (b.startMs + kBucketMs > range.fromMs && b.startMs < range.toMs) {
                    out.thinnedLeftOut = true;
                    break;
                }
            }
            for (const Sample& s : series.samples()) {
                if (!inRange(s.wallMs)) {
                    continue;
                }
                CsvRow row{.wallMs = s.wallMs,
                           .serial = name,
                           .channel = ch,
                           .kind = q == Quantity::Voltage ? WorkerEventKind::Voltage
                                                          : WorkerEventKind::Current,
                           .value = s.value};
                withState(row, c.status);
                out.rows.push_back(row);
            }
        }
    }
    for (int ch = 0; ch < 3; ++ch) {
        const ChannelHistory& c = (*supply)[static_cast<std::size_t>(ch)];
        for (const SetMark& m : c.sets) {
            if (m.kind == SetMarkKind::Unknown || !inRange(m.wallMs)) {
                continue;
            }
            CsvRow row{.wallMs = m.wallMs,
                       .serial = name,
                       .channel = ch,
                       .kind = m.kind == SetMarkKind::Set ? WorkerEventKind::Set
                                                          : WorkerEventKind::SetFailed,
                       .value = m.value};
            withState(row, c.status);
            out.rows.push_back(row);
        }
    }
    // Rows of one instant keep the order they were gathered in: the connection, the status,
    // the readings, the set commands, as the worker goes through a pass.
    std::stable_sort(out.rows.begin(), out.rows.end(),
                     [](const CsvRow& a, const CsvRow& b) { return a.wallMs < b.wallMs; });
    return out;
}

}  // namespace pz4
