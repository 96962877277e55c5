#include "bench/trace_formats.h"

#include <algorithm>
#include <deque>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "stats/file/record_writer.h"

namespace tracemill::bench {
namespace {

constexpr std::uint64_t kBatchStream = 0x7ACE'0004;
constexpr std::size_t kFlushBytes = 1 << 20;
constexpr std::uint64_t kSampleTraces = 2048;
constexpr std::string_view kSchemaUrl = "https://opentelemetry.io/schemas/1.24.0";

void put_hex(std::string& out, std::uint64_t value) {
  static constexpr char kHex[] = "0123456789abcdef";
  for (int shift = 60; shift >= 0; shift -= 4) out.push_back(kHex[(value >> shift) & 0xF]);
}

void put_trace_id(std::string& out, const GenTrace& t) {
  out.push_back('"');
  put_hex(out, t.id_high);
  put_hex(out, t.id_low);
  out.push_back('"');
}

void put_span_id(std::string& out, std::uint64_t id) {
  out.push_back('"');
  put_hex(out, id);
  out.push_back('"');
}

void put_hundredths(std::string& out, std::int64_t value) {
  detail::put_decimal(out, value / 100);
  out.push_back('.');
  out.push_back(static_cast<char>('0' + value % 100 / 10));
  out.push_back(static_cast<char>('0' + value % 10));
}

// A buffer flushed into the sink in large blocks.
class Output {
 public:
  explicit Output(Sink& sink) : sink_(sink) { buf.reserve(kFlushBytes + (1 << 16)); }
  void maybe_flush() {
    if (buf.size() >= kFlushBytes) flush();
  }
  void flush() {
    ok_ = ok_ && sink_.write(buf);
    bytes_ += buf.size();
    buf.clear();
  }
  bool ok() const { return ok_; }
  std::uint64_t bytes() const { return bytes_; }

  std::string buf;

 private:
  Sink& sink_;
  bool ok_ = true;
  std::uint64_t bytes_ = 0;
};

class TraceWriter {
 public:
  virtual ~TraceWriter() = default;
  virtual void add(GenTrace trace) = 0;
  virtual void finish() = 0;
};

// ---- OTLP JSON lines ----

void otlp_value(std::string& out, const SpanAttr& a) {
  switch (a.type) {
    case SpanAttr::Type::String:
      out.append("{\"stringValue\":");
      write_json_string(a.text, out);
      break;
    case SpanAttr::Type::Int:
      // int64 values are strings in the JSON form of OTLP.
      out.append("{\"intValue\":\"");
      detail::put_decimal(out, a.number);
      out.push_back('"');
      break;
    case SpanAttr::Type::Bool:
      out.append(a.number ? "{\"boolValue\":true" : "{\"boolValue\":false");
      break;
    case SpanAttr::Type::Hundredths:
      out.append("{\"doubleValue\":");
      put_hundredths(out, a.number);
      break;
  }
  out.push_back('}');
}

void otlp_attr(std::string& out, bool& first, const SpanAttr& a) {
  if (!first) out.push_back(',');
  first = false;
  out.append("{\"key\":");
  write_json_string(a.key, out);
  out.append(",\"value\":");
  otlp_value(out, a);
  out.push_back('}');
}

void otlp_attributes(std::string& out, const std::vector<SpanAttr>& attrs) {
  out.append("\"attributes\":[");
  bool first = true;
  for (const auto& a : attrs) otlp_attr(out, first, a);
  out.push_back(']');
}

void otlp_span(std::string& out, const GenTrace& t, const GenSpan& s) {
  out.append("{\"traceId\":");
  put_trace_id(out, t);
  out.append(",\"spanId\":");
  put_span_id(out, s.id);
  if (s.parent_id != 0) {
    out.append(",\"parentSpanId\":");
    put_span_id(out, s.parent_id);
  }
  out.append(",\"flags\":1,\"name\":");
  write_json_string(s.name, out);
  out.append(",\"kind\":");
  detail::put_decimal(out, static_cast<int>(s.kind));
  out.append(",\"startTimeUnixNano\":\"");
  detail::put_decimal(out, s.start_ns);
  out.append("\",\"endTimeUnixNano\":\"");
  detail::put_decimal(out, s.end_ns);
  out.append("\",\"attributes\":[");
  bool first = true;
  for (const auto& a : s.attributes) otlp_attr(out, first, a);
  if (s.http_status != 0) {
    otlp_attr(out, first, {"http.response.status_code", SpanAttr::Type::Int, {}, s.http_status});
  }
  if (!s.peer.empty()) otlp_attr(out, first, {"peer.service", SpanAttr::Type::String, s.peer, 0});
  out.push_back(']');
  if (s.failed) {
    out.append(",\"events\":[{\"timeUnixNano\":\"");
    detail::put_decimal(out, s.error_ns);
    out.append("\",\"name\":\"exception\",\"attributes\":[");
    first = true;
    otlp_attr(out, first, {"exception.type", SpanAttr::Type::String, s.error_type, 0});
    otlp_attr(out, first, {"exception.message", SpanAttr::Type::String, s.error_message, 0});
    out.append("]}],\"status\":{\"code\":2,\"message\":");
    write_json_string(s.error_message, out);
    out.append("}}");
  } else {
    out.append(",\"status\":{}}");
  }
}

class OtlpWriter final : public TraceWriter {
 public:
  OtlpWriter(const TraceGenerator& gen, Output& out)
      : gen_(gen), out_(out), rng_(gen.seed() ^ kBatchStream), rank_(gen.services().size()) {
    line_traces_ = rng_.range(1, 6);
  }

  void add(GenTrace trace) override {
    pending_.push_back(std::move(trace));
    if (pending_.size() >= line_traces_) write_line(rng_.chance(100));
  }
  void finish() override {
    if (!pending_.empty()) write_line(false);
  }

 private:
  struct Entry {
    std::size_t rank;  // of the span's service, in order of first appearance in the line
    SpanOrigin origin;
    const GenTrace* trace;
    const GenSpan* span;
  };

  // Writes the pending spans as one export request. With `split`, the last trace keeps the
  // second half of its spans for the next line.
  void write_line(bool split) {
    std::vector<Entry> entries;
    std::fill(rank_.begin(), rank_.end(), kNoParent);
    std::size_t ranks = 0;
    std::size_t carry_from = 0;
    for (std::size_t t = 0; t < pending_.size(); ++t) {
      const GenTrace& trace = pending_[t];
      std::size_t begin = t == 0 ? first_span_ : 0;
      std::size_t end = trace.spans.size();
      if (split && t + 1 == pending_.size() && end - begin >= 2) {
        carry_from = begin + (end - begin) / 2;
        end = carry_from;
      }
      for (std::size_t i = begin; i < end; ++i) {
        const GenSpan& s = trace.spans[i];
        if (rank_[s.service] == kNoParent) rank_[s.service] = ranks++;
        entries.push_back({rank_[s.service], s.origin, &trace, &s});
      }
    }
    std::stable_sort(entries.begin(), entries.end(), [](const Entry& a, const Entry& b) {
      return a.rank != b.rank ? a.rank < b.rank : a.origin < b.origin;
    });

    std::string& out = out_.buf;
    out.append("{\"resourceSpans\":[");
    for (std::size_t i = 0; i < entries.size();) {
      const GenService& service = gen_.services()[entries[i].span->service];
      if (i > 0) out.push_back(',');
      out.append("{\"resource\":{");
      otlp_attributes(out, service.resource);
      out.append("},\"scopeSpans\":[");
      std::size_t rank = entries[i].rank;
      bool first_scope = true;
      while (i < entries.size() && entries[i].rank == rank) {
        SpanOrigin origin = entries[i].origin;
        if (!first_scope) out.push_back(',');
        first_scope = false;
        out.append("{\"scope\":");
        write_scope(out, service, origin);
        out.append(",\"spans\":[");
        for (bool first = true;
             i < entries.size() && entries[i].rank == rank && entries[i].origin == origin;
             ++i, first = false) {
          if (!first) out.push_back(',');
          otlp_span(out, *entries[i].trace, *entries[i].span);
        }
        out.append("],\"schemaUrl\":\"");
        out.append(kSchemaUrl);
        out.append("\"}");
      }
      out.append("],\"schemaUrl\":\"");
      out.append(kSchemaUrl);
      out.append("\"}");
    }
    out.append("]}\n");
    out_.maybe_flush();

    if (carry_from != 0) {
      while (pending_.size() > 1) pending_.pop_front();
      first_span_ = carry_from;
    } else {
      pending_.clear();
      first_span_ = 0;
    }
    line_traces_ = pending_.size() + rng_.range(1, 6);
  }

  static void write_scope(std::string& out, const GenService& service, SpanOrigin origin) {
    static constexpr std::string_view kLibraries[] = {
        "opentelemetry.instrumentation.http", "opentelemetry.instrumentation.grpc",
        "opentelemetry.instrumentation.db", "opentelemetry.instrumentation.kafka"};
    out.append("{\"name\":");
    if (origin == SpanOrigin::Code) {
      write_json_string("shop." + service.process.name, out);
      out.append(",\"version\":");
      write_json_string(service.resource[2].text, out);  // service.version
    } else {
      write_json_string(kLibraries[static_cast<std::size_t>(origin)], out);
      out.append(",\"version\":\"0.45.0\"");
    }
    out.push_back('}');
  }

  const TraceGenerator& gen_;
  Output& out_;
  Rng rng_;
  std::deque<GenTrace> pending_;
  std::size_t first_span_ = 0;  // of the first pending trace, the first span not yet written
  std::uint64_t line_traces_ = 1;
  std::vector<std::size_t> rank_;
};

// ---- Jaeger JSON ----

void jaeger_tag(std::string& out, bool& first, const SpanAttr& a) {
  if (!first) out.push_back(',');
  first = false;
  out.append("{\"key\":");
  write_json_string(a.key, out);
  switch (a.type) {
    case SpanAttr::Type::String:
      out.append(",\"type\":\"string\",\"value\":");
      write_json_string(a.text, out);
      break;
    case SpanAttr::Type::Int:
      out.append(",\"type\":\"int64\",\"value\":");
      detail::put_decimal(out, a.number);
      break;
    case SpanAttr::Type::Bool:
      out.append(a.number ? ",\"type\":\"bool\",\"value\":true"
                          : ",\"type\":\"bool\",\"value\":false");
      break;
    case SpanAttr::Type::Hundredths:
      out.append(",\"type\":\"float64\",\"value\":");
      put_hundredths(out, a.number);
      break;
  }
  out.push_back('}');
}

class JaegerWriter final : public TraceWriter {
 public:
  JaegerWriter(const TraceGenerator& gen, Output& out)
      : gen_(gen), out_(out), process_(gen.services().size()) {
    out_.buf.append("{\"data\":[");
  }

  void add(GenTrace trace) override {
    std::string& out = out_.buf;
    if (traces_++ > 0) out.push_back(',');
    // Processes are numbered in order of first appearance in the trace.
    std::vector<std::size_t> order;
    std::fill(process_.begin(), process_.end(), kNoParent);
    for (const auto& s : trace.spans) {
      if (process_[s.service] == kNoParent) {
        process_[s.service] = order.size() + 1;
        order.push_back(s.service);
      }
    }
    out.append("{\"traceID\":");
    put_trace_id(out, trace);
    out.append(",\"spans\":[");
    for (std::size_t i = 0; i < trace.spans.size(); ++i) {
      if (i > 0) out.push_back(',');
      write_span(out, trace, trace.spans[i]);
    }
    out.append("],\"processes\":{");
    for (std::size_t p = 0; p < order.size(); ++p) {
      const GenService& service = gen_.services()[order[p]];
      if (p > 0) out.push_back(',');
      out.append("\"p");
      detail::put_decimal(out, p + 1);
      out.append("\":{\"serviceName\":");
      write_json_string(service.process.name, out);
      out.append(",\"tags\":[");
      bool first = true;
      for (std::size_t a = 1; a < service.resource.size(); ++a) {
        jaeger_tag(out, first, service.resource[a]);
      }
      out.append("]}");
    }
    out.append("},\"warnings\":null}");
    out_.maybe_flush();
  }

  void finish() override {
    out_.buf.append("],\"total\":0,\"limit\":0,\"offset\":0,\"errors\":null}\n");
  }

 private:
  void write_span(std::string& out, const GenTrace& t, const GenSpan& s) {
    static constexpr std::string_view kKinds[] = {"",       "internal", "server",
                                                  "client", "producer", "consumer"};
    out.append("{\"traceID\":");
    put_trace_id(out, t);
    out.append(",\"spanID\":");
    put_span_id(out, s.id);
    out.append(",\"flags\":1,\"operationName\":");
    write_json_string(s.name, out);
    out.append(",\"references\":[");
    if (s.parent_id != 0) {
      out.append("{\"refType\":\"CHILD_OF\",\"traceID\":");
      put_trace_id(out, t);
      out.append(",\"spanID\":");
      put_span_id(out, s.parent_id);
      out.push_back('}');
    }
    out.append("],\"startTime\":");
    detail::put_decimal(out, s.start_ns / 1000);
    out.append(",\"duration\":");
    detail::put_decimal(out, (s.end_ns - s.start_ns) / 1000);
    out.append(",\"tags\":[");
    bool first = true;
    auto text = [&](std::string_view key, std::string_view value) {
      jaeger_tag(out, first, {std::string(key), SpanAttr::Type::String, std::string(value), 0});
    };
    if (s.kind != SpanKind::Internal) text("span.kind", kKinds[static_cast<std::size_t>(s.kind)]);
    for (const auto& a : s.attributes) jaeger_tag(out, first, a);
    if (s.http_status != 0) {
      jaeger_tag(out, first, {"http.status_code", SpanAttr::Type::Int, {}, s.http_status});
    }
    if (!s.peer.empty()) text("peer.service", s.peer);
    if (!s.db_system.empty()) text("db.type", s.db_system);
    text("otel.scope.name", s.origin == SpanOrigin::Code ? "shop" : "opentelemetry");
    if (s.failed) {
      jaeger_tag(out, first, {"error", SpanAttr::Type::Bool, {}, 1});
      text("otel.status_code", "ERROR");
      text("otel.status_description", s.error_message);
    }
    out.append("],\"logs\":[");
    if (s.failed) {
      out.append("{\"timestamp\":");
      detail::put_decimal(out, s.error_ns / 1000);
      out.append(",\"fields\":[");
      first = true;
      text("event", "error");
      text("error.kind", s.error_type);
      text("message", s.error_message);
      out.append("]}");
    }
    out.append("],\"processID\":\"p");
    detail::put_decimal(out, process_[s.service]);
    out.append("\",\"warnings\":null}");
  }

  const TraceGenerator& gen_;
  Output& out_;
  std::vector<std::size_t> process_;  // per service, its process number in the current trace
  std::uint64_t traces_ = 0;
};

// ---- Zipkin v2 JSON ----

class ZipkinWriter final : public TraceWriter {
 public:
  ZipkinWriter(const TraceGenerator& gen, Output& out) : gen_(gen), out_(out) {
    out_.buf.push_back('[');
  }

  void add(GenTrace trace) override {
    // The server side of a call takes the id of its client side.
    ids_.resize(trace.spans.size());
    for (std::size_t i = 0; i < trace.spans.size(); ++i) {
      const GenSpan& s = trace.spans[i];
      ids_[i] = shares_parent_id(trace, s) ? ids_[s.parent] : s.id;
    }
    for (std::size_t i = 0; i < trace.spans.size(); ++i) write_span(out_.buf, trace, i);
    out_.maybe_flush();
  }

  void finish() override { out_.buf.append("]\n"); }

 private:
  static bool shares_parent_id(const GenTrace& t, const GenSpan& s) {
    return s.kind == SpanKind::Server && s.parent != kNoParent &&
           t.spans[s.parent].kind == SpanKind::Client;
  }

  void write_span(std::string& out, const GenTrace& t, std::size_t i) {
    static constexpr std::string_view kKinds[] = {"",       "",         "SERVER",
                                                  "CLIENT", "PRODUCER", "CONSUMER"};
    const GenSpan& s = t.spans[i];
    const GenService& service = gen_.services()[s.service];
    bool shared = shares_parent_id(t, s);
    std::size_t parent = shared ? t.spans[s.parent].parent : s.parent;
    if (spans_++ > 0) out.push_back(',');
    out.append("{\"traceId\":");
    put_trace_id(out, t);
    if (parent != kNoParent) {
      out.append(",\"parentId\":");
      put_span_id(out, ids_[parent]);
    }
    out.append(",\"id\":");
    put_span_id(out, ids_[i]);
    if (s.kind != SpanKind::Internal) {
      out.append(",\"kind\":\"");
      out.append(kKinds[static_cast<std::size_t>(s.kind)]);
      out.push_back('"');
    }
    out.append(",\"name\":");
    write_json_string(s.name, out);
    out.append(",\"timestamp\":");
    detail::put_decimal(out, s.start_ns / 1000);
    out.append(",\"duration\":");
    detail::put_decimal(out, (s.end_ns - s.start_ns) / 1000);
    out.append(",\"localEndpoint\":{\"serviceName\":");
    write_json_string(service.process.name, out);
    out.append(",\"ipv4\":\"");
    out.append(service.ipv4);
    out.append("\"}");
    const std::string& remote = !s.peer.empty() ? s.peer : s.db_system;
    if (!remote.empty()) {
      out.append(",\"remoteEndpoint\":{\"serviceName\":");
      write_json_string(remote, out);
      out.push_back('}');
    } else if (shared) {
      out.append(",\"remoteEndpoint\":{\"ipv4\":\"");
      out.append(gen_.services()[t.spans[s.parent].service].ipv4);
      out.append("\"}");
    }
    if (s.failed) {
      out.append(",\"annotations\":[{\"timestamp\":");
      detail::put_decimal(out, s.error_ns / 1000);
      out.append(",\"value\":\"exception\"}]");
    }
    out.append(",\"tags\":{");
    bool first = true;
    auto tag = [&](std::string_view key, std::string_view value) {
      if (!first) out.push_back(',');
      first = false;
      write_json_string(key, out);
      out.push_back(':');
      write_json_string(value, out);
    };
    std::string number;
    for (const auto& a : s.attributes) {
      number.clear();
      switch (a.type) {
        case SpanAttr::Type::String:
          tag(a.key, a.text);
          continue;
        case SpanAttr::Type::Int:
          detail::put_decimal(number, a.number);
          break;
        case SpanAttr::Type::Bool:
          number = a.number ? "true" : "false";
          break;
        case SpanAttr::Type::Hundredths:
          put_hundredths(number, a.number);
          break;
      }
      tag(a.key, number);
    }
    if (s.http_status != 0) tag("http.status_code", std::to_string(s.http_status));
    tag("otel.scope.name", s.origin == SpanOrigin::Code ? "shop" : "opentelemetry");
    if (s.failed) {
      tag("otel.status_code", "ERROR");
      tag("error", s.error_message);
    }
    out.push_back('}');
    if (shared) out.append(",\"shared\":true");
    out.push_back('}');
  }

  const TraceGenerator& gen_;
  Output& out_;
  std::vector<std::uint64_t> ids_;  // per span of the current trace, the id written
  std::uint64_t spans_ = 0;
};

// A sink that only counts, for the sample that sizes the file.
class CountingSink final : public Sink {
 public:
  bool write(std::string_view bytes) override {
    count += bytes.size();
    return true;
  }
  std::uint64_t count = 0;
};

}  // namespace

std::uint64_t traces_for_size(const TraceGenerator& gen, std::uint64_t size) {
  CountingSink sink;
  Output out(sink);
  OtlpWriter writer(gen, out);
  Rng rng = gen.sample_rng();
  for (std::uint64_t i = 0; i < kSampleTraces; ++i)
    writer.add(gen.make_trace(rng, i, kSampleTraces));
  writer.finish();
  out.flush();
  std::uint64_t mean = std::max<std::uint64_t>(1, out.bytes() / kSampleTraces);
  return std::max<std::uint64_t>(1, (size + mean / 2) / mean);
}

TraceGenSummary write_traces_file(const TraceGenOptions& options, Sink& sink) {
  TraceGenerator gen(options.seed, options.services);
  TraceGenSummary summary;
  summary.traces = options.traces ? *options.traces : traces_for_size(gen, options.size);
  Output out(sink);
  std::unique_ptr<TraceWriter> writer;
  switch (options.format) {
    case TraceFormat::Otlp:
      writer = std::make_unique<OtlpWriter>(gen, out);
      break;
    case TraceFormat::Jaeger:
      writer = std::make_unique<JaegerWriter>(gen, out);
      break;
    case TraceFormat::Zipkin:
      writer = std::make_unique<ZipkinWriter>(gen, out);
      break;
  }
  for (std::uint64_t i = 0; i < summary.traces && out.ok(); ++i) {
    GenTrace trace = gen.next_trace(summary.traces);
    summary.spans += trace.spans.size();
    for (const auto& s : trace.spans) summary.failed_spans += s.failed ? 1 : 0;
    writer->add(std::move(trace));
  }
  writer->finish();
  out.flush();
  summary.ok = out.ok();
  summary.bytes = out.bytes();
  return summary;
}

}  // namespace tracemill::bench
