// The streaming run against the whole-record path: both on the same bytes must end the same
// way, with the same diagnostics and the same graph. Shared by the equivalence test and the
// fuzz target; header-only, no test framework.
#pragma once

#include <algorithm>
#include <cstddef>
#include <string>
#include <utility>
#include <variant>
#include <vector>

#include "base/byte_source.h"
#include "base/sink.h"
#include "export/dependency_graph.h"
#include "graph/build_graph.h"
#include "graph/process_node.h"
#include "stats/file/operation_stats_json.h"
#include "text_form/debug.h"

namespace tracemill::test_util {

// The repair reports of a run as its blocks (each starts with an empty line), sorted.
inline std::vector<std::string> sorted_blocks(const std::string& text) {
  std::vector<std::string> blocks;
  for (std::size_t at = 0; at < text.size();) {
    std::size_t next = std::min(text.find("\nFailed on idx = ", at + 1), text.size());
    blocks.push_back(text.substr(at, next - at));
    at = next;
  }
  std::sort(blocks.begin(), blocks.end());
  return blocks;
}

// How one path ended: the graph with the reports written before it, the count out of range
// with the reports written before it, or the load error (its debug form, as the run shows it).
struct PathRun {
  std::variant<ProcessNodes, CountOutOfRange, std::string> end;
  std::string diagnostics;
};

// The whole-record path: the record, then the graph from it. `record` receives the record when
// the file decodes.
inline PathRun whole_record_run(const std::string& bytes, Encoding encoding, std::size_t block,
                                StatsRecJson* record = nullptr) {
  Result<StatsRecJson, LoadError> decoded =
      StatsFile(encoding, ByteSource::from_memory(bytes, block, 0, true)).read();
  if (!decoded) return {compact_string(decoded.error()), ""};
  StringSink diagnostics;
  Result<ProcessNodes, CountOutOfRange> graph = fold_record(decoded.value(), diagnostics);
  if (record != nullptr) *record = std::move(decoded).value();
  if (!graph) return {CountOutOfRange{}, diagnostics.take()};
  return {std::move(graph).value(), diagnostics.take()};
}

inline PathRun streamed_run(const std::string& bytes, Encoding encoding, std::size_t block,
                            bool rereadable, std::size_t log_allowance) {
  StatsFile file(encoding, ByteSource::from_memory(bytes, block, 0, rereadable));
  StringSink diagnostics;
  StreamedGraph built = stream_graph(file, diagnostics, log_allowance);
  if (auto* graph = std::get_if<ProcessNodes>(&built)) {
    return {std::move(*graph), diagnostics.take()};
  } else if (auto* error = std::get_if<LoadError>(&built)) {
    return {compact_string(*error), diagnostics.take()};
  }
  return {CountOutOfRange{}, diagnostics.take()};
}

// The reports fold_record writes when `operation` comes first: those of its chains before the
// first count out of range. Empty when the operation has no such count.
inline std::optional<std::string> reports_before_count_out_of_range(
    const OperationStatsJson& operation) {
  StatsRecJson alone;
  alone.stats.emplace("", operation);
  StringSink diagnostics;
  if (fold_record(alone, diagnostics)) return std::nullopt;
  return diagnostics.take();
}

// Runs both paths on `bytes` and describes the first difference; empty when they agree.
//  - A file that does not decode: the same error, and no report written by the streaming run.
//  - A count out of range: both end so; the streaming run writes the reports that the
//    whole-record path writes when the operation it ends on comes first (any operation may).
//  - Otherwise the same reports (as a multiset of blocks) and the same graph.
inline std::string path_difference(const std::string& bytes, Encoding encoding, std::size_t block,
                                   bool rereadable, std::size_t log_allowance) {
  StatsRecJson record;
  PathRun whole = whole_record_run(bytes, encoding, block, &record);
  PathRun streamed = streamed_run(bytes, encoding, block, rereadable, log_allowance);
  if (whole.end.index() != streamed.end.index()) {
    static const char* const kEnds[] = {"a graph", "a count out of range", "a load error"};
    return std::string("the whole-record path ends in ") + kEnds[whole.end.index()] +
           ", the streaming run in " + kEnds[streamed.end.index()];
  }
  if (auto* error = std::get_if<std::string>(&whole.end)) {
    if (*error != std::get<std::string>(streamed.end)) {
      return "errors differ: " + *error + " | " + std::get<std::string>(streamed.end);
    }
    if (!streamed.diagnostics.empty()) return "reports written for a file that did not decode";
    return "";
  }
  if (std::holds_alternative<CountOutOfRange>(whole.end)) {
    for (const auto& [key, operation] : record.stats) {
      std::optional<std::string> reports = reports_before_count_out_of_range(operation);
      if (reports && *reports == streamed.diagnostics) return "";
    }
    return "the reports before the count out of range match no operation that holds one:\n" +
           streamed.diagnostics;
  }
  if (sorted_blocks(whole.diagnostics) != sorted_blocks(streamed.diagnostics)) {
    return "reports differ:\n" + whole.diagnostics + "\n---\n" + streamed.diagnostics;
  }
  const ProcessNodes& a = std::get<ProcessNodes>(whole.end);
  const ProcessNodes& b = std::get<ProcessNodes>(streamed.end);
  // Printed, the same graph gives the same lines in some order, so texts of the same length.
  StringSink text_a, text_b;
  Formatter pretty_a(text_a, Form::Pretty), pretty_b(text_b, Form::Pretty);
  if (!(write_debug(pretty_a, a) && write_debug(pretty_b, b) && a == b &&
        text_a.text().size() == text_b.text().size())) {
    return "graphs differ:\n" + text_a.text() + "\n---\n" + text_b.text();
  }
  // The dependency graph with its health, streamed the same way, against the record's.
  StatsFile file(encoding, ByteSource::from_memory(bytes, block, 0, rereadable));
  // Its latency figures on a second thread from the first duration on, the record's on this one.
  StreamedDependencies streamed_deps =
      stream_dependencies(file, log_allowance, Latency::Mode::kSketch, 0);
  std::variant<DependencyGraph, CountOutOfRange, SumOutOfRange> whole_deps =
      record_dependencies(record);
  const auto* graph = std::get_if<DependencyGraph>(&streamed_deps.end);
  if (std::holds_alternative<SumOutOfRange>(whole_deps)) {
    if (!std::holds_alternative<SumOutOfRange>(streamed_deps.end)) {
      return "the record's dependency sums leave the range, the streamed ones do not";
    }
  } else if (graph == nullptr || *graph != std::get<DependencyGraph>(whole_deps)) {
    return "dependency graphs differ";
  }
  return "";
}

}  // namespace tracemill::test_util
