#include "graph/process_node.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <string>

#include "base/sink.h"
#include "graph/graph_testing.h"
#include "graph/write_graph.h"

namespace tracemill::test_util {
namespace {

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

// The empty graph, and a node built by hand: a kind other than Unknown (the run makes none, so
// one shows that the kind is printed by name), several entries per map, and names that need
// escapes as keys and as the name field. Escapes and integers themselves are the debug form's.
TEST(ProcessNodes, PrettyTextOfKindAndEscapedKeys) {
  ProcessNode end_point = node("q\"b\n", {}, {{"a\"b\tc", kInt64Max}, {"n", -2}}, {{"m", 3}});
  end_point.ptype = ProcessNodeType::EndPoint;
  EXPECT_EQ(printed(ProcessNodes{}), "ProcessNodes(\n    {},\n)\n");
  EXPECT_EQ(canonical_map_order(printed(graph_of({end_point}))),
            canonical_map_order(R"(ProcessNodes(
    {
        "q\"b\n": ProcessNode {
            name: "q\"b\n",
            ptype: EndPoint,
            operations: {},
            methods: {
                "a\"b\tc": 9223372036854775807,
                "n": -2,
            },
            direction_unknown: {
                "m": 3,
            },
        },
    },
)
)"));
}

// canonical_map_order decides what the graph comparisons accept: map entries may come in any
// order, anything else that differs must still differ.
std::string changed(std::string text, const std::string& from, const std::string& to) {
  return text.replace(text.find(from), from.size(), to);
}

TEST(CanonicalMapOrder, ReordersMapEntriesOnly) {
  const std::string a =
      "  \"a\": R {\n   x: 1,\n   m: {\n    \"p\": 1,\n    \"q\": 2,\n   },\n   l: [\n    2,\n"
      "    1,\n   ],\n  },\n";
  const std::string b = "  \"b\": R {\n   x: 2,\n   m: {},\n  },\n";
  const std::string text = "W(\n {\n" + a + b + " },\n)";
  const std::string reordered = "W(\n {\n" + b +
                                changed(a, "\"p\": 1,\n    \"q\": 2,", "\"q\": 2,\n    \"p\": 1,") +
                                " },\n)";
  EXPECT_EQ(canonical_map_order(reordered), canonical_map_order(text));
  const std::string different[] = {
      changed(text, "   x: 2,\n   m: {},\n", "   m: {},\n   x: 2,\n"),  // a record's fields
      changed(text, "    2,\n    1,\n", "    1,\n    2,\n"),            // a list's items
      // an entry moved from one node's map to the other's
      changed(changed(text, "    \"q\": 2,\n", ""), "   m: {},\n",
              "   m: {\n    \"q\": 2,\n   },\n"),
      changed(text, "    \"p\"", "   \"p\""),
      changed(text, "\"p\": 1,", "\"p\": 1"),
      text + "\n",
  };
  for (const std::string& d : different) {
    EXPECT_NE(canonical_map_order(d), canonical_map_order(text)) << d;
  }
}

}  // namespace
}  // namespace tracemill::test_util
