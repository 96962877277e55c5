// The latency figure of a set of call durations (signed 64-bit microseconds): count, exact sum,
// minimum, maximum, cumulative counts at fixed bounds, and quantiles, in memory bounded whatever
// the number of durations.
//
// Quantiles come from log-spaced buckets over the magnitude of each duration. Magnitudes below
// 128 have a bucket each; above, every power-of-two range [2^e, 2^(e+1)) is split into 64
// buckets of equal width, found from the leading bit and the next six bits (no logarithm, no
// table). The buckets are held densely over the range of indices in use, one 16-bit counter
// each (a counter that passes 2^16 keeps the rest beside it), one range for positive durations
// and one for negative ones; zeros are counted apart. A figure of durations between 1 µs and
// 10^8 µs uses at most 1,375 counters (2.75 KiB, a few more as room to grow); any figure at most
// 3,712 per sign. Adding a duration allocates only when its bucket lies outside the range or
// its counter first passes 2^16.
//
// Guarantees, for n durations and q in (0, 1], with the rank r = ceil(q' n), where q' is q
// rounded to the nearest multiple of 1/10000 and r at least 1:
// - quantile(q) differs from x, the r-th smallest duration, by at most 0.8 % of |x|: it has the
//   sign of x, it is x itself when x is 0 or |x| < 128, and it lies within [min(), max()];
// - count(), sum(), min(), max() and count_at_most() are exact;
// - merging figures gives the same figure as adding all their durations to one.
// In exact mode every duration is kept as well, and quantile(q) is x itself.
#pragma once

#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <span>
#include <string>
#include <utility>
#include <vector>

namespace tracemill {

// A signed 128-bit integer in two 64-bit words (two's complement), enough for the sum of 2^64
// durations of any 64-bit value.
class Int128 {
 public:
  constexpr Int128() = default;
  constexpr Int128(std::int64_t high, std::uint64_t low) : high_(high), low_(low) {}

  constexpr void add(std::int64_t value) {
    const std::uint64_t low = low_ + static_cast<std::uint64_t>(value);
    high_ += (value < 0 ? -1 : 0) + (low < low_ ? 1 : 0);
    low_ = low;
  }
  constexpr void add(Int128 other) {
    const std::uint64_t low = low_ + other.low_;
    high_ += other.high_ + (low < low_ ? 1 : 0);
    low_ = low;
  }

  constexpr std::int64_t high() const { return high_; }
  constexpr std::uint64_t low() const { return low_; }
  friend constexpr bool operator==(Int128, Int128) = default;

  // The value in decimal, with a leading '-' when negative.
  std::string to_decimal() const;

 private:
  std::int64_t high_ = 0;
  std::uint64_t low_ = 0;
};

namespace latency_buckets {

inline constexpr std::array<std::int64_t, 16> kBounds = {
    2000,   4000,   6000,    8000,    10000,   50000,   100000,   200000,
    400000, 800000, 1000000, 1400000, 2000000, 5000000, 10000000, 15000000};

// Magnitudes m < 128 have bucket m; above, with s = octave - 6, bucket (s << 6) + (m >> s).
constexpr std::uint32_t bucket_of(std::uint64_t magnitude, int octave) {
  const int shift = octave > 6 ? octave - 6 : 0;
  return static_cast<std::uint32_t>((shift << 6) + static_cast<int>(magnitude >> shift));
}
constexpr std::uint32_t bucket_of(std::uint64_t magnitude) {
  return bucket_of(magnitude, 63 - std::countl_zero(magnitude | 1));
}
// The bucket of the magnitude 2^63, the largest there is.
inline constexpr std::uint32_t kLastBucket = (57 << 6) + 64;

// The same bucket for magnitudes below 2^53, from the magnitude as a double: its biased
// exponent is the octave + 1023 and the top six bits of its fraction are the six bits after the
// leading one, so the bits above the lowest 46 are the bucket plus a constant. The conversion is
// exact below 2^53, and it costs less than finding the leading bit on some processors.
inline constexpr std::uint64_t kBelowDoubleRounding = std::uint64_t{1} << 53;
static_assert(std::numeric_limits<double>::is_iec559 && sizeof(double) == sizeof(std::uint64_t));
constexpr std::uint32_t bucket_below_2_53(std::uint64_t magnitude) {
  const auto bits = std::bit_cast<std::uint64_t>(static_cast<double>(magnitude));
  const auto from_double = static_cast<std::uint32_t>((bits >> 46) - ((1023u << 6) + 320u));
  return magnitude < 128 ? static_cast<std::uint32_t>(magnitude) : from_double;
}
static_assert(bucket_below_2_53(127) == bucket_of(127) &&
              bucket_below_2_53(128) == bucket_of(128) &&
              bucket_below_2_53(kBelowDoubleRounding - 1) == bucket_of(kBelowDoubleRounding - 1));

// The counts at the bounds come from the buckets: a bucket below a bound's own holds only
// durations under it, one above only durations over it, and of the durations in the bound's
// own bucket those at most the bound are counted apart.
constexpr std::uint32_t bucket_of_bound(std::size_t i) {
  return bucket_of(static_cast<std::uint64_t>(kBounds[i]));
}
// For each bucket, 1 + the bound whose bucket it is, or 0.
inline constexpr std::array<std::uint8_t, kLastBucket + 1> kBoundOfBucket = [] {
  std::array<std::uint8_t, kLastBucket + 1> of{};
  for (std::size_t i = 0; i < kBounds.size(); ++i) {
    of[bucket_of_bound(i)] = static_cast<std::uint8_t>(i + 1);
  }
  return of;
}();
inline constexpr bool kBoundsInBucketsOfTheirOwn = [] {
  for (std::size_t i = 0; i < kBounds.size(); ++i) {
    if (kBounds[i] <= 0 || (i > 0 && bucket_of_bound(i) <= bucket_of_bound(i - 1))) return false;
  }
  return true;
}();
static_assert(kBoundsInBucketsOfTheirOwn, "bounds positive, increasing, a bucket each");

}  // namespace latency_buckets

class Latency {
 public:
  enum class Mode { kSketch, kExact };

  // The upper bounds of count_at_most(), in microseconds.
  static constexpr const auto& kBounds = latency_buckets::kBounds;

  Latency() : exact_(false) {}
  explicit Latency(Mode mode) : exact_(mode == Mode::kExact) {}

  void add(std::int64_t micros) {
    ++count_;
    sum_.add(micros);
    if (micros < min_) min_ = micros;
    if (micros > max_) max_ = micros;
    if (exact_) {
      values_.push_back(micros);
      sorted_ = false;
      return;
    }
    add_bucket(micros);
  }

  // Adds each of `micros`: the same figure as adding them one by one, faster for many, as the
  // counters of a batch are found first and then counted together.
  void add(std::span<const std::int64_t> micros);

  // Adds every duration of `other`, which must have the same mode.
  void merge(const Latency& other);

  bool exact() const { return exact_; }
  std::uint64_t count() const { return count_; }
  Int128 sum() const { return sum_; }
  // Of a figure without durations: the largest and the smallest 64-bit value.
  std::int64_t min() const { return min_; }
  std::int64_t max() const { return max_; }
  // The number of durations at most each of kBounds, in one pass over the buckets.
  std::array<std::uint64_t, kBounds.size()> counts_at_most() const;
  // The number of durations at most `bound_micros`, which must be one of kBounds.
  std::uint64_t count_at_most(std::int64_t bound_micros) const;
  // The duration at the nearest rank for q (see above); 0 for a figure without durations. In
  // exact mode the first call after an add sorts the kept durations (so two threads must not
  // call it at once).
  std::int64_t quantile(double q) const;
  // quantile() of each of `qs`, which ascend, into `values`: the high ones among positive
  // durations in one scan of the buckets from the top.
  void quantiles(std::span<const double> qs, std::span<std::int64_t> values) const;

  // The bytes held beyond the object itself.
  std::size_t heap_bytes() const;

  // Equal figures answer every read-out alike (however their buckets are laid out).
  friend bool operator==(const Latency& a, const Latency& b);

 private:
  // The counters of one sign, by bucket index.
  class Buckets {
   public:
    // Small counters keep a figure's buckets in few cache lines; what passes one is carried.
    using Counter = std::uint16_t;
    static constexpr int kCounterBits = 16;
    void add(std::uint32_t index) {
      const std::uint32_t i = index - first_;
      if (i >= counts_.size()) [[unlikely]] {
        cover(index, index);
        return add(index);
      }
      if (++counts_[i] == 0) [[unlikely]]
        carry(index, std::uint64_t{1} << kCounterBits);
    }
    void add(std::uint32_t index, std::uint64_t n);
    // One for each of `indices`, which lie within [low, high].
    void add(std::span<const std::uint32_t> indices, std::uint32_t low, std::uint32_t high);
    void merge(const Buckets& other);
    bool empty() const { return counts_.empty(); }
    std::uint32_t first() const { return first_; }
    std::uint32_t last() const { return first_ + static_cast<std::uint32_t>(counts_.size()) - 1; }
    std::uint64_t at(std::uint32_t index) const;
    // Adds the counts from the first bucket up to `seen` until it reaches `rank`: the bucket
    // where it did, or kNotReached (all added).
    static constexpr std::uint32_t kNotReached = ~std::uint32_t{0};
    std::uint32_t scan_up(std::uint64_t& seen, std::uint64_t rank) const;
    // The same from the last bucket down, over the buckets below position `end` (of
    // counters): at the bucket where `seen` would reach `rank`, `end` is set past it and
    // `seen` holds the counts above it, so that a second scan for a higher rank goes on from
    // there; kNotReached when all are added.
    std::uint32_t scan_down(std::size_t& end, std::uint64_t& seen, std::uint64_t rank) const;
    std::size_t size() const { return counts_.size(); }
    // The same count in every bucket.
    bool same_counts(const Buckets& other) const;
    std::size_t heap_bytes() const;

   private:
    void cover(std::uint32_t first, std::uint32_t last);
    void carry(std::uint32_t index, std::uint64_t n);

    std::vector<Counter> counts_;
    std::uint32_t first_ = 0;
    // What passed 2^16 in a counter: (index, multiple of 2^16), one entry a bucket.
    std::vector<std::pair<std::uint32_t, std::uint64_t>> carried_;
  };

  // The rank of quantile q among count() durations (at least 1).
  std::uint64_t rank_of(double q) const;
  // The value a quantile in bucket `index` reads out as (of the negative buckets if `negative`).
  std::int64_t value_of(std::uint32_t index, bool negative) const;
  // Whether the duration at `rank` is found scanning the positive buckets from the top.
  bool from_the_top(std::uint64_t rank) const;

  // Counts `micros` (> 0, of bucket `index`) apart when the bucket is a bound's own.
  void note_bound(std::uint32_t index, std::int64_t micros) {
    if (const std::uint8_t bound = latency_buckets::kBoundOfBucket[index]) [[unlikely]]
      at_bound_[bound - 1u] += micros <= kBounds[bound - 1u] ? 1 : 0;
  }

  // The bucket of one duration (or its count as a zero).
  void add_bucket(std::int64_t micros) {
    using latency_buckets::bucket_of;
    if (micros > 0) {
      const std::uint32_t index = bucket_of(static_cast<std::uint64_t>(micros));
      note_bound(index, micros);
      positive_.add(index);
    } else if (micros == 0) {
      ++zeros_;
    } else {
      negative_.add(bucket_of(0 - static_cast<std::uint64_t>(micros)));
    }
  }

  std::uint64_t count_ = 0;
  Int128 sum_;
  std::int64_t min_ = std::numeric_limits<std::int64_t>::max();
  std::int64_t max_ = std::numeric_limits<std::int64_t>::min();
  std::uint64_t zeros_ = 0;
  // at_bound_[i]: the durations in the bucket of kBounds[i] that are at most kBounds[i].
  std::array<std::uint64_t, kBounds.size()> at_bound_{};
  Buckets positive_;
  Buckets negative_;
  bool exact_;
  mutable bool sorted_ = true;
  mutable std::vector<std::int64_t> values_;
};

}  // namespace tracemill
