// tracemill: reads one statistics file, repairs its call chains, folds them into a process
// graph and prints the graph.
#include <filesystem>
#include <string>

#include "base/fatal.h"
#include "base/sink.h"
#include "main/command_line.h"
#include "stats/file/operation_stats_json.h"
#include "text_form/debug.h"

int main(int argc, char** argv) {
  using namespace tracemill;
  prepare_process();
  CommandLine command_line = read_command_line(argc, argv);
  std::filesystem::path input_path(command_line.input);
  auto record = StatsRecJson::read_file(input_path);
  if (!record) fatal("Failed to read JSON-file: " + compact_string(record.error()));
  fatal("building the process graph is not built yet");
}
