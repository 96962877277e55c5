// Condensing spans into a statistics record: spans are fed one by one, from any number of
// inputs and in any order; finish() groups them into traces and chains and fills every field
// of the record. The record is the same whatever the order of the spans and of the inputs.
#pragma once

#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "base/keyed_hash.h"
#include "base/sink.h"
#include "stats/file/operation_stats_json.h"
#include "traces/trace_reader.h"

namespace tracemill {

// What condensing left out or guessed, counted for the warnings of the program.
struct CondenseCounts {
  std::uint64_t spans = 0;             // spans fed, fragments included
  std::uint64_t fragments_merged = 0;  // fragments merged into a span fed before or after
  std::uint64_t without_start = 0;     // spans (after merging) without a start time
  std::uint64_t cycles_broken = 0;     // parent links broken to end a cycle
  std::uint64_t chains_cut = 0;        // spans that began a chain of their own: too deep
  bool operator==(const CondenseCounts&) const = default;
};

class Condenser final : public SpanConsumer {
 public:
  // A chain holds at most this many calls. A span deeper below its root begins a chain of its
  // own, as if the link to its parent had been lost, so that the chains of a trace hold at most
  // this many calls per span whatever its depth.
  static constexpr std::uint32_t kMaxChainCalls = 256;

  // virtual_peers: a leaf client or producer span that names a peer other than its own service
  // gets one more call at the end of its chain, the peer receiving the span's method.
  explicit Condenser(bool virtual_peers = true);
  ~Condenser() override;
  Condenser(const Condenser&) = delete;
  Condenser& operator=(const Condenser&) = delete;

  void add(const Span& span) override;
  // Ends one input: the record's num_files counts them.
  void end_input() { ++inputs_; }
  // The record of every span fed. The condenser is empty afterwards.
  StatsRecJson finish();
  // Writes the record finish() would return into `out`, as write_record writes it, building
  // the calls of one chain at a time: memory for the chains stays that of their tree, which
  // is one call per distinct chain, however long the chains. Returns false when a write to
  // `out` failed. The condenser is empty afterwards.
  bool finish_into(Sink& out, Encoding encoding);
  // What finish() left out or guessed; complete after finish().
  const CondenseCounts& counts() const { return counts_; }

 private:
  struct Impl;
  // Condenses every trace into the figures the record is made of.
  void condense_traces();
  void reset();

  std::unique_ptr<Impl> impl_;
  std::int32_t inputs_ = 0;
  CondenseCounts counts_;
};

}  // namespace tracemill
