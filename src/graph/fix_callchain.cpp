#include "graph/fix_callchain.h"

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "text_form/debug.h"

namespace tracemill {
namespace {

void report(std::span<const Call> input, const std::vector<Call>& result,
            const std::vector<std::uint64_t>& failed, Sink& out) {
  Formatter f(out, Form::Compact);
  bool ok = f.write("\nFailed on idx = ") && write_debug(f, failed) && f.write(":\n");
  for (std::size_t i = 0; ok && i < input.size(); ++i) {
    ok = write_debug(f, i) && f.write(": ") && write_debug(f, input[i]) && f.write("  ->  ") &&
         write_debug(f, result[i]) && f.write("\n");
  }
}

}  // namespace

std::vector<Call> fix_callchain(std::span<const Call> chain, Sink& out) {
  std::vector<Call> result(chain.begin(), chain.end());
  std::vector<std::uint64_t> failed;
  // Points into `chain`, which outlives the walk; the first call compares with the empty text.
  std::string_view previous;
  for (std::size_t i = 0; i < result.size(); ++i) {
    Call& call = result[i];
    if (call.process == previous) {
      if (call.call_direction == CallDirection::Inbound) failed.push_back(i);
    } else {
      previous = chain[i].process;
      if (call.call_direction == CallDirection::Outbound) {
        failed.push_back(i);
      } else {
        call.call_direction = CallDirection::Inbound;
      }
    }
  }
  if (!failed.empty()) report(chain, result, failed, out);
  return result;
}

}  // namespace tracemill
