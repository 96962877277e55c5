#include "graph/fix_callchain.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "base/sink.h"
#include "graph/graph_testing.h"
#include "text_form/debug.h"

namespace tracemill::test_util {
namespace {

// The report of `input` repaired to `repaired` with the calls at `failed` contradicting: its
// layout is pinned whole by the end-to-end tests (Run.EndsWithStatusAndReport and the examples'
// expected output), the compact form of a call by the debug form tests.
std::string report(const std::string& failed, const std::vector<Call>& input,
                   const std::vector<CallDirection>& repaired) {
  if (failed.empty()) return "";
  std::string text = "\nFailed on idx = [" + failed + "]:\n";
  for (std::size_t i = 0; i < input.size(); ++i) {
    Call result = input[i];
    result.call_direction = repaired[i];
    text += std::to_string(i) + ": " + compact_string(input[i]) + "  ->  " +
            compact_string(result) + "\n";
  }
  return text;
}

TEST(FixCallchain, RepairsDirectionsAndReportsContradictions) {
  struct Case {
    std::vector<Call> input;
    std::vector<CallDirection> repaired;
    std::string failed;  // the indices the report lists
  };
  const std::vector<Call> escapes = {
      {"A", "x", U}, {"A", "y", I}, {"B", "z", U}, {"C\t\"q\"", "w\\\n", O}, {"C\t\"q\"", "v", U}};
  const Case cases[] = {
      // two failures; every index is listed, escapes stay on the line
      {escapes, {I, I, I, O, U}, "1, 3"},
      {{}, {}, ""},
      // a single unknown becomes inbound, a single outbound is reported
      {{{"A", "m", U}}, {I}, ""},
      {{{"A", "m", O}}, {O}, "0"},
      // an empty first process equals the empty previous: inbound is reported, outbound and
      // unknown pass unchanged
      {{{"", "m", I}}, {I}, "0"},
      {{{"", "m", O}, {"", "n", U}}, {O, U}, ""},
      // a second inbound on the same process is reported, unknown stays unknown there
      {{{"A", "x", I}, {"A", "y", I}}, {I, I}, "1"},
      {{{"A", "x", U}, {"A", "y", U}, {"B", "y", U}}, {I, U, I}, ""},
      // a consistent chain stays as it is
      {{{"A", "x", I}, {"A", "y", O}, {"B", "z", I}}, {I, O, I}, ""},
      // only the call before counts: A B A changes process twice; letter case makes another
      {{{"A", "x", U}, {"B", "y", U}, {"A", "z", U}}, {I, I, I}, ""},
      {{{"a", "x", U}, {"A", "x", U}}, {I, I}, ""},
  };
  // One buffer for all cases, as graph building reuses it: a longer earlier chain must not
  // leave directions behind.
  std::vector<CallDirection> directions(20, O);
  for (const Case& c : cases) {
    StringSink out;
    EXPECT_EQ(fix_callchain(c.input, directions, out), !c.failed.empty())
        << compact_string(c.input);
    EXPECT_EQ(directions, c.repaired) << compact_string(c.input);
    EXPECT_EQ(out.text(), report(c.failed, c.input, c.repaired));
  }
}

// Takes the first `room` bytes of a report and then fails, so that two reports stopping at the
// same byte wrote the same pieces up to there.
struct ShortSink final : Sink {
  explicit ShortSink(std::size_t bytes) : room(bytes) {}
  bool write(std::string_view piece) override {
    failed = failed || piece.size() > room;
    if (!failed) room -= piece.size(), text += piece;
    return !failed;
  }
  std::size_t room;
  bool failed = false;
  std::string text;
};

// The form over interned words against the form over calls, on every chain of up to three calls
// over an empty, a plain and an escaped process name in every direction: the same contradiction,
// directions and report, also when the sink fails partway. One table numbers all the calls.
TEST(FixCallchain, WordsRepairAsTheCallsTheyName) {
  const std::string processes[] = {"", "A", "C\t\"q\""};
  const CallDirection directions[] = {I, O, U};
  CallNames names;
  std::vector<CallDirection> repaired;
  for (std::size_t length = 1, chains = 9; length <= 3; ++length, chains *= 9) {
    for (std::size_t n = 0; n < chains; ++n) {
      std::vector<Call> calls;
      std::vector<std::uint64_t> words;
      for (std::size_t i = 0, digits = n; i < length; ++i, digits /= 9) {
        calls.push_back(
            {processes[digits % 9 / 3], "m" + std::to_string(i + n % 2), directions[digits % 3]});
        words.push_back(call_word(names.intern(calls.back().process, calls.back().method),
                                  calls.back().call_direction));
      }
      StringSink report;
      std::vector<std::uint64_t> plain = words;
      std::vector<std::pair<std::size_t, std::uint64_t>> changed;
      EXPECT_EQ(repair_directions(names, plain, changed), fix_callchain(calls, repaired, report))
          << compact_string(calls);
      std::vector<std::uint64_t> fixed;
      for (std::size_t room : {std::size_t{20}, std::size_t{200}, report.text().size()}) {
        ShortSink from_calls(room), from_words(room);
        fixed = words;
        EXPECT_EQ(fix_callchain(names, fixed, from_words),
                  fix_callchain(calls, repaired, from_calls));
        EXPECT_EQ(from_words.text, from_calls.text) << compact_string(calls);
      }
      for (std::size_t i = 0; i < length; ++i) {
        EXPECT_EQ(fixed[i], call_word(word_call(words[i]), repaired[i])) << compact_string(calls);
      }
      EXPECT_EQ(plain, fixed);
      // What the repair says it changed makes the chain as it came again.
      for (const auto& [i, word] : changed) plain[i] = word;
      EXPECT_EQ(plain, words);
    }
  }
}

}  // namespace
}  // namespace tracemill::test_util
