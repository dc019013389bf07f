// The record's CSV format: one self-describing line per reading, status change, set command or
// turn of the connection, so that a file cut off anywhere is valid up to its last line.
//
//   time,serial,channel,kind,value,unit,state
//   2026-12-08T15:04:05.123+01:00,42,1,voltage,800,V,on U
//
// time: ISO 8601 local time with milliseconds and UTC offset; channel: 1 to 3, empty for the
// whole supply; kind: voltage, current, status, set, set-failed, chosen, opened, given-up,
// unplugged; value: the reading (V or uA) or the set value (V), empty for the others; state:
// the channel's state word (on, off, error) and mode letter as last reported, empty where not
// known. A status line carries the new state in the state column and no value. Numbers are
// whole and written the same in every locale; fields holding a comma, quote or line break are
// quoted as RFC 4180 says.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "protocol/serial_text.h"
#include "worker/worker_event.h"

namespace pz4 {

inline constexpr std::string_view kCsvHeader = "time,serial,channel,kind,value,unit,state\n";

struct CsvRow {
    std::int64_t wallMs = 0;
    SerialText serial{};
    int channel = -1;  // 0..2 inside, written 1..3; -1 for the whole supply
    WorkerEventKind kind = WorkerEventKind::Voltage;
    std::optional<std::int32_t> value{};
    char state = '\0';  // '\0' when not known
    char mode = '\0';
};

// "voltage", "set-failed", ...
std::string_view csvKindName(WorkerEventKind kind);
// The unit of the kind's value: "V", "uA", or empty for a kind without a value.
std::string_view csvUnitName(WorkerEventKind kind);
// "on U", "off", "error I"; empty when the state is not known.
std::string stateColumn(char state, char mode);
// The row as one line, ending in "\n", its time in local time.
std::string formatCsvRow(const CsvRow& row);

}  // namespace pz4
