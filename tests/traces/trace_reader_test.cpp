#include "traces/trace_reader.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "base/gzip_member.h"
#include "traces/condenser.h"

namespace tracemill {
namespace {

struct Collect final : SpanConsumer {
  std::vector<Span> spans;
  void add(const Span& span) override { spans.push_back(span); }
};

struct Read {
  std::vector<Span> spans;
  std::string error;  // "LINE:COLUMN: message", empty when none
};

Read read(const std::string& text, std::optional<TraceFormat> format = std::nullopt,
          std::size_t block = 7) {
  ByteSource source = ByteSource::from_memory(text, block);
  Collect out;
  std::optional<JsonError> error = read_traces(source, format, out);
  Read r{std::move(out.spans), ""};
  if (error) {
    r.error =
        std::to_string(error->line) + ":" + std::to_string(error->column) + ": " + error->message;
  }
  return r;
}

TEST(TraceReader, Errors) {
  const std::string no_format =
      "not a trace file: expected resourceSpans or batches (OTLP JSON), data or spans (Jaeger "
      "JSON), or a list of spans (Zipkin JSON)";
  struct Case {
    std::string input;
    std::optional<TraceFormat> format;
    std::string error;
  };
  const std::vector<Case> cases = {
      {"", {}, "1:0: EOF while parsing a value"},
      {"{\"version\": 1}", {}, "1:14: " + no_format},
      {"\"spans\"", {}, "1:1: " + no_format},
      {"[{\"traceId\": \"01\",\n \"id\": \"ab!d\"}]", {}, "2:13: id is neither hex nor base64"},
      {"[{\"id\": \"01\"}]", {}, "1:13: span without a trace id"},
      {"[{\"traceId\": \"01\"}]", {}, "1:18: span without a span id"},
      {"[{\"traceId\": \"01\", \"id\": \"02\", \"timestamp\": 1.5}]",
       {},
       "1:48: timestamp is not an integer"},
      {"[{\"traceId\": \"01\", \"id\": \"02\", \"timestamp\": \"soon\"}]",
       {},
       "1:50: timestamp is not an integer"},
      {"{\"resourceSpans\": [{\"scopeSpans\": [{\"spans\": [{\"traceId\": \"01\", \"spanId\": "
       "\"02\", \"startTimeUnixNano\": \"-5\"}]}]}]}",
       {},
       "1:105: startTimeUnixNano is not an unsigned integer"},
      {"{\"resourceSpans\": []}\n{\"resourceSpans\": [}", {}, "2:20: expected value"},
      {"{\"resourceSpans\": []}\n[]", {}, "2:1: expected an OTLP export request"},
      {"{\"resourceSpans\": [], \"data\": []}",
       {},
       "1:29: members of two trace formats in one document"},
      {"{\"resourceSpans\": []}", TraceFormat::Zipkin, "1:1: expected a list of Zipkin spans"},
      {"{\"data\": []}", TraceFormat::Otlp, "1:12: expected resourceSpans or batches (OTLP JSON)"},
      {"[]", TraceFormat::Jaeger, "1:1: expected data or spans (Jaeger JSON)"},
      {"{\"data\": [{\"spans\": {}}]}", {}, "1:21: spans is not an array"},
      {"[[{\"traceId\": \"01\", \"id\": \"02\"}], 5]", {}, "1:35: a span is not an object"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(read(c.input, c.format).error, c.error) << c.input;
  }
}

// OTLP attributes name their field by "key", which may come before or after "value"; a key
// naming no field leaves the span as it was, and the better of two status keys wins.
TEST(TraceReader, OtlpAttributesInEitherMemberOrder) {
  auto one_span = [](const std::string& resource, const std::string& attrs,
                     const std::string& event_attrs) {
    return "{\"resourceSpans\": [{\"resource\": {\"attributes\": [" + resource +
           "]}, \"scopeSpans\": [{\"spans\": [{\"traceId\": \"01\", \"spanId\": \"02\", "
           "\"attributes\": [" +
           attrs + "], \"events\": [{\"name\": \"exception\", \"attributes\": [" + event_attrs +
           "]}]}]}]}]}";
  };
  auto text = [](const char* v) { return std::string("{\"stringValue\": \"") + v + "\"}"; };
  const std::string svc = "{\"key\": \"service.name\", \"value\": " + text("cart") + "}";
  const std::string svc_after = "{\"value\": " + text("cart") + ", \"key\": \"service.name\"}";
  const std::string msg = "{\"value\": " + text("boom") + ", \"key\": \"exception.message\"}";
  struct Case {
    const char* name;
    std::string input;
    std::string service, peer, error_log;
    std::int64_t http;
  };
  const std::vector<Case> cases = {
      {"key first",
       one_span(svc, "{\"key\": \"peer.service\", \"value\": " + text("db") + "}", msg), "cart",
       "db", "boom", 0},
      {"value first",
       one_span(svc_after, "{\"value\": " + text("db") + ", \"key\": \"peer.service\"}", msg),
       "cart", "db", "boom", 0},
      {"keys naming no field",
       one_span("{\"value\": " + text("x") + ", \"key\": \"service.version\"}",
                "{\"key\": \"peer.name\", \"value\": " + text("db") + "}",
                "{\"key\": \"exception.stack\", \"value\": " + text("s") + "}"),
       std::string(kUnknownService), "", "", 0},
      {"no key at all",
       one_span("{\"value\": " + text("cart") + "}", "{\"value\": " + text("db") + "}", ""),
       std::string(kUnknownService), "", "", 0},
      {"the newer status key wins, in either order",
       one_span(svc,
                "{\"key\": \"http.status_code\", \"value\": {\"intValue\": \"404\"}}, "
                "{\"value\": {\"intValue\": 503}, \"key\": \"http.response.status_code\"}, "
                "{\"key\": \"http.status_code\", \"value\": {\"intValue\": 200}}",
                ""),
       "cart", "", "", 503},
  };
  for (const Case& c : cases) {
    Read r = read(c.input, TraceFormat::Otlp);
    ASSERT_EQ(r.error, "") << c.name;
    ASSERT_EQ(r.spans.size(), 1u) << c.name;
    const Span& s = r.spans[0];
    EXPECT_EQ(s.service, c.service) << c.name;
    EXPECT_EQ(s.peer, c.peer) << c.name;
    EXPECT_EQ(s.http_status, c.http) << c.name;
    EXPECT_EQ(s.error_logs, c.error_log.empty() ? std::vector<std::string>{}
                                                : std::vector<std::string>{c.error_log})
        << c.name;
  }
}

TEST(TraceReader, GzipInput) {
  const std::string span = "[{\"traceId\": \"01\", \"id\": \"02\"}]";
  // The JSON goes wrong at once; the varied filler after it makes the compressed stream far
  // longer than any block, so the inflater is far from its end when the JSON error comes.
  std::string broken = "[{\"traceId\": \"01\", \"id\": \"02\"} oops";
  for (int i = 0; broken.size() < 3 * ByteSource::kBufferSize; ++i) {
    broken += " " + std::to_string(i * 7919 % 100003);
  }
  const std::string intact = test_util::gzip(broken);
  std::string bad_crc = intact;
  bad_crc[bad_crc.size() - 6] ^= 0x20;
  struct Case {
    const char* name;
    std::string input;
    std::size_t spans;
    std::string error;
  };
  const std::vector<Case> cases = {
      {"intact", test_util::gzip(span), 1, ""},
      {"broken JSON in an intact stream", intact, 1, "1:32: expected `,` or `]`"},
      {"broken JSON, then a wrong checksum", bad_crc, 1, "0:0: gzip: incorrect data check"},
      {"broken JSON, then the stream cut", intact.substr(0, intact.size() - 20), 1,
       "0:0: gzip: gzip stream truncated"},
  };
  for (const Case& c : cases) {
    for (std::size_t block : {std::size_t{1}, std::size_t{7}, ByteSource::kBufferSize}) {
      Read r = read(c.input, TraceFormat::Zipkin, block);
      EXPECT_EQ(r.spans.size(), c.spans) << c.name << ", block " << block;
      EXPECT_EQ(r.error, c.error) << c.name << ", block " << block;
    }
  }
}

// JSON text of `s` (the tests' texts need no escapes beyond these).
std::string q(std::string_view s) { return "\"" + std::string(s) + "\""; }

const char* kKindNames[] = {"", "INTERNAL", "SERVER", "CLIENT", "PRODUCER", "CONSUMER"};

std::string as_otlp(const std::vector<Span>& spans) {
  std::string out = "{\"resourceSpans\": [";
  for (const Span& s : spans) {
    if (&s != &spans.front()) out += ",";
    out += "{\"scopeSpans\": [{\"scope\": {\"name\": \"t\"}, \"spans\": [{";
    out += "\"traceId\": " + q(s.trace_id) + ", \"spanId\": " + q(s.span_id);
    if (!s.parent_id.empty()) out += ", \"parentSpanId\": " + q(s.parent_id);
    out += ", \"name\": " + q(s.name) + ", \"kind\": " + std::to_string(static_cast<int>(s.kind));
    if (s.start_micros) {
      out += ", \"startTimeUnixNano\": \"" + std::to_string(*s.start_micros * 1000 + 999) + "\"";
      out += ", \"endTimeUnixNano\": " +
             std::to_string((*s.start_micros + s.duration_micros) * 1000 + 999);
    }
    out += ", \"attributes\": [{\"key\": \"other\", \"value\": {\"arrayValue\": {}}}";
    if (s.http_status) {
      out += ", {\"key\": \"http.response.status_code\", \"value\": {\"intValue\": \"" +
             std::to_string(s.http_status) + "\"}}";
    }
    if (!s.peer.empty())
      out += ", {\"key\": \"peer.service\", \"value\": {\"stringValue\": " + q(s.peer) + "}}";
    out += "], \"events\": [";
    for (const std::string& e : s.error_logs) {
      out += "{\"attributes\": [{\"key\": \"exception.message\", \"value\": {\"stringValue\": " +
             q(e) + "}}], \"name\": \"exception\"}";
    }
    out += "], \"status\": {\"code\": " + std::string(s.failed ? "2" : "0") + "}}]}]";
    // The resource after the spans it names.
    out +=
        ", \"resource\": {\"attributes\": [{\"key\": \"service.name\", \"value\": "
        "{\"stringValue\": " +
        q(s.service) + "}}]}}";
  }
  return out + "]}";
}

std::string as_jaeger(const std::vector<Span>& spans) {
  std::string out = "{\"data\": [{\"traceID\": \"x\", \"spans\": [";
  for (const Span& s : spans) {
    if (&s != &spans.front()) out += ",";
    out += "{\"traceID\": " + q(s.trace_id) + ", \"spanID\": " + q(s.span_id);
    out += ", \"operationName\": " + q(s.name) + ", \"references\": [";
    if (!s.parent_id.empty()) {
      out += "{\"refType\": \"FOLLOWS_FROM\", \"traceID\": " + q(s.trace_id) +
             ", \"spanID\": \"ffff\"},";
      out += "{\"refType\": \"CHILD_OF\", \"traceID\": \"1234\", \"spanID\": \"eeee\"},";
      out += "{\"refType\": \"CHILD_OF\", \"traceID\": " + q(s.trace_id) +
             ", \"spanID\": " + q(s.parent_id) + "}";
    }
    out += "]";
    if (s.start_micros) out += ", \"startTime\": " + std::to_string(*s.start_micros);
    out += ", \"duration\": " + std::to_string(s.duration_micros) + ", \"tags\": [";
    std::string tags;
    if (s.kind != SpanKind::Absent) {
      std::string kind = kKindNames[static_cast<int>(s.kind)];
      std::transform(kind.begin(), kind.end(), kind.begin(),
                     [](char c) { return static_cast<char>(c - 'A' + 'a'); });
      tags += ",{\"key\": \"span.kind\", \"type\": \"string\", \"value\": " + q(kind) + "}";
    }
    if (s.failed) tags += ",{\"key\": \"error\", \"type\": \"bool\", \"value\": true}";
    if (s.http_status)
      tags += ",{\"key\": \"http.status_code\", \"type\": \"int64\", \"value\": " +
              std::to_string(s.http_status) + "}";
    if (!s.peer.empty()) tags += ",{\"key\": \"peer.service\", \"value\": " + q(s.peer) + "}";
    out += tags.empty() ? "" : tags.substr(1);
    out += "], \"logs\": [";
    for (const std::string& e : s.error_logs) {
      out +=
          "{\"timestamp\": 1, \"fields\": [{\"key\": \"event\", \"value\": \"error\"}, "
          "{\"key\": \"message\", \"value\": " +
          q(e) + "}]}";
    }
    out += "], \"processID\": " + q("p-" + s.service) + "}";
  }
  out += "], \"processes\": {";
  std::vector<std::string> services;
  for (const Span& s : spans) services.push_back(s.service);
  std::sort(services.begin(), services.end());
  services.erase(std::unique(services.begin(), services.end()), services.end());
  for (const std::string& svc : services) {
    if (svc != services.front()) out += ",";
    out += q("p-" + svc) + ": {\"serviceName\": " + q(svc) + ", \"tags\": []}";
  }
  return out + "}}]}";
}

std::string as_zipkin(const std::vector<Span>& spans) {
  std::string out = "[";
  for (const Span& s : spans) {
    if (&s != &spans.front()) out += ",";
    out += "{\"traceId\": " + q(s.trace_id) + ", \"id\": " + q(s.span_id);
    if (!s.parent_id.empty()) out += ", \"parentId\": " + q(s.parent_id);
    out += ", \"name\": " + q(s.name);
    if (s.kind != SpanKind::Absent) out += ", \"kind\": " + q(kKindNames[static_cast<int>(s.kind)]);
    if (s.start_micros) out += ", \"timestamp\": " + std::to_string(*s.start_micros);
    out += ", \"duration\": " + std::to_string(s.duration_micros);
    out += ", \"localEndpoint\": {\"serviceName\": " + q(s.service) + "}";
    if (!s.peer.empty()) out += ", \"remoteEndpoint\": {\"serviceName\": " + q(s.peer) + "}";
    out += ", \"tags\": {\"component\": \"x\"";
    if (s.failed) out += ", \"error\": " + q(s.error_logs.empty() ? "" : s.error_logs[0]);
    if (s.http_status) out += ", \"http.status_code\": " + q(std::to_string(s.http_status));
    out += "}}";
  }
  return out + "]";
}

// Spans every format can say: unique ids, at most one error log and only on a failed span
// (Zipkin has one error tag), no kind beyond the four sides of a call and none.
std::vector<Span> convertible_spans(std::mt19937_64& rng) {
  const SpanKind kinds[] = {SpanKind::Server, SpanKind::Client, SpanKind::Producer,
                            SpanKind::Consumer, SpanKind::Absent};
  const char* services[] = {"web", "api", "db"};
  std::vector<Span> spans;
  for (int t = 0; t < 4; ++t) {
    const int n = 1 + static_cast<int>(rng() % 9);
    for (int i = 0; i < n; ++i) {
      Span s;
      s.trace_id = "00ab" + std::to_string(t);
      s.span_id = "c" + std::to_string(i);
      if (i > 0 || rng() % 3 == 0)
        s.parent_id = "c" + std::to_string(rng() % static_cast<unsigned>(i + 2));
      s.service = services[rng() % 3];
      s.name = "op" + std::to_string(rng() % 3);
      s.kind = kinds[rng() % 5];
      if (rng() % 6 != 0) {
        s.start_micros = 1700000000000000 + static_cast<std::int64_t>(rng() % 1000);
        s.duration_micros = static_cast<std::int64_t>(rng() % 100);
      }
      s.failed = rng() % 4 == 0;
      if (s.failed && rng() % 2 == 0) s.error_logs = {"boom " + std::to_string(rng() % 2)};
      if (rng() % 3 == 0) s.http_status = rng() % 2 == 0 ? 200 : 503;
      if (s.http_status >= 400) s.failed = true;
      if (rng() % 3 == 0) s.peer = services[rng() % 3];
      spans.push_back(s);
    }
  }
  return spans;
}

TEST(TraceReader, TheThreeFormatsOfOneTraceGiveItsSpansAndRecord) {
  std::mt19937_64 rng(5);
  auto by_id = [](std::vector<Span> spans) {
    std::sort(spans.begin(), spans.end(), [](const Span& a, const Span& b) {
      return std::tie(a.trace_id, a.span_id) < std::tie(b.trace_id, b.span_id);
    });
    return spans;
  };
  for (int round = 0; round < 25; ++round) {
    const std::vector<Span> spans = convertible_spans(rng);
    const std::vector<Span> expected = by_id(spans);
    Condenser direct;
    for (const Span& s : spans) direct.add(s);
    direct.end_input();
    const StatsRecJson record = direct.finish();
    for (const auto& [format, text] : {std::pair{TraceFormat::Otlp, as_otlp(spans)},
                                       std::pair{TraceFormat::Jaeger, as_jaeger(spans)},
                                       std::pair{TraceFormat::Zipkin, as_zipkin(spans)}}) {
      Read r = read(text);
      ASSERT_EQ(r.error, "") << text;
      EXPECT_EQ(by_id(r.spans), expected) << format_name(format) << ": " << text;
      Condenser c;
      for (const Span& s : r.spans) c.add(s);
      c.end_input();
      EXPECT_TRUE(c.finish() == record) << format_name(format);
    }
  }
}

}  // namespace
}  // namespace tracemill
