// tracemill_whole: the whole-record path as a program, for benchmarks. It decodes the whole
// record, then builds the graph from it and prints it: the way tracemill worked before it
// streamed, kept in the library as the reference the streaming run is compared with.
//
// Usage: tracemill_whole FILE (output as tracemill's; failures end with the fatal report).
#include <cstdio>
#include <cstdlib>

#include "base/fatal.h"
#include "base/sink.h"
#include "graph/build_graph.h"
#include "stats/file/operation_stats_json.h"
#include "text_form/debug.h"

int main(int argc, char** argv) {
  using namespace tracemill;
  prepare_process();
  if (argc != 2) {
    std::fputs("usage: tracemill_whole FILE\n", stderr);
    return 2;
  }
  auto record = StatsRecJson::read_file(argv[1]);
  if (!record) fatal("Failed to read JSON-file: " + compact_string(record.error()));
  FdSink& out = stdout_sink();
  ProcessNodes graph = build_graph(record.value(), out);
  Formatter pretty(out, Form::Pretty);
  if (!(write_debug(pretty, graph) && out.write("\n") && out.flush())) {
    fatal("failed printing to stdout");
  }
  // Like the run: the system takes back the record's memory at once.
  std::exit(0);
}
