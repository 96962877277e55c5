#include "graph/build_graph.h"

#include <cstdint>
#include <limits>
#include <vector>

#include "base/fatal.h"
#include "graph/fix_callchain.h"

namespace tracemill {

ProcessNodes build_graph(const StatsRecJson& record, Sink& diagnostics) {
  ProcessNodes graph;
  // Repairing only the directions and adding the calls with them gives the graph that
  // fix_callchain + add_call_chain give, without copying every name of every chain.
  std::vector<CallDirection> directions;
  for (const auto& [operation, stats] : record.stats) {
    for (const auto& [key, value] : stats.call_chain) {
      if (value.count > static_cast<std::uint64_t>(std::numeric_limits<std::int32_t>::max())) {
        fatal("called `Result::unwrap()` on an `Err` value: TryFromIntError(())");
      }
      repair_directions(key.call_chain, directions, diagnostics);
      graph.add_call_chain(key.call_chain, directions, static_cast<std::int32_t>(value.count));
    }
  }
  return graph;
}

}  // namespace tracemill
