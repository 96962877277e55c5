// tracemill-condense: trace files (OTLP, Jaeger and Zipkin v2 JSON, gzip-compressed or not)
// condensed into one statistics file for tracemill and tracemill-export.
#include <cstdlib>

#include "base/fatal.h"
#include "base/sink.h"
#include "main/condense_command_line.h"
#include "traces/condense_run.h"

int main(int argc, char** argv) {
  using namespace tracemill;
  prepare_process();
  const CondenseOptions options = read_condense_command_line(argc, argv);
  FdSink err(2, FdSink::Buffering::None);
  std::exit(run_condense(options, stdout_sink(), err));
}
