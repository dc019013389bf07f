// A span of one supply's history as record rows (csv_row.h), for an export of what a plot shows.
#pragma once

#include <string_view>
#include <vector>

#include "history/csv_row.h"
#include "history/history.h"
#include "history/trace.h"

namespace pz4 {

struct ExportedRows {
    std::vector<CsvRow> rows;  // in time order
    // Part of the span is held only as 10 s minima and maxima, which are no readings and are
    // left out.
    bool thinnedLeftOut = false;
};

// The readings, status changes and set commands of serial in range, and the turns of the
// connection that concern it: another supply chosen, this one opened, given up or unplugged.
ExportedRows exportRows(const History& history, std::string_view serial, TimeRange range);

}  // namespace pz4
