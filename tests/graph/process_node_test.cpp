#include "graph/process_node.h"

#include <cstdint>
#include <limits>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "base/sink.h"
#include "graph/graph_testing.h"
#include "text_form/debug.h"

namespace tracemill {
namespace {

using test_util::graph_of;
using test_util::node;

using test_util::I;
using test_util::O;
using test_util::U;
constexpr std::int64_t kInt64Max = std::numeric_limits<std::int64_t>::max();

std::string pretty(const ProcessNodes& graph) {
  StringSink out;
  Formatter f(out, Form::Pretty);
  EXPECT_TRUE(write_debug(f, graph));
  return out.take();
}

struct Addition {
  std::vector<Call> chain;
  std::int32_t count;
};

struct FoldCase {
  const char* what;
  std::vector<Addition> additions;
  ProcessNodes expected;
};

TEST(ProcessNodes, AddCallChainFoldsEveryCallIntoItsProcessNode) {
  const FoldCase cases[] = {
      {"no chains", {}, {}},
      {"only empty chains", {{{}, 5}, {{}, 0}}, {}},
      {"same chain twice sums",
       {{{{"A", "m", I}}, 5}, {{{"A", "m", I}}, 7}},
       graph_of({node("A", {{"m", 12}})})},
      {"direction chooses the map",
       {{{{"A", "m1", I}, {"A", "m2", O}, {"B", "m2", I}}, 3}},
       graph_of({node("A", {{"m1", 3}}, {{"m2", 3}}), node("B", {{"m2", 3}})})},
      {"unknown direction", {{{{"A", "m", U}}, 2}}, graph_of({node("A", {}, {}, {{"m", 2}})})},
      {"count 0 still creates node and key", {{{{"A", "m", O}}, 0}}, graph_of({node("A", {}, {{"m", 0}})})},
      {"a repeated call counts twice", {{{{"A", "m", O}, {"A", "m", O}}, 4}}, graph_of({node("A", {}, {{"m", 8}})})},
      {"letter case and the empty name",
       {{{{"a", "m", I}, {"A", "m", I}, {"", "", U}}, 1}},
       graph_of({node("a", {{"m", 1}}), node("A", {{"m", 1}}), node("", {}, {}, {{"", 1}})})},
      {"sums go past the 32-bit range",
       {{{{"A", "m", I}}, 2147483647}, {{{"A", "m", I}}, 1}, {{{"A", "m", I}}, 2147483647}},
       graph_of({node("A", {{"m", 4294967295}})})},
  };
  for (const FoldCase& c : cases) {
    SCOPED_TRACE(c.what);
    ProcessNodes forward;
    for (const Addition& a : c.additions) forward.add_call_chain(a.chain, a.count);
    EXPECT_EQ(forward, c.expected);
    ProcessNodes backward;
    for (auto a = c.additions.rbegin(); a != c.additions.rend(); ++a) {
      backward.add_call_chain(a->chain, a->count);
    }
    EXPECT_EQ(backward, c.expected);
  }
}

TEST(ProcessNodeDeathTest, SumBeyondInt64EndsTheRun) {
  ProcessNode n = node("A", {{"m", kInt64Max - 1}});
  n.add_call({"A", "m", I}, 1);
  EXPECT_EQ(n.operations.at("m"), kInt64Max);
  EXPECT_EXIT(n.add_call({"A", "m", I}, 1), ::testing::ExitedWithCode(101),
              "^thread '[^']*' panicked at 'count overflow', src/graph/process_node\\.cpp:[0-9]+:[0-9]+\n");
  ProcessNode low = node("A", {}, {{"m", std::numeric_limits<std::int64_t>::min()}});
  EXPECT_EXIT(low.add_call({"A", "m", O}, -1), ::testing::ExitedWithCode(101), "'count overflow'");
}

// Nodes built by hand: a kind other than Unknown (the run makes none, so one shows that the
// kind is printed by name), values at the ends of the range, several entries per map, and names
// that need escapes.
TEST(ProcessNodes, PrettyTextOfKindLimitsAndEscapes) {
  ProcessNode end_point = node("e", {}, {{"m", 1}, {"n", 2}}, {{"m", 3}});
  end_point.ptype = ProcessNodeType::EndPoint;
  ProcessNodes graph = graph_of(
      {node("q\"b\\t\tn\n", {{"a\"b\\c\td\ne", -5}, {"'", kInt64Max}, {"x", -1}}), end_point});
  EXPECT_EQ(test_util::canonical_map_order(pretty(graph)),
            test_util::canonical_map_order(R"(ProcessNodes(
    {
        "q\"b\\t\tn\n": ProcessNode {
            name: "q\"b\\t\tn\n",
            ptype: Unknown,
            operations: {
                "a\"b\\c\td\ne": -5,
                "'": 9223372036854775807,
                "x": -1,
            },
            methods: {},
            direction_unknown: {},
        },
        "e": ProcessNode {
            name: "e",
            ptype: EndPoint,
            operations: {},
            methods: {
                "m": 1,
                "n": 2,
            },
            direction_unknown: {
                "m": 3,
            },
        },
    },
))"));
}

}  // namespace
}  // namespace tracemill
