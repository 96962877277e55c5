#include "graph/fix_callchain.h"

#include <gtest/gtest.h>

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

}  // namespace
}  // namespace tracemill::test_util
