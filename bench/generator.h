// A seeded generator of realistic statistics files, for benchmarks and tests.
//
// The records depend only on the seed, the profile and the number of operations, never on the
// encoding: the same options give equal records in compact JSON, pretty JSON and the binary
// encoding. The file is streamed: one operation is built, encoded and handed to the sink at a
// time, so memory stays at a few MiB whatever the size.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "base/sink.h"
#include "stats/file/operation_stats_json.h"

namespace tracemill::bench {

enum class Format { Json, JsonPretty, Bincode };
enum class Profile {
  Typical,  // a mix of call chains, long timing lists, error maps
  Chains,   // many call chains with many calls, few list entries: for graph building
};

// xoshiro256** seeded through splitmix64: fast, and the same sequence on every platform.
class Rng {
 public:
  explicit Rng(std::uint64_t seed);
  std::uint64_t next();
  // A number in [0, n); requires n > 0. The modulo bias is negligible for the small n used.
  std::uint64_t below(std::uint64_t n) { return next() % n; }
  // A number in [lo, hi]; requires lo <= hi.
  std::uint64_t range(std::uint64_t lo, std::uint64_t hi) { return lo + below(hi - lo + 1); }
  // True with probability per_mille / 1000.
  bool chance(std::uint64_t per_mille) { return below(1000) < per_mille; }

 private:
  std::uint64_t s_[4];
};

// The processes of one generated system: names and the methods each offers, and which
// processes each one calls. Fixed by the seed.
struct GenProcess {
  std::string name;
  std::vector<std::string> methods;
  std::vector<std::size_t> callees;  // indices into the process list
};

class StatsGenerator {
 public:
  StatsGenerator(std::uint64_t seed, Profile profile);

  // The top-level record with an empty `stats` map; its other fields scale with `operations`.
  StatsRecJson header(std::uint64_t operations) const;
  // The next operation and its key. Keys are unique within one generator.
  std::pair<std::string, OperationStatsJson> next_operation();
  // How many operations make a compact JSON file of about `size` bytes (at least 0), estimated
  // from a sample of operations drawn from a separate random stream.
  std::uint64_t operations_for_size(std::uint64_t size) const;

  const std::vector<GenProcess>& processes() const { return processes_; }

 private:
  std::pair<std::string, OperationStatsJson> make_operation(Rng& rng, std::uint64_t index) const;

  std::uint64_t seed_;
  Profile profile_;
  std::vector<GenProcess> processes_;
  std::vector<std::size_t> entries_;  // processes that receive the operations' first calls
  Rng rng_;
  std::uint64_t next_index_ = 0;
};

struct GenOptions {
  std::uint64_t seed = 1;
  // Target size in bytes of the compact JSON form; the other encodings hold the same records
  // (pretty JSON is larger, the binary form smaller).
  std::uint64_t size = 100'000'000;
  // When set, the exact number of operations; `size` is then ignored.
  std::optional<std::uint64_t> operations;
  Format format = Format::Json;
  Profile profile = Profile::Typical;
  // Per mille of the operations after the first that take the key of an earlier one (a later
  // operation replaces an earlier one with its key). The records are otherwise the same.
  std::uint64_t repeat_keys = 0;
};

struct GenSummary {
  bool ok = false;  // false when a write to the sink failed
  std::uint64_t operations = 0;
  std::uint64_t call_chains = 0;
  std::uint64_t bytes = 0;
};

// Generates one statistics file into `out`. JSON files end with a line feed.
GenSummary write_stats_file(const GenOptions& options, Sink& out);

// Parses a size such as "1500", "100K", "100M", "1G" (powers of 1000) or "64Ki", "1Mi", "1Gi"
// (powers of 1024). Returns nothing for anything else or on overflow.
std::optional<std::uint64_t> parse_size(std::string_view text);

}  // namespace tracemill::bench
