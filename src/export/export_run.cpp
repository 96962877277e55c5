#include "export/export_run.h"

#include <algorithm>
#include <optional>
#include <string>
#include <variant>

#include "base/build_config.h"
#include "base/os_error.h"
#include "base/utf8.h"
#include "export/dependency_graph.h"
#include "export/html_report.h"
#include "stats/file/load_error.h"
#include "stats/file/operation_stats_json.h"
#include "text_form/debug.h"
#include "text_form/jaro.h"

namespace tracemill {
namespace {

constexpr std::string_view kProgram = "tracemill-export: ";

// The problem with the name of `input`, when its extension selects no decoder.
std::optional<std::string> extension_problem(std::string_view input) {
  std::optional<std::string_view> extension = file_extension(input);
  if (!extension) return "no file-name extension (expected .json or .bincode)";
  if (*extension == "json" || *extension == "bincode") return std::nullopt;
  // Appended piece by piece: GCC 12 warns wrongly (-Wrestrict) about "." + string at -O3.
  std::string dotted = ".";
  dotted += *extension;
  return "unknown extension " + message_quoted(dotted) + " (expected .json or .bincode)";
}

int fail(Sink& err, std::string_view input, const std::string& text) {
  err.write(std::string(kProgram) + message_name(input) + text + "\n");
  return kExportFailed;
}

// The graph of some inputs and the counts of their records, summed.
struct InputGraph {
  DependencyGraph graph;
  RecordCounts counts;
};

// The graph of one input, or why there is none (written to `err`).
std::optional<InputGraph> input_graph(std::string_view input, bool exact, Sink& err) {
  // StatsFile::open ends the process on a name it has no decoder for: ask first.
  if (std::optional<std::string> problem = extension_problem(input)) {
    fail(err, input, ": " + *problem);
    return std::nullopt;
  }
  Result<StatsFile, LoadError> file = StatsFile::open(std::string(input));
  if (!file) {
    fail(err, input, load_error_report(file.error()));
    return std::nullopt;
  }
  StreamedDependencies run =
      stream_dependencies(file.value(), ChainFold::kDefaultLogAllowance,
                          exact ? Latency::Mode::kExact : Latency::Mode::kSketch);
  if (const LoadError* error = std::get_if<LoadError>(&run.end)) {
    fail(err, input, load_error_report(*error));
    return std::nullopt;
  }
  if (std::holds_alternative<CountOutOfRange>(run.end)) {
    fail(err, input, ": a chain count exceeds 2147483647");
    return std::nullopt;
  }
  if (std::holds_alternative<SumOutOfRange>(run.end)) {
    fail(err, input, ": a sum exceeds " + std::to_string(kMaxDependencySum));
    return std::nullopt;
  }
  if (const std::uint64_t n = run.contradicting_chains; n != 0) {
    err.write(std::string(kProgram) + "warning: " + message_name(input) + ": " + std::to_string(n) +
              (n == 1 ? " chain contradicts its call directions"
                      : " chains contradict their call directions") +
              "; run tracemill on the file to see the reports\n");
  }
  return InputGraph{std::move(std::get<DependencyGraph>(run.end)), run.counts};
}

// The names of `graph` most like `name` (Jaro similarity, ties in name order), at most three.
std::string closest_names(const DependencyGraph& graph, std::string_view name) {
  const std::u32string wanted = decode_utf8(name).value_or(std::u32string());
  std::vector<std::pair<double, std::size_t>> ranked;
  for (std::size_t i = 0; i < graph.nodes.size(); ++i) {
    const std::u32string known = decode_utf8(graph.nodes[i].name).value_or(std::u32string());
    ranked.emplace_back(-jaro_similarity(wanted, known), i);
  }
  const std::size_t shown = std::min<std::size_t>(3, ranked.size());
  std::partial_sort(ranked.begin(), ranked.begin() + static_cast<std::ptrdiff_t>(shown),
                    ranked.end());
  std::string text;
  for (std::size_t i = 0; i < shown; ++i) {
    if (i != 0) text += ", ";
    text += message_quoted(graph.nodes[ranked[i].second].name);
  }
  return text;
}

// The summed graph of `inputs`, or none (the reason written to `err`).
std::optional<InputGraph> summed_graph(const std::vector<std::string>& inputs, bool exact,
                                       Sink& err) {
  InputGraph sum;
  for (const std::string& input : inputs) {
    std::optional<InputGraph> one = input_graph(input, exact, err);
    if (!one) return std::nullopt;
    sum.counts.traces += one->counts.traces;
    sum.counts.operations += one->counts.operations;
    sum.counts.chains += one->counts.chains;
    if (sum.graph.nodes.empty()) {
      sum.graph = std::move(one->graph);  // a graph without nodes has no edges
    } else if (!add_graph(sum.graph, one->graph)) {
      fail(err, input, ": a sum exceeds " + std::to_string(kMaxDependencySum));
      return std::nullopt;
    }
  }
  return sum;
}

}  // namespace

int run_export(const ExportOptions& options, FdSink& out, Sink& err) {
  std::optional<InputGraph> inputs = summed_graph(options.inputs, options.exact, err);
  if (!inputs) return kExportFailed;
  std::optional<DependencyGraph> graph = std::move(inputs->graph);
  std::optional<DependencyGraph> baseline;
  if (!options.baseline.empty()) {
    std::optional<InputGraph> old = summed_graph(options.baseline, options.exact, err);
    if (!old) return kExportFailed;
    baseline = std::move(old->graph);
  }
  if (options.focus) {
    std::optional<DependencyGraph> part = neighbourhood(*graph, *options.focus, options.depth);
    if (!part) {
      err.write(
          std::string(kProgram) + "no service " + message_quoted(*options.focus) + " in the graph" +
          (graph->nodes.empty() ? std::string(" (it has none)")
                                : " (closest: " + closest_names(*graph, *options.focus) + ")") +
          "\n");
      return kExportFailed;
    }
    graph = std::move(part);
    // The baseline's neighbourhood of the same service; none when it had no such service.
    if (baseline) {
      baseline =
          neighbourhood(*baseline, *options.focus, options.depth).value_or(DependencyGraph{});
    }
  }
  std::optional<GraphChanges> changes;
  if (baseline) changes = compare_graphs(*baseline, *graph, options.baseline);
  bool written = false;
  if (options.format == ExportFormat::Html) {
    ReportHeader header;
    header.inputs = options.inputs;
    header.baseline_inputs = options.baseline;
    header.version = build::kVersion;
    header.traces = inputs->counts.traces;
    header.operations = inputs->counts.operations;
    header.chains = inputs->counts.chains;
    written = write_html(out, *graph, header, changes ? &*changes : nullptr);
  } else {
    written = write_graph(out, *graph, options.format, changes ? &*changes : nullptr);
  }
  if (!(written && out.flush())) {
    err.write(std::string(kProgram) + "write error: " + os_error_message(out.error()) + "\n");
    return kExportFailed;
  }
  return kExportOk;
}

}  // namespace tracemill
