#include "history/csv_rows.h"

#include <algorithm>

namespace pz4 {

void CsvRowMaker::rowsOf(const WorkerEvent& event, std::vector<CsvRow>& out) {
    auto found = known_.find(event.serial.view());
    if (found == known_.end()) {
        found = known_.emplace(std::string(event.serial.view()), Known{}).first;
    }
    Known& known = found->second;
    CsvRow row{.wallMs = event.wallMs, .serial = event.serial, .kind = event.kind};
    const auto stateOf = [&](int ch) {
        row.channel = ch;
        row.state = known.state[static_cast<std::size_t>(ch)];
        row.mode = known.mode[static_cast<std::size_t>(ch)];
    };
    const bool channelEvent = event.channel >= 0 && event.channel < 3;
    switch (event.kind) {
        case WorkerEventKind::Voltage:
        case WorkerEventKind::Current:
            for (int ch = 0; ch < std::min<int>(event.count, 3); ++ch) {
                stateOf(ch);
                row.value = event.values[static_cast<std::size_t>(ch)];
                out.push_back(row);
            }
            return;
        case WorkerEventKind::Status:
            if (channelEvent) {
                const auto ch = static_cast<std::size_t>(event.channel);
                known.state[ch] = event.state;
                known.mode[ch] = event.mode;
                stateOf(event.channel);
                out.push_back(row);
            }
            return;
        case WorkerEventKind::Set:
        case WorkerEventKind::SetFailed:
            if (channelEvent) {
                stateOf(event.channel);
                row.value = event.values[0];
                out.push_back(row);
            }
            return;
        case WorkerEventKind::Chosen:
            // The worker leaves whichever supply it had open.
            for (auto& [serial, k] : known_) {
                k = Known{};
            }
            out.push_back(row);
            return;
        case WorkerEventKind::Opened:
        case WorkerEventKind::GivenUp:
        case WorkerEventKind::Unplugged:
            known = Known{};
            out.push_back(row);
            return;
    }
}

}  // namespace pz4
