// The health figures of the dependency graph against a computation of their own from the whole
// record: the statistics of each pair belong to its chain's last call (in the map of its
// repaired direction) and to the edge into it.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <tuple>
#include <vector>

#include "base/byte_source.h"
#include "base/sink.h"
#include "bench/generator.h"
#include "corpus.h"
#include "export/dependency_graph.h"
#include "graph/fix_callchain.h"
#include "stats/file/operation_stats_json.h"
#include "traces/condenser.h"
#include "traces/trace_reader.h"

namespace tracemill {
namespace {

struct Expected {
  std::int64_t calls = 0, errors = 0, with_error_logs = 0;
  std::map<std::int16_t, std::int64_t> http;
  std::map<std::string, std::int64_t> logs;
  std::vector<std::int64_t> durations;
};

// Per (process, method, direction) and per (from, to, method), from the record.
struct ExpectedGraph {
  std::map<std::tuple<std::string, std::string, int>, Expected> methods;
  std::map<std::tuple<std::string, std::string, std::string>, Expected> edges;
};

void add(Expected& e, const CChainStatsValue& value) {
  e.calls += static_cast<std::int64_t>(value.count);
  e.errors += value.cc_not_http_ok;
  e.with_error_logs += value.cc_with_error_logs;
  for (const auto& [code, n] : value.http_not_ok) e.http[code] += static_cast<std::int64_t>(n);
  for (const auto& [text, n] : value.error_logs) e.logs[text] += static_cast<std::int64_t>(n);
  e.durations.insert(e.durations.end(), value.duration_micros.begin(), value.duration_micros.end());
}

ExpectedGraph expected_of(const StatsRecJson& record) {
  ExpectedGraph expected;
  for (const auto& [key, operation] : record.stats) {
    for (const auto& [chain_key, value] : operation.call_chain) {
      const std::vector<Call>& calls = chain_key.call_chain;
      if (calls.empty()) continue;
      std::vector<CallDirection> directions;
      StringSink reports;
      fix_callchain(calls, directions, reports);
      const Call& last = calls.back();
      add(expected.methods[{last.process, last.method, static_cast<int>(directions.back())}],
          value);
      if (calls.size() >= 2 && calls[calls.size() - 2].process != last.process) {
        add(expected.edges[{calls[calls.size() - 2].process, last.process, last.method}], value);
      }
    }
  }
  return expected;
}

template <class K>
std::vector<std::pair<K, std::int64_t>> entries(const std::map<K, std::int64_t>& map) {
  return {map.begin(), map.end()};
}

// The nearest-rank quantile of sorted values.
std::int64_t nearest_rank(const std::vector<std::int64_t>& sorted, double q) {
  const auto rank = static_cast<std::size_t>(std::ceil(q * static_cast<double>(sorted.size())));
  return sorted[std::max<std::size_t>(rank, 1) - 1];
}

void expect_figures(const CallFigures& got, Expected want, bool exact, const std::string& what) {
  SCOPED_TRACE(what);
  EXPECT_EQ(got.calls, want.calls);
  EXPECT_EQ(got.errors, want.errors);
  EXPECT_EQ(got.with_error_logs, want.with_error_logs);
  EXPECT_EQ(got.http_status, entries(want.http));
  EXPECT_EQ(got.error_logs, entries(want.logs));
  std::sort(want.durations.begin(), want.durations.end());
  const Latency& latency = got.latency;
  ASSERT_EQ(latency.count(), want.durations.size());
  if (want.durations.empty()) return;
  EXPECT_EQ(latency.min(), want.durations.front());
  EXPECT_EQ(latency.max(), want.durations.back());
  Int128 sum;
  for (std::int64_t d : want.durations) sum.add(d);
  EXPECT_EQ(latency.sum(), sum);
  for (double q : {0.5, 0.9, 0.95, 0.99}) {
    const std::int64_t x = nearest_rank(want.durations, q);
    const double error = std::abs(static_cast<double>(latency.quantile(q) - x));
    EXPECT_LE(error, exact ? 0.0 : 0.01 * std::abs(static_cast<double>(x))) << "q " << q;
  }
  for (std::int64_t bound : Latency::kBounds) {
    const auto at_most = static_cast<std::uint64_t>(
        std::upper_bound(want.durations.begin(), want.durations.end(), bound) -
        want.durations.begin());
    EXPECT_EQ(latency.count_at_most(bound), at_most) << "bound " << bound;
  }
}

// Every method and edge of the streamed graph against the record's own computation.
void expect_health(const std::string& bytes, Encoding encoding, bool exact) {
  Result<StatsRecJson, LoadError> record =
      StatsFile(encoding, ByteSource::from_memory(bytes)).read();
  ASSERT_TRUE(record);
  const ExpectedGraph expected = expected_of(record.value());
  EXPECT_FALSE(expected.methods.empty());
  for (bool rereadable : {true, false}) {
    StatsFile file(encoding,
                   ByteSource::from_memory(bytes, ByteSource::kBufferSize, 0, rereadable));
    // From a pipe, with the latency figures on a second thread from the first duration on.
    StreamedDependencies run =
        stream_dependencies(file, ChainFold::kDefaultLogAllowance,
                            exact ? Latency::Mode::kExact : Latency::Mode::kSketch,
                            rereadable ? LatencyWorker::kDefaultStart : 0);
    const auto* graph = std::get_if<DependencyGraph>(&run.end);
    ASSERT_NE(graph, nullptr);
    RecordCounts counts{record.value().trace_id.size(), record.value().stats.size(), 0};
    for (const auto& [key, operation] : record.value().stats) {
      counts.chains += operation.call_chain.size();
    }
    EXPECT_EQ(run.counts, counts);
    std::size_t with_calls = 0;
    for (const DependencyNode& node : graph->nodes) {
      const std::vector<MethodSum>* maps[] = {&node.operations, &node.methods,
                                              &node.direction_unknown};
      for (int d = 0; d < 3; ++d) {
        for (const MethodSum& m : *maps[d]) {
          auto it = expected.methods.find({node.name, m.method, d});
          expect_figures(m.figures, it == expected.methods.end() ? Expected{} : it->second, exact,
                         node.name + " " + m.method);
          with_calls += it != expected.methods.end();
        }
      }
    }
    EXPECT_EQ(with_calls, expected.methods.size());
    std::size_t edges = 0;
    for (const DependencyEdge& e : graph->edges) {
      auto it = expected.edges.find({e.from, e.to, e.method});
      expect_figures(e.figures, it == expected.edges.end() ? Expected{} : it->second, exact,
                     e.from + " -> " + e.to + " " + e.method);
      edges += it != expected.edges.end();
    }
    EXPECT_EQ(edges, expected.edges.size());
  }
}

TEST(Health, GeneratedFilesOfBothProfilesAndEncodings) {
  for (bench::Profile profile : {bench::Profile::Typical, bench::Profile::Chains}) {
    for (auto [format, encoding] : {std::pair{bench::Format::Json, Encoding::Json},
                                    std::pair{bench::Format::Bincode, Encoding::Bincode}}) {
      StringSink file;
      // Repeated keys make the fold read the file a second time.
      for (std::uint64_t repeat_keys : {0, 200}) {
        ASSERT_TRUE(bench::write_stats_file({.seed = 11,
                                             .operations = 40,
                                             .format = format,
                                             .profile = profile,
                                             .repeat_keys = repeat_keys},
                                            file)
                        .ok);
        const std::string bytes = file.take();
        for (bool exact : {false, true}) expect_health(bytes, encoding, exact);
      }
    }
  }
}

TEST(Health, CondensedCorpusTraces) {
  TRACEMILL_CORPUS_PATH_OR_SKIP(traces, "traces");
  std::size_t files = 0;
  for (const auto& entry : std::filesystem::directory_iterator(traces)) {
    if (entry.path().filename() == "LICENSE") continue;
    SCOPED_TRACE(entry.path().string());
    std::ifstream in(entry.path(), std::ios::binary);
    ByteSource source = ByteSource::from_memory({std::istreambuf_iterator<char>(in), {}});
    Condenser condenser;
    ASSERT_FALSE(read_traces(source, std::nullopt, condenser));
    condenser.end_input();
    StringSink out;
    ASSERT_TRUE(condenser.finish_into(out, Encoding::Bincode));
    expect_health(out.take(), Encoding::Bincode, false);
    ++files;
  }
  EXPECT_EQ(files, 6u);
}

}  // namespace
}  // namespace tracemill
