// Builds the process graph from a loaded statistics record.
#pragma once

#include "base/sink.h"
#include "graph/process_node.h"
#include "stats/file/operation_stats_json.h"

namespace tracemill {

// Visits every operation of `record.stats` and every (key, value) pair of its call_chain list
// in list order: a count above the signed 32-bit range ends the run (checked before anything
// else happens to the pair, empty chains included); the chain is repaired by fix_callchain,
// which writes its diagnostics to `diagnostics`, and added with its count. Only reads `record`.
ProcessNodes build_graph(const StatsRecJson& record, Sink& diagnostics);

}  // namespace tracemill
