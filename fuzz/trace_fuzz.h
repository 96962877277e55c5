// One trace format through the reader and the condenser, on any bytes. The bytes are the file
// as it is (so real trace files serve as seeds unchanged); a hash of them picks the block size
// the file is read in (1 to 64 bytes) and, for one input in four, reading without a forced
// format. The read must give the same spans and error as a read from one buffer, every span must
// be in its normalised form, and the record of the spans read (whether or not an error ended the
// reading) must be consistent in itself, come back equal from both writers, and come out the
// same when the spans are fed in reverse order. Any fault is a trap.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/byte_source.h"
#include "base/sink.h"
#include "stats/file/operation_stats_json.h"
#include "stats/file/record_writer.h"
#include "traces/condenser.h"
#include "traces/trace_reader.h"

namespace tracemill::trace_fuzz {

// Feeds a condenser and keeps a copy of every span.
struct Collect final : SpanConsumer {
  explicit Collect(Condenser& to) : condenser(to) {}
  void add(const Span& span) override {
    condenser.add(span);
    spans.push_back(span);
  }
  Condenser& condenser;
  std::vector<Span> spans;
};

inline void require(bool holds) {
  if (!holds) __builtin_trap();
}

inline bool lower_hex(std::string_view id) {
  return std::all_of(id.begin(), id.end(),
                     [](char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'); });
}

inline void check_span(const Span& s) {
  require(!s.trace_id.empty() && lower_hex(s.trace_id));
  require(!s.span_id.empty() && lower_hex(s.span_id));
  require(lower_hex(s.parent_id));
  require(!s.service.empty());
  require(s.http_status < 400 || s.failed);
}

// What must hold for the record of any spans.
inline void check_record(const StatsRecJson& rec, const CondenseCounts& counts) {
  require(counts.fragments_merged <= counts.spans);
  const std::uint64_t kept = counts.spans - counts.fragments_merged;
  const std::size_t traces = rec.trace_id.size();
  require(rec.root_call.size() == traces && rec.num_spans.size() == traces &&
          rec.start_dt.size() == traces && rec.end_dt.size() == traces &&
          rec.duration_micros.size() == traces && rec.time_to_respond_micros.size() == traces);
  require(std::adjacent_find(rec.trace_id.begin(), rec.trace_id.end(),
                             [](const std::string& a, const std::string& b) { return a >= b; }) ==
          rec.trace_id.end());
  std::uint64_t spans = 0;
  for (std::size_t t = 0; t < traces; ++t) {
    require(rec.num_spans[t] > 0);
    // A span may last a negative time, so a trace may end before it starts; a duration beyond
    // the i64 range is held at its end.
    std::int64_t duration = 0;
    if (__builtin_sub_overflow(rec.end_dt[t], rec.start_dt[t], &duration)) {
      duration = rec.end_dt[t] > rec.start_dt[t] ? std::numeric_limits<std::int64_t>::max()
                                                 : std::numeric_limits<std::int64_t>::min() + 1;
    }
    require(rec.duration_micros[t] == duration);
    spans += rec.num_spans[t];
  }
  require(spans == kept);
  require(rec.num_incomplete_traces <= traces);
  require(counts.without_start <= kept);
  require(rec.num_endpoints == rec.stats.size());

  std::uint64_t in_pairs = 0, in_methods = 0, by_direction = 0, roots = 0, pairs = 0;
  std::uint64_t unrooted = 0, listed = 0, method_listed = 0;
  for (const auto& [op, stats] : rec.stats) {
    roots += stats.num_traces;
    by_direction += stats.num_received_calls + stats.num_outbound_calls + stats.num_unknown_calls;
    require(!stats.call_chain.empty());
    for (const auto& [key, value] : stats.call_chain) {
      ++pairs;
      in_pairs += value.count;
      require(value.count > 0);
      require(value.depth == key.call_chain.size());
      require(value.depth >= 1 && value.depth <= Condenser::kMaxChainCalls);
      // Every chain of an operation begins with the operation's own call.
      require(key.call_chain[0].process + "/" + key.call_chain[0].method == op);
      require(value.duration_micros.size() == value.start_dt_micros.size());
      require(value.start_dt_micros.size() <= value.count);
      require(std::is_sorted(value.start_dt_micros.begin(), value.start_dt_micros.end()));
      listed += value.start_dt_micros.size();
      if (!value.rooted) ++unrooted;
    }
    for (const auto& [name, method] : stats.method) {
      in_methods += method.count;
      require(method.count > 0 && method.num_traces > 0 && method.num_traces <= method.count);
      require(method.duration_micros.size() == method.start_dt_micros.size());
      require(std::is_sorted(method.start_dt_micros.begin(), method.start_dt_micros.end()));
      method_listed += method.start_dt_micros.size();
    }
  }
  require(in_pairs == kept && in_methods == kept && by_direction == kept);
  // Each trace has a root; each cut begins one more chain.
  require(roots >= traces && roots <= kept && roots >= counts.chains_cut);
  require(listed == kept - counts.without_start && method_listed == listed);
  require(pairs == rec.num_call_chains);
  require(unrooted == rec.init_num_unrooted_cc);
}

inline void check_written(const StatsRecJson& rec) {
  for (Encoding encoding : {Encoding::Json, Encoding::Bincode}) {
    StringSink file;
    require(write_record(file, rec, encoding));
    auto again = StatsFile(encoding, ByteSource::from_memory(file.take())).read();
    require(again && again.value() == rec);
  }
}

inline int fuzz_traces(const std::uint8_t* data, std::size_t size, TraceFormat format) {
  std::uint32_t hash = 2166136261u;  // FNV-1a
  for (std::size_t i = 0; i < size; ++i) hash = (hash ^ data[i]) * 16777619u;
  const std::size_t block = 1 + hash % 64;
  const std::optional<TraceFormat> forced =
      (hash >> 8) % 4 == 0 ? std::nullopt : std::optional(format);
  const bool peers = (hash >> 10) % 8 != 0;
  const std::string bytes(reinterpret_cast<const char*>(data), size);

  Condenser condenser(peers);
  Collect read(condenser);
  ByteSource source = ByteSource::from_memory(bytes, block);
  const std::optional<JsonError> error = read_traces(source, forced, read);
  condenser.end_input();

  // The block size must not matter.
  {
    Condenser unused;
    Collect whole(unused);
    ByteSource all = ByteSource::from_memory(bytes);
    require(read_traces(all, forced, whole) == error);
    require(whole.spans == read.spans);
  }
  for (const Span& s : read.spans) check_span(s);

  const StatsRecJson rec = condenser.finish();
  const CondenseCounts counts = condenser.counts();
  require(counts.spans == read.spans.size());
  require(rec.num_files == 1);
  check_record(rec, counts);
  check_written(rec);

  Condenser reversed(peers);
  for (auto it = read.spans.rbegin(); it != read.spans.rend(); ++it) reversed.add(*it);
  reversed.end_input();
  require(reversed.finish() == rec);
  require(reversed.counts() == counts);
  return 0;
}

}  // namespace tracemill::trace_fuzz
