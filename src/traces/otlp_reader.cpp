// OTLP JSON: resourceSpans (or batches) of {resource, scopeSpans: [{scope, spans}]}, with
// instrumentationLibrarySpans as the older name of scopeSpans.
#include <array>

#include "traces/format_readers.h"

namespace tracemill::trace_read {
namespace {

// Span attributes that fill a field, the better source of a field first.
enum SpanAttr { kHttpStatus, kHttpStatusOld, kPeerService, kDbSystem, kSpanAttrs };
constexpr std::array<std::string_view, kSpanAttrs> kSpanAttrNames = {
    "http.response.status_code", "http.status_code", "peer.service", "db.system"};

// The field an attribute's key names: its place in kSpanAttrNames, or for a resource 0 for
// service.name; kSpanAttrs when it names none.
int field_named(std::string_view key, bool resource) {
  if (resource) return key == "service.name" ? 0 : kSpanAttrs;
  int field = 0;
  while (field < kSpanAttrs && kSpanAttrNames[static_cast<std::size_t>(field)] != key) ++field;
  return field;
}

// (end - start) / 1000 and start / 1000, rounded down, without leaving u64 or i64.
std::int64_t micros_between(std::uint64_t start_ns, std::uint64_t end_ns) {
  if (end_ns >= start_ns) return static_cast<std::int64_t>((end_ns - start_ns) / 1000);
  return -static_cast<std::int64_t>((start_ns - end_ns + 999) / 1000);
}

}  // namespace

bool OtlpReader::resource_spans_list_element() {
  static constexpr std::array<std::string_view, 3> kKeys = {"resource", "scopeSpans",
                                                            "instrumentationLibrarySpans"};
  static constexpr std::array<std::string_view, 1> kResourceKeys = {"attributes"};
  service_.clear();
  service_known_ = false;
  pending_.clear();
  bool ok = j_.expect_object("a resourceSpans element", kKeys, [&](std::size_t k) {
    if (k == 0) {
      if (j_.peek() == 'n') return j_.null();
      bool read = j_.expect_object("resource", kResourceKeys,
                                   [&](std::size_t) { return attributes(true); });
      service_known_ = true;
      for (Span& span : pending_) emit(span);
      pending_.clear();
      return read;
    }
    return j_.optional_array("scopeSpans", [&] { return scope_spans(); });
  });
  if (!ok) return false;
  service_known_ = true;
  for (Span& span : pending_) emit(span);
  pending_.clear();
  return true;
}

bool OtlpReader::scope_spans() {
  static constexpr std::array<std::string_view, 1> kKeys = {"spans"};
  return j_.expect_object("a scopeSpans element", kKeys, [&](std::size_t) {
    return j_.optional_array("spans", [&] { return span(); });
  });
}

void OtlpReader::emit(Span& span) {
  span.service = service_.empty() ? std::string(kUnknownService) : service_;
  out_.add(span);
}

bool OtlpReader::span() {
  enum { kTraceId, kSpanId, kParent, kName, kKind, kStart, kEnd, kAttrs, kEvents, kStatus, kN };
  static constexpr std::array<std::string_view, kN> kKeys = {
      "traceId",           "spanId",          "parentSpanId", "name",   "kind",
      "startTimeUnixNano", "endTimeUnixNano", "attributes",   "events", "status"};
  clear(span_);
  http_rank_ = peer_rank_ = kSpanAttrs;
  std::uint64_t start = 0, end = 0;
  bool has_start = false, has_end = false;
  bool ok = j_.expect_object("a span", kKeys, [&](std::size_t k) {
    switch (k) {
      case kTraceId:
        return read_id(j_, "traceId", span_.trace_id);
      case kSpanId:
        return read_id(j_, "spanId", span_.span_id);
      case kParent:
        return read_id(j_, "parentSpanId", span_.parent_id);
      case kName:
        return j_.text("name", span_.name);
      case kKind: {
        int c = j_.peek();
        if (c == '"') {
          std::string_view name;
          if (!j_.text_view("kind", name)) return false;
          span_.kind = kind_named(name);
          return true;
        }
        std::int64_t v = 0;
        bool present = false;
        if (!j_.integer("kind", v, present)) return false;
        static constexpr SpanKind kKinds[] = {SpanKind::Absent,   SpanKind::Internal,
                                              SpanKind::Server,   SpanKind::Client,
                                              SpanKind::Producer, SpanKind::Consumer};
        span_.kind = !present           ? SpanKind::Absent
                     : v >= 0 && v <= 5 ? kKinds[v]
                                        : SpanKind::Internal;
        return true;
      }
      case kStart:
        return j_.unsigned_integer("startTimeUnixNano", start, has_start);
      case kEnd:
        return j_.unsigned_integer("endTimeUnixNano", end, has_end);
      case kAttrs:
        return attributes(false);
      case kEvents:
        return j_.optional_array("events", [&] { return event(); });
      default:
        return status();
    }
  });
  if (!ok) return false;
  if (has_start) {
    span_.start_micros = static_cast<std::int64_t>(start / 1000);
    if (has_end) span_.duration_micros = micros_between(start, end);
  }
  if (!finish_span(j_, span_)) return false;
  if (service_known_) {
    emit(span_);
  } else {
    pending_.push_back(span_);
  }
  return true;
}

bool OtlpReader::status() {
  static constexpr std::array<std::string_view, 1> kKeys = {"code"};
  if (j_.peek() == 'n') return j_.null();
  return j_.expect_object("status", kKeys, [&](std::size_t) {
    if (j_.peek() == '"') {
      std::string_view code;
      if (!j_.text_view("status code", code)) return false;
      if (code == "STATUS_CODE_ERROR" || code == "2") span_.failed = true;
      return true;
    }
    std::int64_t code = 0;
    bool present = false;
    if (!j_.integer("status code", code, present)) return false;
    if (present && code == 2) span_.failed = true;
    return true;
  });
}

bool OtlpReader::attributes(bool resource) {
  return j_.optional_array("attributes", [&] { return attribute(resource); });
}

// {key, value: AnyValue}. The value is kept only when the key names a field, or when the key
// comes after it.
bool OtlpReader::attribute(bool resource) {
  static constexpr std::array<std::string_view, 2> kKeys = {"key", "value"};
  constexpr int kNoKey = -1;  // no key read yet
  int rank = kNoKey;
  value_.clear();
  bool ok = j_.expect_object("an attribute", kKeys, [&](std::size_t k) {
    if (k == 0) {
      std::string_view key;
      if (!j_.text_view("key", key)) return false;
      rank = field_named(key, resource);
      return true;
    }
    if (rank == kSpanAttrs) return j_.skip();
    return any_value(value_);
  });
  if (!ok) return false;
  if (!value_.present || rank == kNoKey || rank == kSpanAttrs) return true;
  if (resource) {
    service_ = value_.text;
    return true;
  }
  if (rank <= kHttpStatusOld) {
    std::int64_t status = value_.is_integer ? value_.integer : 0;
    if (status != 0 && rank < http_rank_) {
      span_.http_status = status;
      http_rank_ = rank;
    }
  } else if (!value_.text.empty() && rank < peer_rank_) {
    span_.peer = value_.text;
    peer_rank_ = rank;
  }
  return true;
}

bool OtlpReader::any_value(AttrValue& value) {
  static constexpr std::array<std::string_view, 4> kKeys = {"stringValue", "intValue", "boolValue",
                                                            "doubleValue"};
  if (j_.peek() != '{') return j_.skip();
  return j_.object(kKeys, [&](std::size_t k) {
    value.present = true;
    if (k == 1) {
      bool present = false;
      if (!j_.integer("intValue", value.integer, present)) return false;
      value.is_integer = present;
      value.text = std::to_string(value.integer);
      return true;
    }
    if (!j_.scalar_text(value.text)) return false;
    if (k == 0) {
      value.integer = status_from_text(value.text);
      value.is_integer = value.integer != 0;
    }
    return true;
  });
}

// An event named "exception" is an error log: its exception.message, else exception.type.
bool OtlpReader::event() {
  static constexpr std::array<std::string_view, 2> kKeys = {"name", "attributes"};
  static constexpr std::array<std::string_view, 2> kAttrKeys = {"key", "value"};
  event_name_.clear();
  event_message_.clear();
  event_type_.clear();
  bool ok = j_.expect_object("an event", kKeys, [&](std::size_t k) {
    if (k == 0) return j_.text("event name", event_name_);
    return j_.optional_array("event attributes", [&] {
      enum { kOther, kMessage, kType } which = kOther;
      value_.clear();
      bool read = j_.expect_object("an attribute", kAttrKeys, [&](std::size_t a) {
        if (a == 0) {
          std::string_view key;
          if (!j_.text_view("key", key)) return false;
          which = key == "exception.message" ? kMessage : key == "exception.type" ? kType : kOther;
          return true;
        }
        return any_value(value_);
      });
      if (!read) return false;
      if (which == kMessage) event_message_ = value_.text;
      if (which == kType) event_type_ = value_.text;
      return true;
    });
  });
  if (!ok) return false;
  if (event_name_ == "exception") {
    const std::string& text = !event_message_.empty() ? event_message_ : event_type_;
    if (!text.empty()) span_.error_logs.push_back(text);
  }
  return true;
}

}  // namespace tracemill::trace_read
