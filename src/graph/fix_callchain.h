// Repair of the call directions of one call chain.
//
// In a consistent chain a call whose process differs from the one before it was received by
// that process (Inbound), and a further call on the same process is that process's own step
// (not Inbound). The repair settles undetermined directions at a change of process and reports
// every contradiction, leaving the contradicting call as it came.
//
// Two forms give the same directions and the same report: one over calls with their names (the
// whole record), one over the words of interned calls (call_word()), which the streaming run
// holds instead of the names so that a chain costs one word a call.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "base/sink.h"
#include "graph/call_names.h"
#include "stats/call_chain/call.h"

namespace tracemill {

// Sets `directions` to the repaired direction of every call of `chain` (resizing it; a caller
// may reuse one buffer for many chains):
//   - same process as the call before (the first call compares with the empty text):
//     Inbound is a contradiction; Outbound and Unknown stay;
//   - a change of process: Outbound is a contradiction; Inbound and Unknown become Inbound.
// When there are contradictions, writes to `out` an empty line, "Failed on idx = [i, j]:" and,
// for every index of the chain, "<i>: <input call>  ->  <result call>" (calls in the compact
// text form), and returns true. A failing sink does not change the directions. The calls are
// not copied: graph building repairs every chain of a file this way.
bool fix_callchain(std::span<const Call> chain, std::vector<CallDirection>& directions, Sink& out);

// The same repair of the chain whose calls `chain` holds as words of `names`: processes are
// equal when their numbers are (the first call compares with the empty process name). Writes
// the same report, its call texts made from the names one call at a time, and returns the same
// value; then sets the direction of every word to its repaired direction.
bool fix_callchain(const CallNames& names, std::span<std::uint64_t> chain, Sink& out);

// fix_callchain without the report, in one pass: sets the repaired directions and returns
// whether the chain held a contradiction (what fix_callchain returns). Each word it changes is
// added to `changed` as (index, the word as it was), so that the chain as it came can be made
// again.
bool repair_directions(const CallNames& names, std::span<std::uint64_t> chain,
                       std::vector<std::pair<std::size_t, std::uint64_t>>& changed);

}  // namespace tracemill
