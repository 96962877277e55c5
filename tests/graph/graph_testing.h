// Test helpers for the process graph: building expected graphs, printing them in failure
// messages, and comparing pretty texts whose maps print in hash order.
#pragma once

#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "graph/process_node.h"

namespace tracemill {
// GoogleTest shows calls in their compact and graphs in their pretty text form.
void PrintTo(const Call& call, std::ostream* os);
void PrintTo(const ProcessNodes& graph, std::ostream* os);
}  // namespace tracemill

namespace tracemill::test_util {

// Short names for the directions in tables of chains.
inline constexpr CallDirection I = CallDirection::Inbound;
inline constexpr CallDirection O = CallDirection::Outbound;
inline constexpr CallDirection U = CallDirection::Unknown;

// A node of kind Unknown with the given name and maps.
ProcessNode node(std::string name, MethodCounts operations, MethodCounts methods = {},
                 MethodCounts direction_unknown = {});
// The graph holding `nodes`, each under its name.
ProcessNodes graph_of(std::vector<ProcessNode> nodes);

// Returns `text` with the entries of every map block put in sorted order; nothing else changes.
// A map block is a line whose content is "{" or ends in ": {", up to the line at the same
// indentation that closes it; an entry is a line one level deeper, together with the block it
// opens. Entries move whole, with their exact lines, so indentation, punctuation and which
// lines belong to which entry are still compared exactly; the fields of records, the members
// of wrappers and the items of lists keep their order.
std::string canonical_map_order(std::string_view text);

}  // namespace tracemill::test_util
