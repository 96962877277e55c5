// Builds the process graph: from a statistics record in memory (the reference), or from a
// statistics file while it is decoded (the run's way).
#pragma once

#include <cstddef>
#include <variant>

#include "base/result.h"
#include "base/sink.h"
#include "graph/chain_fold.h"
#include "graph/process_node.h"
#include "stats/file/load_error.h"
#include "stats/file/operation_stats_json.h"

namespace tracemill {

// Graph building ended without a graph: a chain count beyond the signed 32-bit range.
struct CountOutOfRange {
  bool operator==(const CountOutOfRange&) const = default;
};

// Ends the run with the fatal report of a chain count beyond the signed 32-bit range.
[[noreturn]] void report_count_out_of_range();

// Visits every operation of `record.stats` and every (key, value) pair of its call_chain list
// in list order: a count above the signed 32-bit range ends the building (checked before
// anything else happens to the pair, empty chains included); the chain is repaired by
// fix_callchain, which writes its diagnostics to `diagnostics`, and added with its count. Only
// reads `record`.
Result<ProcessNodes, CountOutOfRange> fold_record(const StatsRecJson& record, Sink& diagnostics);

// fold_record, ending the run with the fatal report when a count is out of range.
ProcessNodes build_graph(const StatsRecJson& record, Sink& diagnostics);

// The graph of the file, the count that ended its building, or the error that stopped
// decoding it.
using StreamedGraph = std::variant<ProcessNodes, CountOutOfRange, LoadError>;

// Decodes `file` once, folding every chain into the graph as soon as it is decoded, with the
// graph and diagnostics that decoding the whole record and fold_record would give (in some
// order of the operations; see ChainFold). Nothing is written to `diagnostics` unless the whole
// file decodes. `log_allowance` bounds the memory of waiting diagnostics (ChainFold).
StreamedGraph stream_graph(StatsFile& file, Sink& diagnostics,
                           std::size_t log_allowance = ChainFold::kDefaultLogAllowance);

}  // namespace tracemill
