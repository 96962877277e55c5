// tracemill-export: the dependency graph of a statistics file (who calls whom, how often) as
// Graphviz dot, Mermaid or JSON.
#include <cerrno>
#include <cstdlib>

#include "base/fatal.h"
#include "base/os_error.h"
#include "base/sink.h"
#include "export/export_run.h"
#include "main/export_command_line.h"

int main(int argc, char** argv) {
  using namespace tracemill;
  const unsigned closed = prepare_process();
  ExportCommandLine command_line = read_export_command_line(argc, argv);
  FdSink err(2, FdSink::Buffering::None);
  // A standard output closed at start was reopened on /dev/null: the graph would be lost.
  if ((closed & 2u) != 0) {
    err.write("tracemill-export: write error: " + os_error_message(EBADF) + "\n");
    std::exit(kExportFailed);
  }
  const int status = run_export(command_line, stdout_sink(), err);
  // The system takes back the graph's memory at once when the process ends.
  std::exit(status);
}
