#include "traces/condenser.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <limits>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "stats/file/record_writer.h"

namespace tracemill {
namespace {

// A span of trace "t1" unless given: id, parent, service, name, kind, start, duration.
Span sp(std::string id, std::string parent, std::string service, std::string name, SpanKind kind,
        std::optional<std::int64_t> start = 100, std::int64_t duration = 10) {
  Span s;
  s.trace_id = "01";
  s.span_id = std::move(id);
  s.parent_id = std::move(parent);
  s.service = std::move(service);
  s.name = std::move(name);
  s.kind = kind;
  s.start_micros = start;
  s.duration_micros = duration;
  return s;
}

constexpr SpanKind kServer = SpanKind::Server, kClient = SpanKind::Client,
                   kProducer = SpanKind::Producer, kConsumer = SpanKind::Consumer,
                   kInternal = SpanKind::Internal, kAbsent = SpanKind::Absent;

StatsRecJson condense(const std::vector<Span>& spans, bool peers = true,
                      CondenseCounts* counts = nullptr) {
  Condenser c(peers);
  for (const Span& s : spans) c.add(s);
  c.end_input();
  StatsRecJson rec = c.finish();
  if (counts) *counts = c.counts();
  return rec;
}

// Every pair of the record, operations in name order and pairs in list order:
// "A/x:I > B/y:I leaf unrooted x2 failed=1".
std::vector<std::string> pairs_of(const StatsRecJson& rec) {
  std::map<std::string, const OperationStatsJson*> ops;
  for (const auto& [name, op] : rec.stats) ops[name] = &op;
  std::vector<std::string> out;
  for (const auto& [name, op] : ops) {
    for (const auto& [key, value] : op->call_chain) {
      std::string line;
      for (const Call& c : key.call_chain) {
        if (!line.empty()) line += " > ";
        line += c.process + "/" + c.method + ":" +
                std::string(enum_name(c.call_direction)).substr(0, 1);
      }
      if (key.is_leaf) line += " leaf";
      if (!value.rooted) line += " unrooted";
      line += " x" + std::to_string(value.count);
      if (value.cc_not_http_ok != 0) line += " failed=" + std::to_string(value.cc_not_http_ok);
      EXPECT_EQ(value.depth, key.call_chain.size()) << line;
      EXPECT_EQ(value.duration_micros.size(), value.start_dt_micros.size()) << line;
      out.push_back(line);
    }
  }
  return out;
}

TEST(Condenser, ChainsOfTraces) {
  struct Case {
    std::string name;
    std::vector<Span> spans;
    std::vector<std::string> pairs;
    bool peers = true;
  };
  std::vector<Case> cases = {
      {"a client/server pair across services, the server's children under it",
       {sp("a", "", "web", "GET /", kServer), sp("b", "a", "web", "call", kClient),
        sp("c", "b", "api", "call", kServer), sp("d", "c", "api", "work", kInternal)},
       {"web/GET /:I", "web/GET /:I > web/call:O", "web/GET /:I > web/call:O > api/call:I",
        "web/GET /:I > web/call:O > api/call:I > api/work:U leaf x1"}},
      {"both sides under one id: the server side is the client's child, and has its children",
       {sp("a", "", "web", "GET /", kServer), sp("b", "a", "web", "call", kClient),
        sp("b", "a", "api", "call", kServer), sp("d", "b", "api", "work", kInternal)},
       {"web/GET /:I x1", "web/GET /:I > web/call:O x1", "web/GET /:I > web/call:O > api/call:I x1",
        "web/GET /:I > web/call:O > api/call:I > api/work:U leaf x1"}},
      {"a leaf client naming a peer calls a virtual node",
       {sp("a", "", "web", "GET /", kServer), sp("b", "a", "web", "SELECT", kClient)},
       {"web/GET /:I x1", "web/GET /:I > web/SELECT:O > db/SELECT:I leaf x1"}},
      {"the same without virtual peers",
       {sp("a", "", "web", "GET /", kServer), sp("b", "a", "web", "SELECT", kClient)},
       {"web/GET /:I x1", "web/GET /:I > web/SELECT:O leaf x1"},
       false},
      {"a lost parent begins an unrooted chain; a trace may have several roots",
       {sp("a", "zz", "web", "GET /", kServer), sp("b", "", "job", "tick", kInternal)},
       {"job/tick:U leaf x1", "web/GET /:I leaf unrooted x1"}},
      {"a cycle is broken at its earliest span; a span that is its own parent too",
       {sp("a", "c", "x", "a", kServer, 30), sp("b", "a", "x", "b", kInternal, 10),
        sp("c", "b", "x", "c", kInternal, 20), sp("s", "s", "y", "self", kServer)},
       {"x/b:U unrooted x1", "x/b:U > x/c:U unrooted x1", "x/b:U > x/c:U > x/a:I leaf unrooted x1",
        "y/self:I leaf unrooted x1"}},
      {"a producer and its consumer; a root that calls out",
       {sp("p", "", "shop", "send", kProducer), sp("q", "p", "mail", "receive", kConsumer)},
       {"shop/send:O x1", "shop/send:O > mail/receive:I leaf x1"}},
      {"chains sort by process, method, direction; a chain before its extensions",
       {sp("r", "", "b", "m", kServer), sp("s", "r", "b", "m", kClient),
        sp("t", "r", "a", "z", kServer), sp("u", "r", "b", "a", kServer)},
       {"b/m:I x1", "b/m:I > a/z:I leaf x1", "b/m:I > b/a:I leaf x1", "b/m:I > b/m:O leaf x1"}},
  };
  cases[2].spans[1].peer = "db";
  cases[3].spans[1].peer = "db";
  for (const Case& c : cases) {
    CondenseCounts counts;
    StatsRecJson rec = condense(c.spans, c.peers, &counts);
    std::vector<std::string> expected = c.pairs;
    // Rows written without a count hold one span.
    for (std::string& e : expected) {
      if (e.find(" x") == std::string::npos) e += " x1";
    }
    EXPECT_EQ(pairs_of(rec), expected) << c.name;
  }
}

const OperationStatsJson& only_op(const StatsRecJson& rec) {
  EXPECT_EQ(rec.stats.size(), 1u);
  return rec.stats.begin()->second;
}

TEST(Condenser, FragmentsMergeFieldByField) {
  // Zipkin reports one span in parts; a collector may send a span twice.
  Span a = sp("a", "", "web", "", kServer, 100, 10);
  Span b = sp("a", "p2", "web", "GET /b", kServer, 90, 5);
  Span c = sp("a", "p1", "web", "GET /a", kAbsent, 105, 20);  // joins the server side
  a.failed = true;
  b.http_status = 503;
  c.http_status = 404;
  a.error_logs = {"x", "x", "y"};
  c.error_logs = {"x", "z"};
  for (const auto& order : std::vector<std::vector<Span>>{{a, b, c}, {c, b, a}, {b, c, a}}) {
    CondenseCounts counts;
    StatsRecJson rec = condense(order, true, &counts);
    EXPECT_EQ(counts.fragments_merged, 2u);
    EXPECT_EQ(rec.num_spans, std::vector<std::uint64_t>{1});
    // The earliest start and the latest end; the first name and parent in byte order (the
    // parent p1 is lost: the chain is unrooted).
    EXPECT_EQ(rec.start_dt, std::vector<std::int64_t>{90});
    EXPECT_EQ(rec.end_dt, std::vector<std::int64_t>{125});
    EXPECT_EQ(rec.root_call, std::vector<std::string>{"web/GET /a"});
    const CChainStatsValue& v = only_op(rec).call_chain.at(0).second;
    EXPECT_FALSE(v.rooted);
    EXPECT_EQ(v.duration_micros, std::vector<std::int64_t>{35});
    EXPECT_EQ(v.cc_not_http_ok, 1);
    EXPECT_EQ(v.http_not_ok, (HashMap<std::int16_t, std::uint64_t>{{503, 1}}));
    EXPECT_EQ(v.error_logs, (HashMap<std::string, std::uint64_t>{{"x", 2}, {"y", 1}, {"z", 1}}));
  }
}

TEST(Condenser, FailuresCountOnBothSidesOfACall) {
  Span root = sp("a", "", "web", "GET /", kServer);
  Span client = sp("b", "a", "web", "get", kClient);
  Span server = sp("c", "b", "api", "get", kServer);
  Span local = sp("d", "c", "api", "work", kInternal);
  client.failed = true;
  client.http_status = 500;
  StatsRecJson rec = condense({root, client, server, local});
  const OperationStatsJson& op = only_op(rec);
  // The server span failed as its caller saw it, with its caller's status; the span below
  // it did not: its parent is no client.
  const ProcOperStatsValue& callee = op.method.at("api/get");
  EXPECT_EQ(callee.num_not_http_ok, 1);
  EXPECT_EQ(callee.http_not_ok_codes, (HashMap<std::int16_t, std::uint64_t>{{500, 1}}));
  EXPECT_EQ(op.method.at("api/work").num_not_http_ok, 0);
  EXPECT_EQ(op.method.at("web/get").num_not_http_ok, 1);
  EXPECT_EQ(op.method.at("web/GET /").num_not_http_ok, 0);
  // A status beyond the i16 range fails the span but has no entry.
  Span odd = sp("e", "", "web", "odd", kServer);
  odd.http_status = 70000;
  StatsRecJson rec2 = condense({odd});
  const CChainStatsValue& v = only_op(rec2).call_chain.at(0).second;
  EXPECT_EQ(v.cc_not_http_ok, 1);
  EXPECT_TRUE(v.http_not_ok.empty());
}

TEST(Condenser, RecordFields) {
  // Two traces: t2 has a root without start, so its earliest root is the other root.
  Span t1a = sp("a", "", "web", "GET /", kServer, 200, 50);
  Span t1b = sp("b", "a", "web", "GET /", kServer, 220, 10);
  Span t2a = sp("c", "", "job", "run", kInternal, std::nullopt, 7);
  Span t2b = sp("d", "gone", "job", "step", kServer, 300, 40);
  t1a.trace_id = t1b.trace_id = "ff";
  t2a.trace_id = t2b.trace_id = "0a";
  CondenseCounts counts;
  StatsRecJson rec = condense({t1a, t1b, t2a, t2b}, true, &counts);
  EXPECT_EQ(rec.version, (Version{1, 0}));
  EXPECT_EQ(rec.trace_id, (std::vector<std::string>{"0a", "ff"}));
  EXPECT_EQ(rec.root_call, (std::vector<std::string>{"job/step", "web/GET /"}));
  EXPECT_EQ(rec.num_spans, (std::vector<std::uint64_t>{2, 2}));
  EXPECT_EQ(rec.start_dt, (std::vector<std::int64_t>{300, 200}));
  EXPECT_EQ(rec.end_dt, (std::vector<std::int64_t>{340, 250}));
  EXPECT_EQ(rec.duration_micros, (std::vector<std::int64_t>{40, 50}));
  EXPECT_EQ(rec.time_to_respond_micros, (std::vector<std::int64_t>{40, 50}));
  EXPECT_EQ(rec.num_files, 1);
  EXPECT_EQ(rec.num_endpoints, 3u);
  EXPECT_EQ(rec.num_incomplete_traces, 1u);
  EXPECT_EQ(rec.num_call_chains, 4u);
  EXPECT_EQ(rec.init_num_unrooted_cc, 1u);
  EXPECT_EQ(rec.num_unrooted_cc_after_fixes, 1u);
  EXPECT_EQ(counts.without_start, 1u);
  const OperationStatsJson& web = rec.stats.at("web/GET /");
  EXPECT_EQ(web.num_traces, 1u);
  EXPECT_EQ(web.num_received_calls, 2u);
  // Both spans of web share one method entry: one trace, two entries in the lists.
  const ProcOperStatsValue& m = web.method.at("web/GET /");
  EXPECT_EQ(m.count, 2u);
  EXPECT_EQ(m.num_traces, 1u);
  EXPECT_EQ(m.start_dt_micros, (std::vector<std::int64_t>{200, 220}));
  EXPECT_EQ(m.duration_micros, (std::vector<std::int64_t>{50, 10}));
  // The span without a start counts, but has no list entry.
  const auto& run = rec.stats.at("job/run").call_chain.at(0).second;
  EXPECT_EQ(run.count, 1u);
  EXPECT_TRUE(run.start_dt_micros.empty());
}

TEST(Condenser, TimesFarApartSaturate) {
  // Starts at both ends of the range: an end minus a start does not fit 64 bits.
  constexpr std::int64_t kFar = 9'000'000'000'000'000'000,
                         kMax = std::numeric_limits<std::int64_t>::max();
  struct Case {
    const char* name;
    std::vector<Span> spans;
    std::int64_t trace_duration, span_duration;  // of the trace and of the first span kept
  };
  const std::vector<Case> cases = {
      {"two spans of one trace",
       {sp("a", "", "s", "x", kServer, -kFar, 0), sp("b", "a", "s", "y", kServer, kFar, 0)},
       kMax,
       0},
      {"two fragments of one span",
       {sp("a", "", "s", "x", kServer, -kFar, 0), sp("a", "", "s", "x", kServer, kFar, 5)},
       kMax,
       kMax},
      {"a duration reaching past the end",
       {sp("a", "", "s", "x", kServer, kFar, kFar)},
       kMax - kFar,
       kFar},
  };
  for (const Case& c : cases) {
    StatsRecJson rec = condense(c.spans);
    EXPECT_EQ(rec.start_dt, std::vector<std::int64_t>{c.spans[0].start_micros.value()}) << c.name;
    EXPECT_EQ(rec.duration_micros, std::vector<std::int64_t>{c.trace_duration}) << c.name;
    EXPECT_EQ(rec.stats.at("s/x").call_chain.at(0).second.duration_micros.at(0), c.span_duration)
        << c.name;
  }
}

// Equal starts go by duration, not by trace and span id: a merge of files, which knows no ids
// per entry, rebuilds the same lists.
TEST(Condenser, ListsOrderedByStartThenDuration) {
  std::vector<Span> spans;
  for (auto [trace, id, start] : std::vector<std::tuple<const char*, const char*, int>>{
           {"02", "b", 5}, {"01", "c", 5}, {"02", "a", 5}, {"01", "d", 1}}) {
    Span s = sp(id, "", "svc", "op", kServer, start, start * 10 + id[0] - 'a');
    s.trace_id = trace;
    spans.push_back(s);
  }
  StatsRecJson rec = condense(spans);
  const CChainStatsValue& v = only_op(rec).call_chain.at(0).second;
  EXPECT_EQ(v.start_dt_micros, (std::vector<std::int64_t>{1, 5, 5, 5}));
  EXPECT_EQ(v.duration_micros, (std::vector<std::int64_t>{13, 50, 51, 52}));
}

TEST(Condenser, LoopedProcesses) {
  StatsRecJson rec = condense({sp("1", "", "A", "a", kServer), sp("2", "1", "B", "b", kServer),
                               sp("3", "2", "A", "c", kServer), sp("4", "3", "A", "d", kServer),
                               sp("5", "4", "B", "e", kServer), sp("6", "5", "C", "f", kServer)});
  const auto& chains = only_op(rec).call_chain;
  EXPECT_EQ(chains.back().second.looped, (std::vector<std::string>{"A", "B"}));
  EXPECT_TRUE(chains.front().second.looped.empty());
}

TEST(Condenser, DeepChainsAreCutWithoutRecursion) {
  // A chain of 100,000 spans, fed deepest first: each span below the 256th call of a chain
  // begins one of its own.
  constexpr int kDepth = 100000;
  std::vector<Span> spans;
  for (int i = kDepth - 1; i >= 0; --i) {
    spans.push_back(
        sp(std::to_string(i + 1), i == 0 ? "" : std::to_string(i), "svc", "recurse", kInternal, i));
  }
  CondenseCounts counts;
  StatsRecJson rec = condense(spans, true, &counts);
  EXPECT_EQ(counts.chains_cut,
            static_cast<std::uint64_t>((kDepth - 1) / Condenser::kMaxChainCalls));
  const OperationStatsJson& op = only_op(rec);
  std::uint64_t spans_counted = 0, deepest = 0;
  for (const auto& [key, value] : op.call_chain) {
    spans_counted += value.count;
    deepest = std::max<std::uint64_t>(deepest, value.depth);
  }
  EXPECT_EQ(spans_counted, static_cast<std::uint64_t>(kDepth));
  EXPECT_EQ(deepest, Condenser::kMaxChainCalls);
  EXPECT_EQ(rec.num_incomplete_traces, 1u);
  EXPECT_EQ(rec.root_call, std::vector<std::string>{"svc/recurse"});
}

// Random traces: several services, client/server pairs, shared ids, fragments, lost parents.
std::vector<Span> random_spans(std::mt19937_64& rng, int traces) {
  std::vector<Span> spans;
  const char* services[] = {"web", "api", "db", "queue"};
  const SpanKind kinds[] = {kServer, kClient, kProducer, kConsumer, kInternal, kAbsent};
  for (int t = 0; t < traces; ++t) {
    const int n = 1 + static_cast<int>(rng() % 12);
    for (int i = 0; i < n; ++i) {
      Span s = sp(std::to_string(i % 9),
                  i == 0 ? "" : std::to_string(rng() % static_cast<unsigned>(i + 1)),
                  services[rng() % 4], "m" + std::to_string(rng() % 3), kinds[rng() % 6],
                  rng() % 5 == 0 ? std::nullopt : std::optional<std::int64_t>(rng() % 50),
                  static_cast<std::int64_t>(rng() % 20));
      s.trace_id = std::to_string(t % 7 + 10);
      if (rng() % 4 == 0) s.peer = services[rng() % 4];
      s.failed = rng() % 5 == 0;
      if (rng() % 6 == 0) s.http_status = 400 + static_cast<int>(rng() % 4);
      if (rng() % 5 == 0) s.error_logs.push_back("e" + std::to_string(rng() % 2));
      spans.push_back(s);
    }
  }
  return spans;
}

TEST(Condenser, SameRecordForAnyOrderOfSpansAndInputs) {
  std::mt19937_64 rng(17);
  for (int round = 0; round < 20; ++round) {
    std::vector<Span> spans = random_spans(rng, 12);
    const StatsRecJson expected = condense(spans);
    std::shuffle(spans.begin(), spans.end(), rng);
    Condenser c;
    for (std::size_t i = 0; i < spans.size(); ++i) {
      c.add(spans[i]);
      if (i == spans.size() / 2) c.end_input();
    }
    c.end_input();
    StatsRecJson shuffled = c.finish();
    EXPECT_EQ(shuffled.num_files, 2);
    shuffled.num_files = 1;
    EXPECT_TRUE(shuffled == expected) << "round " << round;
  }
}

TEST(Condenser, StreamedRecordIsTheRecordWritten) {
  std::mt19937_64 rng(3);
  for (int round = 0; round < 10; ++round) {
    std::vector<Span> spans = random_spans(rng, 9);
    // A deep chain too, so that some chains are cut and share their calls.
    for (int i = 0; i < 600; ++i) {
      Span s = sp("d" + std::to_string(i), i == 0 ? "" : "d" + std::to_string(i - 1), "deep",
                  "m" + std::to_string(i % 7), kServer, i);
      s.trace_id = "99";
      spans.push_back(s);
    }
    for (Encoding encoding : {Encoding::Json, Encoding::Bincode}) {
      StringSink whole, streamed;
      ASSERT_TRUE(write_record(whole, condense(spans), encoding));
      Condenser c;
      for (const Span& s : spans) c.add(s);
      c.end_input();
      ASSERT_TRUE(c.finish_into(streamed, encoding));
      EXPECT_EQ(streamed.text(), whole.text()) << "round " << round;
    }
  }
}

}  // namespace
}  // namespace tracemill
