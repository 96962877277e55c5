// The process graph: one node per process name, holding per method the summed chain counts of
// the calls the process received (operations), made (methods) or took part in with an
// undetermined direction (direction_unknown).
//
// The graph owns every text and map it holds; nothing refers back into the chains that were
// added. Sums are signed 64-bit; a sum beyond that range ends the run ("count overflow").
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <tuple>

#include "base/keyed_hash.h"
#include "base/record.h"
#include "stats/call_chain/call.h"

namespace tracemill {

class Formatter;

// Every node this program creates is Unknown; the other kinds exist in the type and its text
// form only.
enum class ProcessNodeType : std::uint8_t { EndPoint, Intermediate, Terminal, Unknown };

inline constexpr std::string_view kProcessNodeTypeNames[] = {"EndPoint", "Intermediate", "Terminal",
                                                             "Unknown"};

constexpr std::string_view enum_name(ProcessNodeType t) {
  return kProcessNodeTypeNames[static_cast<std::uint8_t>(t)];
}

// Method name -> summed count.
using MethodCounts = HashMap<std::string, std::int64_t>;

struct ProcessNode {
  std::string name;
  ProcessNodeType ptype = ProcessNodeType::Unknown;
  MethodCounts operations;         // Inbound calls
  MethodCounts methods;            // Outbound calls
  MethodCounts direction_unknown;  // Unknown direction

  // Adds `count` under `method` in the map `direction` selects (the key is created when
  // absent, with 0 counts too).
  void add_method(const std::string& method, CallDirection direction, std::int32_t count);
  bool operator==(const ProcessNode&) const = default;
};

template <>
struct Record<ProcessNode> {
  static constexpr std::string_view name = "ProcessNode";
  static constexpr auto fields = std::make_tuple(
      field("name", &ProcessNode::name), field("ptype", &ProcessNode::ptype),
      field("operations", &ProcessNode::operations), field("methods", &ProcessNode::methods),
      field("direction_unknown", &ProcessNode::direction_unknown));
};

struct ProcessNodes {
  // Process name -> its node; every key equals its node's name.
  HashMap<std::string, ProcessNode> nodes;

  // Adds every call of `chain` with `count` to the node of its process, creating the node
  // (ptype Unknown) on first sight, under the direction directions[i] in place of the call's
  // own. Each call counts on its own, repeats included. The result does not depend on the
  // order in which chains are added. Requires: directions.size() == chain.size().
  void add_call_chain(std::span<const Call> chain, std::span<const CallDirection> directions,
                      std::int32_t count);
  bool operator==(const ProcessNodes&) const = default;
};

// Adds `count` to a per-method sum; a sum beyond the signed 64-bit range ends the run with the
// fatal report "count overflow".
void add_to_sum(std::int64_t& sum, std::int32_t count);

// The wrapper "ProcessNodes" around the map of nodes, in the formatter's variant.
bool write_debug(Formatter& f, const ProcessNodes& graph);

}  // namespace tracemill
