// One run of tracemill-export: the dependency graph of a statistics file on standard output,
// problems as one line each on standard error, in the way of Unix tools.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "base/sink.h"
#include "export/graph_writers.h"

namespace tracemill {

// Exit statuses of tracemill-export.
inline constexpr int kExportOk = 0;
inline constexpr int kExportFailed = 1;  // the input could not be used, or the output failed
inline constexpr int kExportUsage = 2;   // the command line was rejected

// What to export: the graph of all the inputs, or the neighbourhood of one service in it,
// alone or against a baseline.
struct ExportOptions {
  ExportFormat format = ExportFormat::Dot;
  std::vector<std::string> inputs = {"input.json"};  // valid UTF-8, at least one
  std::optional<std::string> focus;                  // the service whose neighbourhood is kept
  std::uint32_t depth = 1;  // how many calls from it, upstream and downstream
  bool exact = false;       // latency figures keep every duration
  // The inputs of an earlier period to compare with, summed like the inputs; none: no baseline.
  std::vector<std::string> baseline;
  bool operator==(const ExportOptions&) const = default;
};

// Checks the extension of each input, decodes the files one by one, sums their graphs, keeps
// the focus's neighbourhood, writes the graph in the format to `out` (flushed at the end) and
// returns the exit status. The first input that cannot be used ends the run before anything
// is written. Errors and the warning about chains that contradict their call directions (one
// per file) go to `err`, each as one line:
//   tracemill-export: FILE:LINE:COLUMN: MESSAGE      a JSON decode error
//   tracemill-export: FILE: byte OFFSET: MESSAGE     a binary decode error
//   tracemill-export: FILE: MESSAGE                  any other problem with the input
//   tracemill-export: write error: MESSAGE           standard output failed
//   tracemill-export: no service 'NAME' in the graph (closest: 'A', 'B')
int run_export(const ExportOptions& options, FdSink& out, Sink& err);

}  // namespace tracemill
