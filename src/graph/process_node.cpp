#include "graph/process_node.h"

#include <cstddef>

#include "base/fatal.h"
#include "text_form/debug.h"

namespace tracemill {

void ProcessNode::add_method(const std::string& method, CallDirection direction,
                             std::int32_t count) {
  MethodCounts* counts = &direction_unknown;
  switch (direction) {
    case CallDirection::Inbound:
      counts = &operations;
      break;
    case CallDirection::Outbound:
      counts = &methods;
      break;
    case CallDirection::Unknown:
      break;
  }
  // try_emplace copies the method name only when the key is new.
  add_to_sum(counts->try_emplace(method, 0).first->second, count);
}

void add_to_sum(std::int64_t& sum, std::int32_t count) {
  if (__builtin_add_overflow(sum, count, &sum)) fatal("count overflow");
}

namespace {

// The node of `process`, created (named, kind Unknown) on first sight; one hash lookup, and
// the name is copied only for a new node.
ProcessNode& node_of(HashMap<std::string, ProcessNode>& nodes, const std::string& process) {
  auto [it, inserted] = nodes.try_emplace(process);
  if (inserted) it->second.name = process;
  return it->second;
}

}  // namespace

void ProcessNodes::add_call_chain(std::span<const Call> chain,
                                  std::span<const CallDirection> directions, std::int32_t count) {
  for (std::size_t i = 0; i < chain.size(); ++i) {
    node_of(nodes, chain[i].process).add_method(chain[i].method, directions[i], count);
  }
}

bool write_debug(Formatter& f, const ProcessNodes& graph) {
  DebugTuple t(f, "ProcessNodes");
  t.field(graph.nodes);
  return t.finish();
}

}  // namespace tracemill
