#include "history/series.h"

#include <algorithm>

namespace pz4 {

void Series::thin(std::int64_t fullFromMs, std::int64_t keepFromMs) {
    while (!samples_.empty() && samples_.front().wallMs < fullFromMs) {
        const Sample s = samples_.front();
        samples_.pop_front();
        const std::int64_t start = bucketStart(s.wallMs);
        if (!buckets_.empty() && buckets_.back().startMs == start) {
            Bucket& b = buckets_.back();
            b.min = std::min(b.min, s.value);
            b.max = std::max(b.max, s.value);
            b.last = s.value;
            b.gapBefore = b.gapBefore || s.gapBefore;
        } else {
            buckets_.push_back({start, s.value, s.value, s.value, s.value, s.gapBefore});
        }
    }
    while (!buckets_.empty() && buckets_.front().startMs + kBucketMs <= keepFromMs) {
        buckets_.pop_front();
    }
}

}  // namespace pz4
