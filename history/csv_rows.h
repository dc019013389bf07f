// The record's rows of the worker's events, in the order the events came: one row per channel
// of a reading, one per status change, set command or turn of the connection. Keeps each
// supply's last reported state and mode for the state column, and forgets them when the
// connection turns, as the worker does: only what the supply answered is written.
#pragma once

#include <array>
#include <map>
#include <string>
#include <vector>

#include "history/csv_row.h"
#include "worker/worker_event.h"

namespace pz4 {

class CsvRowMaker {
  public:
    // Appends the event's rows to out.
    void rowsOf(const WorkerEvent& event, std::vector<CsvRow>& out);

  private:
    struct Known {
        std::array<char, 3> state{};
        std::array<char, 3> mode{};
    };
    std::map<std::string, Known, std::less<>> known_;
};

}  // namespace pz4
