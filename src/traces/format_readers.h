// The readers of the three trace formats, used by read_traces, and the pieces they share.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "traces/span.h"
#include "traces/trace_json.h"
#include "traces/trace_reader.h"

namespace tracemill::trace_read {

// An id value: a text normalised into `out` (empty when the value is empty or null), or a
// failure naming `what` when it is neither hex nor base64.
bool read_id(TraceJson& j, std::string_view what, std::string& out);
// At the end of a span: fails unless it has a trace id and a span id; puts in the defaults of a
// missing service.
bool finish_span(TraceJson& j, Span& span);
// Clears every field, keeping the capacity of the texts.
void clear(Span& span);
// A kind's name in any case, with or without OTLP's "SPAN_KIND_" prefix.
SpanKind kind_named(std::string_view name);
// An HTTP status written as decimal text; 0 for anything else.
std::int64_t status_from_text(std::string_view text);

// The value of an attribute or tag: its text (a number or boolean as written) and, when it is
// an integer or a decimal text, that integer.
struct AttrValue {
  std::string text;
  std::int64_t integer = 0;
  bool is_integer = false;
  bool present = false;
  void clear() {
    text.clear();
    is_integer = false;
    present = false;
  }
};

class OtlpReader {
 public:
  OtlpReader(TraceJson& j, SpanConsumer& out) : j_(j), out_(out) {}
  // One element of resourceSpans (or batches): a resource and its spans.
  bool resource_spans_list_element();

 private:
  bool scope_spans();
  bool span();
  bool attributes(bool resource);
  bool attribute(bool resource);
  bool any_value(AttrValue& value);
  bool event();
  bool status();
  void emit(Span& span);

  TraceJson& j_;
  SpanConsumer& out_;
  Span span_;
  std::string service_;
  bool service_known_ = false;
  std::vector<Span> pending_;  // spans read before their resource
  int http_rank_ = 0;          // which status attribute gave span_.http_status
  int peer_rank_ = 0;
  AttrValue value_;
  std::string event_name_, event_message_, event_type_;
};

class JaegerReader {
 public:
  JaegerReader(TraceJson& j, SpanConsumer& out) : j_(j), out_(out) {}
  // The members of a trace object that a document may be itself.
  static constexpr std::array<std::string_view, 3> kTraceKeys = {"traceID", "spans", "processes"};
  // One element of data: a trace object.
  bool trace_list_element();
  // Reads the value of the trace member kTraceKeys[key].
  bool trace_member(std::size_t key);
  // At the end of a trace object: hands on its spans.
  void finish_trace();

 private:
  struct Reference {
    std::string type, trace_id, span_id;
  };
  struct Pending {
    Span span;
    std::string process_id;
  };
  bool span();
  bool tags(Span& span, int& http_rank, int& peer_rank);
  bool log(Span& span);
  bool process(std::string& service);

  TraceJson& j_;
  SpanConsumer& out_;
  std::vector<Pending> pending_;
  std::size_t pending_used_ = 0;
  std::vector<std::pair<std::string, std::string>> processes_;
  std::vector<Reference> references_;
  std::string key_, process_service_;
  AttrValue value_;
  std::string event_, message_, object_, kind_;
};

class ZipkinReader {
 public:
  ZipkinReader(TraceJson& j, SpanConsumer& out) : j_(j), out_(out) {}
  // Requires: '[' peeked. A list of spans, or of lists of spans.
  bool list();

 private:
  bool span();
  bool endpoint(std::string& service);

  TraceJson& j_;
  SpanConsumer& out_;
  Span span_;
  std::string value_;
};

}  // namespace tracemill::trace_read
