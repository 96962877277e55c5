// Repair of the call directions of one call chain.
//
// In a consistent chain a call whose process differs from the one before it was received by
// that process (Inbound), and a further call on the same process is that process's own step
// (not Inbound). The repair settles undetermined directions at a change of process and reports
// every contradiction, leaving the contradicting call as it came.
#pragma once

#include <span>
#include <vector>

#include "base/sink.h"
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

}  // namespace tracemill
