// tracemill-condense: trace files (OTLP, Jaeger and Zipkin v2 JSON, gzip-compressed or not)
// condensed into one statistics file for tracemill and tracemill-export.
#include <cerrno>
#include <cstdlib>

#include "base/fatal.h"
#include "base/os_error.h"
#include "base/sink.h"
#include "main/condense_command_line.h"
#include "traces/condense_run.h"

int main(int argc, char** argv) {
  using namespace tracemill;
  const unsigned closed = prepare_process();
  const CondenseOptions options = read_condense_command_line(argc, argv);
  FdSink err(2, FdSink::Buffering::None);
  // A standard output closed at start was reopened on /dev/null: the record would be lost.
  if ((closed & 2u) != 0 && (options.output.empty() || options.output == "-")) {
    err.write("tracemill-condense: write error: " + os_error_message(EBADF) + "\n");
    std::exit(kCondenseFailed);
  }
  std::exit(run_condense(options, stdout_sink(), err));
}
