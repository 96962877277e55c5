// tracemill-condense run as a program: the real traces of the test corpus, and the inputs that
// must end in an error with no output file.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <regex>
#include <set>
#include <string>
#include <vector>

#include "corpus.h"
#include "e2e/run_binary.h"
#include "stats/file/operation_stats_json.h"

namespace tracemill::e2e {
namespace {

RunResult condense(std::vector<std::string> args) {
  return run_binary({.binary = TRACEMILL_CONDENSE_BINARY, .args = std::move(args)});
}

std::string read_all(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// What a trace file holds, counted from the file itself (how, in `how`), and what condensing it
// must therefore give.
struct Facts {
  const char* file;
  const char* how;
  std::uint64_t traces, spans;                // spans after merging fragments
  std::uint64_t received, outbound, unknown;  // SERVER+CONSUMER, CLIENT+PRODUCER, the others
  std::uint64_t failed, with_error_logs, incomplete;
  std::set<std::string> processes;                      // tracemill's nodes
  std::set<std::pair<std::string, std::string>> edges;  // tracemill-export's callers and callees
};

const std::vector<Facts>& corpus_facts() {
  static const std::vector<Facts> facts = {
      {"otlp-oteldemo-traces.jsonl",
       "141 distinct traceIds, 547 spans (no id twice), kinds 2/3/1 in 277/243/27 spans; 147 "
       "spans have status code 2 or an HTTP status of 500, and 2 more are servers under such a "
       "client of another service; 39 spans have an exception event; 1 span's parentSpanId "
       "names no span of its trace; 8 service.name values, no leaf client names another peer",
       141,
       547,
       277,
       243,
       27,
       149,
       39,
       1,
       {"adservice", "checkoutservice", "flagd", "frontend", "frontend-proxy", "loadgenerator",
        "productcatalogservice", "recommendationservice"},
       {}},
      {"otlp-tempo-batches-istio-bookinfo.json",
       "one trace of 8 spans: 4 SPAN_KIND_CLIENT spans, each the parent of a SPAN_KIND_SERVER "
       "span of the service it calls; HTTP status \"200\" everywhere",
       1,
       8,
       4,
       4,
       0,
       0,
       0,
       0,
       {"details.bookinfo", "istio-ingressgateway.istio-system", "productpage.bookinfo",
        "ratings.bookinfo", "reviews.bookinfo"},
       {{"istio-ingressgateway.istio-system", "productpage.bookinfo"},
        {"productpage.bookinfo", "details.bookinfo"},
        {"productpage.bookinfo", "reviews.bookinfo"},
        {"reviews.bookinfo", "ratings.bookinfo"}}},
      {"otlp-proto-example-trace.json",
       "one SERVER span whose parentSpanId names no span of the file",
       1,
       1,
       1,
       0,
       0,
       0,
       0,
       1,
       {"my.service"},
       {}},
      {"zipkin2-smartthings-oauth-authorization.json",
       "175 spans, 4 of them repeat the trace, id, kind and service of another (171 spans); of "
       "those 95 CLIENT, 73 SERVER (45 sharing their id with a client), 3 without kind; 2 error "
       "tags; every parent id is in the trace",
       1,
       171,
       73,
       95,
       3,
       2,
       2,
       0,
       {"account", "auth", "bouncer", "datamgmt", "dove", "paperboy", "pusher", "stlogin"},
       {{"bouncer", "pusher"},
        {"datamgmt", "account"},
        {"datamgmt", "auth"},
        {"datamgmt", "bouncer"},
        {"datamgmt", "stlogin"},
        {"pusher", "dove"},
        {"pusher", "paperboy"},
        {"stlogin", "auth"},
        {"stlogin", "datamgmt"}}},
      {"zipkin2-messaging-kafka.json",
       "28 spans: 9 PRODUCER, 7 CONSUMER, 12 local; 3 error tags, 2 with a text; 6 producers "
       "without children name the remote service kafka, which becomes a node",
       1,
       28,
       7,
       9,
       12,
       3,
       2,
       0,
       {"kafka", "servicea", "serviceb"},
       {{"servicea", "kafka"}, {"servicea", "serviceb"}}},
      {"jaeger-petclinic-testTraceNormal.json",
       "5 spans of processes p1 (customers-service) and p2 (api-gateway): span.kind server 2, "
       "client 1, none 2; the api-gateway client is the parent of the customers-service server",
       1,
       5,
       2,
       1,
       2,
       0,
       0,
       0,
       {"api-gateway", "customers-service"},
       {{"api-gateway", "customers-service"}}},
  };
  return facts;
}

TEST(Condense, CorpusTraces) {
  TRACEMILL_CORPUS_PATH_OR_SKIP(traces, "traces");
  TempDir dir;
  for (const Facts& f : corpus_facts()) {
    SCOPED_TRACE(std::string(f.file) + ": " + f.how);
    const std::string out = (dir.path() / "stats.json").string();
    RunResult r = condense({(traces / f.file).string(), "-o", out});
    ASSERT_EQ(r.exit_status, 0) << r.err;
    Result<StatsRecJson, LoadError> loaded = StatsRecJson::read_file(out);
    ASSERT_TRUE(loaded);
    const StatsRecJson& rec = loaded.value();
    std::uint64_t spans = 0, received = 0, outbound = 0, unknown = 0, failed = 0, logs = 0;
    for (std::uint64_t n : rec.num_spans) spans += n;
    for (const auto& [name, op] : rec.stats) {
      received += op.num_received_calls;
      outbound += op.num_outbound_calls;
      unknown += op.num_unknown_calls;
      for (const auto& [method, v] : op.method) {
        failed += static_cast<std::uint64_t>(v.num_not_http_ok);
        logs += static_cast<std::uint64_t>(v.num_with_error_logs);
      }
    }
    EXPECT_EQ(rec.trace_id.size(), f.traces);
    EXPECT_EQ(spans, f.spans);
    EXPECT_EQ(received, f.received);
    EXPECT_EQ(outbound, f.outbound);
    EXPECT_EQ(unknown, f.unknown);
    EXPECT_EQ(failed, f.failed);
    EXPECT_EQ(logs, f.with_error_logs);
    EXPECT_EQ(rec.num_incomplete_traces, f.incomplete);

    RunResult graph = run_binary({.args = {out}});
    ASSERT_EQ(graph.exit_status, 0) << graph.err;
    std::set<std::string> processes;
    static const std::regex node(R"re(\n        "((?:[^"\\]|\\.)*)": ProcessNode \{)re");
    for (std::sregex_iterator it(graph.out.begin(), graph.out.end(), node), end; it != end; ++it) {
      processes.insert((*it)[1]);
    }
    EXPECT_EQ(processes, f.processes);

    RunResult exported =
        run_binary({.binary = TRACEMILL_EXPORT_BINARY, .args = {"--format", "json", out}});
    ASSERT_EQ(exported.exit_status, 0) << exported.err;
    if (!f.edges.empty()) {
      std::set<std::pair<std::string, std::string>> edges;
      static const std::regex edge(R"re(\{"from": "([^"]*)", "to": "([^"]*)")re");
      for (std::sregex_iterator it(exported.out.begin(), exported.out.end(), edge), end; it != end;
           ++it) {
        edges.insert({(*it)[1], (*it)[2]});
      }
      EXPECT_EQ(edges, f.edges);
    }
  }
}

// Each failing input ends with one line naming the file, its line and column, status 1, and no
// output file: neither a new one nor a change to one that was there.
TEST(Condense, BadInputsLeaveNoOutput) {
  struct Case {
    std::string input;
    std::string message;  // after "tracemill-condense: FILE"
  };
  const std::vector<Case> cases = {
      {"", ":1:0: EOF while parsing a value"},
      {"hello",
       ":1:1: not a trace file: expected resourceSpans or batches (OTLP JSON), data or "
       "spans (Jaeger JSON), or a list of spans (Zipkin JSON)"},
      {"[{\"traceId\": \"01\", \"id\": \"02\"},\n {\"id\": \"03\"}]",
       ":2:13: span without a trace id"},
      {"{\"data\": [{\"spans\": [{\"traceID\": \"01\", \"spanID\": \"02\", \"startTime\": "
       "\"x\"}]}]}",
       ":1:71: startTime is not an integer"},
      {"{\"resourceSpans\": [{\"scopeSpans\": [{\"spans\": [{\"traceId\": \"0\\u0000\"}]}]}]}",
       ":1:67: traceId is neither hex nor base64"},
      {"[{\"traceId\": \"01\", \"id\": \"02\"", ":1:29: EOF while parsing an object"},
  };
  TempDir dir;
  const std::filesystem::path good = dir.write_file("good.json", "[]");
  for (const Case& c : cases) {
    const std::filesystem::path bad = dir.write_file("bad.json", c.input);
    for (bool existing : {false, true}) {
      const std::filesystem::path out = dir.path() / "stats.bincode";
      if (existing) dir.write_file("stats.bincode", "before");
      RunResult r = condense({good.string(), bad.string(), "-o", out.string()});
      EXPECT_EQ(r.exit_status, 1) << c.input;
      EXPECT_EQ(r.err, "tracemill-condense: " + bad.string() + c.message + "\n");
      EXPECT_EQ(r.out, "");
      if (existing) {
        EXPECT_EQ(read_all(out), "before");
      } else {
        EXPECT_FALSE(std::filesystem::exists(out));
      }
      std::filesystem::remove(out);
      // No temporary file is left beside the target.
      std::size_t files = 0;
      for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator(dir.path()))
        ++files;
      EXPECT_EQ(files, 2u);
    }
  }
}

// A message names files and repeats arguments as one line of printable text, and a standard
// output closed at start fails the run when the record was to go there.
TEST(Condense, OneLineMessagesAndAClosedOutput) {
  TempDir dir;
  dir.write_file("empty.json", "[]");
  struct Case {
    std::vector<std::string> args;
    StdoutMode mode;
    int status;
    std::string err;  // after "tracemill-condense: "
  };
  const std::string usage =
      "\nUsage: tracemill-condense [OPTIONS] INPUT... -o OUTPUT\n"
      "Try 'tracemill-condense --help' for more information.\n";
  const Case cases[] = {
      {{"empty.json", "-f", "json"}, StdoutMode::Closed, 1, "write error: Bad file descriptor\n"},
      {{"empty.json", "-o", "out.json"}, StdoutMode::Closed, 0, ""},
      {{"empty.json", "-o", "no/such/\x1b[2J.json"},
       StdoutMode::Pipe,
       1,
       "\"no/such/\\u{1b}[2J.json\": No such file or directory\n"},
      {{"-f", "\x1b]0;x\x07", "empty.json"},
       StdoutMode::Pipe,
       2,
       "invalid format \"\\u{1b}]0;x\\u{7}\" (expected json or bincode)" + usage},
      {{"-i", "otlp\xe2\x80\xa9", "empty.json"},
       StdoutMode::Pipe,
       2,
       "invalid input format \"otlp\\u{2029}\" (expected otlp, jaeger or zipkin)" + usage},
      {{"--\xff", "empty.json"}, StdoutMode::Pipe, 2, "unknown option \"--\\xff\"" + usage},
      {{"empty.json", "-o", "x\r.txt"},
       StdoutMode::Pipe,
       2,
       "cannot tell the encoding of \"x\\r.txt\" (name it *.json or *.bincode, or give "
       "--format json|bincode)" +
           usage},
  };
  for (const Case& c : cases) {
    RunResult r = run_binary({.binary = TRACEMILL_CONDENSE_BINARY,
                              .args = c.args,
                              .working_directory = dir.path(),
                              .stdout_mode = c.mode});
    EXPECT_EQ(r.exit_status, c.status) << c.args[0];
    EXPECT_EQ(r.err, c.err.empty() ? "" : "tracemill-condense: " + c.err) << c.args[0];
  }
}

// The shares of a real trace file, written in both encodings and merged, are the bytes of the
// file condensed whole; so are two files holding disjoint traces condensed apart and merged.
TEST(Condense, ShardsAndPartsMergeToTheWhole) {
  TRACEMILL_CORPUS_PATH_OR_SKIP(traces, "traces");
  TempDir dir;
  const std::string whole = (dir.path() / "whole.json").string();
  const std::string merged = (dir.path() / "merged.json").string();
  std::vector<std::string> files;
  for (const Facts& f : corpus_facts()) files.push_back((traces / f.file).string());
  for (const std::string& file : files) {
    SCOPED_TRACE(file);
    ASSERT_EQ(condense({file, "-o", whole}).exit_status, 0);
    std::vector<std::string> args = {"--merge"};
    for (int k = 1; k <= 3; ++k) {
      args.push_back(
          (dir.path() / ("share" + std::to_string(k) + (k == 2 ? ".bincode" : ".json"))).string());
      ASSERT_EQ(
          condense({"--shard", std::to_string(k) + "/3", file, "-o", args.back()}).exit_status, 0);
    }
    args.insert(args.end(), {"-o", merged});
    RunResult r = condense(args);
    ASSERT_EQ(r.exit_status, 0) << r.err;
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(read_all(merged), read_all(whole));
  }
  // Two of the files (their traces are disjoint) condensed together, and apart then merged.
  const std::string a = (dir.path() / "a.bincode").string(), b = (dir.path() / "b.json").string();
  ASSERT_EQ(condense({files[0], files[3], "-o", whole}).exit_status, 0);
  ASSERT_EQ(condense({files[3], "-o", a}).exit_status, 0);
  ASSERT_EQ(condense({files[0], "-o", b}).exit_status, 0);
  ASSERT_EQ(condense({"--merge", a, b, "-o", merged}).exit_status, 0);
  EXPECT_EQ(read_all(merged), read_all(whole));
  // One file merged with itself: every trace id twice, said once on standard error.
  RunResult twice = condense({"--merge", b, b, "-o", merged});
  EXPECT_EQ(twice.exit_status, 0);
  EXPECT_EQ(twice.err,
            "tracemill-condense: warning: 141 trace ids occur again in another input: each "
            "input's trace is kept, the merge is not what condensing them together gives\n");
}

// A statistics file that does not decode, or a shard no process can take: one line, status 1,
// and no output file, neither a new one nor a change to one that was there.
TEST(Condense, BadMergeInputsAndShardsLeaveNoOutput) {
  TempDir dir;
  const std::string good = dir.write_file("good.json", "[]").string();
  ASSERT_EQ(condense({good, "-o", (dir.path() / "s.bincode").string()}).exit_status, 0);
  const std::string stats = read_all(dir.path() / "s.bincode");
  std::filesystem::remove(good);
  std::filesystem::rename(dir.path() / "s.bincode", dir.path() / "good.bincode");
  struct Case {
    std::vector<std::string> args;  // "BAD" is the file holding `bad` under the name `name`
    std::string name, bad;
    std::string err;  // after "tracemill-condense: "
  };
  const Case cases[] = {
      {{"--merge", "good.bincode", "BAD"}, "bad.json", "hello", "bad.json:1:1: expected value\n"},
      {{"--merge", "BAD", "good.bincode"},
       "bad.bincode",
       stats.substr(0, stats.size() - 3),
       "bad.bincode: byte 125: Io(Error { kind: UnexpectedEof, message: \"failed to fill whole "
       "buffer\" })\n"},
      {{"--merge", "BAD"},
       "bad.json",
       "{\"version\": {\"major\": 1, \"minor\": 0}",
       "bad.json:1:36: EOF while parsing an object\n"},
      {{"--merge", "good.bincode", "BAD"},
       "bad.txt",
       "",
       "bad.txt: cannot tell the encoding (name it *.json or *.bincode)\n"},
      {{"--shard", "0/0", "good.bincode"},
       "",
       "",
       "invalid shard '0/0' (expected K/N with 1 <= K <= N, such as 1/4)\n"},
      {{"--shard", "5/4", "good.bincode"},
       "",
       "",
       "invalid shard '5/4' (expected K/N with 1 <= K <= N, such as 1/4)\n"},
      {{"--shard", "x", "good.bincode"},
       "",
       "",
       "invalid shard 'x' (expected K/N with 1 <= K <= N, such as 1/4)\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.err);
    if (!c.name.empty()) dir.write_file(c.name, c.bad);
    for (bool existing : {false, true}) {
      if (existing) dir.write_file("out.json", "before");
      std::vector<std::string> args;
      for (const std::string& a : c.args) args.push_back(a == "BAD" ? c.name : a);
      args.insert(args.end(), {"-o", "out.json"});
      RunResult r = run_binary(
          {.binary = TRACEMILL_CONDENSE_BINARY, .args = args, .working_directory = dir.path()});
      EXPECT_EQ(r.exit_status, 1);
      EXPECT_EQ(r.err, "tracemill-condense: " + c.err);
      if (existing) {
        EXPECT_EQ(read_all(dir.path() / "out.json"), "before");
        std::filesystem::remove(dir.path() / "out.json");
      } else {
        EXPECT_FALSE(std::filesystem::exists(dir.path() / "out.json"));
      }
      std::size_t files = 0;  // no temporary file is left beside the target
      for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator(dir.path()))
        ++files;
      EXPECT_EQ(files, c.name.empty() ? 1u : 2u);
    }
    if (!c.name.empty()) std::filesystem::remove(dir.path() / c.name);
  }
  // Inputs that are all JSON are decoded two ahead: a broken one between good ones is still
  // the one reported, and the merge leaves no output.
  ASSERT_EQ(condense({"--merge", (dir.path() / "good.bincode").string(), "-o",
                      (dir.path() / "good.json").string()})
                .exit_status,
            0);
  dir.write_file("bad.json", "hello");
  RunResult r = run_binary(
      {.binary = TRACEMILL_CONDENSE_BINARY,
       .args = {"--merge", "good.json", "good.json", "bad.json", "good.json", "-o", "out.json"},
       .working_directory = dir.path()});
  EXPECT_EQ(r.exit_status, 1);
  EXPECT_EQ(r.err, "tracemill-condense: bad.json:1:1: expected value\n");
  EXPECT_FALSE(std::filesystem::exists(dir.path() / "out.json"));
}

}  // namespace
}  // namespace tracemill::e2e
