// tracemill-export as users see it: the same bytes from either encoding and on every run, and
// one line on standard error with the exit status for each way a run can fail.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "base/sink.h"
#include "bench/encode.h"
#include "bench/generator.h"
#include "e2e/run_binary.h"

namespace tracemill::e2e {
namespace {

RunResult run_export(std::vector<std::string> args, const TempDir& dir,
                     StdoutMode mode = StdoutMode::Pipe) {
  return run_binary({.binary = TRACEMILL_EXPORT_BINARY,
                     .args = std::move(args),
                     .working_directory = dir.path(),
                     .stdout_mode = mode});
}

TEST(ExportRun, SameBytesFromBothEncodingsAndOnEveryRun) {
  TempDir dir;
  for (bench::Format format : {bench::Format::Json, bench::Format::Bincode}) {
    bench::GenOptions options;
    options.seed = 9;
    options.operations = 12;
    options.format = format;
    options.profile = bench::Profile::Chains;
    options.repeat_keys = 250;  // replaced operations: the file is read a second time
    StringSink file;
    ASSERT_TRUE(bench::write_stats_file(options, file).ok);
    dir.write_file(format == bench::Format::Json ? "gen.json" : "gen.bincode", file.text());
  }
  const std::pair<const char*, const char*> formats[] = {
      {"dot", "\" -> \""}, {"mermaid", " -->|"}, {"json", "{\"from\": "}};
  for (const auto& [format, edge] : formats) {
    RunResult json = run_export({"--format", format, "gen.json"}, dir);
    RunResult again = run_export({"--format", format, "gen.json"}, dir);
    RunResult bincode = run_export({"--format", format, "gen.bincode"}, dir);
    EXPECT_EQ(json.exit_status, 0) << json.err;
    EXPECT_NE(json.out.find(edge), std::string::npos) << format << ": no edge";
    EXPECT_EQ(again.out, json.out) << format;
    EXPECT_EQ(bincode.out, json.out) << format;
    EXPECT_NE(json.err, "") << "no chain contradicts itself";
    std::string expected_err = json.err;
    expected_err.replace(expected_err.find("gen.json"), 8, "gen.bincode");
    EXPECT_EQ(bincode.err, expected_err);
  }
}

std::string bincode_of(std::vector<Call> calls, std::uint64_t count) {
  StatsRecJson record;
  CChainStatsKey key;
  key.call_chain = std::move(calls);
  CChainStatsValue value;
  value.count = count;
  record.stats["op"].call_chain.emplace_back(std::move(key), std::move(value));
  std::string out;
  bench::encode_bincode(record, out);
  return out;
}

TEST(ExportRun, ErrorLinesAndExitStatuses) {
  TempDir dir;
  const std::string good = bincode_of({{"a", "m", CallDirection::Inbound}}, 1);
  dir.write_file("good.bincode", good);
  dir.write_file("cut.bincode", good.substr(0, good.size() - 1));
  dir.write_file("bad.json", "{\n  \"version\": 3");
  dir.write_file("big.bincode", bincode_of({}, 2147483648u));
  dir.write_file("contradicting.bincode", bincode_of({{"a", "m", CallDirection::Outbound}}, 1));
  dir.write_file("good.txt", good);
  struct Case {
    std::vector<std::string> args;
    StdoutMode mode;
    int status;
    std::string err;
  };
  const Case cases[] = {
      {{"bad.json"},
       StdoutMode::Pipe,
       1,
       "tracemill-export: bad.json:2:14: invalid type: integer `3`, expected struct Version\n"},
      {{"cut.bincode"},
       StdoutMode::Pipe,
       1,
       "tracemill-export: cut.bincode: byte " + std::to_string(good.size() - 1) +
           ": Io(Error { kind: UnexpectedEof, message: \"failed to fill whole buffer\" })\n"},
      {{"missing.json"},
       StdoutMode::Pipe,
       1,
       "tracemill-export: missing.json: No such file or directory\n"},
      {{"good.txt"},
       StdoutMode::Pipe,
       1,
       "tracemill-export: good.txt: unknown extension '.txt' (expected .json or .bincode)\n"},
      {{"-f", "json", "big.bincode"},
       StdoutMode::Pipe,
       1,
       "tracemill-export: big.bincode: a chain count exceeds 2147483647\n"},
      {{"good.bincode"}, StdoutMode::BrokenPipe, 1, "tracemill-export: write error: Broken pipe\n"},
      {{"--format", "svg", "good.bincode"},
       StdoutMode::Pipe,
       2,
       "tracemill-export: invalid format 'svg' (expected dot, mermaid or json)\n"
       "Usage: tracemill-export [--format dot|mermaid|json] [INPUT]\n"
       "Try 'tracemill-export --help' for more information.\n"},
      {{"contradicting.bincode"},
       StdoutMode::Pipe,
       0,
       "tracemill-export: warning: contradicting.bincode: 1 chain contradicts its call "
       "directions; run tracemill on the file to see the reports\n"},
  };
  for (const Case& c : cases) {
    RunResult r = run_export(c.args, dir, c.mode);
    EXPECT_EQ(r.exit_status, c.status) << c.err;
    EXPECT_EQ(r.err, c.err);
    if (c.status != 0) {
      EXPECT_EQ(r.out, "") << c.err;
    }
  }
}

}  // namespace
}  // namespace tracemill::e2e
