#include "graph/build_graph.h"

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "base/sink.h"
#include "graph/graph_testing.h"

namespace tracemill {
namespace {

using test_util::graph_of;
using test_util::node;

using test_util::I;
using test_util::O;
using test_util::U;

struct Pair {
  std::vector<Call> chain;
  std::uint64_t count;
};

// A record whose `stats` maps each operation name to its list of (chain, count) pairs.
StatsRecJson record_of(std::vector<std::pair<std::string, std::vector<Pair>>> operations) {
  StatsRecJson record;
  for (auto& [name, pairs] : operations) {
    OperationStatsJson& op = record.stats[name];
    for (Pair& p : pairs) {
      CChainStatsKey key;
      key.call_chain = std::move(p.chain);
      key.caching_process = "ignored";
      CChainStatsValue value;
      value.count = p.count;
      value.depth = 99;
      op.call_chain.emplace_back(std::move(key), std::move(value));
    }
  }
  return record;
}

struct BuildCase {
  const char* what;
  StatsRecJson record;
  ProcessNodes expected;
};

// None of these chains contradicts itself, so nothing is reported.
TEST(BuildGraph, FoldsEveryRepairedChainOfEveryOperation) {
  const BuildCase cases[] = {
      {"operations without chains", record_of({{"op1", {}}, {"op2", {}}}), {}},
      {"count 0 creates nodes and keys",
       record_of({{"op", {{{{"A", "x", I}, {"A", "y", O}}, 0}}}}),
       graph_of({node("A", {{"x", 0}}, {{"y", 0}})})},
      {"the same chain under two operations",
       record_of({{"op1", {{{{"A", "m", I}}, 2}}}, {"op2", {{{{"A", "m", I}}, 3}}}}),
       graph_of({node("A", {{"m", 5}})})},
      {"the same chain twice in one list",
       record_of({{"op", {{{{"A", "m", I}}, 2}, {{{"A", "m", I}}, 3}}}}),
       graph_of({node("A", {{"m", 5}})})},
      {"directions are repaired before counting",
       record_of({{"op", {{{{"A", "x", U}, {"A", "y", U}, {"B", "y", U}}, 4}}}}),
       graph_of({node("A", {{"x", 4}}, {}, {{"y", 4}}), node("B", {{"y", 4}})})},
  };
  for (const BuildCase& c : cases) {
    SCOPED_TRACE(c.what);
    StringSink diagnostics;
    EXPECT_EQ(build_graph(c.record, diagnostics), c.expected);
    EXPECT_EQ(diagnostics.text(), "");
  }
}

TEST(BuildGraph, ContradictionsAreReportedInListOrderAndStillCounted) {
  StatsRecJson record = record_of({{"op",
                                    {{{{"A", "x", O}}, 1},
                                     {{{"B", "x", I}}, 1},
                                     {{{"B", "x", I}, {"B", "y", I}}, 2}}}});
  StringSink diagnostics;
  EXPECT_EQ(build_graph(record, diagnostics),
            graph_of({node("A", {}, {{"x", 1}}), node("B", {{"x", 3}, {"y", 2}})}));
  EXPECT_EQ(diagnostics.text(),
            "\nFailed on idx = [0]:\n"
            "0: Call { process: \"A\", method: \"x\", call_direction: Outbound }  ->  "
            "Call { process: \"A\", method: \"x\", call_direction: Outbound }\n"
            "\nFailed on idx = [1]:\n"
            "0: Call { process: \"B\", method: \"x\", call_direction: Inbound }  ->  "
            "Call { process: \"B\", method: \"x\", call_direction: Inbound }\n"
            "1: Call { process: \"B\", method: \"y\", call_direction: Inbound }  ->  "
            "Call { process: \"B\", method: \"y\", call_direction: Inbound }\n");
}

// Any count a 32-bit signed count cannot hold ends the run, an empty chain's too. (That the
// diagnostics of earlier pairs are out before the report is checked on the whole run.)
TEST(BuildGraphDeathTest, CountBeyondInt32EndsTheRun) {
  StringSink diagnostics;
  for (StatsRecJson record : {record_of({{"op", {{{}, 2147483648u}}}}),
                              record_of({{"op", {{{{"A", "x", I}}, 18446744073709551615u}}}})}) {
    EXPECT_EXIT(build_graph(record, diagnostics), ::testing::ExitedWithCode(101),
                "^thread '[^']*' panicked at 'called `Result::unwrap\\(\\)` on an `Err` value: "
                "TryFromIntError\\(\\(\\)\\)', src/graph/build_graph\\.cpp:[0-9]+:[0-9]+\n");
  }
}

}  // namespace
}  // namespace tracemill
