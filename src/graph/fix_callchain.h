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

// Returns a copy of `chain` with the repaired directions, same length and order:
//   - same process as the call before (the first call compares with the empty text):
//     Inbound is a contradiction; Outbound and Unknown stay;
//   - a change of process: Outbound is a contradiction; Inbound and Unknown become Inbound.
// When there are contradictions, writes to `out` an empty line, "Failed on idx = [i, j]:" and,
// for every index of the chain, "<i>: <input call>  ->  <result call>" (calls in the compact
// text form). A failing sink does not change the result.
std::vector<Call> fix_callchain(std::span<const Call> chain, Sink& out);

// fix_callchain without copying the calls: sets `directions` to the repaired direction of every
// call of `chain` (resizing it; a caller may reuse one buffer for many chains) and writes the
// same report to `out`. Returns whether there were contradictions (a report was written).
// Graph building uses this to avoid copying every name of every chain.
bool repair_directions(std::span<const Call> chain, std::vector<CallDirection>& directions,
                       Sink& out);

}  // namespace tracemill
