// The process graph as tracemill prints it.
#pragma once

#include "base/sink.h"
#include "graph/process_node.h"

namespace tracemill {

// Writes `graph` to `out` in the pretty text form ("ProcessNodes(" ... ")") followed by one line
// feed: the bytes tracemill prints on success. Nodes and methods come in the order of their
// maps, which differs from run to run. Returns false when a write failed; `out` is not
// flushed.
bool write_graph(Sink& out, const ProcessNodes& graph);

}  // namespace tracemill
