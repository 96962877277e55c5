#include "traces/trace_reader.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

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
    r.error = std::to_string(error->line) + ":" + std::to_string(error->column) + ": " +
              error->message;
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
      {"[{\"traceId\": \"01\", \"id\": \"02\", \"timestamp\": 1.5}]", {},
       "1:48: timestamp is not an integer"},
      {"[{\"traceId\": \"01\", \"id\": \"02\", \"timestamp\": \"soon\"}]", {},
       "1:50: timestamp is not an integer"},
      {"{\"resourceSpans\": [{\"scopeSpans\": [{\"spans\": [{\"traceId\": \"01\", \"spanId\": "
       "\"02\", \"startTimeUnixNano\": \"-5\"}]}]}]}",
       {}, "1:105: startTimeUnixNano is not an unsigned integer"},
      {"{\"resourceSpans\": []}\n{\"resourceSpans\": [}", {}, "2:20: expected value"},
      {"{\"resourceSpans\": []}\n[]", {}, "2:1: expected an OTLP export request"},
      {"{\"resourceSpans\": [], \"data\": []}", {}, "1:29: members of two trace formats in one document"},
      {"{\"resourceSpans\": []}", TraceFormat::Zipkin, "1:1: expected a list of Zipkin spans"},
      {"{\"data\": []}", TraceFormat::Otlp, "1:12: expected resourceSpans or batches (OTLP JSON)"},
      {"[]", TraceFormat::Jaeger, "1:1: expected an object with resourceSpans, batches or data"},
      {"{\"data\": [{\"spans\": {}}]}", {}, "1:21: spans is not an array"},
      {"[[{\"traceId\": \"01\", \"id\": \"02\"}], 5]", {}, "1:35: a span is not an object"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(read(c.input, c.format).error, c.error) << c.input;
  }
}

}  // namespace
}  // namespace tracemill
