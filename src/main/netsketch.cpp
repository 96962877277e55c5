// tracemill: reads one statistics file, repairs its call chains, folds them into a process
// graph and prints the graph.
#include <cstdlib>
#include <filesystem>
#include <string>
#include <string_view>

#include "base/fatal.h"
#include "base/os_error.h"
#include "base/sink.h"
#include "graph/build_graph.h"
#include "graph/process_node.h"
#include "graph/write_graph.h"
#include "main/command_line.h"
#include "stats/file/operation_stats_json.h"
#include "text_form/debug.h"

namespace tracemill {
namespace {

[[noreturn]] void read_failed(const LoadError& error) {
  fatal("Failed to read JSON-file: " + compact_string(error));
}

[[noreturn]] void printing_failed(const FdSink& out) {
  fatal("failed printing to stdout: " + os_error_display(out.error()));
}

// Standard output as graph building sees it: a failed write of the repair diagnostics ends the
// run right there.
class DiagnosticsSink final : public Sink {
 public:
  explicit DiagnosticsSink(FdSink& out) : out_(out) {}
  bool write(std::string_view text) override {
    if (!out_.write(text)) printing_failed(out_);
    return true;
  }

 private:
  FdSink& out_;
};

}  // namespace
}  // namespace tracemill

int main(int argc, char** argv) {
  using namespace tracemill;
  prepare_process();
  CommandLine command_line = read_command_line(argc, argv);
  std::filesystem::path input_path(command_line.input);
  auto file = StatsFile::open(input_path);
  if (!file) read_failed(file.error());

  // Repair diagnostics and the graph share standard output; a failed write (a full device, a
  // reader that went away) stops all further output and ends the run.
  FdSink& out = stdout_sink();
  DiagnosticsSink diagnostics(out);
  StreamedGraph built = stream_graph(file.value(), diagnostics);
  if (const LoadError* error = std::get_if<LoadError>(&built)) read_failed(*error);
  if (std::holds_alternative<CountOutOfRange>(built)) {
    // The diagnostics before the count are complete lines: a line-buffered standard output
    // would have failed on them before the count was seen.
    out.flush_lines();
    if (out.error() != 0) printing_failed(out);
    report_count_out_of_range();
  }
  if (!(write_graph(out, std::get<ProcessNodes>(built)) && out.flush())) printing_failed(out);
  // The system takes back the graph's memory at once when the process ends.
  std::exit(0);
}
