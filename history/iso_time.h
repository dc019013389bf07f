// Wall-clock times as people and other programs read them: ISO 8601 in local time, with
// milliseconds and the offset from UTC, so that a time read back names one instant.
#pragma once

#include <cstdint>
#include <string>

namespace pz4 {

// The offset of local time from UTC at that instant, in seconds (+3600 in Berlin in winter).
int localUtcOffsetSeconds(std::int64_t wallMs);

// "2026-12-08T15:04:05.123+01:00": wallMs (ms since 1970 UTC) at the given offset.
std::string isoTime(std::int64_t wallMs, int offsetSeconds);
// The same in local time.
std::string localIsoTime(std::int64_t wallMs);

// "2026-12-08-150405" in local time, for file names.
std::string localFileStamp(std::int64_t wallMs);

}  // namespace pz4
