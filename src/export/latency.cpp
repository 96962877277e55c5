#include "export/latency.h"

#include <algorithm>
#include <cmath>

#include "base/fatal.h"

namespace tracemill {

using latency_buckets::bucket_of;
using latency_buckets::bucket_of_bound;
using latency_buckets::kLastBucket;

namespace {

// Room added beyond the bucket that made a range grow, so that the range grows a few times only.
constexpr std::uint32_t kSlack = 16;

}  // namespace

std::string Int128::to_decimal() const {
  // Most values fit 64 bits.
  if (high_ == 0) return std::to_string(low_);
  if (high_ == -1 && low_ >> 63 != 0) return std::to_string(static_cast<std::int64_t>(low_));
  const bool negative = high_ < 0;
  std::uint64_t high = static_cast<std::uint64_t>(high_);
  std::uint64_t low = low_;
  if (negative) {  // the magnitude, which fits the unsigned words even for -2^127
    high = ~high + (low == 0 ? 1 : 0);
    low = 0 - low;
  }
  // Nine digits at a time: the words as four 32-bit limbs divided by 10^9, highest first.
  std::uint32_t limbs[4] = {static_cast<std::uint32_t>(high >> 32),
                            static_cast<std::uint32_t>(high), static_cast<std::uint32_t>(low >> 32),
                            static_cast<std::uint32_t>(low)};
  std::vector<std::uint32_t> groups;  // lowest first
  do {
    std::uint64_t rest = 0;
    for (std::uint32_t& limb : limbs) {
      const std::uint64_t part = rest << 32 | limb;
      limb = static_cast<std::uint32_t>(part / 1'000'000'000);
      rest = part % 1'000'000'000;
    }
    groups.push_back(static_cast<std::uint32_t>(rest));
  } while ((limbs[0] | limbs[1] | limbs[2] | limbs[3]) != 0);
  std::string text = negative ? "-" : "";
  text += std::to_string(groups.back());
  for (std::size_t i = groups.size() - 1; i-- > 0;) {
    const std::string group = std::to_string(groups[i]);
    text.append(9 - group.size(), '0') += group;
  }
  return text;
}

void Latency::Buckets::cover(std::uint32_t first, std::uint32_t last) {
  std::uint32_t new_first = first;
  std::uint32_t new_last = last;
  if (!counts_.empty()) {
    new_first = first < first_ ? (first > kSlack ? first - kSlack : 1) : first_;
    new_last = last > this->last() ? std::min(last + kSlack, kLastBucket) : this->last();
  }
  std::vector<Counter> counts(new_last - new_first + 1, 0);
  std::copy(counts_.begin(), counts_.end(), counts.begin() + (first_ - new_first));
  counts_.swap(counts);
  first_ = new_first;
}

void Latency::Buckets::carry(std::uint32_t index, std::uint64_t n) {
  for (auto& [carried_index, amount] : carried_) {
    if (carried_index == index) {
      amount += n;
      return;
    }
  }
  carried_.emplace_back(index, n);
}

void Latency::Buckets::add(std::uint32_t index, std::uint64_t n) {
  if (counts_.empty() || index < first_ || index > last()) cover(index, index);
  Counter& count = counts_[index - first_];
  const std::uint64_t total = count + n;  // may wrap only beyond 2^64 durations
  count = static_cast<Counter>(total);
  if (total >> kCounterBits != 0) carry(index, total & ~std::uint64_t{Counter(~Counter{0})});
}

void Latency::Buckets::add(std::span<const std::uint32_t> indices, std::uint32_t low,
                           std::uint32_t high) {
  if (indices.empty()) return;
  if (counts_.empty() || low < first_ || high > last()) {
    cover(counts_.empty() ? low : std::min(low, first_),
          counts_.empty() ? high : std::max(high, last()));
  }
  // A short loop without a test of the range: the counters' cache misses overlap.
  Counter* counts = counts_.data();
  const std::uint32_t first = first_;
  for (const std::uint32_t index : indices) {
    if (++counts[index - first] == 0) [[unlikely]]
      carry(index, std::uint64_t{1} << kCounterBits);
  }
}

void Latency::add(std::span<const std::int64_t> micros) {
  if (exact_) {
    for (const std::int64_t d : micros) add(d);
    return;
  }
  constexpr std::size_t kBatch = 256;
  std::array<std::uint32_t, kBatch> positive;
  while (!micros.empty()) {
    const std::span<const std::int64_t> batch = micros.first(std::min(kBatch, micros.size()));
    micros = micros.subspan(batch.size());
    // Sum, minimum and maximum first, in a loop without branches: the sum as the sums of the
    // high halves (arithmetic shift) and of the low halves, which cannot overflow for a batch.
    std::int64_t least = batch[0];
    std::int64_t most = batch[0];
    std::int64_t high_halves = 0;
    std::uint64_t low_halves = 0;
    for (const std::int64_t d : batch) {
      least = std::min(least, d);
      most = std::max(most, d);
      high_halves += d >> 32;
      low_halves += static_cast<std::uint32_t>(d);
    }
    count_ += batch.size();
    sum_.add(Int128(high_halves >> 32, static_cast<std::uint64_t>(high_halves) << 32));
    sum_.add(Int128(0, low_halves));
    min_ = std::min(min_, least);
    max_ = std::max(max_, most);
    if (least <= 0) [[unlikely]] {
      for (const std::int64_t d : batch) add_bucket(d);
      continue;
    }
    // All positive: the buckets of the batch, counted together; a bucket monotone in the
    // magnitude gives the range they lie in.
    std::size_t n = 0;
    auto find_buckets = [&](auto bucket) {
      for (const std::int64_t d : batch) {
        const std::uint32_t index = bucket(static_cast<std::uint64_t>(d));
        positive[n++] = index;
        note_bound(index, d);
      }
    };
    if (static_cast<std::uint64_t>(most) < latency_buckets::kBelowDoubleRounding) [[likely]] {
      find_buckets([](std::uint64_t m) { return latency_buckets::bucket_below_2_53(m); });
    } else {
      find_buckets([](std::uint64_t m) { return bucket_of(m); });
    }
    const auto low = static_cast<std::uint64_t>(least);
    const auto high = static_cast<std::uint64_t>(most);
    positive_.add(std::span(positive).first(n), bucket_of(low, 63 - std::countl_zero(low)),
                  bucket_of(high, 63 - std::countl_zero(high)));
  }
}

std::uint64_t Latency::Buckets::at(std::uint32_t index) const {
  std::uint64_t count = counts_[index - first_];
  for (const auto& [carried_index, amount] : carried_) {
    if (carried_index == index) count += amount;
  }
  return count;
}

// Blocks of kBlock counters are summed at once (the compiler vectorises the sum) while no
// counter has carried; the block that reaches the rank is then scanned bucket by bucket.
namespace {
constexpr std::size_t kBlock = 16;
}

std::uint32_t Latency::Buckets::scan_up(std::uint64_t& seen, std::uint64_t rank) const {
  const std::size_t n = counts_.size();
  std::size_t i = 0;
  if (carried_.empty()) {
    for (; i + kBlock <= n; i += kBlock) {
      std::uint64_t block = 0;
      for (std::size_t k = 0; k < kBlock; ++k) block += counts_[i + k];
      if (seen + block >= rank) break;
      seen += block;
    }
  }
  for (; i < n; ++i) {
    seen += at(first_ + static_cast<std::uint32_t>(i));
    if (seen >= rank) return first_ + static_cast<std::uint32_t>(i);
  }
  return kNotReached;
}

std::uint32_t Latency::Buckets::scan_down(std::size_t& end, std::uint64_t& seen,
                                          std::uint64_t rank) const {
  std::size_t i = end;  // the buckets below i are left
  if (carried_.empty()) {
    for (; i >= kBlock; i -= kBlock) {
      std::uint64_t block = 0;
      for (std::size_t k = i - kBlock; k < i; ++k) block += counts_[k];
      if (seen + block >= rank) break;
      seen += block;
    }
  }
  while (i-- > 0) {
    const std::uint64_t count = at(first_ + static_cast<std::uint32_t>(i));
    if (seen + count >= rank) {
      end = i + 1;
      return first_ + static_cast<std::uint32_t>(i);
    }
    seen += count;
  }
  end = 0;
  return kNotReached;
}

bool Latency::Buckets::same_counts(const Buckets& other) const {
  auto count = [](const Buckets& b, std::uint32_t index) -> std::uint64_t {
    return b.empty() || index < b.first() || index > b.last() ? 0 : b.at(index);
  };
  if (empty() && other.empty()) return true;
  const std::uint32_t first = empty()         ? other.first()
                              : other.empty() ? first_
                                              : std::min(first_, other.first());
  const std::uint32_t last = empty()         ? other.last()
                             : other.empty() ? this->last()
                                             : std::max(this->last(), other.last());
  for (std::uint32_t i = first; i <= last; ++i) {
    if (count(*this, i) != count(other, i)) return false;
  }
  return true;
}

bool operator==(const Latency& a, const Latency& b) {
  if (a.exact_ != b.exact_ || a.count_ != b.count_ || !(a.sum_ == b.sum_) || a.min_ != b.min_ ||
      a.max_ != b.max_ || a.zeros_ != b.zeros_ || a.at_bound_ != b.at_bound_ ||
      !a.positive_.same_counts(b.positive_) || !a.negative_.same_counts(b.negative_)) {
    return false;
  }
  if (!a.exact_) return true;
  std::vector<std::int64_t> x = a.values_;
  std::vector<std::int64_t> y = b.values_;
  std::sort(x.begin(), x.end());
  std::sort(y.begin(), y.end());
  return x == y;
}

void Latency::Buckets::merge(const Buckets& other) {
  if (other.empty()) return;
  if (counts_.empty() || other.first() < first_ || other.last() > last()) {
    cover(counts_.empty() ? other.first() : std::min(other.first(), first_),
          counts_.empty() ? other.last() : std::max(other.last(), last()));
  }
  // Counter by counter, in a loop without branches (which the compiler vectorises); a sum that
  // passed the counter's bits wrapped, to less than what was added, and carries.
  Counter* counts = counts_.data() + (other.first_ - first_);
  const Counter* more = other.counts_.data();
  const std::size_t n = other.counts_.size();
  std::uint32_t wrapped = 0;
  for (std::size_t i = 0; i < n; ++i) {
    const std::uint32_t sum = std::uint32_t{counts[i]} + more[i];
    wrapped |= sum;
    counts[i] = static_cast<Counter>(sum);
  }
  if (wrapped >> kCounterBits != 0) [[unlikely]] {
    for (std::size_t i = 0; i < n; ++i) {
      if (counts[i] < more[i]) {
        carry(other.first_ + static_cast<std::uint32_t>(i), std::uint64_t{1} << kCounterBits);
      }
    }
  }
  for (const auto& [index, amount] : other.carried_) add(index, amount);
}

std::size_t Latency::Buckets::heap_bytes() const {
  return counts_.capacity() * sizeof(counts_[0]) + carried_.capacity() * sizeof(carried_[0]);
}

void Latency::merge(const Latency& other) {
  if (&other == this) {
    const Latency copy = other;
    merge(copy);
    return;
  }
  if (other.exact_ != exact_) fatal("latency figures of different modes merged");
  count_ += other.count_;
  sum_.add(other.sum_);
  min_ = std::min(min_, other.min_);
  max_ = std::max(max_, other.max_);
  zeros_ += other.zeros_;
  for (std::size_t i = 0; i < at_bound_.size(); ++i) at_bound_[i] += other.at_bound_[i];
  positive_.merge(other.positive_);
  negative_.merge(other.negative_);
  if (!other.values_.empty()) {
    values_.insert(values_.end(), other.values_.begin(), other.values_.end());
    sorted_ = false;
  }
}

std::array<std::uint64_t, Latency::kBounds.size()> Latency::counts_at_most() const {
  std::array<std::uint64_t, kBounds.size()> at_most{};
  if (exact_) {
    if (!sorted_) {
      std::sort(values_.begin(), values_.end());
      sorted_ = true;
    }
    for (std::size_t i = 0; i < kBounds.size(); ++i) {
      at_most[i] = static_cast<std::uint64_t>(
          std::upper_bound(values_.begin(), values_.end(), kBounds[i]) - values_.begin());
    }
    return at_most;
  }
  // Every duration up to 0, those of the positive buckets below the bound's own bucket, and
  // those of that bucket counted apart as at most the bound.
  std::uint64_t below = count_;
  if (!positive_.empty()) {
    for (std::uint32_t index = positive_.first(); index <= positive_.last(); ++index) {
      below -= positive_.at(index);
    }
  }
  std::size_t bound = 0;
  if (!positive_.empty()) {
    for (std::uint32_t index = positive_.first(); index <= positive_.last(); ++index) {
      for (; bound < kBounds.size() && bucket_of_bound(bound) <= index; ++bound) {
        at_most[bound] = below + at_bound_[bound];
      }
      if (bound == kBounds.size()) break;
      below += positive_.at(index);
    }
  }
  for (; bound < kBounds.size(); ++bound) at_most[bound] = below + at_bound_[bound];
  return at_most;
}

std::uint64_t Latency::count_at_most(std::int64_t bound_micros) const {
  const auto at_most = counts_at_most();
  for (std::size_t i = 0; i < kBounds.size(); ++i) {
    if (kBounds[i] == bound_micros) return at_most[i];
  }
  fatal("a latency bound outside the fixed list");
}

std::uint64_t Latency::rank_of(double q) const {
  // The rank ceil(q n) in integers, with q in ten-thousandths: n = 10000 a + b.
  const auto parts = static_cast<std::uint64_t>(std::clamp(std::lround(q * 10000), 0L, 10000L));
  const std::uint64_t rank = count_ / 10000 * parts + (count_ % 10000 * parts + 9999) / 10000;
  return std::max<std::uint64_t>(rank, 1);
}

std::int64_t Latency::value_of(std::uint32_t index, bool negative) const {
  // The value that bounds the relative error over the bucket's integers [low, high] is
  // 2 low high / (low + high); rounded to an integer it stays within 0.8 % of each.
  std::uint64_t low = index;
  std::uint64_t high = index;
  if (index >= 128) {
    const std::uint32_t shift = (index >> 6) - 1;
    low = std::uint64_t{index - (shift << 6)} << shift;
    high = low + ((std::uint64_t{1} << shift) - 1);
  }
  const double share =
      static_cast<double>(low) / (static_cast<double>(low) + static_cast<double>(high));
  const auto offset = static_cast<std::uint64_t>(static_cast<double>(high - low) * share + 0.5);
  const std::uint64_t magnitude = low + std::min(offset, high - low);
  constexpr auto kMax = static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max());
  const std::int64_t value = negative ? (magnitude > kMax ? std::numeric_limits<std::int64_t>::min()
                                                          : -static_cast<std::int64_t>(magnitude))
                                      : static_cast<std::int64_t>(std::min(magnitude, kMax));
  return std::clamp(value, min_, max_);
}

bool Latency::from_the_top(std::uint64_t rank) const {
  return negative_.empty() && !positive_.empty() && rank > count_ / 2 && rank > zeros_;
}

void Latency::quantiles(std::span<const double> qs, std::span<std::int64_t> values) const {
  std::size_t end = positive_.size();
  std::uint64_t above = 0;
  for (std::size_t i = qs.size(); i-- > 0;) {
    const std::uint64_t rank = rank_of(qs[i]);
    if (exact_ || count_ == 0 || !from_the_top(rank)) {
      values[i] = quantile(qs[i]);
      continue;
    }
    const std::uint32_t index = positive_.scan_down(end, above, count_ - rank + 1);
    values[i] = value_of(index == Buckets::kNotReached ? positive_.first() : index, false);
  }
}

std::int64_t Latency::quantile(double q) const {
  if (count_ == 0) return 0;
  const std::uint64_t rank = rank_of(q);
  if (exact_) {
    if (!sorted_) {
      std::sort(values_.begin(), values_.end());
      sorted_ = true;
    }
    return values_[rank - 1];
  }
  // A high rank among positive durations alone is found from the top, nearer to it.
  if (from_the_top(rank)) {
    std::size_t end = positive_.size();
    std::uint64_t above = 0;
    const std::uint32_t index = positive_.scan_down(end, above, count_ - rank + 1);
    return value_of(index == Buckets::kNotReached ? positive_.first() : index, false);
  }
  std::uint64_t seen = 0;
  if (!negative_.empty()) {
    std::size_t end = negative_.size();
    if (const std::uint32_t index = negative_.scan_down(end, seen, rank);
        index != Buckets::kNotReached) {
      return value_of(index, true);
    }
  }
  seen += zeros_;
  if (seen >= rank) return 0;
  const std::uint32_t index = positive_.scan_up(seen, rank);
  return value_of(index == Buckets::kNotReached ? positive_.last() : index, false);
}

std::size_t Latency::heap_bytes() const {
  return positive_.heap_bytes() + negative_.heap_bytes() + values_.capacity() * sizeof(values_[0]);
}

}  // namespace tracemill
