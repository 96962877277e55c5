#include "graph/fix_callchain.h"

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "text_form/debug.h"

namespace tracemill {
namespace {

// The rule for one call, from its direction as read and whether its process is the one of the
// call before.
struct Step {
  CallDirection direction;  // repaired
  bool failed;
};
constexpr Step repair_step(CallDirection read, bool same_process) {
  if (same_process) return {read, read == CallDirection::Inbound};
  if (read == CallDirection::Outbound) return {read, true};
  return {CallDirection::Inbound, false};
}

// Calls `step(i, repair)` for every call of a chain of words, in order, while it returns true.
template <class F>
void walk(const CallNames& names, std::span<const std::uint64_t> chain, F&& step) {
  std::uint32_t previous = 0;
  for (std::size_t i = 0; i < chain.size(); ++i) {
    const std::uint32_t process = names.process_id(word_call(chain[i]));
    // The first call compares with the empty text.
    const bool same = i == 0 ? names.process_name(process).empty() : process == previous;
    previous = process;
    if (!step(i, repair_step(word_direction(chain[i]), same))) return;
  }
}

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

// The same report from a chain of words: the failed indices and each line's calls are made
// again as they are written, so that nothing of the chain's length is held.
void report(const CallNames& names, std::span<const std::uint64_t> chain, Sink& out) {
  Formatter f(out, Form::Compact);
  bool ok = f.write("\nFailed on idx = ");
  if (ok) {
    DebugList failed(f);
    walk(names, chain, [&](std::size_t i, Step step) {
      if (step.failed) failed.entry(std::uint64_t{i});
      return true;
    });
    ok = failed.finish() && f.write(":\n");
  }
  if (!ok) return;
  Call call;
  walk(names, chain, [&](std::size_t i, Step step) {
    const std::uint32_t number = word_call(chain[i]);
    call.process.assign(names.process(number));
    call.method.assign(names.method(number));
    call.call_direction = word_direction(chain[i]);
    if (!(write_debug(f, i) && f.write(": ") && write_debug(f, call) && f.write("  ->  "))) {
      return false;
    }
    call.call_direction = step.direction;
    return write_debug(f, call) && f.write("\n");
  });
}

}  // namespace

bool fix_callchain(std::span<const Call> chain, std::vector<CallDirection>& directions, Sink& out) {
  directions.resize(chain.size());
  std::vector<std::uint64_t> failed;
  // The first call compares with the empty text.
  std::string_view previous;
  for (std::size_t i = 0; i < chain.size(); ++i) {
    const Call& call = chain[i];
    const bool same = call.process == previous;
    previous = call.process;
    const Step step = repair_step(call.call_direction, same);
    if (step.failed) failed.push_back(i);
    directions[i] = step.direction;
  }
  if (failed.empty()) return false;
  report(chain, directions, failed, out);
  return true;
}

bool repair_directions(const CallNames& names, std::span<std::uint64_t> chain,
                       std::vector<std::pair<std::size_t, std::uint64_t>>& changed) {
  bool failed = false;
  walk(names, chain, [&](std::size_t i, Step step) {
    failed = failed || step.failed;
    const std::uint64_t word = call_word(word_call(chain[i]), step.direction);
    if (word != chain[i]) {
      changed.emplace_back(i, chain[i]);
      chain[i] = word;
    }
    return true;
  });
  return failed;
}

bool fix_callchain(const CallNames& names, std::span<std::uint64_t> chain, Sink& out) {
  // The report shows the chain as it came: it is written before the repair.
  bool failed = false;
  walk(names, chain, [&](std::size_t, Step step) {
    failed = step.failed;
    return !failed;
  });
  if (failed) report(names, chain, out);
  walk(names, chain, [&](std::size_t i, Step step) {
    chain[i] = call_word(word_call(chain[i]), step.direction);
    return true;
  });
  return failed;
}

}  // namespace tracemill
