// Temporary: stands in for the condensing run until it is written, so that tracemill-condense
// links and its command line can be tried.
#include "traces/condense_run.h"

namespace tracemill {

int run_condense(const CondenseOptions&, FdSink&, Sink& err) {
  err.write("tracemill-condense: not built yet\n");
  return kCondenseFailed;
}

}  // namespace tracemill
