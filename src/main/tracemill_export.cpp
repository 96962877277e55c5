// tracemill-export: the dependency graph of a statistics file (who calls whom, how often) as
// Graphviz dot, Mermaid or JSON.
#include <cstdlib>

#include "base/fatal.h"
#include "base/sink.h"
#include "export/export_run.h"
#include "main/export_command_line.h"

int main(int argc, char** argv) {
  using namespace tracemill;
  prepare_process();
  ExportCommandLine command_line = read_export_command_line(argc, argv);
  FdSink err(2, FdSink::Buffering::None);
  const int status = run_export(command_line.input, command_line.format, stdout_sink(), err);
  // The system takes back the graph's memory at once when the process ends.
  std::exit(status);
}
