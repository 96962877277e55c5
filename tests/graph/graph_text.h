// Order-free comparison of pretty text forms whose maps print in hash order.
#pragma once

#include <ostream>
#include <string>
#include <string_view>

namespace tracemill {
struct Call;
struct ProcessNodes;
// GoogleTest shows calls in their compact and graphs in their pretty text form.
void PrintTo(const Call& call, std::ostream* os);
void PrintTo(const ProcessNodes& graph, std::ostream* os);
}  // namespace tracemill

namespace tracemill::testing {

// Returns `text` with the entries of every map block put in sorted order; nothing else changes.
// A map block is a line whose content is "{" or ends in ": {", up to the line at the same
// indentation that closes it; an entry is a line one level deeper, together with the block it
// opens. Entries move whole, with their exact lines, so indentation, punctuation and which
// lines belong to which entry are still compared exactly; the fields of records, the members
// of wrappers and the items of lists keep their order.
std::string canonical_map_order(std::string_view text);

}  // namespace tracemill::testing
