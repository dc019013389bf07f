#include "history/trace.h"

#include <algorithm>

#include "history/history.h"

namespace pz4 {
namespace {

// Samples and buckets alike: a series is its buckets followed by its samples, one sequence in
// time order. A bucket stands at the middle of its stretch.
struct Item {
    std::int64_t t;
    std::int64_t endMs;  // the last time it speaks for
    std::int32_t min, max, first, last;
    bool gapBefore;
    bool thinned;
};

class Items {
  public:
    explicit Items(const Series& series) : buckets_(series.buckets()), samples_(series.samples()) {}

    std::size_t size() const { return buckets_.size() + samples_.size(); }

    Item operator[](std::size_t i) const {
        if (i < buckets_.size()) {
            const Bucket& b = buckets_[i];
            return {b.startMs + kBucketMs / 2,
                    b.startMs + kBucketMs - 1,
                    b.min,
                    b.max,
                    b.first,
                    b.last,
                    b.gapBefore,
                    true};
        }
        const Sample& s = samples_[i - buckets_.size()];
        return {s.wallMs, s.wallMs, s.value, s.value, s.value, s.value, s.gapBefore, false};
    }

    // The first item at or after t.
    std::size_t firstFrom(std::int64_t t) const {
        const auto b = std::partition_point(buckets_.begin(), buckets_.end(), [t](const Bucket& e) {
            return e.startMs + kBucketMs / 2 < t;
        });
        if (b != buckets_.end()) {
            return static_cast<std::size_t>(b - buckets_.begin());
        }
        const auto s = std::partition_point(samples_.begin(), samples_.end(),
                                            [t](const Sample& e) { return e.wallMs < t; });
        return buckets_.size() + static_cast<std::size_t>(s - samples_.begin());
    }

  private:
    const std::deque<Bucket>& buckets_;
    const std::deque<Sample>& samples_;
};

int columnOf(std::int64_t t, TimeRange range, int columns) {
    const double x = static_cast<double>(t - range.fromMs) * columns /
                     static_cast<double>(std::max<std::int64_t>(range.span(), 1));
    // Far neighbours land just beyond the edges: a line to one crosses a gap and is not drawn.
    const double limit = 2.0 * columns + 2;
    return static_cast<int>(std::clamp(x < 0 ? x - 1 : x, -limit, limit));
}

}  // namespace

std::vector<TracePoint> traceOf(const Series& series, TimeRange range, int columns) {
    const Items items(series);
    std::size_t i = items.firstFrom(range.fromMs);
    const std::size_t end = std::min(items.firstFrom(range.toMs) + 1, items.size());
    if (i > 0) {
        --i;  // the neighbour before the range
    }
    std::vector<TracePoint> points;
    for (; i < end; ++i) {
        const Item item = items[i];
        const int column = columnOf(item.t, range, columns);
        if (!points.empty() && points.back().column == column) {
            TracePoint& p = points.back();
            p.min = std::min(p.min, item.min);
            p.max = std::max(p.max, item.max);
            p.last = item.last;
        } else {
            points.push_back({column, item.min, item.max, item.first, item.last, item.gapBefore});
        }
    }
    return points;
}

std::optional<ReadingAt> readingAt(const Series& series, std::int64_t t, std::int64_t slackMs) {
    const Items items(series);
    std::size_t next = items.firstFrom(t + 1);
    // A bucket speaks for its whole stretch, not from its middle on.
    if (next < items.size() && items[next].thinned && items[next].t - kBucketMs / 2 <= t) {
        ++next;
    }
    if (next == 0) {
        return std::nullopt;
    }
    const Item at = items[next - 1];
    const bool gapAfter = next < items.size() ? items[next].gapBefore
                                              : t - at.endMs > static_cast<std::int64_t>(kGapMs);
    if (gapAfter && t > at.endMs + slackMs) {
        return std::nullopt;
    }
    return ReadingAt{at.thinned ? at.t - kBucketMs / 2 : at.t, at.min, at.max, at.thinned};
}

}  // namespace pz4
