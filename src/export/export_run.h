// One run of tracemill-export: the dependency graph of a statistics file on standard output,
// problems as one line each on standard error, in the way of Unix tools.
#pragma once

#include <string_view>

#include "base/sink.h"
#include "export/graph_writers.h"

namespace tracemill {

// Exit statuses of tracemill-export.
inline constexpr int kExportOk = 0;
inline constexpr int kExportFailed = 1;  // the input could not be used, or the output failed
inline constexpr int kExportUsage = 2;   // the command line was rejected

// Checks the extension of `input`, decodes the file, writes the graph in `format` to `out`
// (flushed at the end) and returns the exit status. Errors and the warning about chains that
// contradict their call directions go to `err`, each as one line:
//   tracemill-export: FILE:LINE:COLUMN: MESSAGE      a JSON decode error
//   tracemill-export: FILE: byte OFFSET: MESSAGE     a binary decode error
//   tracemill-export: FILE: MESSAGE                  any other problem with the input
//   tracemill-export: write error: MESSAGE           standard output failed
// Requires: `input` is valid UTF-8.
int run_export(std::string_view input, ExportFormat format, FdSink& out, Sink& err);

}  // namespace tracemill
