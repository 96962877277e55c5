// Test helpers for the process graph: building inputs and expected graphs, printing them in
// failure messages, and comparing pretty texts whose maps print in hash order.
#pragma once

#include <cstdint>
#include <ostream>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "graph/process_node.h"
#include "stats/file/operation_stats_json.h"

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

// The pairs of an operation's call_chain list as tables write them: the calls and the count.
using Chains = std::vector<std::pair<std::vector<Call>, std::uint64_t>>;
// Operations in file order, each with its pairs; a key may come again (the later operation
// replaces the earlier one).
using Operations = std::vector<std::pair<std::string, Chains>>;
// The record of these operations; every other field is empty.
StatsRecJson record_of(const Operations& operations);

// Operations as a file holds them, in order.
using OperationList = std::vector<std::pair<std::string, OperationStatsJson>>;
// Where `stats` stands in a JSON file: last (as the encoder writes it), first, or in the array
// form of the record.
enum class Layout { StatsLast, StatsFirst, Array };
// A file of `head` whose `stats` holds these operations in this order, keys repeated as they
// come (a record cannot hold a repeated key).
std::string file_of(const OperationList& operations, Encoding encoding,
                    Layout layout = Layout::StatsLast, const StatsRecJson& head = {});
// file_of for operations given by their pairs, in either encoding.
std::string chains_file(const Operations& operations, Encoding encoding);

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
