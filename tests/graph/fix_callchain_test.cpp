#include "graph/fix_callchain.h"

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "base/sink.h"
#include "graph/graph_testing.h"

namespace tracemill {
namespace {

using test_util::I;
using test_util::O;
using test_util::U;

struct RepairCase {
  const char* what;
  std::vector<Call> input;
  std::vector<Call> repaired;
  std::string diagnostics;
};

TEST(FixCallchain, RepairsDirectionsAndReportsContradictions) {
  const RepairCase cases[] = {
      {"empty chain", {}, {}, ""},
      {"single unknown becomes inbound", {{"A", "m", U}}, {{"A", "m", I}}, ""},
      {"single outbound is reported",
       {{"A", "m", O}},
       {{"A", "m", O}},
       "\nFailed on idx = [0]:\n"
       "0: Call { process: \"A\", method: \"m\", call_direction: Outbound }  ->  "
       "Call { process: \"A\", method: \"m\", call_direction: Outbound }\n"},
      {"empty first process equals the empty previous: inbound reported",
       {{"", "m", I}},
       {{"", "m", I}},
       "\nFailed on idx = [0]:\n"
       "0: Call { process: \"\", method: \"m\", call_direction: Inbound }  ->  "
       "Call { process: \"\", method: \"m\", call_direction: Inbound }\n"},
      {"empty first process: outbound and unknown pass unchanged",
       {{"", "m", O}, {"", "n", U}},
       {{"", "m", O}, {"", "n", U}},
       ""},
      {"second inbound on the same process",
       {{"A", "x", I}, {"A", "y", I}},
       {{"A", "x", I}, {"A", "y", I}},
       "\nFailed on idx = [1]:\n"
       "0: Call { process: \"A\", method: \"x\", call_direction: Inbound }  ->  "
       "Call { process: \"A\", method: \"x\", call_direction: Inbound }\n"
       "1: Call { process: \"A\", method: \"y\", call_direction: Inbound }  ->  "
       "Call { process: \"A\", method: \"y\", call_direction: Inbound }\n"},
      {"unknown stays unknown on the same process",
       {{"A", "x", U}, {"A", "y", U}, {"B", "y", U}},
       {{"A", "x", I}, {"A", "y", U}, {"B", "y", I}},
       ""},
      {"consistent chain unchanged",
       {{"A", "x", I}, {"A", "y", O}, {"B", "z", I}},
       {{"A", "x", I}, {"A", "y", O}, {"B", "z", I}},
       ""},
      {"only the call before counts: A B A changes process twice",
       {{"A", "x", U}, {"B", "y", U}, {"A", "z", U}},
       {{"A", "x", I}, {"B", "y", I}, {"A", "z", I}},
       ""},
      {"letter case makes another process",
       {{"a", "x", U}, {"A", "x", U}},
       {{"a", "x", I}, {"A", "x", I}},
       ""},
      {"two failures; every index is listed, escapes stay on the line",
       {{"A", "x", U}, {"A", "y", I}, {"B", "z", U}, {"C\t\"q\"", "w\\\n", O}, {"C\t\"q\"", "v", U}},
       {{"A", "x", I}, {"A", "y", I}, {"B", "z", I}, {"C\t\"q\"", "w\\\n", O}, {"C\t\"q\"", "v", U}},
       "\nFailed on idx = [1, 3]:\n"
       "0: Call { process: \"A\", method: \"x\", call_direction: Unknown }  ->  "
       "Call { process: \"A\", method: \"x\", call_direction: Inbound }\n"
       "1: Call { process: \"A\", method: \"y\", call_direction: Inbound }  ->  "
       "Call { process: \"A\", method: \"y\", call_direction: Inbound }\n"
       "2: Call { process: \"B\", method: \"z\", call_direction: Unknown }  ->  "
       "Call { process: \"B\", method: \"z\", call_direction: Inbound }\n"
       "3: Call { process: \"C\\t\\\"q\\\"\", method: \"w\\\\\\n\", call_direction: Outbound }  ->  "
       "Call { process: \"C\\t\\\"q\\\"\", method: \"w\\\\\\n\", call_direction: Outbound }\n"
       "4: Call { process: \"C\\t\\\"q\\\"\", method: \"v\", call_direction: Unknown }  ->  "
       "Call { process: \"C\\t\\\"q\\\"\", method: \"v\", call_direction: Unknown }\n"},
  };
  // One buffer for all cases, as graph building reuses it: a longer earlier chain must not
  // leave directions behind.
  std::vector<CallDirection> directions(20, O);
  for (const RepairCase& c : cases) {
    SCOPED_TRACE(c.what);
    StringSink out;
    EXPECT_EQ(fix_callchain(c.input, out), c.repaired);
    EXPECT_EQ(out.text(), c.diagnostics);

    StringSink direction_out;
    repair_directions(c.input, directions, direction_out);
    std::vector<CallDirection> expected;
    for (const Call& call : c.repaired) expected.push_back(call.call_direction);
    EXPECT_EQ(directions, expected);
    EXPECT_EQ(direction_out.text(), c.diagnostics);
  }
}

}  // namespace
}  // namespace tracemill
