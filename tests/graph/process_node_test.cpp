#include "graph/process_node.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <string>

#include "base/sink.h"
#include "graph/graph_testing.h"
#include "graph/write_graph.h"

namespace tracemill {
namespace {

using test_util::graph_of;
using test_util::node;

using test_util::I;
using test_util::O;
constexpr std::int64_t kInt64Max = std::numeric_limits<std::int64_t>::max();

// The graph as the run prints it.
std::string printed(const ProcessNodes& graph) {
  StringSink out;
  EXPECT_TRUE(write_graph(out, graph));
  return out.take();
}

TEST(ProcessNodeDeathTest, SumBeyondInt64EndsTheRun) {
  ProcessNode n = node("A", {{"m", kInt64Max - 1}});
  n.add_method("m", I, 1);
  EXPECT_EQ(n.operations.at("m"), kInt64Max);
  EXPECT_EXIT(
      n.add_method("m", I, 1), ::testing::ExitedWithCode(101),
      "^thread '[^']*' panicked at 'count overflow', src/graph/process_node\\.cpp:[0-9]+:[0-9]+\n");
  ProcessNode low = node("A", {}, {{"m", std::numeric_limits<std::int64_t>::min()}});
  EXPECT_EXIT(low.add_method("m", O, -1), ::testing::ExitedWithCode(101), "'count overflow'");
}

// The empty graph, and nodes built by hand: a kind other than Unknown (the run makes none, so one
// shows that the kind is printed by name), values at the ends of the range, several entries per
// map, and names that need escapes.
TEST(ProcessNodes, PrettyTextOfKindLimitsAndEscapes) {
  ProcessNode end_point = node("e", {}, {{"m", 1}, {"n", 2}}, {{"m", 3}});
  end_point.ptype = ProcessNodeType::EndPoint;
  ProcessNodes graph = graph_of(
      {node("q\"b\\t\tn\n", {{"a\"b\\c\td\ne", -5}, {"'", kInt64Max}, {"x", -1}}), end_point});
  EXPECT_EQ(printed(ProcessNodes{}), "ProcessNodes(\n    {},\n)\n");
  EXPECT_EQ(test_util::canonical_map_order(printed(graph)),
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
)
)"));
}

}  // namespace
}  // namespace tracemill
