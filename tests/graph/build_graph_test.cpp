#include "graph/build_graph.h"

#include <gtest/gtest.h>

#include <utility>
#include <vector>

#include "base/sink.h"
#include "graph/fix_callchain.h"
#include "graph/graph_testing.h"

namespace tracemill::test_util {
namespace {

// None of these chains contradicts itself, so nothing is reported.
TEST(BuildGraph, FoldsEveryRepairedChainOfEveryOperation) {
  const std::pair<StatsRecJson, ProcessNodes> cases[] = {
      // operations without chains, empty chains
      {record_of({{"op1", {}}, {"op2", {{{}, 5}, {{}, 0}}}}), {}},
      // a count of 0 still creates the node and the keys
      {record_of({{"op", {{{{"A", "x", I}, {"A", "y", O}}, 0}}}}),
       graph_of({node("A", {{"x", 0}}, {{"y", 0}})})},
      // the same chain under two operations, and twice in one list
      {record_of({{"op1", {{{{"A", "m", I}}, 2}}},
                  {"op2", {{{{"A", "m", I}}, 3}, {{{"A", "m", I}}, 4}}}}),
       graph_of({node("A", {{"m", 9}})})},
      // directions are repaired before counting, and choose the map
      {record_of({{"op", {{{{"A", "x", U}, {"A", "y", U}, {"A", "z", O}, {"B", "y", U}}, 4}}}}),
       graph_of({node("A", {{"x", 4}}, {{"z", 4}}, {{"y", 4}}), node("B", {{"y", 4}})})},
      // a repeated call counts twice
      {record_of({{"op", {{{{"A", "x", I}, {"A", "m", O}, {"A", "m", O}}, 4}}}}),
       graph_of({node("A", {{"x", 4}}, {{"m", 8}})})},
      // letter case makes another process; the empty name is a name
      {record_of({{"op", {{{{"a", "m", I}, {"A", "m", I}, {"", "", U}}, 1}}}}),
       graph_of({node("a", {{"m", 1}}), node("A", {{"m", 1}}), node("", {{"", 1}})})},
      // sums go past the 32-bit range
      {record_of({{"op", {{{{"A", "m", I}}, 2147483647}, {{{"A", "m", I}}, 1}}},
                  {"p", {{{{"A", "m", I}}, 2147483647}}}}),
       graph_of({node("A", {{"m", 4294967295}})})},
  };
  for (const auto& [record, expected] : cases) {
    StringSink diagnostics;
    EXPECT_EQ(build_graph(record, diagnostics), expected);
    EXPECT_EQ(diagnostics.text(), "");
  }
}

TEST(BuildGraph, ContradictionsAreReportedInListOrderAndStillCounted) {
  const std::vector<Call> chains[] = {
      {{"A", "x", O}}, {{"B", "x", I}}, {{"B", "x", I}, {"B", "y", I}}};
  StringSink reports;
  std::vector<CallDirection> directions;
  for (const auto& chain : chains) fix_callchain(chain, directions, reports);
  StringSink diagnostics;
  EXPECT_EQ(build_graph(record_of({{"op", {{chains[0], 1}, {chains[1], 1}, {chains[2], 2}}}}),
                        diagnostics),
            graph_of({node("A", {}, {{"x", 1}}), node("B", {{"x", 3}, {"y", 2}})}));
  EXPECT_EQ(diagnostics.text(), reports.text());
}

}  // namespace
}  // namespace tracemill::test_util
