// The whole run as users see it: a statistics file in, diagnostics and the graph on standard
// output, fatal reports on standard error, exit statuses.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <regex>
#include <string>
#include <vector>

#include "base/sink.h"
#include "bench/encode.h"
#include "bench/generator.h"
#include "e2e/run_binary.h"
#include "graph/graph_testing.h"
#include "stats/file/operation_stats_json.h"

namespace tracemill::e2e {
namespace {

using test_util::canonical_map_order;

const char kNote[] =
    "note: run with `TRACEMILL_BACKTRACE=1` environment variable to display a backtrace\n";

// The report of a write to standard output after its reader went away.
std::regex broken_pipe_report() {
  return std::regex(
      "thread 'main' panicked at 'failed printing to stdout: Broken pipe \\(os error 32\\)', "
      "src/main/netsketch\\.cpp:[0-9]+:[0-9]+\n" +
      std::string(kNote));
}

Call call(std::string process, std::string method, CallDirection direction) {
  return Call{std::move(process), std::move(method), direction};
}

// A record whose one operation holds the given chains with their counts.
StatsRecJson record_with(std::vector<std::pair<std::vector<Call>, std::uint64_t>> chains) {
  StatsRecJson record;
  OperationStatsJson& op = record.stats["GET /users"];
  for (auto& [calls, count] : chains) {
    CChainStatsKey key;
    key.call_chain = std::move(calls);
    CChainStatsValue value;
    value.count = count;
    op.call_chain.emplace_back(std::move(key), std::move(value));
  }
  return record;
}

struct Encoding {
  const char* extension;
  std::string (*encode)(const StatsRecJson&);
};

const Encoding kEncodings[] = {
    {"json",
     [](const StatsRecJson& r) {
       std::string out;
       bench::encode_json(r, out, true);
       return out;
     }},
    {"bincode",
     [](const StatsRecJson& r) {
       std::string out;
       bench::encode_bincode(r, out);
       return out;
     }},
};

// Runs the tool on `record` written in `encoding`.
RunResult run_on(const StatsRecJson& record, const Encoding& encoding,
                 StdoutMode mode = StdoutMode::Pipe) {
  TempDir dir;
  std::string name = std::string("stats.") + encoding.extension;
  dir.write_file(name, encoding.encode(record));
  return run_binary({.args = {name}, .working_directory = dir.path(), .stdout_mode = mode});
}

TEST(Run, EmptyGraphAndSumsBeyondThirtyTwoBits) {
  for (const Encoding& encoding : kEncodings) {
    RunResult empty = run_on(StatsRecJson{}, encoding);
    EXPECT_EQ(empty.exit_status, 0);
    EXPECT_EQ(empty.out, "ProcessNodes(\n    {},\n)\n");

    // Two chains of the largest accepted count: the sum is kept exactly, never wrapped.
    RunResult big = run_on(record_with({{{call("a", "m", CallDirection::Inbound)}, 2147483647},
                                        {{call("a", "m", CallDirection::Inbound)}, 2147483647}}),
                           encoding);
    EXPECT_EQ(big.exit_status, 0);
    EXPECT_NE(big.out.find("                \"m\": 4294967294,\n"), std::string::npos) << big.out;
  }
}

TEST(Run, ChainCountBeyondThirtyTwoBitsEndsTheRun) {
  // The earlier pair's diagnostics stay on standard output; the graph is never printed.
  StatsRecJson record = record_with({{{call("a", "x", CallDirection::Outbound)}, 1},
                                     {{}, 2147483648u}});
  for (const Encoding& encoding : kEncodings) {
    RunResult r = run_on(record, encoding);
    EXPECT_EQ(r.exit_status, 101);
    EXPECT_EQ(r.out,
              "\nFailed on idx = [0]:\n"
              "0: Call { process: \"a\", method: \"x\", call_direction: Outbound }  ->  "
              "Call { process: \"a\", method: \"x\", call_direction: Outbound }\n");
    EXPECT_TRUE(std::regex_match(
        r.err, std::regex("thread 'main' panicked at 'called `Result::unwrap\\(\\)` on an `Err` "
                          "value: TryFromIntError\\(\\(\\)\\)', src/graph/build_graph\\.cpp:"
                          "[0-9]+:[0-9]+\n" +
                          std::string(kNote))))
        << r.err;

    // With standard output gone, the failed write of the earlier pair's diagnostics ends the
    // run before the next pair is looked at.
    RunResult broken = run_on(record, encoding, StdoutMode::BrokenPipe);
    EXPECT_EQ(broken.exit_status, 101);
    EXPECT_TRUE(std::regex_match(broken.err, broken_pipe_report())) << broken.err;
  }
}

TEST(Run, StandardOutputClosedOrBroken) {
  StatsRecJson record = record_with({{{call("a", "m", CallDirection::Inbound)}, 1}});
  for (const Encoding& encoding : kEncodings) {
    // A closed descriptor 1 is reopened on /dev/null: the run succeeds silently.
    RunResult closed = run_on(record, encoding, StdoutMode::Closed);
    EXPECT_EQ(closed.exit_status, 0);
    EXPECT_EQ(closed.err, "");

    // A reader that went away: no signal kills the tool, the failed write ends the run.
    RunResult broken = run_on(record, encoding, StdoutMode::BrokenPipe);
    EXPECT_FALSE(broken.signal.has_value());
    EXPECT_EQ(broken.exit_status, 101);
    EXPECT_TRUE(std::regex_match(broken.err, broken_pipe_report())) << broken.err;
  }
}

TEST(Run, DecodeErrorsOfEitherEncodingEndTheRun) {
  struct Case {
    const char* name;
    const char* debug_form;
  } cases[] = {
      {"empty.json", "Error(\"EOF while parsing a value\", line: 1, column: 0)"},
      {"empty.bincode",
       "Io(Error { kind: UnexpectedEof, message: \"failed to fill whole buffer\" })"},
  };
  for (const Case& c : cases) {
    TempDir dir;
    dir.write_file(c.name, "");
    RunResult r = run_binary({.args = {c.name}, .working_directory = dir.path()});
    EXPECT_EQ(r.exit_status, 101);
    EXPECT_EQ(r.out, "");
    std::string prefix =
        std::string("thread 'main' panicked at 'Failed to read JSON-file: ") + c.debug_form +
        "', src/main/netsketch.cpp:";
    EXPECT_EQ(r.err.substr(0, prefix.size()), prefix) << r.err;
  }
}

// The diagnostic blocks of a run in sorted order (operations are visited in hash order, which
// differs between runs), then the graph with its map entries in sorted order.
std::string canonical_run_output(const std::string& out) {
  std::size_t graph = out.find("ProcessNodes(\n");
  if (graph == std::string::npos) return "no graph in: " + out;
  std::vector<std::string> blocks;
  const std::string header = "\nFailed on idx = ";
  for (std::size_t at = 0; at < graph;) {
    std::size_t next = std::min(out.find(header, at + 1), graph);
    blocks.push_back(out.substr(at, next - at));
    at = next;
  }
  std::sort(blocks.begin(), blocks.end());
  std::string text;
  for (const std::string& block : blocks) text += block;
  return text + canonical_map_order(out.substr(graph));
}

TEST(Run, GeneratedFilesGiveTheSameOutputInBothEncodings) {
  TempDir dir;
  for (bench::Format format : {bench::Format::Json, bench::Format::Bincode}) {
    bench::GenOptions options;
    options.seed = 5;
    options.operations = 12;
    options.format = format;
    options.profile = bench::Profile::Chains;
    StringSink file;
    ASSERT_TRUE(bench::write_stats_file(options, file).ok);
    dir.write_file(format == bench::Format::Json ? "gen.json" : "gen.bincode", file.text());
  }
  RunResult json = run_binary({.args = {"gen.json"}, .working_directory = dir.path()});
  RunResult bincode = run_binary({.args = {"gen.bincode"}, .working_directory = dir.path()});
  EXPECT_EQ(json.exit_status, 0) << json.err;
  EXPECT_EQ(bincode.exit_status, 0) << bincode.err;
  EXPECT_NE(json.out.find("\nFailed on idx = "), std::string::npos) << "no repair reported";
  EXPECT_EQ(canonical_run_output(json.out), canonical_run_output(bincode.out));
}

// Every example, in each encoding, prints its expected output (diagnostics, then the graph).
TEST(Run, ExamplesPrintTheirExpectedOutput) {
  const std::filesystem::path examples = std::filesystem::path(TRACEMILL_SOURCE_DIR) / "examples";
  int runs = 0;
  for (const auto& entry : std::filesystem::directory_iterator(examples)) {
    const std::filesystem::path& input = entry.path();
    if (input.extension() != ".json" && input.extension() != ".bincode") continue;
    std::ifstream file(examples / "expected" / input.stem().concat(".txt"));
    ASSERT_TRUE(file) << "no expected output for " << input;
    std::string expected(std::istreambuf_iterator<char>(file), {});
    RunResult r = run_binary({.args = {input.string()}});
    EXPECT_EQ(r.exit_status, 0) << input;
    EXPECT_EQ(r.err, "") << input;
    EXPECT_EQ(canonical_run_output(r.out), canonical_run_output(expected)) << input;
    ++runs;
  }
  EXPECT_GE(runs, 8);
}

}  // namespace
}  // namespace tracemill::e2e
