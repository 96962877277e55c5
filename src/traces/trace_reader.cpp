#include "traces/trace_reader.h"

#include <charconv>

#include "traces/format_readers.h"

namespace tracemill {
namespace trace_read {

bool read_id(TraceJson& j, std::string_view what, std::string& out) {
  std::string_view text;
  if (!j.text_view(what, text)) return false;
  if (text.empty()) {
    out.clear();
    return true;
  }
  if (!normalise_id(text, out)) return j.fail(std::string(what) + " is neither hex nor base64");
  return true;
}

bool finish_span(TraceJson& j, Span& span) {
  if (span.trace_id.empty()) return j.fail("span without a trace id");
  if (span.span_id.empty()) return j.fail("span without a span id");
  if (span.service.empty()) span.service = kUnknownService;
  if (span.http_status >= 400) span.failed = true;
  return true;
}

void clear(Span& span) {
  span.trace_id.clear();
  span.span_id.clear();
  span.parent_id.clear();
  span.service.clear();
  span.name.clear();
  span.peer.clear();
  span.kind = SpanKind::Absent;
  span.start_micros.reset();
  span.duration_micros = 0;
  span.failed = false;
  span.http_status = 0;
  span.error_logs.clear();
}

SpanKind kind_named(std::string_view name) {
  if (name.size() > 10 &&
      (name.substr(0, 10) == "SPAN_KIND_" || name.substr(0, 10) == "span_kind_")) {
    name.remove_prefix(10);
  }
  auto is = [&](std::string_view lower) {
    if (name.size() != lower.size()) return false;
    for (std::size_t i = 0; i < name.size(); ++i) {
      char c = name[i];
      if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
      if (c != lower[i]) return false;
    }
    return true;
  };
  if (name.empty() || is("unspecified")) return SpanKind::Absent;
  if (is("server")) return SpanKind::Server;
  if (is("client")) return SpanKind::Client;
  if (is("producer")) return SpanKind::Producer;
  if (is("consumer")) return SpanKind::Consumer;
  return SpanKind::Internal;
}

std::int64_t status_from_text(std::string_view text) {
  std::int64_t value = 0;
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (ec != std::errc() || end != text.data() + text.size() || text.empty()) return 0;
  return value;
}

}  // namespace trace_read

namespace {

using trace_read::JaegerReader;
using trace_read::OtlpReader;
using trace_read::ZipkinReader;

constexpr std::string_view kNoFormat =
    "not a trace file: expected resourceSpans or batches (OTLP JSON), data or spans (Jaeger "
    "JSON), or a list of spans (Zipkin JSON)";

class Reader {
 public:
  Reader(ByteSource& source, std::optional<TraceFormat> format, SpanConsumer& out)
      : j_(source), forced_(format), otlp_(j_, out), jaeger_(j_, out), zipkin_(j_, out) {}

  std::optional<JsonError> run() {
    if (!document()) return j_.reader().take_error();
    return std::nullopt;
  }

 private:
  bool document() {
    JsonReader& r = j_.reader();
    r.start_document();
    int c = j_.peek();
    if (forced_ == TraceFormat::Zipkin && c != '[') {
      if (c == JsonReader::kEnd) return j_.fail("EOF while parsing a value");
      return j_.fail("expected a list of Zipkin spans");
    }
    if (c == '[' && forced_ != TraceFormat::Otlp && forced_ != TraceFormat::Jaeger) {
      if (!zipkin_.list()) return false;
      return r.end_document();
    }
    if (c != '{') {
      if (c == JsonReader::kEnd) return j_.fail("EOF while parsing a value");
      if (c == '[') return j_.fail(forced_message());
      return j_.fail(kNoFormat);
    }
    // An OTLP file may hold one export request a line; any other format one document.
    for (;;) {
      if (!top_object()) return false;
      if (found_ != TraceFormat::Otlp) return r.end_document();
      c = j_.peek();
      if (c == JsonReader::kEnd) return r.end_document();
      if (c != '{') return j_.fail("expected an OTLP export request");
    }
  }

  bool set_format(TraceFormat format) {
    if (found_ && *found_ != format) return j_.fail("members of two trace formats in one document");
    found_ = format;
    return true;
  }

  bool top_object() {
    static constexpr std::array<std::string_view, 6> kKeys = {
        "resourceSpans", "batches", "data", "traceID", "spans", "processes"};
    const bool was_otlp = found_ == TraceFormat::Otlp;
    bool otlp_seen = false;
    bool jaeger_trace = false;
    bool ok = j_.object(kKeys, [&](std::size_t k) {
      const bool otlp_key = k < 2;
      if (forced_ && (*forced_ == TraceFormat::Otlp) != otlp_key) return j_.skip();
      if (otlp_key) {
        if (!set_format(TraceFormat::Otlp)) return false;
        otlp_seen = true;
        return j_.optional_array(k == 0 ? "resourceSpans" : "batches",
                                 [&] { return otlp_resource(); });
      }
      if (!set_format(TraceFormat::Jaeger)) return false;
      if (k == 2) return j_.optional_array("data", [&] { return jaeger_trace_in_list(); });
      jaeger_trace = true;
      return jaeger_.trace_member(k - 3);
    });
    if (!ok) return false;
    if (jaeger_trace) jaeger_.finish_trace();
    if (!found_ || (was_otlp && !otlp_seen)) return j_.fail(forced_ ? forced_message() : kNoFormat);
    return true;
  }

  std::string forced_message() const {
    switch (*forced_) {
      case TraceFormat::Otlp:
        return "expected resourceSpans or batches (OTLP JSON)";
      case TraceFormat::Jaeger:
        return "expected data or spans (Jaeger JSON)";
      case TraceFormat::Zipkin:
        break;
    }
    return "expected a list of Zipkin spans";
  }

  bool otlp_resource() { return otlp_.resource_spans_list_element(); }
  bool jaeger_trace_in_list() { return jaeger_.trace_list_element(); }

  TraceJson j_;
  std::optional<TraceFormat> forced_;
  std::optional<TraceFormat> found_;
  OtlpReader otlp_;
  JaegerReader jaeger_;
  ZipkinReader zipkin_;
};

}  // namespace

std::optional<JsonError> read_traces(ByteSource& source, std::optional<TraceFormat> format,
                                     SpanConsumer& out) {
  source.inflate_if_gzip();
  std::optional<JsonError> error = Reader(source, format, out).run();
  // A broken compressed stream ends the inflated bytes early: whatever the JSON made of that,
  // the stream is the error. A JSON error may come before the inflater reached the fault, so
  // the rest of the stream is inflated to find it, whatever the size of the blocks read.
  if (error && source.inflating() && source.stream_error().empty()) {
    do {
      source.advance_to(source.limit());
    } while (source.refill());
  }
  if (!source.stream_error().empty()) return JsonError{"gzip: " + source.stream_error(), 0, 0};
  return error;
}

}  // namespace tracemill
