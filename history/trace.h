// A series as a plot draws it: one point per pixel column with the minimum and maximum of what
// falls into it (and the first and last value, which the line joins), so that an hour or a week
// draws from a few hundred points and no spike is lost.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "history/series.h"

namespace pz4 {

// [fromMs, toMs), wall-clock time.
struct TimeRange {
    std::int64_t fromMs;
    std::int64_t toMs;

    std::int64_t span() const { return toMs - fromMs; }
};

struct TracePoint {
    // The pixel column; the last point before the range and the first after it lie outside
    // 0..columns-1, so that lines run on to the edges.
    int column;
    std::int32_t min;
    std::int32_t max;
    std::int32_t first;
    std::int32_t last;
    bool gapBefore;  // no line joins this point to the one before
};

// The series over range in columns pixel columns, oldest first.
std::vector<TracePoint> traceOf(const Series& series, TimeRange range, int columns);

// What the series read at time t: the last sample (or bucket) at or before it, unless readings
// are missing between that one and t, more than slackMs after it.
struct ReadingAt {
    std::int64_t wallMs;  // the sample's time, or the start of its bucket
    std::int32_t min;
    std::int32_t max;  // as min for a sample
    bool thinned;      // a bucket's minimum and maximum
};
std::optional<ReadingAt> readingAt(const Series& series, std::int64_t t, std::int64_t slackMs);

}  // namespace pz4
