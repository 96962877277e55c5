// One run of tracemill-condense: trace files in, one statistics file out, problems as one line
// each on standard error, in the way of Unix tools.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "base/sink.h"
#include "stats/file/operation_stats_json.h"
#include "traces/trace_format.h"
#include "traces/trace_shard.h"

namespace tracemill {

// Exit statuses of tracemill-condense.
inline constexpr int kCondenseOk = 0;
inline constexpr int kCondenseFailed = 1;  // an input could not be used, or the output failed
inline constexpr int kCondenseUsage = 2;   // the command line was rejected

struct CondenseOptions {
  std::vector<std::string> inputs;          // "-" is standard input; valid UTF-8
  std::string output;                       // "" is standard output
  Encoding encoding = Encoding::Json;       // of the output
  std::optional<TraceFormat> input_format;  // nothing: recognised per input from its content
  bool virtual_peers = true;
  std::optional<TraceShard> shard;  // nothing: every trace
  bool merge = false;               // the inputs are statistics files (*.json, *.bincode) to merge
};

// Reads every input, condenses its spans into a statistics record and writes it, in
// `options.encoding`, to the output file (through a temporary file beside it, renamed over it
// at the end) or to `out`. Warnings and errors go to `err` as one line each. Returns the exit
// status.
// With `options.shard`, only the spans of the traces in that share are condensed; the others
// are dropped as they are read. With `options.merge`, the inputs are statistics files, merged
// (RecordMerger) one after another into the record written.
int run_condense(const CondenseOptions& options, FdSink& out, Sink& err);

}  // namespace tracemill
