#include "export/latency.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <memory>
#include <random>
#include <span>
#include <vector>

#include "export/latency_worker.h"

namespace tracemill {
namespace {

using Limits = std::numeric_limits<std::int64_t>;

// Unoptimised builds (debug, sanitizers) take a tenth of the durations per shape, to stay quick.
#ifdef NDEBUG
constexpr std::size_t kDurations = 1'000'000;
#else
constexpr std::size_t kDurations = 100'000;
#endif

// The quantiles asked for, in ten-thousandths, so that the test's ranks are integer sums.
constexpr std::uint64_t kQuantiles[] = {5000, 9000, 9500, 9900};

std::uint64_t rank_of(std::uint64_t parts, std::size_t n) {
  return std::max<std::uint64_t>(1, (parts * n + 9999) / 10000);
}

// Everything a figure reads out must match the sorted durations: count, sum, extremes and the
// bound counts exactly, the quantiles within 1 % (exactly for the exact mode).
void expect_figure_of(const Latency& figure, const std::vector<std::int64_t>& sorted) {
  ASSERT_EQ(figure.count(), sorted.size());
  EXPECT_EQ(figure.min(), sorted.front());
  EXPECT_EQ(figure.max(), sorted.back());
#ifdef __SIZEOF_INT128__
  __extension__ using Wide = __int128;
  Wide sum = 0;
  for (std::int64_t value : sorted) sum += value;
  EXPECT_EQ(figure.sum(),
            Int128(static_cast<std::int64_t>(sum >> 64), static_cast<std::uint64_t>(sum)));
#endif
  for (std::int64_t bound : Latency::kBounds) {
    const auto at_most = std::upper_bound(sorted.begin(), sorted.end(), bound) - sorted.begin();
    EXPECT_EQ(figure.count_at_most(bound), static_cast<std::uint64_t>(at_most)) << bound;
  }
  for (std::uint64_t parts : kQuantiles) {
    const std::int64_t want = sorted[rank_of(parts, sorted.size()) - 1];
    const std::int64_t got = figure.quantile(static_cast<double>(parts) / 10000);
    if (figure.exact()) {
      EXPECT_EQ(got, want) << parts;
    } else {
      EXPECT_LE(std::fabs(static_cast<double>(got) - static_cast<double>(want)),
                0.01 * std::fabs(static_cast<double>(want)))
          << parts << ": " << got << " for " << want;
    }
  }
}

// A million durations of each shape, in both modes, and each mode merged from two unequal parts,
// one added a duration at a time and the other in a batch.
TEST(Latency, ShapesReadOutExactlyOrWithinOnePercent) {
  enum Shape { kUniform, kLogNormal, kBimodal, kAllEqual, kZeros, kExtremes, kAtTheBounds };
  for (Shape shape : {kUniform, kLogNormal, kBimodal, kAllEqual, kZeros, kExtremes, kAtTheBounds}) {
    SCOPED_TRACE(shape);
    std::mt19937_64 random(shape);
    std::lognormal_distribution<double> typical(std::log(5000.0), 1.5);
    std::lognormal_distribution<double> fast(std::log(300.0), 0.3);
    std::lognormal_distribution<double> slow(std::log(200000.0), 0.5);
    auto draw = [&]() -> std::int64_t {
      switch (shape) {
        case kUniform:
          return std::uniform_int_distribution<std::int64_t>(1, 100'000'000)(random);
        case kLogNormal:
          return std::llround(typical(random));
        case kBimodal:
          return std::llround(random() % 2 == 0 ? fast(random) : slow(random));
        case kAllEqual:
          return 123456;
        case kZeros:
          return random() % 10 < 3 ? 0 : std::llround(typical(random));
        case kExtremes: {
          const std::uint64_t pick = random() % 10;
          if (pick < 2) return pick == 0 ? Limits::min() : Limits::max();
          return pick < 6 ? static_cast<std::int64_t>(random()) : -std::llround(typical(random));
        }
        case kAtTheBounds: {  // a bound itself, its neighbours and the rest of its bucket
          const std::int64_t bound = Latency::kBounds[random() % Latency::kBounds.size()];
          const std::int64_t spread = random() % 2 == 0 ? 2 : bound / 50;
          return bound +
                 static_cast<std::int64_t>(random() % static_cast<std::uint64_t>(2 * spread + 1)) -
                 spread;
        }
      }
      return 0;
    };
    std::vector<std::int64_t> values(kDurations);
    for (std::int64_t& value : values) value = draw();
    std::vector<std::int64_t> sorted = values;
    std::sort(sorted.begin(), sorted.end());
    for (Latency::Mode mode : {Latency::Mode::kSketch, Latency::Mode::kExact}) {
      Latency whole(mode);
      Latency first(mode);
      Latency second(mode);
      // The first part one by one, the second in one batch.
      for (std::size_t i = 0; i < values.size(); ++i) {
        whole.add(values[i]);
        if (i < values.size() / 3) first.add(values[i]);
      }
      second.add(std::span(values).subspan(values.size() / 3));
      first.merge(second);
      EXPECT_TRUE(first == whole);
      for (std::uint64_t parts : kQuantiles) {
        const double q = static_cast<double>(parts) / 10000;
        EXPECT_EQ(first.quantile(q), whole.quantile(q)) << parts;
      }
      // Several quantiles at once read out as each alone, also where two share a bucket.
      constexpr double kAtOnce[] = {0, 0.0001, 0.25, 0.5, 0.9, 0.95, 0.99, 0.9901, 0.999, 1};
      std::int64_t at_once[std::size(kAtOnce)];
      whole.quantiles(kAtOnce, at_once);
      for (std::size_t i = 0; i < std::size(kAtOnce); ++i) {
        EXPECT_EQ(at_once[i], whole.quantile(kAtOnce[i])) << kAtOnce[i];
      }
      if (mode == Latency::Mode::kSketch) {
        EXPECT_LT(sizeof(Latency) + whole.heap_bytes(), 32u << 10);
      }
      expect_figure_of(whole, sorted);
      expect_figure_of(first, sorted);
    }
  }
}

// Every rank of a few dozen distinct small durations of either sign, where the sketch's buckets
// hold one value each, so both modes must give the value at the rank itself.
TEST(Latency, NearestRankOfSmallFigures) {
  std::mt19937_64 random(7);
  std::vector<std::int64_t> pool;
  for (std::int64_t value = -127; value <= 127; ++value) pool.push_back(value);
  for (std::size_t n = 1; n <= 40; ++n) {
    std::shuffle(pool.begin(), pool.end(), random);
    std::vector<std::int64_t> values(pool.begin(), pool.begin() + static_cast<std::ptrdiff_t>(n));
    Latency sketch;
    Latency exact(Latency::Mode::kExact);
    for (std::int64_t value : values) sketch.add(value), exact.add(value);
    std::sort(values.begin(), values.end());
    for (std::uint64_t parts : {0u, 1u, 2500u, 5000u, 9000u, 9500u, 9900u, 10000u}) {
      const std::int64_t want = values[rank_of(parts, n) - 1];
      const double q = static_cast<double>(parts) / 10000;
      EXPECT_EQ(sketch.quantile(q), want) << n << " " << parts;
      EXPECT_EQ(exact.quantile(q), want) << n << " " << parts;
    }
  }
}

// 2^40 durations of -2^63, by merging a figure with itself: the sum goes far past 64 bits, and
// every bucket counter past 32 bits.
TEST(Latency, SumsAndCountsBeyondSixtyFourAndThirtyTwoBits) {
  Latency figure;
  figure.add(Limits::min());
  for (int i = 0; i < 40; ++i) figure.merge(figure);
  EXPECT_EQ(figure.count(), std::uint64_t{1} << 40);
  EXPECT_EQ(figure.sum(), Int128(-(std::int64_t{1} << 39), 0));
  EXPECT_EQ(figure.sum().to_decimal(), "-10141204801825835211973625643008");
  EXPECT_EQ(figure.count_at_most(2000), std::uint64_t{1} << 40);
  EXPECT_EQ(figure.quantile(0.99), Limits::min());
}

// Sums at the edges of the 64-bit ranges, where the decimal text changes its way of writing.
TEST(Int128, DecimalTextAtTheEdgesOfSixtyFourBits) {
  const struct {
    Int128 value;
    const char* text;
  } cases[] = {
      {Int128(0, 0), "0"},
      {Int128(0, 9223372036854775807u), "9223372036854775807"},
      {Int128(0, 9223372036854775808u), "9223372036854775808"},
      {Int128(0, ~std::uint64_t{0}), "18446744073709551615"},
      {Int128(1, 0), "18446744073709551616"},
      {Int128(-1, ~std::uint64_t{0}), "-1"},
      {Int128(-1, 9223372036854775808u), "-9223372036854775808"},
      {Int128(-1, 9223372036854775807u), "-9223372036854775809"},
      {Int128(-2, ~std::uint64_t{0}), "-18446744073709551617"},
      {Int128(Limits::min(), 0), "-170141183460469231731687303715884105728"},
      {Int128(Limits::max(), ~std::uint64_t{0}), "170141183460469231731687303715884105727"},
  };
  for (const auto& c : cases) EXPECT_EQ(c.value.to_decimal(), c.text);
}

// The bucket found through a double is the one found from the leading bit, at every octave's
// edges and sub-bucket edges below 2^53 and for random magnitudes.
TEST(Latency, BucketsFromDoublesMatchBucketsFromBits) {
  using latency_buckets::bucket_below_2_53;
  using latency_buckets::bucket_of;
  std::vector<std::uint64_t> magnitudes;
  for (int octave = 0; octave < 53; ++octave) {
    const std::uint64_t low = std::uint64_t{1} << octave;
    const std::uint64_t step = octave > 6 ? std::uint64_t{1} << (octave - 6) : 1;
    for (std::uint64_t sub = 0; sub < 64; ++sub) {
      const std::uint64_t edge = low + sub * step;
      for (std::uint64_t m : {edge - 1, edge, edge + 1}) {
        if (m < latency_buckets::kBelowDoubleRounding) magnitudes.push_back(m);
      }
    }
  }
  std::mt19937_64 random(53);
  for (int i = 0; i < 100'000; ++i) magnitudes.push_back(random() >> (11 + random() % 53));
  for (const std::uint64_t m : magnitudes) ASSERT_EQ(bucket_below_2_53(m), bucket_of(m)) << m;
}

// The worker against adding at once: many figures, pieces of every size (past the ring's end
// many times over, longer than one piece of work), figures merged and freed on the way, and the
// thread starting at the first duration, in the middle, or never.
TEST(LatencyWorker, EndsWithTheFiguresOfAddingAtOnce) {
  for (std::uint64_t start_after : {std::uint64_t{0}, std::uint64_t{50'000}, ~std::uint64_t{0}}) {
    SCOPED_TRACE(start_after);
    std::mt19937_64 random(start_after);
    constexpr std::size_t kFigures = 7;
    std::vector<Latency> direct(kFigures);
    auto handed = std::make_unique<std::vector<Latency>>(kFigures);
    LatencyWorker worker(start_after);
    std::vector<std::int64_t> piece;
    for (int step = 0; step < 3000; ++step) {
      const std::size_t figure = random() % kFigures;
      piece.resize(random() % 8 == 0 ? random() % 5000 : random() % 64);
      for (std::int64_t& d : piece) d = static_cast<std::int64_t>(random() % 2'000'000) - 1000;
      if (step % 5 == 0) {
        // Gathered apart first, as a long pair's durations are, then merged.
        auto apart = std::make_unique<Latency>();
        worker.add(*apart, piece);
        worker.merge((*handed)[figure], std::move(apart));
      } else if (step % 11 == 0) {
        auto dropped = std::make_unique<Latency>();
        worker.add(*dropped, piece);
        worker.free(std::move(dropped));
        continue;
      } else {
        worker.add((*handed)[figure], piece);
      }
      direct[figure].add(piece);
    }
    worker.finish();
    EXPECT_EQ(worker.threaded(), start_after != ~std::uint64_t{0});
    for (std::size_t i = 0; i < kFigures; ++i) {
      EXPECT_TRUE((*handed)[i] == direct[i]) << i;
      EXPECT_EQ((*handed)[i].quantile(0.99), direct[i].quantile(0.99)) << i;
    }
    // After finish() the figures may change again, and the worker takes more work.
    (*handed)[0].add(5);
    direct[0].add(5);
    worker.add((*handed)[1], std::vector<std::int64_t>(3, 7));
    direct[1].add(std::vector<std::int64_t>(3, 7));
    worker.finish();
    EXPECT_TRUE((*handed)[0] == direct[0]);
    EXPECT_TRUE((*handed)[1] == direct[1]);
  }
}

}  // namespace
}  // namespace tracemill
