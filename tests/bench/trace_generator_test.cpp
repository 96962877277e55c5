// Generated traces: the same seed gives the same bytes, every format is one valid JSON document
// (a document per line for OTLP) of its shape, all three hold the same traces, and the traces
// are well formed trees with about 5 % failed spans.
#include "bench/trace_generator.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "base/byte_source.h"
#include "base/sink.h"
#include "bench/trace_formats.h"
#include "stats/file/json_reader.h"

namespace tracemill::bench {
namespace {

std::string generate(TraceFormat format, std::uint64_t seed, std::uint64_t traces) {
  StringSink out;
  auto summary = write_traces_file({.seed = seed, .traces = traces, .format = format}, out);
  EXPECT_TRUE(summary.ok);
  EXPECT_EQ(summary.bytes, out.text().size());
  return out.take();
}

// Checks `text` is one JSON document through the project's reader; returns its first byte.
int check_json(std::string text) {
  ByteSource source = ByteSource::from_memory(std::move(text), 7);
  JsonReader reader(source);
  int first = reader.peek();
  reader.start_document();
  EXPECT_TRUE(reader.skip_value() && reader.end_document());
  return first;
}

std::size_t count(std::string_view text, std::string_view what) {
  std::size_t n = 0;
  for (auto at = text.find(what); at != std::string_view::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

// The values of every `"key":"value"` in `text`, in order.
std::vector<std::string> values(std::string_view text, std::string_view key) {
  std::vector<std::string> out;
  std::string needle = "\"" + std::string(key) + "\":\"";
  for (auto at = text.find(needle); at != std::string_view::npos; at = text.find(needle, at)) {
    at += needle.size();
    out.emplace_back(text.substr(at, text.find('"', at) - at));
  }
  return out;
}

TEST(TraceGenerator, SameSeedSameBytes) {
  for (TraceFormat format : {TraceFormat::Otlp, TraceFormat::Jaeger, TraceFormat::Zipkin}) {
    std::string a = generate(format, 5, 40);
    EXPECT_EQ(a, generate(format, 5, 40));
    EXPECT_NE(a, generate(format, 6, 40));
  }
}

TEST(TraceGenerator, FormatsAreValidJsonHoldingTheSameTraces) {
  constexpr std::uint64_t kTraces = 60;
  StringSink sink;
  auto summary = write_traces_file({.seed = 9, .traces = kTraces}, sink);
  const std::string otlp = sink.take();
  const std::string jaeger = generate(TraceFormat::Jaeger, 9, kTraces);
  const std::string zipkin = generate(TraceFormat::Zipkin, 9, kTraces);

  std::size_t lines = 0;
  for (std::size_t at = 0; at < otlp.size(); ++lines) {
    std::size_t end = otlp.find('\n', at);
    ASSERT_NE(end, std::string::npos);
    std::string line = otlp.substr(at, end - at);
    EXPECT_TRUE(line.starts_with("{\"resourceSpans\":[{\"resource\":")) << line.substr(0, 80);
    EXPECT_EQ(check_json(line), '{');
    at = end + 1;
  }
  EXPECT_GT(lines, 1u);
  EXPECT_LT(lines, kTraces);  // several traces share a line
  EXPECT_TRUE(jaeger.starts_with("{\"data\":[{\"traceID\":"));
  EXPECT_EQ(check_json(jaeger), '{');
  EXPECT_TRUE(zipkin.starts_with("[{\"traceId\":"));
  EXPECT_EQ(check_json(zipkin), '[');

  // Spans counted by a field each span has once; traces by their distinct ids.
  EXPECT_EQ(count(otlp, "\"spanId\":"), summary.spans);
  EXPECT_EQ(count(jaeger, "\"operationName\":"), summary.spans);
  EXPECT_EQ(count(zipkin, "\"localEndpoint\":"), summary.spans);
  EXPECT_EQ(count(jaeger, "\"processes\":"), kTraces);
  auto otlp_traces = values(otlp, "traceId");
  auto zipkin_traces = values(zipkin, "traceId");
  EXPECT_EQ(std::set(otlp_traces.begin(), otlp_traces.end()).size(), kTraces);
  EXPECT_EQ(std::set(otlp_traces.begin(), otlp_traces.end()),
            std::set(zipkin_traces.begin(), zipkin_traces.end()));
  // The same spans: ids in OTLP and Jaeger, names in Jaeger and Zipkin.
  auto otlp_ids = values(otlp, "spanId");
  auto jaeger_ids = values(jaeger, "spanID");  // the spans' own and their references'
  auto jaeger_names = values(jaeger, "operationName");
  auto zipkin_names = values(zipkin, "name");
  std::sort(otlp_ids.begin(), otlp_ids.end());
  std::set<std::string> jaeger_id_set(jaeger_ids.begin(), jaeger_ids.end());
  EXPECT_EQ(std::set(otlp_ids.begin(), otlp_ids.end()), jaeger_id_set);
  EXPECT_EQ(std::adjacent_find(otlp_ids.begin(), otlp_ids.end()), otlp_ids.end());
  std::sort(jaeger_names.begin(), jaeger_names.end());
  std::sort(zipkin_names.begin(), zipkin_names.end());
  EXPECT_EQ(jaeger_names, zipkin_names);
  // Zipkin reports both sides of a call under the client's id: every SERVER span but the roots.
  EXPECT_EQ(count(zipkin, "\"shared\":true"), count(zipkin, "\"kind\":\"SERVER\"") - kTraces);
}

TEST(TraceGenerator, TracesAreTreesWithAboutFivePercentFailed) {
  TraceGenerator gen(11, 0);
  EXPECT_GE(gen.services().size(), 20u);
  EXPECT_LE(gen.services().size(), 40u);
  std::uint64_t spans = 0;
  std::uint64_t failed = 0;
  std::int64_t first_start = 0;
  std::int64_t last_start = 0;
  for (int t = 0; t < 400; ++t) {
    GenTrace trace = gen.next_trace(400);
    ASSERT_GE(trace.spans.size(), TraceGenerator::kMinSpans);
    ASSERT_LE(trace.spans.size(), TraceGenerator::kMaxSpans);
    EXPECT_GT(trace.spans[0].start_ns, last_start);  // traces start in order
    last_start = trace.spans[0].start_ns;
    if (t == 0) first_start = last_start;
    EXPECT_EQ(trace.spans[0].parent_id, 0u);
    for (std::size_t i = 1; i < trace.spans.size(); ++i) {
      const GenSpan& s = trace.spans[i];
      ASSERT_LT(s.parent, i);
      const GenSpan& parent = trace.spans[s.parent];
      EXPECT_EQ(s.parent_id, parent.id);
      EXPECT_GE(s.start_ns, parent.start_ns);
      EXPECT_LT(s.start_ns, s.end_ns);
      if (s.kind != SpanKind::Consumer) {
        EXPECT_LE(s.end_ns, parent.end_ns) << s.name;
      }
      if (s.kind == SpanKind::Server) {
        EXPECT_EQ(parent.kind, SpanKind::Client);
        EXPECT_NE(parent.service, s.service);
        EXPECT_EQ(parent.failed, s.failed);  // a call fails on both sides
      }
      if (s.kind == SpanKind::Consumer) {
        EXPECT_EQ(parent.kind, SpanKind::Producer);
      }
    }
    spans += trace.spans.size();
    for (const auto& s : trace.spans) failed += s.failed ? 1 : 0;
  }
  EXPECT_GT(last_start - first_start, 3'000'000'000'000);  // spread over an hour
  EXPECT_LT(last_start - first_start, 3'600'000'000'000);
  double share = static_cast<double>(failed) / static_cast<double>(spans);
  EXPECT_GT(share, 0.04);
  EXPECT_LT(share, 0.065);
}

}  // namespace
}  // namespace tracemill::bench
