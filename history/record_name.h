// The file name suggested for a record or an export: "pz4-<serial>-<date>-<time>.csv".
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace pz4 {

// In local time, e.g. "pz4-42-2026-12-08-150405.csv"; characters of the serial that do not
// belong in a file name become "_", and a supply without a serial leaves its part out.
std::string recordFileName(std::string_view serial, std::int64_t wallMs,
                           std::string_view extension = "csv");

}  // namespace pz4
