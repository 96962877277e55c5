// A period against its baseline: two systems condensed from generated traces that differ in
// known ways, and the exact changes the comparison and the writers report.
#include "export/baseline.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "export/export_run.h"
#include "stats/file/record_writer.h"
#include "traces/condenser.h"

namespace tracemill {
namespace {

// How the period differs from the one before.
struct Period {
  bool legacy = true;        // api calls the legacy service
  bool cache = false;        // api calls the cache
  int api_failures = 0;      // of every 100 calls frontend -> api, how many fail
  std::int64_t db_slow = 1;  // the factor on the durations of api -> db
};

// 400 traces of frontend -> api -> {db, legacy, cache}, durations drawn from a fixed seed.
std::vector<Span> traces(const Period& period) {
  std::mt19937_64 random(7);
  std::vector<Span> spans;
  for (int t = 0; t < 400; ++t) {
    const std::string trace = std::to_string(1000 + t);
    auto span = [&](std::string id, std::string parent, std::string service, std::string name,
                    SpanKind kind, std::int64_t duration) -> Span& {
      Span& s = spans.emplace_back();
      s.trace_id = trace;
      s.span_id = std::move(id);
      s.parent_id = std::move(parent);
      s.service = std::move(service);
      s.name = std::move(name);
      s.kind = kind;
      s.start_micros = 1'000'000 * t;
      s.duration_micros = duration;
      return s;
    };
    auto draw = [&](std::int64_t base) {
      return base + static_cast<std::int64_t>(random() % static_cast<std::uint64_t>(base));
    };
    span("a1", "", "frontend", "GET /", SpanKind::Server, draw(50'000));
    span("a2", "a1", "frontend", "list", SpanKind::Client, draw(40'000));
    span("a3", "a2", "api", "list", SpanKind::Server, draw(30'000)).failed =
        t % 100 < period.api_failures;
    span("a4", "a3", "api", "query", SpanKind::Client, draw(5'000));
    span("a5", "a4", "db", "query", SpanKind::Server, period.db_slow * draw(4'000));
    if (period.legacy) {
      span("a6", "a3", "api", "lookup", SpanKind::Client, draw(3'000));
      span("a7", "a6", "legacy", "lookup", SpanKind::Server, draw(2'000));
    }
    if (period.cache) {
      span("a8", "a3", "api", "get", SpanKind::Client, draw(800));
      span("a9", "a8", "cache", "get", SpanKind::Server, draw(500));
    }
  }
  return spans;
}

// The statistics file of a period, written where the test can read it.
std::string stats_file(const Period& period, const std::string& name) {
  Condenser condenser;
  for (const Span& span : traces(period)) condenser.add(span);
  condenser.end_input();
  const std::string path = (std::filesystem::path(testing::TempDir()) / name).string();
  StringSink text;
  EXPECT_TRUE(write_record(text, condenser.finish(), Encoding::Json));
  FILE* f = std::fopen(path.c_str(), "wb");
  EXPECT_NE(f, nullptr);
  std::fwrite(text.text().data(), 1, text.text().size(), f);
  std::fclose(f);
  return path;
}

// One line per element that is not kept unchanged: "STATUS NAME" or "worse NAME: WHAT".
std::vector<std::string> reported(const GraphChanges& changes) {
  std::vector<std::string> lines;
  auto report = [&](const std::string& name, const FigureChange& change) {
    if (change.status != Presence::Kept) {
      lines.push_back((change.status == Presence::New ? "new " : "gone ") + name);
    }
    if (change.worse_errors()) lines.push_back("worse " + name + ": errors");
    if (change.worse_p99()) lines.push_back("worse " + name + ": p99");
  };
  constexpr const char* kMaps[] = {" in ", " out ", " unknown "};
  for (const NodeChange& node : changes.nodes) {
    report(node.name, node.received);
    for (std::size_t d = 0; d < 3; ++d) {
      for (const MethodChange& m : node.maps[d]) report(node.name + kMaps[d] + m.method, m.change);
    }
  }
  for (const EdgeChange& edge : changes.edges) {
    report(edge.from + " -> " + edge.to + " " + edge.method, edge.change);
  }
  return lines;
}

std::string run(const ExportOptions& options) {
  const std::string path = (std::filesystem::path(testing::TempDir()) / "baseline.out").string();
  FILE* f = std::fopen(path.c_str(), "wb");
  FdSink out(fileno(f), FdSink::Buffering::Block);
  StringSink err;
  EXPECT_EQ(run_export(options, out, err), kExportOk) << err.text();
  std::fclose(f);
  std::string text;
  FILE* in = std::fopen(path.c_str(), "rb");
  for (int c; (c = std::fgetc(in)) != EOF;) text += static_cast<char>(c);
  std::fclose(in);
  return text;
}

TEST(Baseline, ReportsExactlyTheChangesBetweenTwoPeriods) {
  const std::string before = stats_file({}, "before.json");
  const std::string after =
      stats_file({.legacy = false, .cache = true, .api_failures = 10, .db_slow = 2}, "after.json");
  ExportOptions options;
  options.format = ExportFormat::Json;
  options.inputs = {after};
  options.baseline = {before};
  const std::string json = run(options);

  auto graph_of = [](const std::string& path) {
    ExportOptions one;
    one.format = ExportFormat::Json;
    one.inputs = {path};
    return run(one);
  };
  // The graph itself is the current one's; the comparison follows it.
  const std::string alone = graph_of(after);
  ASSERT_EQ(json.substr(0, alone.size() - 3), alone.substr(0, alone.size() - 3));  // up to "]\n}\n"
  EXPECT_NE(json.find("\"baseline\": {\n    \"inputs\": [\""), std::string::npos);

  // The same comparison from the graphs, element by element.
  auto graph = [](const std::string& path) {
    Result<StatsFile, LoadError> file = StatsFile::open(path);
    EXPECT_TRUE(file);
    return std::get<DependencyGraph>(stream_dependencies(file.value()).end);
  };
  const GraphChanges changes = compare_graphs(graph(before), graph(after));
  const std::vector<std::string> expected = {
      "worse api: errors",
      "worse api in list: errors",
      "new api out get",
      "gone api out lookup",
      "new cache",
      "new cache in get",
      "worse db: p99",
      "worse db in query: p99",
      "gone legacy",
      "gone legacy in lookup",
      "new api -> cache get",
      "worse api -> db query: p99",
      "gone api -> legacy lookup",
      "worse frontend -> api list: errors",
  };
  EXPECT_EQ(reported(changes), expected);
  // The JSON block lists what got worse per method and edge.
  std::size_t worse = 0;
  for (std::size_t at = 0; (at = json.find("\"worse\": [\"", at)) != std::string::npos; ++at) {
    ++worse;
  }
  EXPECT_EQ(worse, 4u);

  // Against itself nothing changed.
  EXPECT_TRUE(reported(compare_graphs(graph(after), graph(after))).empty());
  // In dot: the gone node and edge drawn dashed, labels with the changes.
  options.baseline = {before};
  options.format = ExportFormat::Dot;
  const std::string dot = run(options);
  EXPECT_NE(dot.find("\\ngone since the baseline\\nbaseline calls: 400, errors: 0.0 %"),
            std::string::npos)
      << dot;
  EXPECT_NE(dot.find("\\nnew since the baseline"), std::string::npos);
  EXPECT_NE(dot.find("vs baseline: calls \u00d71, errors +10.0 pp (worse), p99 \u00d7"),
            std::string::npos)
      << dot;
  std::size_t dashed = 0;
  for (std::size_t at = 0; (at = dot.find("style=dashed", at)) != std::string::npos; ++at) {
    ++dashed;
  }
  EXPECT_EQ(dashed, 2u);  // legacy and the edge into it
}

// Ratios and thresholds: exactly at a threshold counts as worse, and what has no calls or no
// durations on a side has no ratio.
TEST(Baseline, RatiosAndThresholds) {
  struct Case {
    HealthSummary before, after;
    std::optional<double> calls_ratio, error_change, p99_ratio;
    bool worse_errors, worse_p99;
  };
  const Case cases[] = {
      {{100, 0, 1000}, {100, 1, 1200}, 1.0, 0.01, 1.2, true, true},
      {{100, 0, 1000}, {100, 0, 1199}, 1.0, 0.0, 1.199, false, false},
      {{300, 3, 10}, {150, 3, 11}, 0.5, 0.01, 1.1, true, false},
      {{0, 0, std::nullopt}, {5, 5, 7}, std::nullopt, std::nullopt, std::nullopt, false, false},
      {{4, 9, 0}, {4, 0, 5}, 1.0, -1.0, std::nullopt, false, false},  // errors held to calls
  };
  for (const Case& c : cases) {
    const FigureChange change{Presence::Kept, c.before, c.after};
    EXPECT_EQ(change.calls_ratio().has_value(), c.calls_ratio.has_value());
    if (c.calls_ratio) {
      EXPECT_DOUBLE_EQ(*change.calls_ratio(), *c.calls_ratio);
    }
    EXPECT_EQ(change.error_ratio_change().has_value(), c.error_change.has_value());
    if (c.error_change) {
      EXPECT_NEAR(*change.error_ratio_change(), *c.error_change, 1e-12);
    }
    EXPECT_EQ(change.p99_ratio().has_value(), c.p99_ratio.has_value());
    if (c.p99_ratio) {
      EXPECT_DOUBLE_EQ(*change.p99_ratio(), *c.p99_ratio);
    }
    EXPECT_EQ(change.worse_errors(), c.worse_errors);
    EXPECT_EQ(change.worse_p99(), c.worse_p99);
  }
}

}  // namespace
}  // namespace tracemill
