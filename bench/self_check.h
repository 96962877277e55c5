// The generator's and the encoders' own checks, run by `tracemill_gen --self-check` (and so by
// bench/run_bench.sh before it generates anything).
#pragma once

namespace tracemill::bench {

// Runs every check; prints each failure and a final count to standard error. Returns the exit
// status: 0 when all passed, 1 otherwise.
int self_check();

}  // namespace tracemill::bench
