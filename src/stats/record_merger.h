// Merging statistics records: the records of disjoint sets of traces in, in any order, the
// record that condensing all those traces together gives out. Each record handed to add() is
// taken apart into the merged state at once: the durations and starts of its pairs and methods
// packed (a few bytes an entry), its per-trace texts back to back, so memory stays below that
// of the merged record; finish() and finish_into() join the lists.
//
// Operations merge by key; in each, `method` entries merge by key and `call_chain` pairs by
// (key, rooted). Counts add up; the durations and starts of a pair or a method join as sorted
// (start, duration) pairs, which is how the condenser orders them; the per-trace lists join in
// trace id order. What cannot simply add (a trace id in two records, differing versions,
// repaired records) is counted in MergeCounts for the warnings of the program.
#pragma once

#include <cstdint>
#include <memory>

#include "base/sink.h"
#include "stats/file/operation_stats_json.h"

namespace tracemill {

struct MergeCounts {
  std::uint64_t records = 0;           // records added
  std::uint64_t shared_trace_ids = 0;  // entries whose trace id an earlier entry has
  std::uint64_t other_versions = 0;    // records whose version is not the first record's
  std::uint64_t unsorted_lists = 0;    // duration/start lists not in (start, duration) order
  std::uint64_t repaired_records = 0;  // records with num_fixes other than 0
  bool operator==(const MergeCounts&) const = default;
};

class RecordMerger {
 public:
  RecordMerger();
  ~RecordMerger();
  RecordMerger(const RecordMerger&) = delete;
  RecordMerger& operator=(const RecordMerger&) = delete;

  // Merges `record` in. False, with nothing merged, when its per-trace lists (trace_id,
  // root_call, num_spans, start_dt, end_dt, duration_micros, time_to_respond_micros) or the two
  // lists of a pair or a method differ in length: such a record has no merge.
  [[nodiscard]] bool add(StatsRecJson&& record);
  // A record taken apart for add(): the part of adding that needs nothing of the merger (its
  // lists packed, its texts gathered), which may run on another thread meanwhile. Each is
  // added once: adding one again, or one moved from, ends the process with a fatal report.
  class Prepared {
   public:
    explicit Prepared(StatsRecJson&& record);
    Prepared(Prepared&&) noexcept;
    Prepared& operator=(Prepared&&) noexcept;
    ~Prepared();

   private:
    friend class RecordMerger;
    struct Parts;
    std::unique_ptr<Parts> parts_;
  };
  [[nodiscard]] bool add(Prepared&& record);
  // The merged record. The merger is empty afterwards; counts() stays.
  StatsRecJson finish();
  // Writes the record finish() would return into `out`, as write_record writes it, merging the
  // lists of one operation at a time as it is written and dropping them after: memory goes down
  // while the file is written instead of holding the merged record beside the merged state.
  // Returns false when a write to `out` failed. The merger is empty afterwards.
  bool finish_into(Sink& out, Encoding encoding);
  const MergeCounts& counts() const { return counts_; }

 private:
  struct Impl;
  // Everything but the per-trace lists and `stats`, whose entries are counted.
  StatsRecJson top_record();
  std::unique_ptr<Impl> impl_;
  MergeCounts counts_;
};

}  // namespace tracemill
