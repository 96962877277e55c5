// The dependency graph of repaired chains: entry counts, per-method sums and edges, folded from
// files the way tracemill-export reads them.
#include "export/dependency_graph.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "base/byte_source.h"
#include "graph/graph_testing.h"

namespace tracemill::test_util {
namespace {

// "NAME entry N: in{...} out{...} unknown{...}" per node, "FROM -> TO: METHOD N" per edge, in
// the graph's order.
std::vector<std::string> lines(const DependencyGraph& graph) {
  auto sums = [](const std::vector<MethodSum>& map) {
    std::string text;
    for (const MethodSum& e : map)
      text += (text.empty() ? "" : ", ") + e.method + " " + std::to_string(e.sum);
    return "{" + text + "}";
  };
  std::vector<std::string> out;
  for (const DependencyNode& n : graph.nodes) {
    out.push_back(n.name + " entry " + std::to_string(n.entry_count) + ": in" + sums(n.operations) +
                  " out" + sums(n.methods) + " unknown" + sums(n.direction_unknown));
  }
  for (const DependencyEdge& e : graph.edges) {
    out.push_back(e.from + " -> " + e.to + ": " + e.method + " " + std::to_string(e.count));
  }
  return out;
}

TEST(DependencyGraph, EdgesEntryCountsAndSumsOfRepairedChains) {
  struct Case {
    const char* what;
    Operations operations;
    std::vector<std::string> expected;
    std::uint64_t contradicting;
  };
  const Case cases[] = {
      // A contradicting Outbound counts as it came.
      {"repair: Unknown is Inbound on a new process, stays Unknown on the same one",
       {{"op", {{{{"a", "m", U}, {"a", "x", U}, {"b", "y", O}}, 2}}}},
       {"a entry 2: in{m 2} out{} unknown{x 2}", "b entry 0: in{} out{y 2} unknown{}",
        "a -> b: y 2"},
       1},
      {"a run on one process makes no edge",
       {{"op", {{{{"a", "m", I}, {"a", "n", O}, {"a", "o", O}}, 1}}}},
       {"a entry 1: in{m 1} out{n 1, o 1} unknown{}"},
       0},
      {"a loop A -> B -> A: an edge each way",
       {{"op", {{{{"a", "m", I}, {"b", "n", U}, {"a", "r", U}}, 5}}}},
       {"a entry 5: in{m 5, r 5} out{} unknown{}", "b entry 0: in{n 5} out{} unknown{}",
        "a -> b: n 5", "b -> a: r 5"},
       0},
      {"an empty chain adds nothing, a one-call chain only its node and entry",
       {{"op", {{{}, 7}, {{{"c", "m", I}}, 4}}}},
       {"c entry 4: in{m 4} out{} unknown{}"},
       0},
      {"a later operation with the same key replaces the earlier one and its edges",
       {{"k", {{{{"a", "m", I}, {"b", "n", I}}, 1}}},
        {"j", {{{{"d", "m", I}}, 1}}},
        {"k", {{{{"a", "m", I}, {"c", "n", O}}, 2}}}},
       {"a entry 2: in{m 2} out{} unknown{}", "c entry 0: in{} out{n 2} unknown{}",
        "d entry 1: in{m 1} out{} unknown{}", "a -> c: n 2"},
       1},
      // Another method or caller is another edge.
      {"one (from, to, method) adds up across chains and operations",
       {{"p",
         {{{{"a", "m", I}, {"b", "n", I}}, 3}, {{{"x", "q", I}, {"a", "m", I}, {"b", "n", I}}, 4}}},
        {"q",
         {{{{"a", "m", I}, {"b", "n", I}, {"b", "n", O}}, 5},
          {{{"a", "m", I}, {"b", "o", I}}, 1}}}},
       {"a entry 9: in{m 13} out{} unknown{}", "b entry 0: in{n 12, o 1} out{n 5} unknown{}",
        "x entry 4: in{q 4} out{} unknown{}", "a -> b: n 12", "a -> b: o 1", "x -> a: m 4"},
       0},
      {"sums beyond 32 bits are exact",
       {{"op",
         {{{{"a", "m", I}, {"b", "n", I}}, 2147483647},
          {{{"a", "m", I}, {"b", "n", I}}, 2147483647}}}},
       {"a entry 4294967294: in{m 4294967294} out{} unknown{}",
        "b entry 0: in{n 4294967294} out{} unknown{}", "a -> b: n 4294967294"},
       0},
      {"a count of 0 still makes the node, entry and edge",
       {{"op", {{{{"a", "m", I}, {"b", "n", I}}, 0}}}},
       {"a entry 0: in{m 0} out{} unknown{}", "b entry 0: in{n 0} out{} unknown{}", "a -> b: n 0"},
       0},
      {"names sort by their bytes",
       {{"op", {{{{"\xC3\xA9", "m", I}, {"a", "z", I}, {"Z", "b", I}, {"a", "B", I}}, 1}}}},
       {"Z entry 0: in{b 1} out{} unknown{}", "a entry 0: in{B 1, z 1} out{} unknown{}",
        "\xC3\xA9 entry 1: in{m 1} out{} unknown{}", "Z -> a: B 1", "a -> Z: b 1",
        "\xC3\xA9 -> a: z 1"},
       0},
  };
  for (const Case& c : cases) {
    const std::string bytes = chains_file(c.operations, Encoding::Bincode);
    // Read twice where a replaced operation needs it, or built from the log of a pipe.
    for (bool rereadable : {true, false}) {
      StatsFile file(Encoding::Bincode, ByteSource::from_memory(bytes, 64, 0, rereadable));
      StreamedDependencies run = stream_dependencies(file);
      const auto* graph = std::get_if<DependencyGraph>(&run.end);
      ASSERT_NE(graph, nullptr) << c.what;
      EXPECT_EQ(lines(*graph), c.expected) << c.what << ", rereadable " << rereadable;
      EXPECT_EQ(run.contradicting_chains, c.contradicting) << c.what;
    }
  }
}

// Each kind of sum reaches the limit alone: a sum equal to it is kept, one beyond it is not.
TEST(DependencyGraph, EverySumIsCheckedAgainstTheLimit) {
  const std::pair<const char*, Chains> cases[] = {
      {"entry count", {{{{"a", "m1", I}}, 6}, {{{"a", "m2", I}}, 5}}},
      {"method sum", {{{{"a", "m", I}}, 6}, {{{"c", "k", I}, {"a", "m", I}}, 5}}},
      {"edge count",
       {{{{"a", "m1", I}, {"b", "n", I}}, 6}, {{{"c", "k", I}, {"a", "m2", I}, {"b", "n", O}}, 5}}},
  };
  for (const auto& [what, chains] : cases) {
    for (std::int64_t limit : {11, 10}) {
      CallNames names;
      DependencyTarget target(limit);
      for (const auto& [calls, count] : chains) {
        std::vector<std::uint64_t> words;
        for (const Call& call : calls) {
          words.push_back(call_word(names.intern(call.process, call.method), call.call_direction));
        }
        target.add(names, words, static_cast<std::uint32_t>(count));
      }
      EXPECT_EQ(target.overflowed(), limit == 10) << what << ", limit " << limit;
    }
  }
}

DependencyGraph graph_of(const Operations& operations) {
  StatsFile file(Encoding::Bincode,
                 ByteSource::from_memory(chains_file(operations, Encoding::Bincode)));
  StreamedDependencies run = stream_dependencies(file);
  return std::get<DependencyGraph>(run.end);
}

// Two files summed give the graph of one file holding both; an operation key met in both files
// replaces nothing across them.
TEST(DependencyGraph, SeveralFilesSumAsOne) {
  const Operations a = {{"op", {{{{"a", "m", I}, {"b", "n", I}}, 2}, {{{"c", "k", U}}, 1}}},
                        {"dup", {{{{"a", "m", I}}, 5}}}};
  const Operations b = {{"op", {{{{"a", "m", I}, {"b", "n", I}, {"b", "o", O}}, 3}}},
                        {"other", {{{{"d", "q", I}, {"a", "z", I}}, 7}}}};
  const std::pair<Operations, Operations> cases[] = {{a, b}, {b, a}, {a, {}}, {{}, b}, {a, a}};
  for (const auto& [first, second] : cases) {
    Operations both = first;
    for (const auto& [key, chains] : second) both.push_back({key + "'", chains});
    DependencyGraph sum = graph_of(first);
    ASSERT_TRUE(add_graph(sum, graph_of(second)));
    EXPECT_EQ(lines(sum), lines(graph_of(both)));
  }
  // Each kind of sum at the limit is kept, one past it is not.
  const DependencyGraph one = {
      {{"a", 5, {{"m", 5}}, {}, {}}, {"b", 0, {}, {{"n", 5}}, {}}}, {{"a", "b", "n", 5}}, {}};
  for (std::int64_t limit : {10, 9}) {
    DependencyGraph sum = one;
    EXPECT_EQ(add_graph(sum, one, limit), limit == 10) << limit;
    for (DependencyGraph part :
         {DependencyGraph{{one.nodes[1]}, {}, {}}, DependencyGraph{{}, one.edges, {}}}) {
      DependencyGraph with_one = one;
      EXPECT_EQ(add_graph(with_one, part, limit), limit == 10) << limit;
    }
  }
}

// Upstream and downstream along the calls, never sideways: with depth 1 a callee's own callees
// and the other callers of a callee stay out.
TEST(DependencyGraph, NeighbourhoodOfAService) {
  const DependencyGraph graph =
      graph_of({{"op",
                 {{{{"a", "m", I}, {"b", "n", I}, {"c", "o", I}, {"d", "p", I}}, 1},
                  {{{"x", "m", I}, {"b", "n", I}, {"y", "q", I}}, 2},
                  {{{"w", "m", I}, {"c", "o", I}, {"z", "r", I}}, 3}}}});
  auto node_names = [](const DependencyGraph& part) {
    std::string text;
    for (const std::string& line : lines(part)) text += line.substr(0, line.find(':')) + "; ";
    return text;
  };
  const std::tuple<const char*, std::uint32_t, const char*> cases[] = {
      {"b", 0, "b entry 0; "},
      {"b", 1,
       "a entry 1; b entry 0; c entry 0; x entry 2; y entry 0; a -> b; b -> c; b -> y; x -> b; "},
      {"b", 2,
       "a entry 1; b entry 0; c entry 0; d entry 0; x entry 2; y entry 0; z entry 0; a -> b; "
       "b -> c; b -> y; c -> d; c -> z; x -> b; "},
      {"d", 2, "b entry 0; c entry 0; d entry 0; w entry 3; b -> c; c -> d; w -> c; "},
      {"a", 4294967295u,
       "a entry 1; b entry 0; c entry 0; d entry 0; y entry 0; z entry 0; a -> b; b -> c; "
       "b -> y; c -> d; c -> z; "},
  };
  for (const auto& [service, depth, expected] : cases) {
    std::optional<DependencyGraph> part = neighbourhood(graph, service, depth);
    ASSERT_TRUE(part) << service;
    EXPECT_EQ(node_names(*part), expected) << service << " " << depth;
  }
  EXPECT_FALSE(neighbourhood(graph, "e", 1));
}

}  // namespace
}  // namespace tracemill::test_util
