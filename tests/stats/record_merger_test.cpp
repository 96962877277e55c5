// Merging records: for generated traces split into disjoint parts by trace, merging the parts'
// files gives the bytes of the whole condensed at once, and so do the N shares of the whole;
// then what a merge does with what cannot simply add.
#include "stats/record_merger.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <limits>
#include <map>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "base/byte_source.h"
#include "base/sink.h"
#include "bench/trace_formats.h"
#include "stats/file/record_writer.h"
#include "traces/condenser.h"
#include "traces/trace_reader.h"
#include "traces/trace_shard.h"

namespace tracemill {
namespace {

struct SpanList final : SpanConsumer {
  void add(const Span& span) override { spans.push_back(span); }
  std::vector<Span> spans;
};

std::vector<Span> generated_spans(std::uint64_t seed, std::uint64_t traces) {
  StringSink text;
  EXPECT_TRUE(bench::write_traces_file({.seed = seed, .traces = traces}, text).ok);
  ByteSource source = ByteSource::from_memory(text.take());
  SpanList list;
  EXPECT_EQ(read_traces(source, std::nullopt, list), std::nullopt);
  return std::move(list.spans);
}

// The file condensing `spans` writes, counted as `inputs` inputs.
std::string condensed(const std::vector<const Span*>& spans, int inputs, Encoding encoding) {
  Condenser condenser;
  for (const Span* s : spans) condenser.add(*s);
  for (int i = 0; i < inputs; ++i) condenser.end_input();
  StringSink out;
  EXPECT_TRUE(condenser.finish_into(out, encoding));
  return out.take();
}

// The file in `out` merging `files` gives, each file decoded from its bytes; written by the
// merger an operation at a time, or built whole and written: the same bytes.
std::string merged(const std::vector<std::pair<std::string, Encoding>>& files, Encoding out) {
  RecordMerger merger;
  for (const auto& [bytes, encoding] : files) {
    Result<StatsRecJson, LoadError> rec =
        StatsFile(encoding, ByteSource::from_memory(bytes)).read();
    if (!rec || !merger.add(std::move(rec).value())) return "not merged";
  }
  StringSink file;
  const bool written = files.size() % 2 == 0 ? merger.finish_into(file, out)
                                             : write_record(file, merger.finish(), out);
  EXPECT_TRUE(written);
  EXPECT_EQ(merger.counts().shared_trace_ids + merger.counts().unsorted_lists, 0u);
  return file.take();
}

TEST(RecordMerger, PartsAndSharesMergeToTheWhole) {
  std::mt19937_64 rng(20);
  for (std::uint64_t seed : {1, 2, 3}) {
    const std::vector<Span> spans = generated_spans(seed, 150);
    std::vector<const Span*> all;
    for (const Span& s : spans) all.push_back(&s);
    for (int parts : {2, 3, 6}) {
      SCOPED_TRACE("seed " + std::to_string(seed) + ", " + std::to_string(parts) + " parts");
      // Each trace to a part drawn at random; a part may stay empty.
      std::vector<std::vector<const Span*>> part(static_cast<std::size_t>(parts));
      std::map<std::string, std::size_t> part_of;
      for (const Span& s : spans) {
        auto [it, fresh] = part_of.try_emplace(s.trace_id, 0);
        if (fresh) it->second = static_cast<std::size_t>(rng() % static_cast<std::uint64_t>(parts));
        part[it->second].push_back(&s);
      }
      std::vector<std::pair<std::string, Encoding>> files;
      for (std::size_t p = 0; p < part.size(); ++p) {
        const Encoding e = p % 2 == 0 ? Encoding::Json : Encoding::Bincode;
        files.emplace_back(condensed(part[p], 1, e), e);
      }
      EXPECT_EQ(merged(files, Encoding::Json), condensed(all, parts, Encoding::Json));
    }
    for (std::uint32_t n : {1u, 2u, 5u}) {
      SCOPED_TRACE("seed " + std::to_string(seed) + ", " + std::to_string(n) + " shares");
      std::vector<std::pair<std::string, Encoding>> files;
      std::size_t taken = 0;
      for (std::uint32_t k = 1; k <= n; ++k) {
        std::vector<const Span*> share;
        for (const Span* s : all) {
          if (TraceShard{k, n}.holds(s->trace_id)) share.push_back(s);
        }
        taken += share.size();
        files.emplace_back(condensed(share, k == 1 ? 1 : 0, Encoding::Bincode), Encoding::Bincode);
      }
      EXPECT_EQ(taken, all.size());
      // Written in the binary encoding, which the parts do not test.
      EXPECT_EQ(merged(files, Encoding::Bincode), condensed(all, 1, Encoding::Bincode));
    }
  }
}

// A record of one trace `id` whose one operation has one pair and one method, both with the
// given lists.
StatsRecJson one_trace(const std::string& id, std::vector<std::int64_t> durations,
                       std::vector<std::int64_t> starts) {
  StatsRecJson rec;
  rec.version = {1, 0};
  rec.num_files = 1;
  rec.trace_id = {id};
  rec.root_call = {"a/" + id};
  rec.num_spans = {1};
  rec.start_dt = rec.end_dt = rec.duration_micros = rec.time_to_respond_micros = {0};
  OperationStatsJson& op = rec.stats["a/x"];
  op.num_traces = 1;
  CChainStatsValue v;
  v.count = durations.size();
  v.rooted = true;
  v.cc_not_http_ok = 1;
  v.http_not_ok[500] = 1;
  v.duration_micros = durations;
  v.start_dt_micros = starts;
  op.call_chain.emplace_back(CChainStatsKey{{{"a", "x", CallDirection::Inbound}}, "", false}, v);
  ProcOperStatsValue& m = op.method["a/x"];
  m.count = durations.size();
  m.duration_micros = std::move(durations);
  m.start_dt_micros = std::move(starts);
  return rec;
}

TEST(RecordMerger, WhatCannotSimplyAdd) {
  RecordMerger merger;
  StatsRecJson first = one_trace("bb", {7, 5}, {30, 10});  // unsorted: sorted as pairs
  StatsRecJson second = one_trace("bb", {6}, {20});        // the same trace id again
  second.version = {1, 1};
  second.root_call = {"later"};  // kept after the earlier input's entry of the same id
  StatsRecJson third = one_trace("aa", {1}, {40});
  third.num_fixes = 2;
  third.stats["a/x"].call_chain[0].second.rooted = false;  // a pair of its own
  StatsRecJson broken = one_trace("cc", {1}, {});
  broken.stats["a/x"].call_chain[0].second.cc_not_http_ok = 100;
  ASSERT_TRUE(merger.add(std::move(first)));
  ASSERT_TRUE(merger.add(std::move(second)));
  EXPECT_FALSE(merger.add(std::move(broken)));  // the lists of its pair differ in length
  ASSERT_TRUE(merger.add(std::move(third)));
  const StatsRecJson rec = merger.finish();
  EXPECT_EQ(merger.counts(), (MergeCounts{.records = 3,
                                          .shared_trace_ids = 1,
                                          .other_versions = 1,
                                          .unsorted_lists = 2,
                                          .repaired_records = 1}));
  EXPECT_EQ(rec.version, (Version{1, 0}));
  EXPECT_EQ(rec.trace_id, (std::vector<std::string>{"aa", "bb", "bb"}));
  EXPECT_EQ(rec.root_call, (std::vector<std::string>{"a/aa", "a/bb", "later"}));
  EXPECT_EQ(rec.num_files, 3);
  EXPECT_EQ(rec.num_fixes, 2u);
  EXPECT_EQ(rec.num_endpoints, 1u);
  EXPECT_EQ(rec.num_call_chains, 2u);
  EXPECT_EQ(rec.init_num_unrooted_cc, 1u);
  EXPECT_EQ(rec.num_unrooted_cc_after_fixes, 1u);
  const OperationStatsJson& op = rec.stats.at("a/x");
  EXPECT_EQ(op.num_traces, 3u);
  ASSERT_EQ(op.call_chain.size(), 2u);
  EXPECT_FALSE(op.call_chain[0].second.rooted);  // unrooted first
  const CChainStatsValue& rooted = op.call_chain[1].second;
  EXPECT_EQ(rooted.count, 3u);
  EXPECT_EQ(rooted.cc_not_http_ok, 2);
  EXPECT_EQ(rooted.http_not_ok.at(500), 2u);
  EXPECT_EQ(rooted.start_dt_micros, (std::vector<std::int64_t>{10, 20, 30}));
  EXPECT_EQ(rooted.duration_micros, (std::vector<std::int64_t>{5, 6, 7}));
  const ProcOperStatsValue& m = op.method.at("a/x");
  EXPECT_EQ(m.count, 4u);
  EXPECT_EQ(m.start_dt_micros, (std::vector<std::int64_t>{10, 20, 30, 40}));
  EXPECT_EQ(m.duration_micros, (std::vector<std::int64_t>{5, 6, 7, 1}));
}

// The lists of several records, one after another or interleaved, with the extremes of both
// numbers: the merged lists hold every (start, duration) exactly, in order.
// Every (start, duration) entry comes back, in order, from the record finish() builds and from
// the file finish_into() writes as it goes, whose lists of starts follow their durations: for
// runs apart, interleaved, both, and for a list too long for its starts to be kept aside.
TEST(RecordMerger, ListsKeepEveryValueExactly) {
  using Limits = std::numeric_limits<std::int64_t>;
  constexpr std::int64_t kLow = Limits::min();
  constexpr std::int64_t kHigh = Limits::max();
  struct List {
    std::vector<std::int64_t> durations, starts;
  };
  std::vector<std::vector<List>> cases = {
      {{{kHigh, kLow, 0}, {kLow, -1, 0}}, {{-5, kHigh}, {1, kHigh}}},              // apart
      {{{1, 2, 3}, {kLow, 5, kHigh}}, {{0, 2, kLow}, {kLow, 5, kHigh}}},           // interleaved
      {{{kLow, kHigh}, {kLow, kHigh}}, {{7}, {0}}, {{kHigh, 1 << 20}, {-3, -3}}},  // both
      {{}, {}},                                                                    // long
  };
  std::mt19937_64 random(3);
  for (List& list : cases.back()) {
    for (std::int64_t start = 0; start < 600'000;
         start += 1 + static_cast<std::int64_t>(random() % 3)) {
      list.starts.push_back(start);
      list.durations.push_back(static_cast<std::int64_t>(random() % 5000) - 100);
    }
  }
  for (std::size_t c = 0; c < cases.size(); ++c) {
    SCOPED_TRACE(c);
    RecordMerger merger;
    RecordMerger as_json;
    RecordMerger as_bincode;
    std::vector<std::pair<std::int64_t, std::int64_t>> expected;
    for (std::size_t r = 0; r < cases[c].size(); ++r) {
      const List& list = cases[c][r];
      for (std::size_t i = 0; i < list.starts.size(); ++i) {
        expected.emplace_back(list.starts[i], list.durations[i]);
      }
      for (RecordMerger* m : {&merger, &as_json, &as_bincode}) {
        ASSERT_TRUE(m->add(one_trace(std::to_string(r), list.durations, list.starts)));
      }
    }
    std::sort(expected.begin(), expected.end());
    const StatsRecJson rec = merger.finish();
    const OperationStatsJson& op = rec.stats.at("a/x");
    for (const auto* lists :
         {&op.call_chain.at(0).second.start_dt_micros, &op.method.at("a/x").start_dt_micros}) {
      ASSERT_EQ(lists->size(), expected.size());
      for (std::size_t i = 0; i < expected.size(); ++i) EXPECT_EQ((*lists)[i], expected[i].first);
    }
    for (const auto* lists :
         {&op.call_chain.at(0).second.duration_micros, &op.method.at("a/x").duration_micros}) {
      ASSERT_EQ(lists->size(), expected.size());
      for (std::size_t i = 0; i < expected.size(); ++i) EXPECT_EQ((*lists)[i], expected[i].second);
    }
    for (auto [m, encoding] :
         {std::pair{&as_json, Encoding::Json}, std::pair{&as_bincode, Encoding::Bincode}}) {
      StringSink written;
      StringSink whole;
      ASSERT_TRUE(m->finish_into(written, encoding));
      ASSERT_TRUE(write_record(whole, rec, encoding));
      EXPECT_TRUE(written.take() == whole.take()) << "encoding " << static_cast<int>(encoding);
    }
  }
}

}  // namespace
}  // namespace tracemill
