#include "graph/fix_callchain.h"

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "text_form/debug.h"

namespace tracemill {
namespace {

// Only reached for contradicting chains. The result calls are copied into one Call whose texts
// keep their room from call to call.
void report(std::span<const Call> input, const std::vector<CallDirection>& directions,
            const std::vector<std::uint64_t>& failed, Sink& out) {
  Formatter f(out, Form::Compact);
  bool ok = f.write("\nFailed on idx = ") && write_debug(f, failed) && f.write(":\n");
  Call result;
  for (std::size_t i = 0; ok && i < input.size(); ++i) {
    result.process.assign(input[i].process);
    result.method.assign(input[i].method);
    result.call_direction = directions[i];
    ok = write_debug(f, i) && f.write(": ") && write_debug(f, input[i]) && f.write("  ->  ") &&
         write_debug(f, result) && f.write("\n");
  }
}

}  // namespace

bool fix_callchain(std::span<const Call> chain, std::vector<CallDirection>& directions, Sink& out) {
  directions.resize(chain.size());
  std::vector<std::uint64_t> failed;
  // The first call compares with the empty text.
  std::string_view previous;
  for (std::size_t i = 0; i < chain.size(); ++i) {
    const Call& call = chain[i];
    CallDirection direction = call.call_direction;
    if (call.process == previous) {
      if (direction == CallDirection::Inbound) failed.push_back(i);
    } else {
      previous = call.process;
      if (direction == CallDirection::Outbound) {
        failed.push_back(i);
      } else {
        direction = CallDirection::Inbound;
      }
    }
    directions[i] = direction;
  }
  if (failed.empty()) return false;
  report(chain, directions, failed, out);
  return true;
}

}  // namespace tracemill
