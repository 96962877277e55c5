#include "graph/process_node.h"

#include "base/fatal.h"
#include "text_form/debug.h"

namespace tracemill {

void ProcessNode::add_call(const Call& call, std::int32_t count) {
  MethodCounts* counts = &direction_unknown;
  switch (call.call_direction) {
    case CallDirection::Inbound: counts = &operations; break;
    case CallDirection::Outbound: counts = &methods; break;
    case CallDirection::Unknown: break;
  }
  // try_emplace copies the method name only when the key is new.
  std::int64_t& sum = counts->try_emplace(call.method, 0).first->second;
  if (__builtin_add_overflow(sum, count, &sum)) fatal("count overflow");
}

void ProcessNodes::add_call_chain(std::span<const Call> chain, std::int32_t count) {
  for (const Call& call : chain) {
    auto [it, inserted] = nodes.try_emplace(call.process);
    if (inserted) it->second.name = call.process;
    it->second.add_call(call, count);
  }
}

bool write_debug(Formatter& f, const ProcessNodes& graph) {
  DebugTuple t(f, "ProcessNodes");
  t.field(graph.nodes);
  return t.finish();
}

}  // namespace tracemill
