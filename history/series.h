// One quantity of one channel of one supply over time: every sample of the last two hours as
// it came, older ones thinned to the minimum and maximum of each 10 s, for up to seven days.
// Minimum and maximum, not a mean, so that a spike stays visible however far one zooms out.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>

namespace pz4 {

inline constexpr std::int64_t kFullResolutionMs = 2LL * 3600 * 1000;
inline constexpr std::int64_t kBucketMs = 10'000;
inline constexpr std::int64_t kKeptMs = 7LL * 24 * 3600 * 1000;

struct Sample {
    std::int64_t wallMs;  // when the supply answered, ms since 1970 UTC
    std::int32_t value;
    bool gapBefore;  // no line joins it to the sample before: readings are missing in between
};

// The samples of one 10 s stretch, aligned to multiples of 10 s.
struct Bucket {
    std::int64_t startMs;
    std::int32_t min;
    std::int32_t max;
    std::int32_t first;
    std::int32_t last;
    bool gapBefore;  // readings are missing before or within the stretch
};

class Series {
  public:
    void add(const Sample& sample) { samples_.push_back(sample); }
    // Thins every sample older than fullFromMs into its bucket, and forgets buckets wholly older
    // than keepFromMs.
    void thin(std::int64_t fullFromMs, std::int64_t keepFromMs);

    // Oldest first; every bucket is older than every sample.
    const std::deque<Bucket>& buckets() const { return buckets_; }
    const std::deque<Sample>& samples() const { return samples_; }
    bool empty() const { return buckets_.empty() && samples_.empty(); }
    std::size_t bytesHeld() const {
        return buckets_.size() * sizeof(Bucket) + samples_.size() * sizeof(Sample);
    }

  private:
    std::deque<Bucket> buckets_;
    std::deque<Sample> samples_;
};

// The start of the 10 s stretch that holds t, for times before 1970 too.
inline std::int64_t bucketStart(std::int64_t t) {
    const std::int64_t q = t / kBucketMs;
    return (t % kBucketMs < 0 ? q - 1 : q) * kBucketMs;
}

}  // namespace pz4
